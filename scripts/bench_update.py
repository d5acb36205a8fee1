#!/usr/bin/env python3
"""The transfer benchmark behind scripts/bench.sh. Reports; never passes or fails."""

import argparse
import fcntl
import filecmp
import os
import re
import select
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

COM = 5
BAUD = 115200
BITS_PER_BYTE = 10           # start bit, 8 data bits, stop bit: 8N1
BLOCK = 528                  # block size limit of the transfer
CRC_BYTES = 2
VERDICT = len("OK\r\n")      # the printer's reply to every accepted block
CLOSING = len("WAIT\r\n")
FRAMED_OVERHEAD = 7          # STX, length byte, two command/status characters, two checksum characters, LF
MODEL = "VIRTUAL"            # the printer's identification reply is "<serial>;VIRTUAL"
CLK_TCK = os.sysconf("SC_CLK_TCK")
XMODEM_SIZES = (64 * 1024, 640 * 1024)
UPDATE_DEADLINE_S = 600

SUMMARY = re.compile(r"summary: (update ok|update failed); (\d+) bytes received, (\d+) blocks, (\d+) retries, "
                     r"(\d+) CRC errors, ([0-9.]+) s")
PHASE = re.compile(r"block phase: (\d+) blocks in ([0-9.]+) s, ([0-9.]+) blocks/s, ([0-9.]+) ms/block, "
                   r"([0-9]+) bytes/s")


def wire_bytes(pkg, serial):
    """Every byte of one update, both directions, with the printer answering at once.

    identification query (variants 0, 1, 4): 7 bytes out, a framed reply of "<serial>;VIRTUAL" back
    entry handshake: the variant's frames and the printer's framed status
    announce line "<version>;<length>;528;\\r\\n" and its "OK\\r\\n"
    each block: its bytes, 2 CRC bytes, "OK\\r\\n"; at the end "WAIT\\r\\n"
    """
    n = 0
    if pkg.variant in (0, 1, 4):
        n += 7 + FRAMED_OVERHEAD + len(serial) + 1 + len(MODEL)
        n += 13 + FRAMED_OVERHEAD                      # common entry frame, status reply
    elif pkg.variant == 2:
        n += 4 + 1 + 12 + (FRAMED_OVERHEAD + 7) + 1   # wake-up, ACK, frame, 14-byte reply, ACK
    elif pkg.variant == 3:
        n += (1 + 1 + 22) if pkg.scramble else 20       # probe and answer, scrambled or plain frame
        n += FRAMED_OVERHEAD
    n += len(pkg.version) + len(str(pkg.length)) + len(str(BLOCK)) + 5 + VERDICT
    full, last = divmod(pkg.length, BLOCK)
    n += full * (BLOCK + CRC_BYTES + VERDICT)
    if last:
        n += last + CRC_BYTES + VERDICT
    return n + CLOSING


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def wineserver_pid(prefix):
    """The wineserver of this prefix, read from /proc (for CPU figures only)."""
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/cmdline", "rb") as f:
                if not os.path.basename(f.read().split(b"\0")[0]).startswith(b"wineserver"):
                    continue
            with open(f"/proc/{d}/environ", "rb") as f:
                if ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0"):
                    return int(d)
        except OSError:
            continue
    return None


def program_pid(work, exe_name):
    """The Wine process of the program copy in `work` (the harness starts it through Wine's
    start-up programs, so its own process is found by its command line)."""
    want = os.path.basename(work).encode()
    for d in os.listdir("/proc"):
        if not d.isdigit():
            continue
        try:
            with open(f"/proc/{d}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        first = argv[0].replace(b"\\", b"/")
        if first.endswith(b"/" + exe_name.encode()) and want in first:
            return int(d)
    return None


def update_run(h, printer_extra, speed):
    """One update of the shipped package by the running zorven.exe against a fresh printer."""
    h.stop_printer()
    h.start_printer(printer_extra)
    pid = program_pid(h.work, h.exe_name)
    harness.check(pid is not None, "the program's process was not found")
    server = wineserver_pid(os.path.join(h.build, "wineprefix"))
    cpu0 = cpu_seconds(pid)
    srv0 = cpu_seconds(server) if server else None
    seen = len(h.printer_log)  # the log list keeps earlier runs' lines: go by this printer's summary
    t0 = time.monotonic()
    h.run_update(f"COM{COM}", speed)
    summary = None
    while summary is None and time.monotonic() - t0 < UPDATE_DEADLINE_S:
        summary = next((SUMMARY.search(l) for l in h.printer_log[seen:] if SUMMARY.search(l)), None)
        time.sleep(0.05)
    harness.check(summary is not None, "the printer reported no update")
    h.must("wait-idle", 30)
    wall = time.monotonic() - t0
    cpu = cpu_seconds(pid) - cpu0
    srv = cpu_seconds(server) - srv0 if server else None
    phase = next((PHASE.search(l) for l in h.printer_log[seen:] if PHASE.search(l)), None)
    log = harness.log_texts(h.must("state")["log"])
    harness.check(log[-2:] == ["Process finished.", ""], f"the update did not finish: {log[-6:]}")
    return dict(pkg=h.package, wall=wall, cpu=cpu, server_cpu=srv, peak=peak_kib(pid), pid=pid,
                summary=summary, phase=phase)


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


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build-dir", required=True)
    opts = ap.parse_args()
    build = os.path.abspath(opts.build_dir)

    # One program, on one Xvfb, updates two printers in turn: paced, then instant.
    h = harness.Session(argparse.Namespace(build_dir=build, program=os.path.join(build, "ui", "zorven.exe"),
                                           com=COM, printer=None,
                                           package=os.path.join(build, "packages", "default.bin")))
    try:
        h.start_xvfb()
        h.start_printer([])
        h.start_program()
        print("== (a) paced: printer at %d baud, dialog at %d" % (BAUD, BAUD))
        paced = update_run(h, ["--baud", str(BAUD)], str(BAUD))
        inst = update_run(h, [], None)
        h.cmd("command", 2)
        h.wait_program_exit(30)
    finally:
        h.close()
    pkg = paced["pkg"]
    total = wire_bytes(pkg, harness.DEFAULT_SERIAL)
    limit = total * BITS_PER_BYTE / BAUD
    s = paced["summary"]
    print("  package: variant %d, %d image bytes, %d blocks" % (pkg.variant, pkg.length, -(-pkg.length // BLOCK)))
    print("  wire-time limit: %d bytes both ways x %d bits / %d baud = %.2f s" % (total, BITS_PER_BYTE, BAUD, limit))
    print("  printer: %s, first byte to WAIT %.2f s -> %.3f x the limit" % (s.group(1), float(s.group(6)),
                                                                          float(s.group(6)) / limit))
    print("  START to the dialog idle again: %.2f s" % paced["wall"])

    print("== (c) updater during the paced run (zorven.exe, process %d)" % paced["pid"])
    print("  CPU %.2f s over %.2f s wall = %.1f %%" % (paced["cpu"], paced["wall"], 100 * paced["cpu"] / paced["wall"]))
    if paced["server_cpu"] is not None:
        print("  wineserver of the prefix: CPU %.2f s = %.1f %% of wall" % (paced["server_cpu"],
                                                                        100 * paced["server_cpu"] / paced["wall"]))
    print("  peak memory (VmHWM) of zorven.exe: %d KiB" % paced["peak"])

    print("== (b) instant: printer answers at once")
    ph = inst["phase"]
    print("  update (printer, first byte to WAIT): %.2f s; START to the dialog idle again: %.2f s"
          % (float(inst["summary"].group(6)), inst["wall"]))
    print("  block phase: %s blocks in %s s: %s blocks/s, %s ms/block, %s bytes/s"
          % (ph.group(1), ph.group(2), ph.group(3), ph.group(4), ph.group(5)))
    typical = []
    for size in XMODEM_SIZES:
        runs = xmodem_runs(size)
        shown = ", ".join("%.3f s" % t if t is not None else "no end in %d s" % XMODEM_DEADLINE_S for t, _, _ in runs)
        print("  XMODEM-1K CRC, %d bytes, %d runs: %s; rx retries %s; relay releases without a purge %s"
              % (size, len(runs), shown, [r for _, r, _ in runs], [f for _, _, f in runs]))
        done = [t for t, _, _ in runs if t is not None]
        typical.append(statistics.median(done) if done else None)
    if None in typical or typical[1] <= typical[0]:
        print("  XMODEM-1K CRC steady state: not measured (no completed run of each size)")
        return 0
    steady = (XMODEM_SIZES[1] - XMODEM_SIZES[0]) / (typical[1] - typical[0])
    print("  XMODEM-1K CRC steady state, medians of completed runs: (%d - %d) bytes / (%.3f - %.3f) s = %.0f bytes/s"
          % (XMODEM_SIZES[1], XMODEM_SIZES[0], typical[1], typical[0], steady))
    print("  zorven block phase / XMODEM steady state: %s / %.0f = %.2f"
          % (ph.group(5), steady, float(ph.group(5)) / steady))

    return 0


if __name__ == "__main__":
    sys.exit(main())
