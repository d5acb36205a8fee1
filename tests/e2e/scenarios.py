#!/usr/bin/env python3
"""End-to-end scenarios of zorven.exe under Wine and Xvfb.

Each run starts its own Xvfb, its own virtual printer on a pty that the build tree's port path
ports/COMn leads to, and a copy of the program in a fresh working directory (where the program
writes sn_build.txt). zorven-driver.exe reads and drives the dialog through window messages. On
every way out the run ends what it started, by process id, and removes its port link.

    scenarios.py --build-dir B --program EXE --package RECORD.bin --com N SCENARIO [--printer-args ARGS]
"""

import argparse
import json
import os
import re
import shlex
import shutil
import sys
import time

from zorvenkit.checks import Failure, check
from zorvenkit.faults import fault, last_text
from zorvenkit.logs import SPEEDS, check_production_line, finished_log, log_texts
from zorvenkit.printer import DEFAULT_SERIAL, EXIT_DISCONNECTED
from zorvenkit.procfs import find_unix_pid, holds_open
from zorvenkit.wine import Session


# -- the dialog's checks --------------------------------------------------------------------

def serial_of(h):
    """The serial number the production log carries: the printer's, where the variant asks."""
    return DEFAULT_SERIAL if h.package.asks_serial else ""


def wait_log(h, text, secs):
    a = h.cmd("wait-log", text, secs)
    check(a.get("ok"), f"no log line {text!r} within {secs} s; log: {a.get('log')}")
    return a["log"]


def idle_state(h):
    h.must("wait-idle", 30)
    s = h.must("state")
    check(s["start_text"] == "START", f"button reads {s['start_text']!r} after the run")
    check(all(s["enabled"].values()), f"controls not all enabled after the run: {s['enabled']}")
    return s


def check_received(h, what="received image"):
    """The image the printer received, byte for byte the package's."""
    h.stop_printer()
    got = h.printer.image() or b""
    check(len(got) == len(h.package.image), f"{what}: printer received {len(got)} of {len(h.package.image)} bytes")
    check(got == h.package.image, f"{what} differs from the package's image")


def check_success(h, started, serial, retries=0):
    """A successful run: the exact log (RETRY lines come between the announce reply's "OK"
    and "WAIT"), full progress, the image received byte for byte, one production log line."""
    wait_log(h, "Process finished.", 120)
    s = idle_state(h)
    check(log_texts(s["log"]) == finished_log(retries), f"log after a successful update: {s['log']}")
    check(s["progress"] == 100, f"progress {s['progress']} after the last block")
    check_received(h)
    line = h.production_log()
    check(line is not None, "no sn_build.txt after a successful update")
    check_production_line(line, serial, h.package.log_tag, started)
    return s


def check_failed_run(h, expected, last_text, secs=60):
    """A run that ended in a failure: the exact log, idle controls, no production log line."""
    wait_log(h, last_text, secs)
    s = idle_state(h)
    texts = log_texts(s["log"])
    check(texts == expected, f"log {texts}, expected {expected}")
    check(h.production_log() is None, "a failed run wrote a production log line")
    return s


# -- scenarios ------------------------------------------------------------------------------

def settings_of(h):
    a = h.once("settings")
    return {k: (a[k]["user"] if a[k]["user"] is not None else a[k]["profile"]) for k in ("Port", "BaudRate")}


def check_error_box(h, text, log, settings):
    """The program's error box with `text` over the log texts `log`; once it is dismissed the
    program ends with 0, and the saved settings are `settings`."""
    box = h.must("wait-errorbox", 30)
    check(box["text"] == text, f"error box text {box['text']!r}")
    texts = log_texts(h.must("log")["log"])
    check(texts == log, f"log before the error box is dismissed: {texts}")
    h.must("dismiss-errorbox")
    check(h.wait_program_exit() == 0, "program exit code after the error box")
    check(settings_of(h) == settings, f"saved settings {settings_of(h)}")


def scenario_dialog(h, opts):
    """What the dialog shows when it opens: port list, saved settings selected, speeds, version."""
    # (saved Port, saved BaudRate) -> (selected port text, selected speed)
    cases = [
        (None, None, "COM1", "9600"),
        (h.port_name.lower(), "57600", h.port_name, "57600"),   # the port match ignores case
        ("COM99", "4800", "COM1", "9600"),                       # neither in its list
    ]
    for saved_port, saved_speed, want_port, want_speed in cases:
        h.once("reset-settings")
        if saved_port is not None:
            with open(os.path.join(h.prefix, "drive_c", "windows", "win.ini"), "a") as f:
                f.write(f"\n[Zorven]\nPort={saved_port}\nBaudRate={saved_speed}\n")
        h.start_program()
        s = h.must("state")
        ports = s["ports"]
        check(ports[:4] == ["COM1", "COM2", "COM3", "COM4"], f"port list starts {ports[:4]}")
        numbers = [int(p[3:]) for p in ports[4:] if re.fullmatch(r"COM\d+", p)]
        check(len(numbers) == len(ports) - 4, f"odd port entries {ports}")
        check(numbers == sorted(set(numbers)) and all(4 < n < 256 for n in numbers),
              f"discovered ports not ascending, unique, 5..255: {ports}")
        check(h.port_name in ports, f"the mapped port {h.port_name} is not listed: {ports}")
        check(s["speeds"] == SPEEDS, f"speed list {s['speeds']}")
        case = f"saved {saved_port}/{saved_speed}"
        check(s["port_text"] == want_port and ports[s["port_sel"]] == want_port,
              f"{case}: port {s['port_text']!r} (entry {s['port_sel']}) selected, expected {want_port}")
        check(SPEEDS[s["speed_sel"]] == want_speed, f"{case}: speed {SPEEDS[s['speed_sel']]} selected")
        expected_version = h.package.version or "Incorrect version."
        check(s["version"] == expected_version, f"version field {s['version']!r}")
        check(s["start_text"] == "START" and all(s["enabled"].values()), f"idle controls: {s}")
        check(s["log"] == [] and s["progress"] == 0, f"log or progress not empty at start: {s}")
        h.must("press", "CANCEL")
        check(h.wait_program_exit() == 0, "program exit code after Cancel")


def scenario_full(h, opts):
    """A whole update; the printer answers as configured, possibly with RETRY replies."""
    serial = serial_of(h)
    h.start_printer(shlex.split(opts.printer_args))
    h.start_program()
    started = h.run_update(speed=opts.speed)
    s = check_success(h, started, serial, retries=opts.retries)
    print("log:", *s["log"], sep="\n  ")
    if opts.screenshot:
        h.screenshot(opts.screenshot)


def scenario_fault(h, opts):
    """A run that the printer's fault (--fault NAME of the fault table) makes fail."""
    name, faults, expected, finished, _ = fault(opts.fault, h.package.blocks)
    check(not finished, f"{name} is no failure")
    h.start_printer(faults)
    h.start_program()
    h.run_update()
    s = check_failed_run(h, expected, last_text(expected), secs=60)
    if "block" in name:  # struck in the middle of the image
        check(0 < s["progress"] < 100, f"progress {s['progress']} after a failure in the middle")


def scenario_unwritable_log(h, opts):
    """A production log that cannot be written (a folder stands where sn_build.txt would be): the
    update finishes as always, and one line after "Process finished." names the file and the
    reason; nothing else of the log changes."""
    os.makedirs(os.path.join(h.work, "sn_build.txt"))
    h.start_printer()
    h.start_program()
    h.run_update()
    wait_log(h, "Process finished.", 120)
    # The line is tried again for about two seconds before the run tells of it and ends.
    s = idle_state(h)
    texts = log_texts(s["log"])
    expected = finished_log()
    check(len(texts) == len(expected) + 1 and texts[:-2] == expected[:-1] and texts[-1] == "",
          f"log {texts}, expected {expected} with one line more")
    check(re.fullmatch(r"Production log not written: sn_build\.txt \(.+\)\.", texts[-2]) is not None,
          f"the line after \"Process finished.\": {texts[-2]!r}")
    check(s["progress"] == 100, f"progress {s['progress']}")
    check_received(h)


def scenario_bad_receipt(h, opts):
    """A refused entry frame: "Bad Receipt: " and the hexadecimal dump of the 4 bytes read."""
    h.start_printer(["--refuse-handshake"])
    h.start_program()
    h.run_update()
    wait_log(h, "Bad Receipt: ", 60)
    s = idle_state(h)
    texts = log_texts(s["log"])
    check(len(texts) == 4 and texts[0] == "Start..." and texts[1] == "Bad Receipt: " and texts[3] == "",
          f"log {texts}")
    # STX, the length byte, and the refusal status "01".
    check(re.fullmatch(r"0x02 0x[0-9A-F]{2} 0x30 0x31 ", texts[2]) is not None, f"dump line {texts[2]!r}")
    check(h.production_log() is None, "a refused handshake wrote a production log line")


def scenario_stop(h, opts):
    """STOP in the middle of the transfer ends the run before the next block."""
    h.start_printer(shlex.split(opts.printer_args))
    h.start_program()
    h.run_update()
    deadline = time.time() + 60
    while True:
        s = h.cmd("state")
        if s.get("ok") and s["start_text"] == "STOP" and s["progress"] >= 5:
            break
        check(time.time() < deadline, f"the transfer did not get going: {s}")
        time.sleep(0.2)
    h.must("press", "STOP")
    s = check_failed_run(h, ["Start...", "OK", "Process stopped.", ""], "Process stopped.")
    check(s["progress"] < 100, f"progress {s['progress']} after STOP")


def scenario_cancel(h, opts):
    """Cancel while idle ends the program with 0 and saves nothing."""
    h.once("reset-settings")
    h.start_program()
    h.must("set-port", "COM3")
    h.must("set-speed", "38400")
    h.must("press", "CANCEL")
    check(h.wait_program_exit() == 0, "program exit code after Cancel")
    check(settings_of(h) == {"Port": None, "BaudRate": None}, f"Cancel saved settings: {settings_of(h)}")


def scenario_unopenable(h, opts):
    """A port path that is a directory: log line, error box, and the program ends with 0."""
    h.once("reset-settings")
    h.point_port_at_directory()
    h.start_program()
    h.run_update(speed="19200")
    # START passed the package test, so the choice was saved before the port failed.
    check_error_box(h, "Error opening serial port.", ["Start...", "Error opening serial port."],
                    {"Port": h.port_name, "BaudRate": "19200"})


def scenario_empty_package(h, opts):
    """START with an empty package: error box, nothing logged or saved, the program ends with 0."""
    h.once("reset-settings")
    h.start_program()
    h.must("press", "START")
    check_error_box(h, "No data found in file.", [], {"Port": None, "BaudRate": None})


def scenario_settings(h, opts):
    """The choice made at START is saved and selected at the next start; Cancel saves nothing."""
    h.once("reset-settings")
    h.start_printer()
    h.start_program()
    started = h.run_update(speed="115200")
    check_success(h, started, serial_of(h))
    check(settings_of(h) == {"Port": h.port_name, "BaudRate": "115200"}, f"saved at START: {settings_of(h)}")
    h.must("set-port", "COM2")
    h.must("set-speed", "19200")
    h.must("press", "CANCEL")
    check(h.wait_program_exit() == 0, "program exit code after Cancel")
    check(settings_of(h) == {"Port": h.port_name, "BaudRate": "115200"}, f"Cancel changed them: {settings_of(h)}")
    h.start_program()
    s = h.must("state")
    check(s["port_text"] == h.port_name and s["ports"][s["port_sel"]] == h.port_name,
          f"port at the second start: {s['port_text']!r}")
    check(SPEEDS[s["speed_sel"]] == "115200", f"speed at the second start: {SPEEDS[s['speed_sel']]}")
    h.must("press", "CANCEL")
    check(h.wait_program_exit() == 0, "program exit code after the second Cancel")


# The block replies' timeout is 5 s, counted in whole seconds: a read can wait up to 6 s.
BLOCK_REPLY_WAIT_MAX = 6


def scenario_unplugged(h, opts):
    """The printer's line closes in the middle of the image, as when the adapter is pulled out:
    the block's verdict never comes, so the run logs the empty reply line and ends within the
    reply timeout; the port is closed, nothing goes into the production log and the dialog is
    ready again. Then the printer comes back behind the same COM port, and a second START in the
    same dialog finishes the update."""
    blocks = h.package.blocks
    check(blocks >= 3, f"a package of {blocks} blocks has no middle")
    middle = blocks // 2 + 1
    # Replies a little late, so that the port is seen open while the blocks go out.
    h.start_printer(["--disconnect-at-block", str(middle), "--delay", "200"])
    pty = h.printer.pty
    h.start_program()
    wine_pid = find_unix_pid(h.exe_suffix)
    check(wine_pid is not None, "the program's Wine process is not in /proc")
    h.run_update()
    deadline = time.time() + 30
    while not holds_open(wine_pid, pty):
        check(time.time() < deadline, f"the program never opened {pty}")
        time.sleep(0.05)
    code = h.printer.wait_exit(60)
    check(code is not None, "the printer did not close its line at the middle block")
    cut = time.monotonic()
    check(code == EXIT_DISCONNECTED, f"printer exit code {code}, expected {EXIT_DISCONNECTED} (line closed)")
    h.must("wait-idle", 30)
    took = time.monotonic() - cut
    # Polling the dialog adds at most a few tenths of a second.
    check(took <= BLOCK_REPLY_WAIT_MAX + 1, f"the run ended {took:.1f} s after the line closed")
    s = h.must("state")
    check(s["start_text"] == "START" and all(s["enabled"].values()), f"dialog not ready after the run: {s}")
    texts = log_texts(s["log"])
    check(texts == ["Start...", "OK", "", ""], f"log after the line closed: {texts}")
    check(0 < s["progress"] < 100, f"progress {s['progress']} after a cut in the middle")
    check(h.production_log() is None, "the cut run wrote a production log line")
    check(not holds_open(wine_pid, pty), f"the program still holds {pty} open after the run")
    print(f"line closed at block {middle} of {blocks}; the run ended {took:.1f} s later")

    # The printer is back, on a new pty behind the same port path.
    h.start_printer()
    base = len(s["log"])
    started = h.run_update()
    a = h.cmd("wait-log-from", base, "Process finished.", 120)
    check(a.get("ok"), f"the second START did not finish: {a.get('log')}")
    h.must("wait-idle", 30)
    s = h.must("state")
    check(s["start_text"] == "START" and all(s["enabled"].values()), f"dialog not ready after the run: {s}")
    texts = log_texts(s["log"][base:])
    check(texts == finished_log(), f"log of the second run: {texts}")
    check(s["progress"] == 100, f"progress {s['progress']} after the second run")
    check_received(h, "the image received in the second run")
    line = h.production_log()
    check(line is not None, "no production log line after the second run")
    check_production_line(line, serial_of(h), h.package.log_tag, started)


SCENARIOS = {
    "dialog": scenario_dialog,
    "full": scenario_full,
    "bad-receipt": scenario_bad_receipt,
    "stop": scenario_stop,
    "cancel": scenario_cancel,
    "unopenable": scenario_unopenable,
    "empty-package": scenario_empty_package,
    "settings": scenario_settings,
    "unplugged": scenario_unplugged,
    "fault": scenario_fault,
    "unwritable-log": scenario_unwritable_log,
}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--program", required=True, help="the zorven program (.exe) under test")
    ap.add_argument("--package", required=True, help="the package record it carries")
    ap.add_argument("--com", type=int, required=True, help="port number 5..12 for this test")
    ap.add_argument("--printer", help="virtual printer (default: the build's host tool)")
    ap.add_argument("--printer-args", default="", help="more printer options")
    ap.add_argument("--speed", help="line speed to pick in the dialog before START (full update)")
    ap.add_argument("--retries", type=int, default=0, help="RETRY lines the printer's options cause")
    ap.add_argument("--screenshot", help="after the scenario, a PNG of the screen")
    ap.add_argument("--fault", help="the printer's fault, by its name in the fault table (scenario fault)")
    ap.add_argument("scenario", choices=sorted(SCENARIOS))
    opts = ap.parse_args()

    h = Session(opts.build_dir, opts.com, program=opts.program, package=opts.package, printer=opts.printer)
    ok = False
    try:
        h.start_xvfb()
        SCENARIOS[opts.scenario](h, opts)
        ok = True
    except Failure as e:
        print(f"FAIL {opts.scenario}: {e}")
    finally:
        try:
            if not ok and h.driver and h.driver.poll() is None:
                try:
                    print("dialog at the end:", json.dumps(h.cmd("state")))
                    print("windows:", json.dumps(h.cmd("windows")))
                except Failure:
                    pass
        finally:
            h.close()
            if h.printer and not ok:
                print(h.printer.tail())
            if ok:
                shutil.rmtree(h.work, ignore_errors=True)
            else:
                print("working directory kept:", h.work, "display:", h.display)
    if ok:
        print(f"PASS {opts.scenario}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
