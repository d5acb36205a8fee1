"""The dialog's log texts and the production log line."""

import datetime
import re

from .checks import check

FULL_LOG = ["Start...", "OK", "WAIT", "", "PLEASE WAIT UNTIL THE DEVICE TURNS OFF", "Process finished.", ""]
START_LOG = FULL_LOG[0]
SPEEDS = ["9600", "19200", "38400", "57600", "115200"]
STAMP = re.compile(r"^(\d\d):(\d\d):(\d\d) - (.*)$", re.S)
PRODUCTION_LINE = re.compile(rb"^([^;\r\n]*);([^;\r\n]*);(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\r\n$")


def finished_log(retries=0):
    """The log of an update that finished; RETRY lines come between the announce's "OK" and "WAIT"."""
    return FULL_LOG[:2] + ["RETRY"] * retries + FULL_LOG[2:]


def log_texts(lines):
    """The log lines without their time stamps; every non-empty line must carry one."""
    out = []
    for line in lines:
        if line == "":
            out.append("")
            continue
        m = STAMP.match(line)
        check(m is not None, f"log line without a HH:MM:SS stamp: {line!r}")
        h, mi, s = int(m.group(1)), int(m.group(2)), int(m.group(3))
        check(h < 24 and mi < 60 and s < 60, f"impossible time in {line!r}")
        out.append(m.group(4))
    return out


def check_production_line(line, serial, log_tag, started):
    """One production log line, serial;tag;MM/DD/YY HH:MM:SS CRLF, stamped within the run."""
    m = PRODUCTION_LINE.match(line)
    check(m is not None, f"production log is not one line serial;tag;MM/DD/YY HH:MM:SS CRLF: {line!r}")
    check(m.group(1).decode("latin-1") == serial, f"serial field {m.group(1)!r}, expected {serial!r}")
    check(m.group(2).decode("latin-1") == log_tag, f"log tag field {m.group(2)!r}")
    mo, d, y, h, mi, sec = (int(g) for g in m.groups()[2:])
    stamp = datetime.datetime(2000 + y, mo, d, h, mi, sec)
    finished = datetime.datetime.now()
    check(started - datetime.timedelta(seconds=2) <= stamp <= finished + datetime.timedelta(seconds=2),
          f"production log time {stamp} outside the run ({started} .. {finished})")
