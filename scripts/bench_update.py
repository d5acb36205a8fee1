#!/usr/bin/env python3
"""The transfer benchmark behind scripts/bench.sh. Reports; never passes or fails.

zorven.exe under Wine, beside the block loop (the platform's floor), zorven-timed.exe and the
minimal dialog's start-up, and then XMODEM-1K; the parts are in scripts/benchlib."""

import argparse
import os
import shutil
import sys

from benchlib import wine_parts
from benchlib.wine_runs import session
from benchlib.wire_model import wire_bytes, wire_limit
from zorvenkit.printer import DEFAULT_SERIAL

RUNS = 3


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

        wine_parts.startup_part(mini, programs, runs_n)
        for _, h in programs + [("timed", timed)]:
            h.start_program()

        pkg = after.package
        total = wire_bytes(pkg, DEFAULT_SERIAL)
        limit = wire_limit(total)
        if not opts.no_paced:
            wine_parts.paced_part(runs_n, after, programs, timed, block_loop, pkg, total, limit)
        inst = wine_parts.instant_part(runs_n, after, programs, timed, block_loop)
        wine_parts.timed_steps(timed, ("instant",) if opts.no_paced else ("paced", "instant"))
        if not opts.no_paced:
            wine_parts.usb_part(after, pkg, limit)

        for _, h in programs + [("timed", timed)]:
            h.cmd("command", 2)
            h.wait_program_exit(30)
    finally:
        for h in reversed(hs):
            h.close()
        for h in hs:
            shutil.rmtree(h.work, ignore_errors=True)

    wine_parts.xmodem_part(inst)
    return 0


if __name__ == "__main__":
    sys.exit(main())
