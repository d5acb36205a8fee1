#!/usr/bin/env python3
"""The station part of scripts/bench.sh, natively. Reports; never passes or fails.

(g) zorven-cli station on 4 and on 8 ports, a line of three printers on each, paced at 115200
    baud, each printer switched on 1 s after the one before it turned off: printers per hour set
    beside the ideal (ports x 3600 / (one printer's wire-time limit + the gap)), and the station's
    handling time per printer: from the printer's detection to the start of its update, and from
    the end of one update to the detection of the next printer less the gap the line waits.
"""
import argparse
import datetime
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from benchlib.wire_model import wire_bytes, wire_limit
from zorvenkit.checks import check
from zorvenkit.printer import Printer
from zorvenkit.record import Package

BAUD = 115200
GAP_S = 1.0
PRINTERS_PER_PORT = 3
RUN_LIMIT_S = 1800


def when(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()


def p95(values):
    values = sorted(values)
    return values[max(0, -(-len(values) * 95 // 100) - 1)]


def run(cli, printer, pkg, work, ports):
    lines = []
    try:
        for i in range(ports):
            # Serial numbers of this run's own: a station skips a printer its production log
            # already has.
            serials = ",".join("ZP-B%d-%d-%d" % (ports, i, k) for k in range(PRINTERS_PER_PORT))
            lines.append(Printer(printer, work, "line%d" % i, ["--serials", serials, "--gap", str(int(GAP_S * 1000)),
                                                              "--baud", str(BAUD)] + pkg.printer_args()))
        args = [cli, "station", "--baud", str(BAUD), "--count", str(ports * PRINTERS_PER_PORT), "--json", "-",
                "--results", os.path.join(work, "results-%d.ndjson" % ports),
                "--log", os.path.join(work, "sn_build-%d.txt" % ports)]
        for p in lines:
            args += ["--port", p.pty]
        t0 = time.monotonic()
        proc = subprocess.run(args, cwd=work, capture_output=True, text=True, timeout=RUN_LIMIT_S)
        wall = time.monotonic() - t0
        check(proc.returncode == 0, "station exit status %d: %s" % (proc.returncode, proc.stderr))
        events = [json.loads(l) for l in proc.stdout.splitlines() if l.startswith("{")]
        return wall, events
    finally:
        for p in lines:
            p.stop()


def handling(events):
    """Per printer: detection to the update's start, and one update's end to the next detection."""
    to_start, changeover = [], []
    detected, ended = {}, {}
    for e in events:
        port = e["port"]
        if e["event"] == "detected":
            detected[port] = when(e["time"])
            if port in ended:
                changeover.append(detected[port] - ended.pop(port) - GAP_S)
        elif e["event"] == "attempt" and e["outcome"] == "finished":
            to_start.append(when(e["started"]) - detected.get(port, when(e["started"])))
            ended[port] = when(e["ended"])
    return to_start, changeover


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--ports", type=int, action="append", help="port counts (default 4 and 8)")
    opts = ap.parse_args()
    build = os.path.abspath(opts.build_dir)
    printer = os.path.join(build, "tools", "zorven-printer")
    cli = os.path.join(build, "cli", "zorven-cli")
    pkg = Package(os.path.join(build, "packages", "default.bin"))
    limit = wire_limit(wire_bytes(pkg, "ZP-B4-0-0"), BAUD)
    work = tempfile.mkdtemp(prefix="zorven-bench-station-")
    try:
        for ports in opts.ports or [4, 8]:
            print("== (g) zorven-cli station, %d ports, %d printers each, paced at %d baud, gap %.1f s"
                  % (ports, PRINTERS_PER_PORT, BAUD, GAP_S))
            wall, events = run(cli, printer, pkg, work, ports)
            done = sum(1 for e in events if e["event"] == "attempt" and e["outcome"] == "finished")
            ideal = ports * 3600 / (limit + GAP_S)
            # The first printer of each line is on at once, so a run of n printers a port holds
            # n - 1 gaps: the ideal run takes n x limit + (n - 1) x gap.
            ideal_wall = PRINTERS_PER_PORT * limit + (PRINTERS_PER_PORT - 1) * GAP_S
            rate = done * 3600 / wall
            print("  %d updates finished in %.1f s (ideal %.1f s: %d x %.2f s wire-time limit + %d x %.1f s gap)"
                  % (done, wall, ideal_wall, PRINTERS_PER_PORT, limit, PRINTERS_PER_PORT - 1, GAP_S))
            print("  printers per hour %.1f; ideal in a steady shift %.1f; run time ideal / measured = %.3f"
                  % (rate, ideal, ideal_wall / wall))
            updates = [when(e["ended"]) - when(e["started"]) for e in events
                       if e["event"] == "attempt" and e["outcome"] == "finished"]
            if updates:
                print("  each update, detection to its end: median %.2f s = %.3f x the limit, p95 %.2f s"
                      % (statistics.median(updates), statistics.median(updates) / limit, p95(updates)))
            to_start, changeover = handling(events)
            if to_start:
                print("  detection to the update's start: median %.3f s, p95 %.3f s (%d printers)"
                      % (statistics.median(to_start), p95(to_start), len(to_start)))
            if changeover:
                print("  end of an update to the next printer's detection, less the gap: median %.3f s, p95 %.3f s"
                      " (%d changeovers)" % (statistics.median(changeover), p95(changeover), len(changeover)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
