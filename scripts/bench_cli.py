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
import shutil
import subprocess
import sys
import tempfile
import time

from benchlib import xmodem_relay
from benchlib.report import block_phase_text
from benchlib.wire_model import USB_LATENCIES_MS, block_count, wire_bytes, wire_limit
from zorvenkit.checks import check
from zorvenkit.printer import Printer
from zorvenkit.record import Package

PORTS = 4
BAUD = 115200
RUN_LIMIT_S = 600


def run(cli, printer, pkg, work, extra, ports, baud, json_path=None):
    """One zorven-cli run over `ports` fresh printers. Returns (wall s, CPU s, each printer's
    figures of its update)."""
    printers = []
    try:
        for i in range(ports):
            name = "p%d" % i
            printers.append(Printer(printer, work, name, ["--serial", "ZP-BENCH-" + name] + pkg.printer_args() + extra,
                                    once=True))
        args = [cli, "update", "--baud", str(baud)] + (["--json", json_path] if json_path else [])
        for p in printers:
            args += ["--port", p.pty]
        t0 = time.monotonic()
        proc = subprocess.Popen(args, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # wait4 gives the program's own CPU time, all its threads together.
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - t0
        check(proc.returncode == 0, "zorven-cli exit status %d" % proc.returncode)
        updates = []
        for i, p in enumerate(printers):
            check(p.wait_exit(30) is not None, "printer %d did not end" % i)
            updates.append(p.updates()[-1])
            check(p.image() == pkg.image, "printer %d received other bytes" % i)
        return wall, usage.ru_utime + usage.ru_stime, updates
    finally:
        for p in printers:
            p.stop()


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build-dir", required=True)
    opts = ap.parse_args()
    build = os.path.abspath(opts.build_dir)
    printer = os.path.join(build, "tools", "zorven-printer")
    work = tempfile.mkdtemp(prefix="zorven-bench-cli-")
    try:
        cli = os.path.join(build, "cli", "zorven-cli")
        pkg = Package(os.path.join(build, "packages", "default.bin"))
        # Each printer answers the identification query with its own serial number of this length.
        limit = wire_limit(wire_bytes(pkg, "ZP-BENCH-p0"), BAUD)
        print("== (d) zorven-cli, %d printers paced at %d baud, updated at once (natively)" % (PORTS, BAUD))
        print("  package: variant %d, %d image bytes; one printer's wire-time limit %.2f s" % (pkg.variant, pkg.length,
                                                                                              limit))
        wall, cpu, updates = run(cli, printer, pkg, work, ["--baud", str(BAUD)], PORTS, BAUD)
        for i, u in enumerate(updates):
            print("  printer %d: %s, first byte to WAIT %.2f s" % (i, u["outcome"], u["seconds"]))
        print("  zorven-cli start to exit: %.2f s = %.3f x the limit" % (wall, wall / limit))
        print("  zorven-cli CPU %.2f s over %.2f s wall: %.2f %% per port" % (cpu, wall, 100 * cpu / wall / PORTS))

        print("== (e) zorven-cli, one printer answering at once (natively)")
        wall, cpu, updates = run(cli, printer, pkg, work, [], 1, BAUD)
        ph = updates[0]["block_phase"]
        print("  " + block_phase_text(ph))
        _, steady = xmodem_relay.measure(
            lambda size, runs: print("  XMODEM-1K CRC, %d bytes: %s"
                                     % (size, ", ".join("%.3f s" % t if t else "no end" for t, _, _ in runs))))
        if steady is None:
            print("  XMODEM-1K CRC steady state: not measured")
        else:
            print("  XMODEM-1K CRC steady state: %.0f bytes/s" % steady)
            print("  zorven-cli block phase / XMODEM steady state: %.0f / %.0f = %.2f"
                  % (ph["bytes_per_s"], steady, ph["bytes_per_s"] / steady))

        print("== (f) zorven-cli, one printer paced at %d baud through the printer's USB adapter model (natively)"
              % BAUD)
        blocks = block_count(pkg)
        for ms in USB_LATENCIES_MS:
            result = os.path.join(work, "usb.json")
            wall, _, updates = run(cli, printer, pkg, work, ["--baud", str(BAUD), "--usb-latency", str(ms)], 1, BAUD,
                                   result)
            update = updates[0]["seconds"]
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
