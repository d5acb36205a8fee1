#!/usr/bin/env python3
"""zorven-cli.exe under Wine: one whole update through a COM port of the test prefix that leads to
a virtual printer's pty; exit status 0, the image received byte for byte, the production log line
and the JSON result. Then Ctrl-C (SIGINT to the Wine process, which Wine hands to the console
control handler) during a transfer over a line paced at 115200 baud: "Process stopped.", exit
status 130, no production log line.

usage: wine_cli_check.py BUILD_DIR ZORVEN_CLI_EXE ZORVEN_PRINTER COM_NUMBER IMAGE WORK_DIR
"""
import json
import os
import subprocess
import sys

from zorvenkit.checks import Failure, check
from zorvenkit.printer import Printer
from zorvenkit.station import interrupt_in_transfer
from zorvenkit.wine import Session

RUN_LIMIT = 300  # seconds, the first start of a fresh Wine prefix included
SERIAL = "ZP-WINE-0001"


def results_of(h):
    path = os.path.join(h.work, "result.json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def whole_update(h, exe, image):
    printer = h.start_printer(["--once"], serial=SERIAL)
    com = h.port_name
    proc = h.run_console([exe, "update", "--port", com, "--baud", "115200", "--json", "result.json"], RUN_LIMIT,
                         capture_output=True, text=True, errors="replace")
    print(proc.stdout, end="")
    check(proc.returncode == 0, "exit status %d, stderr %r" % (proc.returncode, proc.stderr))
    check("\x1b" not in proc.stdout, "control characters in output that is not a terminal")
    # The printer writes the image out after its WAIT, and ends once the port is closed.
    check(printer.wait_exit(30) is not None, "the printer did not end its update")
    got = printer.image()
    check(got == image, "image received differs from the package's (%s bytes)" % (None if got is None else len(got)))
    log = h.production_log()
    lines = log.split(b"\r\n")[:-1] if log else []
    check(len(lines) == 1 and lines[0].startswith(SERIAL.encode() + b";"), "production log %r" % lines)
    results = results_of(h)
    check(results is not None and [(r["port"], r["outcome"], r["serial_number"], r["bytes_acknowledged"])
                                   for r in results] == [(com, "finished", SERIAL, len(image))],
          "result %r" % results)
    # A COM port of Wine's has no FTDI driver behind it: no latency timer, no low latency; every
    # block was answered, none with RETRY.
    link = results[0].get("link") or {}
    t = link.get("turnaround_ms") or {}
    check(link.get("latency_timer_ms", 0) is None and link.get("low_latency") is False and link.get("retries") == 0
          and 0 <= t.get("median", -1) <= t.get("p95", -1) <= t.get("max", -1), "link %r" % link)


def stopped_update(h, exe):
    h.start_printer(["--once", "--baud", "115200"], serial=SERIAL)
    cli = h.spawn("zorven-cli", [h.wine_run, exe, "update", "--port", h.port_name, "--baud", "115200", "--json",
                                 "result.json"], cwd=h.work, env=h.env(), stdout=subprocess.PIPE,
                  stderr=subprocess.PIPE, text=True, errors="replace")
    out, err = interrupt_in_transfer(cli, lambda l: l.rstrip().endswith(" - OK"), RUN_LIMIT)
    print(out, end="")
    check(cli.returncode == 130, "exit status %s after SIGINT, stderr %r" % (cli.returncode, err))
    check(any(l.endswith(" - Process stopped.") for l in out.splitlines()), "no \"Process stopped.\"")
    # The program made the production log before it touched the port, and wrote nothing to it.
    check(h.production_log() == b"", "production log %r after a stopped run" % h.production_log())
    results = results_of(h)
    check(results is not None and [r["outcome"] for r in results] == ["stopped"], "result %r" % results)


def station(h, exe):
    """The station on two COM ports, a line of two printers on each: every printer updated once,
    one whole record each."""
    coms = [int(h.port_name[3:]) - 1, int(h.port_name[3:])]
    lines, links = [], []
    try:
        for com, serials in zip(coms, (["ZP-W1", "ZP-W2"], ["ZP-W3", "ZP-W4"])):
            path = os.path.join(h.build, "ports", "COM%d" % com)
            if os.path.islink(path):
                os.unlink(path)
            links.append(path)
            lines.append(Printer(h.printer_exe, h.work, "line%d" % com,
                                 ["--serials", ",".join(serials), "--gap", "300"], link=path))
        argv = [exe, "station", "--baud", "115200", "--count", "4"]
        for com in coms:
            argv += ["--port", "COM%d" % com]
        proc = h.run_console(argv, RUN_LIMIT, capture_output=True, text=True, errors="replace")
        print(proc.stdout, end="")
        check(proc.returncode == 0, "station: exit status %d, stderr %r" % (proc.returncode, proc.stderr))
        with open(os.path.join(h.work, "zorven-results.ndjson")) as f:
            records = [json.loads(l) for l in f.read().splitlines()]
        check(sorted((r["port"], r["serial_number"], r["outcome"]) for r in records) ==
              [("COM%d" % coms[0], "ZP-W1", "finished"), ("COM%d" % coms[0], "ZP-W2", "finished"),
               ("COM%d" % coms[1], "ZP-W3", "finished"), ("COM%d" % coms[1], "ZP-W4", "finished")],
              "records %r" % records)
        log = h.production_log() or b""
        check(sorted(l.split(b";")[0] for l in log.split(b"\r\n")[:-1]) == [b"ZP-W1", b"ZP-W2", b"ZP-W3", b"ZP-W4"],
              "production log %r" % log)
    finally:
        for p in lines:
            p.stop()
        for path in links:
            if os.path.islink(path):
                os.unlink(path)


def main():
    build, exe, printer_exe, com, image_path, work = sys.argv[1:7]
    with open(image_path, "rb") as f:
        image = f.read()
    try:
        for name, run in (("update", lambda h: whole_update(h, exe, image)), ("stop", lambda h: stopped_update(h, exe)),
                          ("station", lambda h: station(h, exe))):
            h = Session(build, int(com), printer=printer_exe, work=os.path.join(work, name))
            try:
                run(h)
            finally:
                h.close()
    except Failure as e:
        print("FAIL:", e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
