#!/usr/bin/env python3
"""zorven-cli.exe under Wine: one whole update through a COM port of the test prefix that leads to
a virtual printer's pty; exit status 0, the image received byte for byte, the production log line
and the JSON result. Then Ctrl-C (SIGINT to the Wine process, which Wine hands to the console
control handler) during a transfer over a line paced at 115200 baud: "Process stopped.", exit
status 130, no production log line.

usage: wine_cli_check.py WINE_RUN ZORVEN_CLI_EXE ZORVEN_PRINTER PORTS_DIR COMn IMAGE WORK_DIR
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

RUN_LIMIT = 300  # seconds, the first start of a fresh Wine prefix included
SERIAL = "ZP-WINE-0001"


def main():
    wine_run, exe, printer_exe, ports, com, image_path, work = sys.argv[1:8]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    os.makedirs(ports, exist_ok=True)
    link = os.path.join(ports, com)
    if os.path.lexists(link):
        os.remove(link)
    received = os.path.join(work, "received.bin")
    with open(os.path.join(work, "printer.err"), "w") as err:
        printer = subprocess.Popen([printer_exe, "--link", link, "--once", "--serial", SERIAL, "--out", received],
                                   stdout=subprocess.DEVNULL, stderr=err)
    failures = []
    try:
        end = time.monotonic() + 10
        while not os.path.islink(link) and time.monotonic() < end:
            time.sleep(0.05)
        if not os.path.islink(link):
            print("FAIL: the printer made no port link")
            return 1
        proc = subprocess.run([wine_run, exe, "update", "--port", com, "--baud", "115200", "--json", "result.json"],
                              cwd=work, capture_output=True, text=True, errors="replace", timeout=RUN_LIMIT)
        print(proc.stdout, end="")
        if proc.returncode != 0:
            failures.append("exit status %d, stderr %r" % (proc.returncode, proc.stderr))
        if "\x1b" in proc.stdout:
            failures.append("control characters in output that is not a terminal")
        with open(image_path, "rb") as f:
            image = f.read()
        # The printer writes the image out after its WAIT, and ends once the port is closed.
        try:
            printer.wait(30)
        except subprocess.TimeoutExpired:
            failures.append("the printer did not end its update")
        got = open(received, "rb").read() if os.path.exists(received) else None
        if got != image:
            failures.append("image received differs from the package's (%s bytes)" % (None if got is None else len(got)))
        log = os.path.join(work, "sn_build.txt")
        lines = open(log, "rb").read().split(b"\r\n")[:-1] if os.path.exists(log) else []
        if len(lines) != 1 or not lines[0].startswith(SERIAL.encode() + b";"):
            failures.append("production log %r" % lines)
        result_path = os.path.join(work, "result.json")
        results = json.load(open(result_path)) if os.path.exists(result_path) else None
        if results is None or [(r["port"], r["outcome"], r["serial_number"], r["bytes_acknowledged"]) for r in results] != \
                [(com, "finished", SERIAL, len(image))]:
            failures.append("result %r" % results)
        else:
            # A COM port of Wine's has no FTDI driver behind it: no latency timer, no low latency;
            # every block was answered, none with RETRY.
            line = results[0].get("link") or {}
            t = line.get("turnaround_ms") or {}
            if line.get("latency_timer_ms", 0) is not None or line.get("low_latency") is not False or \
                    line.get("retries") != 0 or not 0 <= t.get("median", -1) <= t.get("p95", -1) <= t.get("max", -1):
                failures.append("link %r" % line)
    finally:
        end_printer(printer, link)
    if not failures:
        failures += stop_run(wine_run, exe, printer_exe, link, com, work)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


def end_printer(printer, link):
    """Ends the virtual printer this check started (by its process) and removes its port link."""
    if printer.poll() is None:
        printer.send_signal(signal.SIGTERM)
        try:
            printer.wait(10)
        except subprocess.TimeoutExpired:
            printer.kill()
            printer.wait()
    if os.path.lexists(link):
        os.remove(link)


def stop_run(wine_run, exe, printer_exe, link, com, work):
    failures = []
    work = os.path.join(work, "stop")
    os.makedirs(work)
    with open(os.path.join(work, "printer.err"), "w") as err:
        printer = subprocess.Popen([printer_exe, "--link", link, "--once", "--serial", SERIAL, "--baud", "115200"],
                                   stdout=subprocess.DEVNULL, stderr=err)
    try:
        end = time.monotonic() + 10
        while not os.path.islink(link) and time.monotonic() < end:
            time.sleep(0.05)
        cli = subprocess.Popen([wine_run, exe, "update", "--port", com, "--baud", "115200", "--json", "result.json"],
                               cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, errors="replace")
        lines = []
        end = time.monotonic() + RUN_LIMIT
        while time.monotonic() < end:
            line = cli.stdout.readline()
            if not line:
                break
            lines.append(line)
            if line.rstrip().endswith(" - OK"):
                break
        time.sleep(2)
        cli.send_signal(signal.SIGINT)
        try:
            rest, err = cli.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            cli.kill()
            rest, err = cli.communicate()
            failures.append("no exit after SIGINT")
        out = "".join(lines) + rest
        print(out, end="")
        if cli.returncode != 130:
            failures.append("exit status %s after SIGINT, stderr %r" % (cli.returncode, err))
        if not any(l.endswith(" - Process stopped.") for l in out.splitlines()):
            failures.append("no \"Process stopped.\"")
        if os.path.exists(os.path.join(work, "sn_build.txt")):
            failures.append("production log written for a stopped run")
        result_path = os.path.join(work, "result.json")
        results = json.load(open(result_path)) if os.path.exists(result_path) else None
        if results is None or [r["outcome"] for r in results] != ["stopped"]:
            failures.append("result %r" % results)
    finally:
        end_printer(printer, link)
    return failures


if __name__ == "__main__":
    sys.exit(main())
