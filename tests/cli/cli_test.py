#!/usr/bin/env python3
"""zorven-cli as a station runs it: the real program against virtual printers on ptys.

usage: cli_test.py CASE --cli PROGRAM --printer ZORVEN-PRINTER --image IMAGE --work DIR
                    [--info-cli PROGRAM --info-image FILE --info-field NAME=VALUE ...]

CASE is one of the case_* functions below.
IMAGE holds the image bytes the program's package carries (made by the build from the record).
"""
import argparse
import fcntl
import hashlib
import json
import os
import pty
import re
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import termios
import time

from zorvenkit.checks import Failure, check
from zorvenkit.logs import PRODUCTION_LINE
from zorvenkit.printer import Printer
from zorvenkit.record import BLOCK_SIZE
from zorvenkit.station import interrupt_in_transfer

ACCESS_CODE = "ZV4711"
LOG_TAG = "ZORVEN-SAMPLE"
RUN_LIMIT = 120  # seconds a whole run may take before the test gives up on it


def start_printer(work, name, args):
    """A printer for one update, ended once the updater has closed the port."""
    return Printer(ARGS.printer, work, name, args, once=True)


def run_cli(args, cwd, limit=RUN_LIMIT):
    p = subprocess.run([ARGS.cli] + args, cwd=cwd, capture_output=True, text=True, timeout=limit,
                       errors="replace")
    return p.returncode, p.stdout, p.stderr


def log_lines(cwd, name="sn_build.txt"):
    path = os.path.join(cwd, name)
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode("latin-1").split("\n")[:-1]


def fresh_dir(name):
    d = os.path.join(ARGS.work, name)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    return d


def port_lines(stdout, port):
    prefix = port + ":"
    return [l[len(prefix):].strip() for l in stdout.splitlines() if l.startswith(prefix)]


def check_finished(printer, result, serial, image):
    """A port whose update finished: the image byte for byte, and its result entry."""
    # The printer writes the image out after its WAIT, and ends once the port is closed.
    check(printer.wait_exit() == 0, "%s: printer did not end its update" % printer.pty)
    check(printer.image() == image, "%s: image received differs from the package's" % printer.pty)
    check(result["outcome"] == "finished", "%s: outcome %s" % (printer.pty, result["outcome"]))
    check(result["serial_number"] == serial, "%s: serial %r" % (printer.pty, result["serial_number"]))
    check(result["bytes_acknowledged"] == len(image), "%s: %d bytes acknowledged" %
          (printer.pty, result["bytes_acknowledged"]))
    check(any(l.endswith(" - Process finished.") for l in result["log"]), "%s: no finish in its log" % printer.pty)
    check(re.match(r"^\d\d:\d\d:\d\d - Start\.\.\.$", result["log"][0]) is not None,
          "%s: first log line %r" % (printer.pty, result["log"][0]))


def update_all(program, work, printers, serials, image):
    """One run of `program` over every printer's port at 115200 baud: exit status 0, and each
    port finished with the printer's serial number (in order) and the image."""
    args = [program, "update", "--baud", "115200", "--json", "result.json"]
    for p in printers:
        args += ["--port", p.pty]
    p = subprocess.run(args, cwd=work, capture_output=True, text=True, timeout=RUN_LIMIT)
    check(p.returncode == 0, "exit status %d: %s" % (p.returncode, p.stdout))
    with open(os.path.join(work, "result.json")) as f:
        results = json.load(f)
    for pr, r, s in zip(printers, results, serials):
        check_finished(pr, r, s, image)


def case_four_ports(image):
    work = fresh_dir("four_ports")
    serials = ["ZP-4100%d" % i for i in range(4)]
    # One printer asks for some blocks again: they are acknowledged once.
    printers = [start_printer(work, "p%d" % i, ["--serial", s] + (["--retry-every", "97"] if i == 2 else []))
                for i, s in enumerate(serials)]
    try:
        ports = [p.pty for p in printers]
        args = ["update", "--baud", "115200", "--json", "result.json"]
        for p in ports:
            args += ["--port", p]
        rc, out, err = run_cli(args, work)
        check(rc == 0, "exit status %d, stderr %r\n%s" % (rc, err, out))
        check("\x1b" not in out, "control characters in output that is not a terminal")
        with open(os.path.join(work, "result.json")) as f:
            results = json.load(f)
        check([r["port"] for r in results] == ports, "result order %r" % [r["port"] for r in results])
        for p, r, s in zip(printers, results, serials):
            check_finished(p, r, s, image)
            # Every line of the port's run, as the result keeps it, was written whole with its prefix.
            check(port_lines(out, p.pty) == [l for l in r["log"]], "%s: output lines differ from its log" % p.pty)
        logged = log_lines(work)
        check(len(logged) == 4, "%d production log lines" % len(logged))
        fields = [PRODUCTION_LINE.match((l + "\n").encode("latin-1")) for l in logged]
        check(all(fields), "malformed production log line in %r" % logged)
        check(sorted(m.group(1).decode("latin-1") for m in fields) == serials, "serials logged %r" % logged)
        check(all(m.group(2).decode("latin-1") == LOG_TAG for m in fields), "log tags %r" % logged)
        check(not os.path.exists(os.path.join(work, "result.json.tmp")), "temporary result file left")
        # Each printer's own count of its update (its --summary): every block once, the asked-for
        # ones twice.
        blocks = -(-len(image) // BLOCK_SIZE)
        for i, p in enumerate(printers):
            u = p.wait_update(RUN_LIMIT)
            figures = (u["ok"], u["bytes"], u["blocks"], u["retries"], u["block_phase"]["blocks"])
            want = (True, len(image), blocks, blocks // 97 if i == 2 else 0, blocks)
            check(figures == want, "%s: printer's summary %r, expected %r" % (p.pty, figures, want))
    finally:
        for p in printers:
            p.stop()


FAULTS = [
    ("silent", ["--silent", "handshake"]),
    ("refusing", ["--refuse-handshake"]),
    ("disconnecting", ["--disconnect-at-block", "300"]),
]


def check_one_failing(name, rc, work, printers, image):
    """The run over three good printers and, second, a faulty one."""
    check(rc == 1, "%s: exit status %d" % (name, rc))
    with open(os.path.join(work, "result.json")) as f:
        results = json.load(f)
    bad = results[1]
    check(bad["outcome"] == "failed", "%s: faulty printer's outcome %s" % (name, bad["outcome"]))
    check(not any("Process finished." in l for l in bad["log"]), "%s: faulty printer finished" % name)
    good = [(p, r, "ZP-GOOD%d" % i) for i, (p, r) in enumerate(zip(printers[:1] + printers[2:],
                                                                    results[:1] + results[2:]))]
    for p, r, s in good:
        check_finished(p, r, s, image)
    logged = log_lines(work, "station-log.txt")
    check(sorted(l.split(";")[0] for l in logged) == ["ZP-GOOD0", "ZP-GOOD1", "ZP-GOOD2"],
          "%s: production log %r" % (name, logged))
    check(not os.path.exists(os.path.join(work, "sn_build.txt")), "%s: default log written" % name)


def case_one_failing(image):
    for name, fault in FAULTS:
        work = fresh_dir("one_failing_" + name)
        printers = [start_printer(work, "good%d" % i, ["--serial", "ZP-GOOD%d" % i]) for i in range(3)]
        printers.insert(1, start_printer(work, "bad", ["--serial", "ZP-BAD"] + fault))
        try:
            args = ["update", "--json", "result.json", "--baud", "57600", "--log", "station-log.txt"]
            for p in printers:
                args += ["--port", p.pty]
            rc, out, err = run_cli(args, work)
            try:
                check_one_failing(name, rc, work, printers, image)
            except Failure:
                print(out)
                raise
        finally:
            for p in printers:
                p.stop()


V3_PRINTER = ["--variant", "3", "--scramble", "1"]


def case_variant3_retry(image):
    """Variant 3 on four ports, two of whose printers refuse the scrambled frame: their runs retry
    with the plain frame, which changes the record they run from, while the other two must still
    send the scrambled one."""
    with open(ARGS.v3_image, "rb") as f:
        v3_image = f.read()
    work = fresh_dir("variant3_retry")
    printers = [start_printer(work, "p%d" % i, V3_PRINTER + (["--refuse-first"] if i % 2 else []))
                for i in range(4)]
    try:
        # Variant 3 asks for no serial number.
        update_all(ARGS.v3_cli, work, printers, [""] * 4, v3_image)
        check(len(log_lines(work)) == 4, "production log %r" % log_lines(work))
    finally:
        for p in printers:
            p.stop()


def case_ctrl_c(image):
    """Ctrl-C with one run in its transfer and one waiting for a silent printer's handshake reply:
    both stop where the dialog's STOP stops them, both ports are closed, nothing is logged."""
    work = fresh_dir("ctrl_c")
    with open(ARGS.v3_image, "rb") as f:
        image = f.read()
    # Paced at 19200 baud the transfer takes half a minute: Ctrl-C arrives during it. Variant 3
    # asks for no serial number, whose reply a paced line would deliver late.
    transfer = start_printer(work, "transfer", V3_PRINTER + ["--baud", "19200"])
    silent = start_printer(work, "silent", V3_PRINTER + ["--silent", "handshake"])
    printers = [transfer, silent]
    cli = None
    try:
        args = ["update", "--json", "result.json", "--baud", "19200", "--port", transfer.pty, "--port", silent.pty]
        cli = subprocess.Popen([ARGS.v3_cli] + args, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               text=True)
        # The transfer is under way once the announce line was answered.
        out, err = interrupt_in_transfer(
            cli, lambda l: l.startswith(transfer.pty + ":") and l.rstrip().endswith(" - OK"), 60)
        check(cli.returncode == 130, "exit status %s after SIGINT, stderr %r" % (cli.returncode, err))
        check(any(l.endswith(" - Process stopped.") for l in port_lines(out, transfer.pty)),
              "no \"Process stopped.\" in %r" % port_lines(out, transfer.pty))
        # Stopped in the handshake, the run ends as the driver ends a failed handshake.
        check(any(l.endswith(" - No communication.") for l in port_lines(out, silent.pty)),
              "silent port: %r" % port_lines(out, silent.pty))
        # The ports were closed: a printer serving one update ends when its pty hangs up.
        for p in printers:
            check(p.wait_exit() == 0, "%s: printer still running" % p.pty)
        check(transfer.updates()[-1]["reason"] == "the updater closed the port", "transfer: printer did not see the close")
        check(log_lines(work) == [], "production log written for a stopped run: %r" % log_lines(work))
        with open(os.path.join(work, "result.json")) as f:
            results = json.load(f)
        check([r["outcome"] for r in results] == ["stopped", "stopped"], "outcomes %r" %
              [r["outcome"] for r in results])
        check(0 < results[0]["bytes_acknowledged"] < len(image), "bytes acknowledged %r" %
              results[0]["bytes_acknowledged"])
        check(results[1]["bytes_acknowledged"] == 0, "silent port acknowledged %r" %
              results[1]["bytes_acknowledged"])
    finally:
        if cli is not None and cli.poll() is None:
            cli.kill()
            cli.wait()
        for p in printers:
            p.stop()


def case_busy_port(image):
    work = fresh_dir("busy_port")
    printer = start_printer(work, "held", [])
    # Another program holds the port, as serial programs do: an exclusive lock on the open device.
    holder = os.open(printer.pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
        rc, out, err = run_cli(["update", "--port", printer.pty, "--port", "/dev/zorven-no-such-port",
                                "--json", "result.json"], work)
        check(rc == 1, "exit status %d" % rc)
        held = port_lines(out, printer.pty)
        check(any(l.endswith(" - Error opening serial port.") for l in held), "no open error in %r" % held)
        # The system's reason is a diagnostic: once, on standard error, not among the log lines.
        check(not any("busy" in l for l in held), "reason among the log lines: %r" % held)
        check(err.count("another program") == 1 and "busy" in err, "no plain reason on stderr: %r" % err)
        check(err.count("No such device: /dev/zorven-no-such-port") == 1, "no reason for the missing port: %r" % err)
        # The final lines say it too, one per port.
        final = [l for l in out.splitlines() if re.match(r"^\S+ +failed +- +\d+\.\d s  port not opened: ", l)]
        check(len(final) == 2 and "busy" in final[0] and "No such device" in final[1], "final lines %r" % final)
        with open(os.path.join(work, "result.json")) as f:
            results = json.load(f)
        check("busy" in results[0].get("error", ""), "no reason in the result: %r" % results[0])
        check(results[0]["outcome"] == "failed", "outcome %r" % results[0]["outcome"])
    finally:
        os.close(holder)
        printer.stop()


USAGE = [
    ([], "A subcommand is required"),
    (["update"], "--port is required"),
    (["update", "--port", "@PTY", "--baud", "14400"], "14400"),
    (["update", "--port", "@PTY", "--speed", "9600"], "--speed"),
    (["update", "--port", "@PTY", "--port", "@PTY"], "twice"),
    (["update", "--port", ""], "an empty name is not a port"),
    (["update", "--port", "@PTY", "--baud", "abc"], '"abc" is not a line speed; use one of 9600, 19200'),
    (["help", "frobnicate"], "frobnicate"),
    (["update", "--port"], "--port"),
    (["frobnicate"], "frobnicate"),
]


def case_usage(image):
    work = fresh_dir("usage")
    printer = start_printer(work, "idle", [])
    try:
        for args, needle in USAGE:
            args = [printer.pty if a == "@PTY" else a for a in args]
            rc, out, err = run_cli(args, work, limit=30)
            check(rc == 2, "%r: exit status %d" % (args, rc))
            check(out == "", "%r: output %r" % (args, out))
            check(err.count("\n") == 1 and needle in err, "%r: not one line naming %r: %r" % (args, needle, err))
            check(os.listdir(work) == ["idle.err"], "%r: files made: %r" % (args, os.listdir(work)))
        # Nothing was opened: the printer never saw an updater.
        check("identification query" not in printer.stderr_text(), "a usage error reached the printer")
        rc, out, err = run_cli(["--help"], work, limit=30)
        check(rc == 0 and "Example" in out and "update" in out, "--help: %d %r" % (rc, out))
        # Each command's help is its own: the update's has the exit statuses, the others not its examples.
        for args in (["help", "update"], ["update", "--help"]):
            rc, out, err = run_cli(args, work, limit=30)
            check(rc == 0 and "--port" in out and "3 updated but not recorded" in out, "%r: %d %r" % (args, rc, out))
        for cmd in ("info", "ports"):
            rc, out, err = run_cli([cmd, "--help"], work, limit=30)
            check(rc == 0 and "zorven-cli %s" % cmd in out and "update --port" not in out, "%s --help: %r" % (cmd, out))
        # Every port offered is a serial device that exists; the table tells, in columns under its
        # header, what the JSON list tells ("-" for null).
        rc, out, err = run_cli(["ports", "--json"], work, limit=30)
        check(rc == 0, "ports --json: exit status %d" % rc)
        ports = json.loads(out)
        fields = ["port", "device", "vendor_id", "product_id", "serial_number", "driver", "latency_timer_ms"]
        for p in ports:
            check(list(p) == fields, "ports --json: fields %r" % list(p))
            check(os.path.exists(p["port"]) and stat.S_ISCHR(os.stat(p["port"]).st_mode), "ports offers %r" % p)
        rc, out, err = run_cli(["ports"], work, limit=30)
        check(rc == 0, "ports: exit status %d" % rc)
        lines = out.splitlines()
        header = ["PORT", "DEVICE", "VID:PID", "SERIAL", "DRIVER", "LATENCY"]
        check(lines and lines[0].split() == header, "ports: header %r" % lines[:1])
        starts = [lines[0].index(h) for h in header]
        shown = [[l[a:b].strip() for a, b in zip(starts, starts[1:] + [None])] for l in lines[1:]]
        dash = lambda v: "-" if v is None else v
        want = [[p["port"], dash(p["device"]),
                 "-" if p["vendor_id"] is None else "%s:%s" % (p["vendor_id"], p["product_id"]),
                 dash(p["serial_number"]), dash(p["driver"]),
                 "-" if p["latency_timer_ms"] is None else "%d ms" % p["latency_timer_ms"]] for p in ports]
        check(shown == want, "ports shows %r, its JSON %r" % (lines, ports))
    finally:
        printer.stop()


def case_info(image):
    p = subprocess.run([ARGS.info_cli, "info"], capture_output=True, text=True, timeout=30)
    check(p.returncode == 0, "info exit status %d" % p.returncode)
    shown = dict(re.match(r"^([^:]+):\s+(.*)$", l).groups() for l in p.stdout.splitlines())
    with open(ARGS.info_image, "rb") as f:
        data = f.read()
    expected = dict(f.split("=", 1) for f in ARGS.info_field)
    expected["image SHA-256"] = hashlib.sha256(data).hexdigest()
    expected["image length"] = "%d bytes" % len(data)
    for key, value in expected.items():
        check(shown.get(key) == value, "info %s: %r, expected %r" % (key, shown.get(key), value))
    check(ARGS.info_access_code not in p.stdout, "info shows the access code")
    # The default program's digest is that of the bytes its printers receive.
    p = subprocess.run([ARGS.cli, "info"], capture_output=True, text=True, timeout=30)
    check("image SHA-256:    " + hashlib.sha256(image).hexdigest() in p.stdout, "default digest: %r" % p.stdout)


def case_paced_query(image):
    """Variant 4 over lines paced at 115200 baud: the rest of each identification reply arrives
    after the query has read the serial number, and must not be taken for the handshake's reply."""
    with open(ARGS.v4_small_image, "rb") as f:
        small = f.read()
    work = fresh_dir("paced_query")
    serials = ["ZP-PACED%d" % i for i in range(2)]
    printers = [start_printer(work, "p%d" % i, ["--serial", s, "--baud", "115200"]) for i, s in enumerate(serials)]
    try:
        update_all(ARGS.v4_small_cli, work, printers, serials, small)
    finally:
        for p in printers:
            p.stop()


def run_usb_printers(runs, speed):
    """Each (program, image, printer options, serial) updates one printer behind a USB adapter
    model (16 ms latency timer) on a line paced at `speed`; all runs at once."""
    work = fresh_dir("usb_%s" % speed)
    printers, procs = [], []
    try:
        for i, (program, img, args, serial) in enumerate(runs):
            # Variants 2 and 3 ask for no serial number: the printer keeps its own, unasked.
            serial_args = ["--serial", serial] if serial else []
            pr = start_printer(work, "u%d" % i,
                         args + serial_args + ["--usb-latency", "16", "--baud", str(speed)])
            printers.append(pr)
            json_path = os.path.join(work, "u%d.json" % i)
            procs.append((subprocess.Popen([program, "update", "--baud", str(speed), "--port", pr.pty,
                                            "--json", json_path], cwd=work, stdout=subprocess.PIPE,
                                           stderr=subprocess.STDOUT, text=True), json_path))
        for (proc, json_path), pr, (program, img, args, serial) in zip(procs, printers, runs):
            out, _ = proc.communicate(timeout=RUN_LIMIT)
            check(proc.returncode == 0, "%s %s: exit status %d: %s" % (program, args, proc.returncode, out))
            with open(json_path) as f:
                result = json.load(f)[0]
            check_finished(pr, result, serial, img)
            check_usb_link(result, "--retry-every" in args)
            # The printer's own count of the same update, from its summary file.
            u = pr.wait_update(RUN_LIMIT)
            check((u["outcome"], u["bytes"], u["retries"]) == ("update ok", len(img), result["link"]["retries"]),
                  "%s: printer's summary %s, %s, %s retries; zorven-cli's result %s retries" %
                  (pr.pty, u["outcome"], u["bytes"], u["retries"], result["link"]["retries"]))
    finally:
        for proc, _ in procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        for p in printers:
            p.stop()


def check_usb_link(result, retries_asked):
    """What the result says of a line through the USB adapter model on a pty: no latency timer
    to read, no low latency granted, every verdict held back by the model's 16 ms timer, and
    the RETRY verdicts counted."""
    link, where = result["link"], result["port"]
    check(link["latency_timer_ms"] is None, "%s: latency timer %r on a pty" % (where, link["latency_timer_ms"]))
    check(link["low_latency"] is False, "%s: low latency granted on a pty" % where)
    t = link["turnaround_ms"]
    check(t is not None and 15.0 <= t["median"] <= t["p95"] <= t["max"],
          "%s: turnaround %r, while the adapter holds each verdict 16 ms" % (where, t))
    retry_lines = sum(1 for l in result["log"] if l.endswith(" - RETRY"))
    check(link["retries"] == retry_lines, "%s: %d retries, %d RETRY lines" % (where, link["retries"], retry_lines))
    check((link["retries"] > 0) == retries_asked, "%s: %d retries" % (where, link["retries"]))


def case_usb_variants(image):
    """Every protocol variant through a USB adapter's packets at the line speed given."""
    runs = []
    for spec in ARGS.usb_cli:
        name, program, img_path = spec.split("=", 2)
        variant = name[1]
        args = ["--variant", variant] + (["--scramble", "0"] if name == "v3_plain" else [])
        if name == "v0":
            args += ["--retry-every", "3"]  # a few blocks asked for again
        with open(img_path, "rb") as f:
            img = f.read()
        serial = "ZP-USB-" + name.upper() if variant in "014" else ""
        runs.append((program, img, args, serial))
    run_usb_printers(runs, ARGS.speed)


def case_usb_late_query_end(image):
    """The identification reply's end (checksum characters and LF) 0.25 s late, 0.6 s late and
    never: a healthy printer is updated, and the end is not taken for the handshake's reply."""
    with open(ARGS.v4_small_image, "rb") as f:
        small = f.read()
    runs = [(ARGS.v4_small_cli, small, extra, "ZP-END%d" % i) for i, extra in enumerate(
        [["--query-end-late", "250"], ["--query-end-late", "600"], ["--query-end-never"]])]
    run_usb_printers(runs, ARGS.speed)


def terminal_rows(stream, columns=0):
    """The rows a terminal shows after `stream`: text, CR, LF, and the sequences the live lines
    are drawn with (ESC [ n F up to a line's start, ESC [ J erase below, ESC [ K erase the rest
    of the line). Any other control sequence is an error of its own. A terminal `columns` wide
    (0: unlimited) wraps as xterm does: a character that does not fit goes to the next row, and
    with the cursor still on the last column, ESC [ K erases that column too."""
    rows, row, col, i = [[]], 0, 0, 0
    while i < len(stream):
        c = stream[i]
        if c == "\x1b":
            m = re.compile(r"\x1b\[(\d*)([FJK])").match(stream, i)
            if m is None:
                raise ValueError("unexpected sequence at %r" % stream[i:i + 8])
            if m.group(2) == "F":
                row, col = max(0, row - int(m.group(1) or "1")), 0
            else:
                del rows[row][min(col, columns - 1) if columns else col:]
                if m.group(2) == "J":
                    del rows[row + 1:]
            i = m.end()
            continue
        if c == "\r":
            col = 0
        elif c == "\n" or (columns and col == columns):
            row += 1
            if row == len(rows):
                rows.append([])
            if c != "\n":
                col = 0
                continue
        else:
            line = rows[row]
            line.extend(" " * (col - len(line)))
            line[col:col + 1] = [c]
            col += 1
        i += 1
    return ["".join(r) for r in rows]


def run_on_terminal(work, printers, serials, ports, columns):
    """The small package's update of `printers` (with their `serials`) through `ports`, one per
    printer, with the program's output on a terminal `columns` wide (0: the terminal does not
    say): each finished; what the terminal received, and the results."""
    master, slave = pty.openpty()
    try:
        if columns:
            fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
        args = [ARGS.v4_small_cli, "update", "--baud", "115200", "--json", "result.json"]
        for port in ports:
            args += ["--port", port]
        proc = subprocess.Popen(args, cwd=work, stdin=subprocess.DEVNULL, stdout=slave, stderr=subprocess.PIPE)
        os.close(slave)
        slave = None
        stream, deadline = b"", time.monotonic() + RUN_LIMIT
        while time.monotonic() < deadline:
            if not select.select([master], [], [], 1)[0]:
                continue
            try:
                data = os.read(master, 4096)
            except OSError:  # the program ended and closed the terminal
                break
            if not data:
                break
            stream += data
        code = proc.wait(10)
        check(code == 0, "exit status %d: %r" % (code, proc.stderr.read()))
        with open(ARGS.v4_small_image, "rb") as f:
            small = f.read()
        with open(os.path.join(work, "result.json")) as f:
            results = json.load(f)
        for printer, result, serial in zip(printers, results, serials):
            check_finished(printer, result, serial, small)
        return stream.decode("latin-1"), results
    finally:
        if slave is not None:
            os.close(slave)
        os.close(master)


def case_live_terminal(image):
    """On a terminal the live line is redrawn below the log lines: once the sequences are
    applied, the screen shows each log line as it is, with nothing left over from a longer live
    line it was written over, and the port's outcome below them. On a narrow terminal the live
    lines of two ports with long names are cut to fit: one that wrapped would take two rows,
    and each redraw would leave copies behind."""
    work = fresh_dir("live_terminal")
    printer = start_printer(work, "p", ["--serial", "ZP-LIVE", "--baud", "115200"])
    try:
        stream, results = run_on_terminal(work, [printer], ["ZP-LIVE"], [printer.pty], 0)
        rows = terminal_rows(stream)
        final = "%s  finished  ZP-LIVE  %.1f s" % (printer.pty, results[0]["seconds"])
        expected = results[0]["log"] + ["%s %s" % (printer.pty, results[0]["outcome"]), final, ""]
        check(rows == expected, "the terminal shows %r, not %r" % (rows, expected))
    finally:
        printer.stop()

    columns = 40
    work = fresh_dir("live_terminal_narrow")
    serials = ["ZP-NARROW0", "ZP-NARROW1"]
    ports = [os.path.join(work, "usb-FTDI_FT232R_USB_UART_A1B2C3D%d-if00-port0" % i) for i in range(2)]
    printers = []
    try:
        for i, (serial, port) in enumerate(zip(serials, ports)):
            printers.append(Printer(ARGS.printer, work, "p%d" % i, ["--serial", serial, "--baud", "115200"],
                                    link=port, once=True))
        stream, results = run_on_terminal(work, printers, serials, ports, columns)
        # Each live text ends in ESC [ K, and starts a line or follows the move up to the block.
        live = re.findall(r"([^\x1b\r\n]*)\x1b\[K", re.sub(r"\x1b\[\d*[FJ]", "\n", stream))
        check(bool(live) and max(len(t) for t in live) < columns,
              "live lines that do not fit %d columns less one: %r" % (columns, [t for t in live if len(t) >= columns]))
        # Each log line, prefixed by its port, takes as many rows as it needs; the two ports' lines
        # interleave, so they are compared as a whole.
        logged = []
        for port, result in zip(ports, results):
            for l in result["log"]:
                line = "%s: %s" % (port, l) if l else port + ":"
                logged += [line[i:i + columns] for i in range(0, max(len(line), 1), columns)]
        rows = terminal_rows(stream, columns)
        # Below the live lines, the final line of each port, wrapped as the terminal wraps it.
        width = max(len(port) for port in ports)
        final = []
        for port, r, serial in zip(ports, results, serials):
            line = "%s  finished  %s  %.1f s" % (port.ljust(width), serial, r["seconds"])
            final += [line[i:i + columns] for i in range(0, len(line), columns)]
        outcomes = ["%s %s" % (port[-28:], r["outcome"]) for port, r in zip(ports, results)] + final + [""]
        n = len(outcomes)
        check(rows[-n:] == outcomes and sorted(rows[:-n]) == sorted(logged),
              "the terminal shows %r, not the log lines %r and below them %r" % (rows, logged, outcomes))
    finally:
        for p in printers:
            p.stop()


def case_empty_package(image):
    """A program whose package is empty says so, as the dialog's START does, and opens nothing."""
    work = fresh_dir("empty_package")
    printer = start_printer(work, "idle", [])
    try:
        for args in (["update", "--port", printer.pty], ["info"]):
            p = subprocess.run([ARGS.empty_cli] + args, cwd=work, capture_output=True, text=True, timeout=30)
            check(p.returncode == 1, "%r: exit status %d" % (args, p.returncode))
            check("No data found in file." in p.stderr, "%r: %r" % (args, p.stderr))
        check("identification query" not in printer.stderr_text(), "the empty package reached the printer")
        check(not os.path.exists(os.path.join(work, "sn_build.txt")), "production log written")
    finally:
        printer.stop()


def final_lines(out):
    """The final lines of a run: "PORT  OUTCOME  SERIAL  SECONDS s[  WHY]", by port."""
    lines = {}
    for l in out.splitlines():
        m = re.match(r"^(\S+) +(finished|failed|stopped) +(\S+) +(\d+\.\d) s(?:  (.*))?$", l)
        if m:
            lines[m.group(1)] = (m.group(2), m.group(3), m.group(5) or "")
    return lines


def unwritable_paths(work):
    """(what, --log path, --json path, reason) for records that cannot be written."""
    os.makedirs(os.path.join(work, "a_folder"))
    rows = [
        ("log in a missing folder", "missing/sn_build.txt", None, "its folder does not exist"),
        ("log naming a folder", "a_folder", None, "it is a folder"),
        ("json in a missing folder", "sn_build.txt", "missing/result.json", "its folder does not exist"),
        ("json naming a folder", "sn_build.txt", "a_folder", "it is a folder"),
    ]
    locked = os.path.join(work, "locked")
    os.makedirs(locked)
    os.chmod(locked, 0o555)
    rows.append(("log in a folder without write permission", "locked/sn_build.txt", None, "no permission to write it"))
    shared = os.path.join(work, "shared")
    os.makedirs(shared)
    os.chmod(shared, 0o777)
    rows.append(("json in a folder without write permission", "shared/sn_build.txt", "locked/result.json",
                 "no permission to write it"))
    return rows


def as_other_user():
    """The command prefix that runs a program as a user without root's rights over files, or None
    where there is none to be had: root ignores a folder's permissions."""
    if os.geteuid() != 0:
        return []
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        return None
    return [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"]


def case_records(image):
    """Records are checked before any printer is touched: a production log or --json file that
    cannot be written is a usage error that names the path and the system's reason."""
    work = fresh_dir("records")
    os.chmod(work, 0o777)
    printer = start_printer(work, "idle", [])
    prefix = as_other_user()
    try:
        for what, log, json_path, reason in unwritable_paths(work):
            if "permission" in what and prefix is None:
                print("skipped: %s: no way to run as a user other than root here" % what)
                continue
            args = ["update", "--port", printer.pty, "--log", log] + (["--json", json_path] if json_path else [])
            p = subprocess.run((prefix if "permission" in what else []) + [ARGS.cli] + args, cwd=work,
                               capture_output=True, text=True, timeout=30)
            named = json_path or log
            check(p.returncode == 2, "%s: exit status %d, %r" % (what, p.returncode, p.stderr))
            check(p.stdout == "", "%s: output %r" % (what, p.stdout))
            check(p.stderr.count("\n") == 1 and named in p.stderr and reason in p.stderr,
                  "%s: not one line naming %s and %r: %r" % (what, named, reason, p.stderr))
        check("identification query" not in printer.stderr_text(), "a refused record reached the printer")
    finally:
        printer.stop()


def case_not_recorded(image):
    """A production log that turns unwritable during the update: the printer is updated, the run's
    log says the line was not written and why, the JSON carries it, the status is its own."""
    work = fresh_dir("not_recorded")
    printer = start_printer(work, "p", ["--serial", "ZP-NOREC", "--baud", "115200"])
    try:
        cli = subprocess.Popen([ARGS.v4_small_cli, "update", "--port", printer.pty, "--baud", "115200", "--json",
                                "result.json"], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = cli.stdout.readline()
        check("Start..." in first, "first line %r" % first)
        # The check before the run created the file; a folder takes its place during the run.
        os.remove(os.path.join(work, "sn_build.txt"))
        os.makedirs(os.path.join(work, "sn_build.txt"))
        rest, err = cli.communicate(timeout=RUN_LIMIT)
        out = first + rest
        check(cli.returncode == 3, "exit status %d: %r" % (cli.returncode, err))
        logged = [l.split(" - ", 1)[-1] for l in out.splitlines()]
        at = logged.index("Process finished.")
        check(logged[at + 1] == "Production log not written: sn_build.txt (it is a folder).",
              "after \"Process finished.\": %r" % logged[at + 1:])
        with open(os.path.join(work, "result.json")) as f:
            result = json.load(f)[0]
        check(result["outcome"] == "finished", "outcome %r" % result["outcome"])
        check(result["production_log"] == {"path": "sn_build.txt", "written": False, "error": "it is a folder"},
              "production_log %r" % result["production_log"])
        outcome, serial, why = final_lines(out)[printer.pty]
        check((outcome, serial) == ("finished", "ZP-NOREC") and "production log not written (it is a folder)" in why,
              "final line %r" % ((outcome, serial, why),))
    finally:
        printer.stop()


def case_failure_words(image):
    """Every failure in words, on the final line and in the JSON: where the run ended (the phase,
    the block) and what came back. One run over a printer per fault."""
    with open(ARGS.v4_small_image, "rb") as f:
        blocks = (len(f.read()) + BLOCK_SIZE - 1) // BLOCK_SIZE
    mid = blocks // 2 + 1
    rows = [
        (["--silent", "handshake"], "failed", "entry handshake: no reply within 5 s", "handshake", "no_reply"),
        (["--refuse-handshake"], "failed", "entry handshake: unexpected reply 0x02 0x23 0x30 0x31", "handshake",
         "unexpected_reply"),
        (["--garbage", "announce"], "failed", 'announce line: unexpected reply "GARBAGE"', "announce",
         "unexpected_reply"),
        (["--silent", "block:%d" % mid], "failed", "block %d of %d: no reply within 5 s" % (mid, blocks), "block",
         "no_reply"),
        (["--bad-reply-block", str(mid)], "failed", 'block %d of %d: unexpected reply "BUSY"' % (mid, blocks), "block",
         "unexpected_reply"),
        (["--silent", "wait"], "failed", "closing reply: no reply within 10 s", "closing", "no_reply"),
        (["--silent", "query"], "finished", "", None, None),
    ]
    work = fresh_dir("failure_words")
    printers = [start_printer(work, "p%d" % i, ["--serial", "ZP-F%d" % i] + r[0]) for i, r in enumerate(rows)]
    try:
        args = ["update", "--json", "result.json"]
        for p in printers:
            args += ["--port", p.pty]
        p = subprocess.run([ARGS.v4_small_cli] + args, cwd=work, capture_output=True, text=True, timeout=RUN_LIMIT)
        check(p.returncode == 1, "exit status %d: %r" % (p.returncode, p.stderr))
        final = final_lines(p.stdout)
        with open(os.path.join(work, "result.json")) as f:
            results = json.load(f)
        for (fault, outcome, words, phase, cause), printer, result in zip(rows, printers, results):
            serial = "-" if fault == ["--silent", "query"] else "ZP-F%d" % printers.index(printer)
            check(final.get(printer.pty) == (outcome, serial, words), "%r: final line %r, not %r" %
                  (fault, final.get(printer.pty), (outcome, serial, words)))
            failure = result["failure"]
            if phase is None:
                check(failure is None, "%r: failure %r" % (fault, failure))
                continue
            check((failure["phase"], failure["cause"], failure["text"]) == (phase, cause, words),
                  "%r: JSON failure %r" % (fault, failure))
            if phase == "block":
                check((failure["block"], failure["blocks"]) == (mid, blocks), "%r: %r" % (fault, failure))
        # A finished printer without a serial number: warned of, and its line has an empty field.
        quiet = printers[-1].pty
        check("%s: warning: the printer gave no serial number" % quiet in p.stdout, "no warning in %r" % p.stdout)
        check([l.split(";")[0] for l in log_lines(work)] == [""], "production log %r" % log_lines(work))
    finally:
        for pr in printers:
            pr.stop()


def case_same_device(image):
    """One device under two names is a usage error that names both, before anything is opened."""
    work = fresh_dir("same_device")
    printer = start_printer(work, "p", [])
    try:
        os.symlink(printer.pty, os.path.join(work, "ttyV0"))
        rc, out, err = run_cli(["update", "--port", "ttyV0", "--port", printer.pty], work, limit=30)
        check(rc == 2, "exit status %d" % rc)
        check(err.count("\n") == 1 and "ttyV0" in err and printer.pty in err and "same device" in err,
              "not one line naming both: %r" % err)
        check(not os.path.exists(os.path.join(work, "sn_build.txt")), "production log touched")
        check("identification query" not in printer.stderr_text(), "the printer was reached")
    finally:
        printer.stop()


def case_signals(image):
    """SIGTERM and SIGHUP stop every run as Ctrl-C does, with the JSON written; a stop in the
    closing wait takes effect at once, not after the wait's ten seconds; a second signal ends the
    program at once."""
    with open(ARGS.v3_image, "rb") as f:
        v3_image = f.read()
    for sig in (signal.SIGTERM, signal.SIGHUP):
        work = fresh_dir("signal_%d" % sig)
        printer = start_printer(work, "p", V3_PRINTER + ["--baud", "19200"])
        try:
            cli = subprocess.Popen([ARGS.v3_cli, "update", "--json", "result.json", "--baud", "19200", "--port",
                                    printer.pty], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            out, err = interrupt_in_transfer(cli, lambda l: l.rstrip().endswith(" - OK"), 60, run_on_s=1, sig=sig)
            name = signal.Signals(sig).name
            check(cli.returncode == 130, "%s: exit status %s" % (name, cli.returncode))
            check(any(l.endswith(" - Process stopped.") for l in out.splitlines()), "%s: %r" % (name, out))
            check(err.count("stopping") == 1, "%s: stderr %r" % (name, err))
            with open(os.path.join(work, "result.json")) as f:
                result = json.load(f)[0]
            check(result["outcome"] == "stopped" and result["failure"]["cause"] == "stopped",
                  "%s: result %r" % (name, result))
            check(final_lines(out)[printer.pty][0] == "stopped", "%s: final line in %r" % (name, out))
        finally:
            printer.stop()

    # The closing wait: a printer that never says WAIT.
    with open(ARGS.v4_small_image, "rb") as f:
        small = f.read()
    work = fresh_dir("signal_closing")
    printer = start_printer(work, "p", ["--silent", "wait"])
    try:
        cli = subprocess.Popen([ARGS.v4_small_cli, "update", "--json", "result.json", "--port", printer.pty],
                               cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # The printer notes its silence once the last block is answered: the closing wait has begun.
        deadline = time.monotonic() + 60
        while "fault: no reply" not in printer.stderr_text() and time.monotonic() < deadline and cli.poll() is None:
            time.sleep(0.05)
        check(cli.poll() is None and "fault: no reply" in printer.stderr_text(), "the closing wait did not begin")
        sent = time.monotonic()
        cli.send_signal(signal.SIGINT)
        out, err = cli.communicate(timeout=30)
        # The wait is ten seconds; a stop that waited it out would take that long.
        check(time.monotonic() - sent < 5, "the stop took %.1f s" % (time.monotonic() - sent))
        check(cli.returncode == 130, "exit status %s" % cli.returncode)
        with open(os.path.join(work, "result.json")) as f:
            result = json.load(f)[0]
        check((result["failure"]["phase"], result["failure"]["cause"]) == ("closing", "stopped"), "%r" % result)
        check(result["bytes_acknowledged"] == len(small), "bytes %r" % result["bytes_acknowledged"])
    finally:
        printer.stop()

    # A second signal: the program ends at once, without waiting for the runs.
    work = fresh_dir("signal_twice")
    printer = start_printer(work, "p", V3_PRINTER + ["--baud", "19200"])
    try:
        cli = subprocess.Popen([ARGS.v3_cli, "update", "--json", "result.json", "--baud", "19200", "--port",
                                printer.pty], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = ""
        while not line.rstrip().endswith(" - OK"):
            line = cli.stdout.readline()
            check(line != "", "transfer did not start")
        os.kill(cli.pid, signal.SIGINT)
        # Two signals sent before the first is taken would arrive as one.
        first = cli.stderr.readline()
        check("stopping" in first, "stderr %r" % first)
        os.kill(cli.pid, signal.SIGINT)
        out, err = cli.communicate(timeout=30)
        check(cli.returncode == 130, "exit status %s" % cli.returncode)
        check("ended at once" in err, "stderr %r" % err)
        check(not os.path.exists(os.path.join(work, "result.json")), "result written after the second signal")
    finally:
        printer.stop()



def line_printer(work, name, serials, args=()):
    """A line of printers on one pty: one printer after another, each on after a short gap."""
    return Printer(ARGS.printer, work, name, ["--serials", ",".join(serials), "--gap", "300"] + list(args))


def whole_json_lines(path):
    """The records of a JSON Lines file; every line must be whole."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    check(data == b"" or data.endswith(b"\n"), "%s ends inside a line: %r" % (path, data[-80:]))
    records = []
    for line in data.decode().splitlines():
        try:
            records.append(json.loads(line))
        except ValueError:
            raise Failure("%s holds a line that is not whole: %r" % (path, line))
    return records


def station_cli(program, work, ports, extra):
    args = [program, "station", "--baud", "115200"] + extra
    for p in ports:
        args += ["--port", p.pty]
    return subprocess.Popen(args, cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def end_station(cli):
    """A station this test started and that is still running (the test failed) ends here: left
    running, it would go on opening pty paths that later tests' printers are given."""
    if cli is not None and cli.poll() is None:
        cli.kill()
        cli.communicate()


def case_station(image):
    """Three ports, three printers each: one with RETRY verdicts, one removed in the middle of its
    update, one that comes back after it was updated. One whole record per attempt and nothing
    else, one production log line per finished update; the printer that came back is skipped."""
    with open(ARGS.v4_small_image, "rb") as f:
        small = f.read()
    work = fresh_dir("station")
    lines = [line_printer(work, "a", ["ZP-A1", "ZP-A2", "ZP-A3"], ["--fault-on", "2", "--retry-every", "5"]),
             line_printer(work, "b", ["ZP-B1", "ZP-B2", "ZP-B3"], ["--fault-on", "2", "--remove-at-block", "10"]),
             line_printer(work, "c", ["ZP-C1", "ZP-C2", "ZP-C1"])]
    cli = None
    try:
        cli = station_cli(ARGS.v4_small_cli, work, lines, ["--count", "7"])
        out, err = cli.communicate(timeout=RUN_LIMIT)
        check(cli.returncode == 0, "exit status %d: %r" % (cli.returncode, err))
        records = whole_json_lines(os.path.join(work, "zorven-results.ndjson"))
        by_port = {p.pty: [(r["serial_number"], r["outcome"]) for r in records if r["port"] == p.pty] for p in lines}
        expected = {
            lines[0].pty: [("ZP-A1", "finished"), ("ZP-A2", "finished"), ("ZP-A3", "finished")],
            lines[1].pty: [("ZP-B1", "finished"), ("ZP-B2", "failed"), ("ZP-B3", "finished")],
            lines[2].pty: [("ZP-C1", "finished"), ("ZP-C2", "finished"), ("ZP-C1", "skipped")],
        }
        check(by_port == expected and len(records) == 9, "records %r" % by_port)
        retried = next(r for r in records if r["serial_number"] == "ZP-A2")
        check(retried["retries"] > 0 and retried["bytes_acknowledged"] == len(small), "ZP-A2: %r" % retried)
        removed = next(r for r in records if r["serial_number"] == "ZP-B2")
        check(removed["failure"]["phase"] == "block" and removed["failure"]["block"] == 10, "ZP-B2: %r" % removed)
        skipped = [r for r in records if r["outcome"] == "skipped"][0]
        first_c1 = next(r for r in records if r["serial_number"] == "ZP-C1")
        check(skipped["updated_at"] == first_c1["ended"], "skipped %r" % skipped)
        logged = sorted(l.split(";")[0] for l in log_lines(work))
        check(logged == sorted(["ZP-A1", "ZP-A2", "ZP-A3", "ZP-B1", "ZP-B3", "ZP-C1", "ZP-C2"]), "production log %r" % logged)
        # The printer that came back was not updated a second time.
        third = lines[2].printers()[2]
        check(third["outcome"] == "never updated", "ZP-C1 again: %r" % third)
        check("PORT" in out and "FINISHED" in out, "no summary in %r" % out)
    finally:
        end_station(cli)
        for p in lines:
            p.stop()


def case_station_killed(image):
    """A station killed with SIGKILL in the middle of an update leaves only whole lines in both
    files; a station started again skips the printer the first one finished."""
    work = fresh_dir("station_killed")
    line = line_printer(work, "a", ["ZP-K1", "ZP-K2"], ["--baud", "38400"])
    cli = None
    try:
        cli = station_cli(ARGS.v4_small_cli, work, [line], [])
        line.wait_printer(1, RUN_LIMIT, "off")
        line.wait_printer(2, RUN_LIMIT, "on")
        # The station finds ZP-K2 within about a second and its transfer, paced at 38400 baud,
        # takes about five: the kill comes in the middle of it.
        time.sleep(3)
        check(line.printers()[1]["state"] == "on", "ZP-K2 no longer on: %r" % line.printers())
        cli.kill()
        cli.communicate(timeout=30)
        records = whole_json_lines(os.path.join(work, "zorven-results.ndjson"))
        check([(r["serial_number"], r["outcome"]) for r in records] == [("ZP-K1", "finished")], "records %r" % records)
        check([l.split(";")[0] for l in log_lines(work)] == ["ZP-K1"], "production log %r" % log_lines(work))
    finally:
        end_station(cli)
        line.stop()

    again = line_printer(work, "again", ["ZP-K1"])
    cli = None
    try:
        cli = station_cli(ARGS.v4_small_cli, work, [again], [])
        deadline = time.monotonic() + RUN_LIMIT
        while len(whole_json_lines(os.path.join(work, "zorven-results.ndjson"))) < 2:
            check(time.monotonic() < deadline and cli.poll() is None, "no record of the printer that came back")
            time.sleep(0.1)
        cli.send_signal(signal.SIGTERM)
        out, err = cli.communicate(timeout=30)
        check(cli.returncode == 130, "exit status %d after SIGTERM: %r" % (cli.returncode, err))
        records = whole_json_lines(os.path.join(work, "zorven-results.ndjson"))
        check([(r["serial_number"], r["outcome"]) for r in records][1:] == [("ZP-K1", "skipped")], "records %r" % records)
        check(again.printers()[0]["attempts"] == 0, "the printer that came back was updated: %r" % again.printers())
    finally:
        end_station(cli)
        again.stop()


def case_station_variant3(image):
    """Variant 3 asks for no serial number: the station tries the update again and again, a try
    that nobody answered leaves no record, and it says once that printers cannot be guarded."""
    with open(ARGS.v3_image, "rb") as f:
        v3_image = f.read()
    work = fresh_dir("station_variant3")
    line = line_printer(work, "v3", ["V3-1", "V3-2"], V3_PRINTER)
    cli = None
    try:
        cli = station_cli(ARGS.v3_cli, work, [line], ["--count", "2"])
        out, err = cli.communicate(timeout=RUN_LIMIT)
        check(cli.returncode == 0, "exit status %d: %r" % (cli.returncode, err))
        check(err.count("cannot be kept from a second update") == 1, "stderr %r" % err)
        records = whole_json_lines(os.path.join(work, "zorven-results.ndjson"))
        check([(r["serial_number"], r["outcome"], r["bytes_acknowledged"]) for r in records] ==
              [(None, "finished", len(v3_image))] * 2, "records %r" % records)
        check(log_lines(work) and len(log_lines(work)) == 2, "production log %r" % log_lines(work))
    finally:
        end_station(cli)
        line.stop()



def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("case")
    ap.add_argument("--cli", required=True)
    ap.add_argument("--printer", required=True)
    ap.add_argument("--image", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--empty-cli")
    ap.add_argument("--v4-small-cli")
    ap.add_argument("--v4-small-image")
    ap.add_argument("--v3-cli")
    ap.add_argument("--v3-image")
    ap.add_argument("--info-cli")
    ap.add_argument("--info-image")
    ap.add_argument("--info-access-code")
    ap.add_argument("--info-field", action="append", default=[])
    ap.add_argument("--usb-cli", action="append", default=[], help="NAME=PROGRAM=IMAGE, NAME as v0..v4_small")
    ap.add_argument("--speed", type=int, default=115200)
    ARGS = ap.parse_args()
    os.makedirs(ARGS.work, exist_ok=True)
    with open(ARGS.image, "rb") as f:
        image = f.read()
    try:
        globals()["case_" + ARGS.case](image)
    except Failure as e:
        print("FAIL:", e)
        return 1
    print("ok:", ARGS.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
