#!/usr/bin/env python3
"""One update run of zorven.exe against the virtual printer, for scripts/run.sh.

It uses the end-to-end harness (tests/e2e/harness.py) for the processes: Xvfb when there is no
display, the printer on a pty linked to the build tree's COM5, the program in a fresh working
directory, and zorven-driver.exe to read the dialog (and, headless, to pick COM5 and press START).
Everything it starts it ends again by process id; the port link is removed.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402

COM = 5
SUMMARY = re.compile(r"summary: (update ok|update failed); .*?, ([0-9.]+) s \((.*)\)$")
SPEEDS = ("9600", "19200", "38400", "57600", "115200")


def printer_summary(h):
    for line in reversed(h.printer_log):
        m = SUMMARY.search(line)
        if m:
            return m
    return None


def wait_for_update_end(h, deadline_s):
    """Until the printer has ended an update (its summary line) and the dialog is idle again."""
    end = time.time() + deadline_s
    while time.time() < end:
        if printer_summary(h):
            break
        if h.program.poll() is not None:
            return False
        time.sleep(0.5)
    else:
        return False
    h.cmd("wait-idle", 30)
    return True


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
    session_opts = argparse.Namespace(build_dir=build, program=program, com=COM, printer=None,
                                      package=os.path.join(build, "packages", "default.bin"))
    h = harness.Session(session_opts)
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
        if not wait_for_update_end(h, opts.timeout):
            print("run: no update ended (program closed or time-out)", file=sys.stderr)
            return 1
        state = h.must("state")
        print("\nLog list:")
        for line in state["log"]:
            print("  " + line)
        prod = h.production_log()
        print("\nProduction log line (%s):" % os.path.join(h.work, "sn_build.txt"))
        print("  " + (prod.decode("latin-1").rstrip("\r\n") if prod else "(none: the update failed)"))
        m = printer_summary(h)
        print("\nUpdate time: %s s, as the printer saw it from the first byte to its last reply (%s)"
              % (m.group(2), m.group(3)))
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
        ok = m.group(1) == "update ok" and prod is not None
        if headless:
            h.cmd("command", 2)  # Cancel: the dialog ends and with it the program
            h.wait_program_exit(30)
        else:
            print("\nrun: close the Zorven window to finish")
            h.program.wait()
    except harness.Failure as e:
        print(f"run: {e}", file=sys.stderr)
    finally:
        h.close()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
