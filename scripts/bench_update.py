#!/usr/bin/env python3
"""The transfer benchmark behind scripts/bench.sh. Reports; never passes or fails."""

import argparse
import os
import re
import subprocess
import sys
import tempfile
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


XMODEM_ATTEMPTS = 5
# rx's shortest timeout (1 s) instead of its 10 s: a block its input purge threw away costs 1 s.
RX_TIMEOUT_TENTHS = 10
XMODEM_DEADLINE_S = 30


def xmodem_attempt(d, size):
    """sx -k (XMODEM-1K) to rx -c (CRC-16) over a fresh pty pair: wall seconds, or None when the
    transfer did not finish in time; and the receiver's timeout retries."""
    master, slave = os.openpty()
    tty.setraw(master)
    tty.setraw(slave)
    with open(os.path.join(d, "rx.log"), "w") as rx_log:
        t0 = time.monotonic()
        # Relative names: rx in its default restricted mode refuses paths outside its directory.
        rx = subprocess.Popen(["rx", "-c", "-v", "-t", str(RX_TIMEOUT_TENTHS), "-b", "dst.bin"], stdin=slave, stdout=slave, cwd=d,
                              stderr=rx_log, start_new_session=True)
        sx = subprocess.Popen(["sx", "-k", "-q", "-b", "src.bin"], stdin=master, stdout=master, cwd=d,
                              stderr=subprocess.DEVNULL, start_new_session=True)
        secs = None
        try:
            sx.wait(timeout=XMODEM_DEADLINE_S)
            rx.wait(timeout=XMODEM_DEADLINE_S)
            secs = time.monotonic() - t0
        except subprocess.TimeoutExpired:
            pass
        finally:
            for p in (sx, rx):  # only the two started here, by their ids
                if p.poll() is None:
                    p.kill()
                    p.wait()
            os.close(master)
            os.close(slave)
    with open(os.path.join(d, "rx.log"), "rb") as f:
        retries = f.read().count(b"Retry")
    if secs is not None:
        with open(os.path.join(d, "src.bin"), "rb") as a, open(os.path.join(d, "dst.bin"), "rb") as b:
            if a.read() != b.read():
                secs = None
    os.remove(os.path.join(d, "dst.bin")) if os.path.exists(os.path.join(d, "dst.bin")) else None
    return secs, retries


def xmodem_runs(size):
    """Several transfers of one size; each as (seconds or None, receiver retries)."""
    with tempfile.TemporaryDirectory(prefix="zorven-xmodem-") as d:
        with open(os.path.join(d, "src.bin"), "wb") as f:
            f.write(os.urandom(size))
        return [xmodem_attempt(d, size) for _ in range(XMODEM_ATTEMPTS)]


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
    best = []
    for size in XMODEM_SIZES:
        runs = xmodem_runs(size)
        shown = ", ".join("%.3f s" % t if t is not None else "no end in %d s" % XMODEM_DEADLINE_S for t, _ in runs)
        print("  XMODEM-1K CRC, %d bytes, %d runs: %s; receiver retries %s"
              % (size, len(runs), shown, [r for _, r in runs]))
        clean = [t for t, r in runs if t is not None and r == 0] or [t for t, _ in runs if t is not None]
        best.append(min(clean) if clean else None)
    if None in best or best[1] <= best[0]:
        print("  XMODEM-1K CRC steady state: not measured (no usable run of each size)")
        return 0
    steady = (XMODEM_SIZES[1] - XMODEM_SIZES[0]) / (best[1] - best[0])
    print("  XMODEM-1K CRC steady state, fastest clean runs: (%d - %d) bytes / (%.3f - %.3f) s = %.0f bytes/s"
          % (XMODEM_SIZES[1], XMODEM_SIZES[0], best[1], best[0], steady))
    print("  zorven block phase / XMODEM steady state: %.2f" % (float(ph.group(5)) / steady))

    return 0


if __name__ == "__main__":
    sys.exit(main())
