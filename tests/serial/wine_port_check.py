#!/usr/bin/env python3
"""Runs wine_port_probe.exe under Wine against COMn of the test prefix, mapped to a pty that this
script creates and whose far end it plays: checks the line settings the port really got (read
back from Linux) for every table speed, and a real exchange through the Windows port."""
import os
import select
import subprocess
import sys
import termios
import time

SPEEDS = {9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400,
          57600: termios.B57600, 115200: termios.B115200}
RUN_LIMIT = 60  # seconds for one Wine program, its first start in a fresh prefix included


def fail(msg):
    print("FAIL:", msg)
    sys.exit(1)


def run(cmd):
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        out, _ = proc.communicate(timeout=RUN_LIMIT)
    except subprocess.TimeoutExpired:
        proc.kill()  # only the program this script started
        proc.communicate()
        fail("timed out: " + " ".join(cmd))
    print(out, end="")
    return proc.returncode


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


def main():
    wine_run, probe, ports, com = sys.argv[1:5]
    master, slave = os.openpty()
    link = os.path.join(ports, com)
    os.makedirs(ports, exist_ok=True)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    try:
        for speed, code in SPEEDS.items():
            dirty(master)
            if run([wine_run, probe, "open", com, str(speed)]) != 0:
                fail("open %s at %d" % (com, speed))
            iflag, _, cflag, _, ispeed, ospeed, _ = termios.tcgetattr(master)
            if (ispeed, ospeed) != (code, code):
                fail("speed %d: line runs at codes %o/%o" % (speed, ispeed, ospeed))
            if cflag & termios.CSIZE != termios.CS8:
                fail("speed %d: not 8 data bits" % speed)
            if cflag & termios.PARENB:
                fail("speed %d: parity on" % speed)
            if cflag & termios.CSTOPB:
                fail("speed %d: two stop bits" % speed)
            if iflag & termios.IXON:
                fail("speed %d: XON/XOFF on sending still on" % speed)
            print("speed %d: settings ok" % speed)

        # The exchange: the probe first makes one silent request, then sends PING.
        proc = subprocess.Popen([wine_run, probe, "io", com], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
        try:
            got = read_until(master, b"PING\r\n", RUN_LIMIT)
            if b"PING\r\n" in got:
                os.write(master, b"PONG\r\nA\nB")
            out, _ = proc.communicate(timeout=RUN_LIMIT)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            fail("io exchange timed out")
        print(out, end="")
        if b"PING\r\n" not in got:
            fail("no PING from the probe (got %r)" % got)
        if proc.returncode != 0:
            fail("io exchange")
    finally:
        os.remove(link)
        os.close(slave)
        os.close(master)
    print("all ok")


if __name__ == "__main__":
    main()
