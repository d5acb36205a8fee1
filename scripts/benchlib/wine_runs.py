"""Single runs under Wine: a Wine session around one program, one update by the dialog, one by the
block loop (the floor), and one start-up; each returns its figures and prints nothing."""

import json
import os
import subprocess
import time

from benchlib.wire_model import BAUD
from zorvenkit.checks import check
from zorvenkit.logs import log_texts
from zorvenkit.procfs import cpu_seconds, find_unix_pid, status_figures, wineserver_pid
from zorvenkit.wine import Session

COM = 5
UPDATE_DEADLINE_S = 600


def session(build, program, display=None):
    """A Wine session of `program` with the shipped package, on its own Xvfb or on `display`."""
    h = Session(build, COM, program=program, package=os.path.join(build, "packages", "default.bin"))
    if display:
        h.display = display
    else:
        h.start_xvfb()
    return h


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
