#!/usr/bin/env python3
"""The transfer benchmark behind scripts/bench.sh. Reports; never passes or fails."""

import argparse
import fcntl
import filecmp
import json
import os
import select
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty

from zorvenkit.checks import Failure, check
from zorvenkit.logs import log_texts
from zorvenkit.printer import DEFAULT_SERIAL
from zorvenkit.procfs import cpu_seconds, find_unix_pid, status_figures, wineserver_pid
from zorvenkit.wine import Session

COM = 5
BAUD = 115200
BITS_PER_BYTE = 10           # start bit, 8 data bits, stop bit: 8N1
BLOCK = 528                  # block size limit of the transfer
CRC_BYTES = 2
VERDICT = len("OK\r\n")      # the printer's reply to every accepted block
CLOSING = len("WAIT\r\n")
FRAMED_OVERHEAD = 7          # STX, length byte, two command/status characters, two checksum characters, LF
MODEL = "VIRTUAL"            # the printer's identification reply is "<serial>;VIRTUAL"
XMODEM_SIZES = (64 * 1024, 640 * 1024)
UPDATE_DEADLINE_S = 600
USB_LATENCIES_MS = (16, 1)   # an FTDI adapter's default latency timer, and the lowest it takes

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


def update_run(h, printer_extra, speed):
    """One update of the shipped package by the running program against a fresh printer; the
    printer's figures of it under "update"."""
    printer = h.start_printer(printer_extra)
    pid = find_unix_pid(h.exe_suffix)
    check(pid is not None, "the program's process was not found")
    server = wineserver_pid(h.prefix)
    cpu0 = cpu_seconds(pid)
    srv0 = cpu_seconds(server) if server else None
    t0 = time.monotonic()
    h.run_update(f"COM{COM}", speed)
    update = printer.wait_update(UPDATE_DEADLINE_S)
    h.must("wait-idle", 30)
    wall = time.monotonic() - t0
    cpu = cpu_seconds(pid) - cpu0
    srv = cpu_seconds(server) - srv0 if server else None
    log = log_texts(h.must("state")["log"])
    check(log[-2:] == ["Process finished.", ""], f"the update did not finish: {log[-6:]}")
    h.stop_printer()
    return dict(pkg=h.package, wall=wall, cpu=cpu, server_cpu=srv, peak=status_figures(pid)["hwm_kb"], pid=pid,
                update=update)


def floor_run(h, block_loop, printer_extra):
    """One update by the block loop (no dialog) against a fresh printer: the platform's floor."""
    printer = h.start_printer(printer_extra)
    t0 = time.monotonic()
    r = h.run_console([block_loop, f"COM{COM}", str(BAUD)], UPDATE_DEADLINE_S, stdin=subprocess.DEVNULL,
                      capture_output=True, text=True)
    wall = time.monotonic() - t0
    check(r.returncode == 0, f"block loop failed: {r.stdout} {r.stderr}")
    update = printer.wait_update(UPDATE_DEADLINE_S)
    h.stop_printer()
    return dict(pkg=h.package, wall=wall, update=update)


def startup_once(h):
    """Seconds from starting the program (through Wine's explorer, as every test does) to its
    dialog shown and answering a message, as the driver's time-start command sees it. The driver
    is up before the program starts, and closes the dialog afterwards."""
    h.close_driver()
    desktop = h.new_desktop()
    timer = h.start_driver(desktop, "time-start", "60", stdin=subprocess.DEVNULL)
    ready = timer.stdout.readline()
    check('"ready"' in ready, f"the timing driver did not start: {ready!r}")
    t0 = time.monotonic()
    program = h.launch(desktop)
    answer = timer.stdout.readline()
    t1 = time.monotonic()
    check(answer and json.loads(answer).get("ok"), f"no dialog answered: {answer!r}")
    timer.wait(timeout=30)
    program.wait(timeout=30)
    return t1 - t0


def block_phase_text(ph):
    """The block phase of one update as the printer counted it."""
    return ("block phase: %d blocks in %.3f s: %.1f blocks/s, %.3f ms/block, %.0f bytes/s"
            % (ph["blocks"], ph["seconds"], ph["blocks_per_s"], ph["ms_per_block"], ph["bytes_per_s"]))


def med(values):
    return statistics.median(values) if values else float("nan")


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


RUNS = 3


def session(build, program, display=None):
    h = Session(build, COM, program=program, package=os.path.join(build, "packages", "default.bin"))
    if display:
        h.display = display
    else:
        h.start_xvfb()
    return h


def show_paced(name, r, limit):
    """One paced update: its time against the limit, and the printer's accounting of the excess."""
    u = r["update"]
    late, turns, acc = u["lateness"], u["turnaround"], u["accounting"]
    update = u["seconds"]
    excess_ms = (update - limit) * 1000
    print("  %-8s %.3f s = %.4f x the limit; excess %.1f ms" % (name, update, update / limit, excess_ms))
    if acc:
        block_sum, other_sum, gaps = turns["sum_ms"], turns["others_sum_ms"], turns["gaps_ms"]
        late_sum = late["total_ms"]
        rest = excess_ms - block_sum - other_sum - gaps - late_sum
        print("           block turnaround (last verdict byte out to the next block's first byte read), %d blocks: "
              "median %.1f us, p90 %.1f us, p99 %.1f us, sum %.3f ms"
              % (turns["blocks"], turns["median_us"], turns["p90_us"], turns["p99_us"], block_sum))
        print("           excess %.1f ms = block turnarounds %.1f + other turnarounds %.1f (%d) + receive gaps %.1f "
              "+ printer lateness %.1f (%d replies, median %.1f us, max %.1f us) + rest %.1f ms"
              % (excess_ms, block_sum, other_sum, turns["others"], gaps, late_sum, late["replies"], late["median_us"],
                 late["max_us"], rest))
        print("           printer's own count: wire %d bytes %.3f ms; accounted %.3f ms of %.3f ms"
              % (acc["bytes"], acc["wire_ms"], acc["accounted_ms"], acc["update_ms"]))
    return update, late["total_ms"]


def paced_part(opts, after, programs, timed, block_loop, pkg, total, limit):
    runs_n = opts.runs
    print("== (a) paced: printer at %d baud, dialog at %d; %d runs each, in turn" % (BAUD, BAUD, runs_n))
    print("  package: variant %d, %d image bytes, %d blocks" % (pkg.variant, pkg.length, -(-pkg.length // BLOCK)))
    print("  wire-time limit: %d bytes both ways x %d bits / %d baud = %.3f s" % (total, BITS_PER_BYTE, BAUD, limit))
    paced = {"floor": []}
    paced.update({n: [] for n, _ in programs})
    paced_runs = {n: [] for n in paced}
    for i in range(runs_n):
        print(" run %d" % (i + 1))
        for n, h in [("floor", after)] + programs:
            try:
                if n == "floor":
                    r = floor_run(h, block_loop, ["--baud", str(BAUD)])
                else:
                    r = update_run(h, ["--baud", str(BAUD)], str(BAUD))
            except Failure as e:  # shown, and left out of the medians
                print("  %-8s run failed: %s" % (n, e))
                continue
            paced[n].append(show_paced(n, r, limit))
            paced_runs[n].append(r)
    print(" timed build (zorven.exe's dialog with each step of a pass timed), once")
    tr = update_run(timed, ["--baud", str(BAUD)], str(BAUD))
    show_paced("timed", tr, limit)
    print(" medians of %d runs (excess net: less the printer's own lateness in that run):" % runs_n)
    blocks = -(-pkg.length // BLOCK)
    floor_excess = (med([u for u, _ in paced["floor"]]) - limit) * 1000
    floor_net = med([(u - limit) * 1000 - late for u, late in paced["floor"]])
    for n, v in paced.items():
        update = med([u for u, _ in v])
        excess = (update - limit) * 1000
        net = med([(u - limit) * 1000 - late for u, late in v])
        print("  %-8s %.3f s = %.4f x the limit; excess %.1f ms = %.3f ms/block, / floor's %.1f ms = %.2f; "
              "net %.1f ms, / floor's net %.1f ms = %.2f"
              % (n, update, update / limit, excess, excess / blocks, floor_excess,
                 excess / floor_excess if floor_excess > 0 else float("nan"), net, floor_net,
                 net / floor_net if floor_net > 0 else float("nan")))
    last = paced_runs["after"][-1]
    print("== (c) updater during the last paced run (zorven.exe, process %d)" % last["pid"])
    print("  CPU %.2f s over %.2f s wall = %.1f %%" % (last["cpu"], last["wall"], 100 * last["cpu"] / last["wall"]))
    if last["server_cpu"] is not None:
        print("  wineserver of the prefix: CPU %.2f s = %.1f %% of wall" % (last["server_cpu"],
                                                                        100 * last["server_cpu"] / last["wall"]))
    print("  peak memory (VmHWM) of zorven.exe: %d KiB" % last["peak"])


def usb_part(h, pkg, limit):
    """(f) The paced update with the printer's replies handed over as by a USB serial adapter."""
    blocks = -(-pkg.length // BLOCK)
    print("== (f) paced at %d baud through the printer's USB adapter model (62-byte packets, latency timer), "
          "zorven.exe, once each" % BAUD)
    for ms in USB_LATENCIES_MS:
        r = update_run(h, ["--baud", str(BAUD), "--usb-latency", str(ms)], str(BAUD))
        update = r["update"]["seconds"]
        excess_ms = (update - limit) * 1000
        print("  latency timer %2d ms: %.3f s = %.4f x the limit; excess %.1f ms = %.2f ms for each of %d blocks"
              % (ms, update, update / limit, excess_ms, excess_ms / blocks, blocks))


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--baseline", help="an earlier zorven.exe to measure beside the current one")
    ap.add_argument("--runs", type=int, default=RUNS, help="runs of each program in each part")
    ap.add_argument("--no-paced", action="store_true", help="leave out the paced part (a quick check)")
    opts = ap.parse_args()
    runs_n = opts.runs
    build = os.path.abspath(opts.build_dir)
    bench = os.path.join(build, "tests", "bench")
    block_loop = os.path.join(bench, "zorven-block-loop.exe")

    # Every program on one Xvfb, each in its own working directory and Wine desktop.
    after = session(build, os.path.join(build, "ui", "zorven.exe"))
    hs = [after]
    try:
        disp = after.display
        programs = [("after", after)]
        if opts.baseline:
            before = session(build, os.path.abspath(opts.baseline), disp)
            hs.append(before)
            programs.insert(0, ("before", before))
        timed = session(build, os.path.join(bench, "zorven-timed.exe"), disp)
        mini = session(build, os.path.join(bench, "zorven-min-dialog.exe"), disp)
        hs += [timed, mini]

        print("== start-up: program start to its dialog shown and answering, %d runs each, in turn" % runs_n)
        starts = {"min-dialog": []}
        starts.update({n: [] for n, _ in programs})
        for _ in range(runs_n):
            starts["min-dialog"].append(startup_once(mini))
            for n, h in programs:
                starts[n].append(startup_once(h))
        for n, v in starts.items():
            print("  %-10s %s; median %.3f s" % (n, ", ".join("%.3f s" % t for t in v), med(v)))
        for n, _ in programs:
            print("  %s / min-dialog: %.3f / %.3f = %.2f" % (n, med(starts[n]), med(starts["min-dialog"]),
                                                            med(starts[n]) / med(starts["min-dialog"])))

        for _, h in programs + [("timed", timed)]:
            h.start_program()

        pkg = after.package
        total = wire_bytes(pkg, DEFAULT_SERIAL)
        limit = total * BITS_PER_BYTE / BAUD
        if not opts.no_paced:
            paced_part(opts, after, programs, timed, block_loop, pkg, total, limit)
        print("== (b) instant: printer answers at once; %d runs each, in turn" % runs_n)
        inst = {"floor": []}
        inst.update({n: [] for n, _ in programs})
        for i in range(runs_n):
            r = floor_run(after, block_loop, [])
            inst["floor"].append(r)
            for n, h in programs:
                inst[n].append(update_run(h, [], None))
        inst_timed = update_run(timed, [], None)
        for n, v in inst.items():
            for r in v:
                ph, t = r["update"]["block_phase"], r["update"]["turnaround"]
                print("  %-8s %s; block turnaround median %.1f us, p99 %.1f us"
                      % (n, block_phase_text(ph), t["median_us"], t["p99_us"]))
        ph = inst_timed["update"]["block_phase"]
        print("  timed    block phase: %d blocks in %.3f s: %.1f blocks/s" % (ph["blocks"], ph["seconds"],
                                                                            ph["blocks_per_s"]))

        with open(os.path.join(timed.work, "zorven-timed.txt")) as f:
            runs = f.read().split("run: ")[1:]
        for title, text in zip(("instant",) if opts.no_paced else ("paced", "instant"), runs):
            print("== steps of a block's pass inside zorven-timed.exe, %s run" % title)
            print("  run: " + text.rstrip().replace("\n", "\n  "))

        if not opts.no_paced:
            usb_part(after, pkg, limit)

        for _, h in programs + [("timed", timed)]:
            h.cmd("command", 2)
            h.wait_program_exit(30)
    finally:
        for h in reversed(hs):
            h.close()
        for h in hs:
            shutil.rmtree(h.work, ignore_errors=True)

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
    for n, v in inst.items():
        ratios = [r["update"]["block_phase"]["bytes_per_s"] / steady for r in v]
        print("  %-8s block phase / XMODEM steady state: %s; median %.2f, spread %.2f..%.2f"
              % (n, ", ".join("%.2f" % x for x in ratios), med(ratios), min(ratios), max(ratios)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
