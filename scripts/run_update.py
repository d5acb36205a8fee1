#!/usr/bin/env python3
"""One update run of zorven.exe against the virtual printer, for scripts/run.sh.

It uses a Wine session of tests/zorvenkit for the processes: Xvfb when there is no
display, the printer on a pty linked to the build tree's COM5, the program in a fresh working
directory, and zorven-driver.exe to read the dialog (and, headless, to pick COM5 and press START).
Everything it starts it ends again by process id; the port link is removed.
"""

import argparse
import os
import subprocess
import sys
import time

from zorvenkit.checks import Failure
from zorvenkit.logs import SPEEDS
from zorvenkit.wine import Session

COM = 5


def wait_for_update_end(h, deadline_s):
    """The printer's figures of the update once it has ended one and the dialog is idle again;
    None if the program closed first or the time ran out."""
    end = time.time() + deadline_s
    while time.time() < end:
        updates = h.printer.updates()
        if updates:
            h.cmd("wait-idle", 30)
            return updates[-1]
        if h.program.poll() is not None:
            return None
        time.sleep(0.5)
    return None


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--baud", type=int, choices=[int(s) for s in SPEEDS],
                    help="pace the printer's line at this rate (headless: also chosen in the dialog)")
    ap.add_argument("--timeout", type=float, default=1800, help="seconds to wait for the update")
    opts = ap.parse_args()

    build = os.path.abspath(opts.build_dir)
    program = os.path.join(build, "ui", "zorven.exe")
    if not os.path.exists(program):
        print(f"run: {program} was not built", file=sys.stderr)
        return 1
    h = Session(build, COM, program=program, package=os.path.join(build, "packages", "default.bin"))
    headless = not os.environ.get("DISPLAY")
    out_dir = os.path.join(build, "run")
    os.makedirs(out_dir, exist_ok=True)
    shot = os.path.join(out_dir, "zorven-run.png")
    ok = False
    try:
        if headless:
            h.start_xvfb()
        else:
            h.display = os.environ["DISPLAY"]
        h.start_printer(["--baud", str(opts.baud)] if opts.baud else [])
        h.start_program()
        if headless:
            print(f"run: headless on Xvfb {h.display}; choosing COM{COM} and pressing START")
            h.run_update(f"COM{COM}", str(opts.baud) if opts.baud else None)
        else:
            print(f"run: zorven.exe is open on {h.display}: choose COM{COM}"
                  + (f" and {opts.baud} baud" if opts.baud else "") + ", then press START")
        update = wait_for_update_end(h, opts.timeout)
        if update is None:
            print("run: no update ended (program closed or time-out)", file=sys.stderr)
            return 1
        state = h.must("state")
        print("\nLog list:")
        for line in state["log"]:
            print("  " + line)
        prod = h.production_log()
        print("\nProduction log line (%s):" % os.path.join(h.work, "sn_build.txt"))
        print("  " + (prod.decode("latin-1").rstrip("\r\n") if prod else "(none: the update failed)"))
        print("\nUpdate time: %.3f s, as the printer saw it from the first byte to its last reply (%s)"
              % (update["seconds"], update["reason"]))
        try:
            if headless:
                h.screenshot(shot)
            else:
                # Only the program's window of the operator's screen.
                wid = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Zorven$"],
                                     capture_output=True, text=True, timeout=10).stdout.split()
                subprocess.run(["import", "-window", wid[0] if wid else "root", shot], check=True, timeout=60)
            print("Screenshot: " + shot)
        except (subprocess.SubprocessError, OSError) as e:
            print(f"Screenshot: none ({e})")
        ok = update["ok"] and prod is not None
        if headless:
            h.cmd("command", 2)  # Cancel: the dialog ends and with it the program
            h.wait_program_exit(30)
        else:
            print("\nrun: close the Zorven window to finish")
            h.program.wait()
    except Failure as e:
        print(f"run: {e}", file=sys.stderr)
    finally:
        h.close()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
