"""The reference of the instant part: XMODEM-1K with CRC-16 as lrzsz does it (sx -k to rx -c),
each program on its own pty with a relay between them, and its steady state from two file sizes."""

import fcntl
import filecmp
import os
import select
import statistics
import struct
import subprocess
import tempfile
import termios
import time
import tty

XMODEM_SIZES = (64 * 1024, 640 * 1024)

XMODEM_ATTEMPTS = 3
# rx's shortest timeout (1 s) instead of its 10 s, should a block still go astray.
RX_TIMEOUT_TENTHS = 10
XMODEM_DEADLINE_S = 30
# lrzsz's rx purges its input (tcflush) right after every 'C' and ACK it writes. A block the
# sender already put on an instant pty would be thrown away, so the relay between the two ptys
# hands the sender's bytes to rx's pty only once that purge has happened. The master side of
# rx's pty runs in packet mode, which reports the purge as TIOCPKT_FLUSHREAD.
TIOCPKT = getattr(termios, "TIOCPKT", 0x5420)
TIOCPKT_FLUSHREAD = getattr(termios, "TIOCPKT_FLUSHREAD", 0x01)
# Should rx ever answer without purging, the relay lets the data through after this long and
# counts it (a safety valve; in a normal transfer it never fires).
RELAY_HOLD_LIMIT_S = 0.2
RELAY_POLL_S = 0.01
READ_CHUNK = 65536
SX_GRACE_S = 2


def xmodem_attempt(d):
    """sx -k (XMODEM-1K) to rx -c (CRC-16), each on its own pty, through the purge-aware relay.

    Returns (seconds or None, rx retries, relay releases without a purge). The time runs to rx's
    exit: rx leaves with a full purge of its pty, which can throw away its own last ACK before
    the relay has read it, so sx may never hear the end; it is stopped after a grace period.
    A run counts only when rx ended well and the received file equals the sent one."""
    sx_m, sx_s = os.openpty()
    rx_m, rx_s = os.openpty()
    for fd in (sx_m, sx_s, rx_m, rx_s):
        tty.setraw(fd)
    fcntl.ioctl(rx_m, TIOCPKT, struct.pack("i", 1))
    dst = os.path.join(d, "dst.bin")
    secs, forced, to_rx = None, 0, bytearray()
    spoke = purged = False   # rx has written since the last hand-over / has purged since then
    spoke_at = 0.0
    with open(os.path.join(d, "rx.log"), "w") as rx_log:
        t0 = time.monotonic()
        # Relative names: rx in its default restricted mode refuses paths outside its directory.
        rx = subprocess.Popen(["rx", "-c", "-v", "-t", str(RX_TIMEOUT_TENTHS), "-b", "dst.bin"], stdin=rx_s,
                              stdout=rx_s, cwd=d, stderr=rx_log, start_new_session=True)
        sx = subprocess.Popen(["sx", "-k", "-q", "-b", "src.bin"], stdin=sx_s, stdout=sx_s, cwd=d,
                              stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(sx_s)
        os.close(rx_s)
        try:
            while time.monotonic() - t0 < XMODEM_DEADLINE_S:
                if rx.poll() is not None:
                    secs = time.monotonic() - t0
                    break
                ready, _, _ = select.select([sx_m, rx_m], [], [], RELAY_POLL_S)
                if sx_m in ready:
                    try:
                        to_rx += os.read(sx_m, READ_CHUNK)
                    except OSError:
                        pass
                if rx_m in ready:
                    try:
                        packet = os.read(rx_m, READ_CHUNK)
                    except OSError:
                        packet = b""
                    if packet[:1] == b"\0" and len(packet) > 1:   # data from rx: pass it on
                        os.write(sx_m, packet[1:])
                        spoke, spoke_at = True, time.monotonic()
                    elif packet and packet[0] & TIOCPKT_FLUSHREAD:  # rx purged its input
                        purged = True
                if to_rx and spoke and not purged and time.monotonic() - spoke_at > RELAY_HOLD_LIMIT_S:
                    forced += 1
                    purged = True
                # The purge may be reported before rx's byte arrives: wait for both, in any order.
                if to_rx and (not spoke or purged):
                    os.write(rx_m, bytes(to_rx))
                    to_rx.clear()
                    spoke = purged = False
            if secs is not None:
                try:
                    sx.wait(timeout=SX_GRACE_S)
                except subprocess.TimeoutExpired:
                    pass
        finally:
            for p in (sx, rx):  # only the two started here, by their ids
                if p.poll() is None:
                    p.kill()
                    p.wait()
            os.close(sx_m)
            os.close(rx_m)
    with open(os.path.join(d, "rx.log"), "rb") as f:
        retries = f.read().count(b"Retry")
    if secs is not None and (rx.returncode != 0 or not filecmp.cmp(os.path.join(d, "src.bin"), dst, shallow=False)):
        secs = None
    if os.path.exists(dst):
        os.remove(dst)
    return secs, retries, forced


def xmodem_runs(size):
    """Several transfers of one size, each as (seconds or None, rx retries, relay releases)."""
    with tempfile.TemporaryDirectory(prefix="zorven-xmodem-") as d:
        with open(os.path.join(d, "src.bin"), "wb") as f:
            f.write(os.urandom(size))
        return [xmodem_attempt(d) for _ in range(XMODEM_ATTEMPTS)]


def completed_median(runs):
    """The median time of the completed runs of one size, or None when none completed."""
    done = [t for t, _, _ in runs if t is not None]
    return statistics.median(done) if done else None


def steady_state(typical):
    """XMODEM's bytes per second without the fixed cost of a transfer (mostly rx's wait for a quiet
    line at the end): the difference of the two sizes over the difference of their median times.
    None when either size has no completed run or the larger one was not the slower."""
    if None in typical or typical[1] <= typical[0]:
        return None
    return (XMODEM_SIZES[1] - XMODEM_SIZES[0]) / (typical[1] - typical[0])


def measure(show_size):
    """Runs every size in turn, handing each size and its runs to show_size as they are done.
    Returns the medians of completed runs per size and the steady state (None: not measured)."""
    typical = []
    for size in XMODEM_SIZES:
        runs = xmodem_runs(size)
        show_size(size, runs)
        typical.append(completed_median(runs))
    return typical, steady_state(typical)
