#!/usr/bin/env python3
"""The zorven-cli part of scripts/bench.sh, natively. Reports; never passes or fails.

(d) four printers paced at 115200 baud, updated at once by one zorven-cli: the wall time set
    beside one printer's wire-time limit, and the program's CPU time per port as a share of it.
(e) one printer answering at once: zorven-cli's block rate beside the XMODEM-1K reference of the
    same run.
(f) one printer paced at 115200 baud behind the printer's USB adapter model, with a 16 ms and a
    1 ms latency timer: the update time beside the wire-time limit, and the block turnaround
    zorven-cli reports in its result.
"""
import argparse
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import bench_update  # noqa: E402
import harness  # noqa: E402

PORTS = 4
BAUD = 115200
RUN_LIMIT_S = 600


def start_printer(printer, pkg, work, name, extra):
    err = open(os.path.join(work, name + ".err"), "w")
    p = subprocess.Popen([printer, "--once", "--serial", "ZP-BENCH-" + name, "--out", os.path.join(work, name + ".bin")]
                         + pkg.printer_args() + extra, stdout=subprocess.PIPE, stderr=err, text=True)
    line = p.stdout.readline()
    harness.check(line.startswith("PTY "), "printer did not report its pty: %r" % line)
    return p, line.split()[1], err


def run(cli, printer, pkg, work, extra, ports, baud, json_path=None):
    """One zorven-cli run over `ports` fresh printers. Returns (wall s, CPU s, printer summaries)."""
    printers = [start_printer(printer, pkg, work, "p%d" % i, extra) for i in range(ports)]
    try:
        args = [cli, "update", "--baud", str(baud)] + (["--json", json_path] if json_path else [])
        for _, pty, _ in printers:
            args += ["--port", pty]
        t0 = time.monotonic()
        proc = subprocess.Popen(args, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # wait4 gives the program's own CPU time, all its threads together.
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - t0
        harness.check(proc.returncode == 0, "zorven-cli exit status %d" % proc.returncode)
        summaries = []
        for p, _, err in printers:
            p.wait(30)
            err.close()
            with open(err.name) as f:
                text = f.read()
            summaries.append((bench_update.SUMMARY.search(text), bench_update.PHASE.search(text)))
        for i in range(ports):
            with open(os.path.join(work, "p%d.bin" % i), "rb") as f:
                harness.check(f.read() == pkg.image, "printer %d received other bytes" % i)
        return wall, usage.ru_utime + usage.ru_stime, summaries
    finally:
        for p, _, err in printers:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                p.wait()
            err.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build-dir", required=True)
    opts = ap.parse_args()
    build = os.path.abspath(opts.build_dir)
    printer = os.path.join(build, "tools", "zorven-printer")
    work = tempfile.mkdtemp(prefix="zorven-bench-cli-")
    try:
        cli = os.path.join(build, "cli", "zorven-cli")
        pkg = harness.Package(os.path.join(build, "packages", "default.bin"))
        # Each printer answers the identification query with its own serial number of this length.
        total = bench_update.wire_bytes(pkg, "ZP-BENCH-p0")
        limit = total * bench_update.BITS_PER_BYTE / BAUD
        print("== (d) zorven-cli, %d printers paced at %d baud, updated at once (natively)" % (PORTS, BAUD))
        print("  package: variant %d, %d image bytes; one printer's wire-time limit %.2f s" % (pkg.variant, pkg.length,
                                                                                              limit))
        wall, cpu, summaries = run(cli, printer, pkg, work, ["--baud", str(BAUD)], PORTS, BAUD)
        for i, (s, _) in enumerate(summaries):
            print("  printer %d: %s, first byte to WAIT %.2f s" % (i, s.group(1), float(s.group(6))))
        print("  zorven-cli start to exit: %.2f s = %.3f x the limit" % (wall, wall / limit))
        print("  zorven-cli CPU %.2f s over %.2f s wall: %.2f %% per port" % (cpu, wall, 100 * cpu / wall / PORTS))

        print("== (e) zorven-cli, one printer answering at once (natively)")
        wall, cpu, summaries = run(cli, printer, pkg, work, [], 1, BAUD)
        ph = summaries[0][1]
        print("  block phase: %s blocks in %s s: %s blocks/s, %s ms/block, %s bytes/s"
              % (ph.group(1), ph.group(2), ph.group(3), ph.group(4), ph.group(5)))
        typical = []
        for size in bench_update.XMODEM_SIZES:
            runs = bench_update.xmodem_runs(size)
            print("  XMODEM-1K CRC, %d bytes: %s" % (size, ", ".join("%.3f s" % t if t else "no end" for t, _, _ in runs)))
            done = [t for t, _, _ in runs if t is not None]
            typical.append(statistics.median(done) if done else None)
        if None in typical or typical[1] <= typical[0]:
            print("  XMODEM-1K CRC steady state: not measured")
        else:
            steady = (bench_update.XMODEM_SIZES[1] - bench_update.XMODEM_SIZES[0]) / (typical[1] - typical[0])
            print("  XMODEM-1K CRC steady state: %.0f bytes/s" % steady)
            print("  zorven-cli block phase / XMODEM steady state: %s / %.0f = %.2f"
                  % (ph.group(5), steady, float(ph.group(5)) / steady))

        print("== (f) zorven-cli, one printer paced at %d baud through the printer's USB adapter model (natively)"
              % BAUD)
        blocks = -(-pkg.length // bench_update.BLOCK)
        for ms in bench_update.USB_LATENCIES_MS:
            result = os.path.join(work, "usb.json")
            wall, _, summaries = run(cli, printer, pkg, work, ["--baud", str(BAUD), "--usb-latency", str(ms)], 1, BAUD,
                                     result)
            update = float(summaries[0][0].group(6))
            with open(result) as f:
                t = json.load(f)[0]["link"]["turnaround_ms"]
            print("  latency timer %2d ms: first byte to WAIT %.3f s = %.4f x the limit; excess %.2f ms for each of %d "
                  "blocks; block turnaround median %.1f ms, p95 %.1f ms, max %.1f ms"
                  % (ms, update, update / limit, (update - limit) * 1000 / blocks, blocks, t["median"], t["p95"],
                     t["max"]))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
