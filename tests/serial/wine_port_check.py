#!/usr/bin/env python3
"""Runs wine_port_probe.exe under Wine against COMn of the test prefix, mapped to a pty that this
script creates and whose far end it plays: checks the line settings the port really got (read
back from Linux) for every table speed, and a real exchange through the Windows port.

usage: wine_port_check.py BUILD_DIR WINE_PORT_PROBE COM_NUMBER
"""
import os
import select
import shutil
import subprocess
import sys
import termios
import time

from zorvenkit.checks import Failure, check
from zorvenkit.wine import Session

SPEEDS = {9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400,
          57600: termios.B57600, 115200: termios.B115200}
RUN_LIMIT = 60  # seconds for one Wine program, its first start in a fresh prefix included


def dirty(fd):
    """A line wrong in every respect the updater sets; Wine itself leaves IXON on."""
    attrs = termios.tcgetattr(fd)
    attrs[0] |= termios.IXON
    attrs[2] = (attrs[2] & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB
    attrs[4] = attrs[5] = termios.B300
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def read_until(fd, wanted, limit):
    got = b""
    end = time.monotonic() + limit
    while wanted not in got and time.monotonic() < end:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            got += os.read(fd, 256)
    return got


def check_settings(h, probe, master):
    for speed, code in SPEEDS.items():
        dirty(master)
        try:
            r = h.run_console([probe, "open", h.port_name, str(speed)], RUN_LIMIT, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True)
        except subprocess.TimeoutExpired:
            raise Failure("open %s at %d timed out" % (h.port_name, speed))
        print(r.stdout, end="")
        check(r.returncode == 0, "open %s at %d" % (h.port_name, speed))
        iflag, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(master)
        check((ispeed, ospeed) == (code, code), "speed %d: line runs at codes %o/%o" % (speed, ispeed, ospeed))
        check(cflag & termios.CSIZE == termios.CS8, "speed %d: not 8 data bits" % speed)
        check(not cflag & termios.PARENB, "speed %d: parity on" % speed)
        check(not cflag & termios.CSTOPB, "speed %d: two stop bits" % speed)
        check(not iflag & termios.IXON, "speed %d: XON/XOFF on sending still on" % speed)
        print("speed %d: settings ok" % speed)


def check_exchange(h, probe, master):
    """The probe first makes one silent request, then sends PING."""
    proc = h.spawn("probe", [h.wine_run, probe, "io", h.port_name], cwd=h.work, env=h.env(),
                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    got = read_until(master, b"PING\r\n", RUN_LIMIT)
    if b"PING\r\n" in got:
        os.write(master, b"PONG\r\nA\nB")
    try:
        out, _ = proc.communicate(timeout=RUN_LIMIT)
    except subprocess.TimeoutExpired:
        raise Failure("io exchange timed out")
    print(out, end="")
    check(b"PING\r\n" in got, "no PING from the probe (got %r)" % got)
    check(proc.returncode == 0, "io exchange")


def main():
    build, probe, com = sys.argv[1:4]
    h = Session(build, int(com))
    master, slave = os.openpty()
    try:
        h.point_port_at(os.ttyname(slave))
        check_settings(h, probe, master)
        check_exchange(h, probe, master)
    except Failure as e:
        print("FAIL:", e)
        return 1
    finally:
        h.close()
        shutil.rmtree(h.work, ignore_errors=True)
        os.close(slave)
        os.close(master)
    print("all ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
