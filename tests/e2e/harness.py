#!/usr/bin/env python3
"""End-to-end scenarios of zorven.exe under Wine and Xvfb.

Each run starts its own Xvfb, its own virtual printer on a pty that the build tree's port path
ports/COMn leads to, and a copy of the program in a fresh working directory (where the program
writes sn_build.txt). zorven-driver.exe reads and drives the dialog through window messages. On
every way out the harness ends what it started, by process id, and removes its port link.

    harness.py --build-dir B --program EXE --package RECORD.bin --com N SCENARIO [--printer-args ARGS]
"""

import argparse
import datetime
import json
import os
import queue
import re
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

FULL_LOG = ["Start...", "OK", "WAIT", "", "PLEASE WAIT UNTIL THE DEVICE TURNS OFF", "Process finished.", ""]
SPEEDS = ["9600", "19200", "38400", "57600", "115200"]
STAMP = re.compile(r"^(\d\d):(\d\d):(\d\d) - (.*)$", re.S)
PRODUCTION_LINE = re.compile(rb"^([^;\r\n]*);([^;\r\n]*);(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d)\r\n$")
DEFAULT_SERIAL = "ZP-000001"

# Offsets in the firmware package record.
REC_SCRAMBLE, REC_PRESENCE, REC_LENGTH, REC_VARIANT = 4, 24, 28, 32
REC_VERSION, REC_IMAGE, REC_ACCESS, REC_TAG = 33, 289, 655649, 655655
REC_SIZE = 655784


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def cstr(b):
    return b.split(b"\0", 1)[0].decode("latin-1")


class Package:
    """The record the program under test carries, as the build wrote it."""

    def __init__(self, path):
        with open(path, "rb") as f:
            rec = f.read()
        check(len(rec) == REC_SIZE, f"{path}: {len(rec)} bytes, not a package record")
        u32 = lambda o: int.from_bytes(rec[o:o + 4], "little")
        self.scramble = u32(REC_SCRAMBLE)
        self.presence = int.from_bytes(rec[REC_PRESENCE:REC_PRESENCE + 4], "little", signed=True)
        self.length = u32(REC_LENGTH)
        self.variant = rec[REC_VARIANT]
        self.version = cstr(rec[REC_VERSION:REC_IMAGE])
        self.image = rec[REC_IMAGE:REC_IMAGE + self.length]
        self.access_code = rec[REC_ACCESS:REC_ACCESS + 6].decode("latin-1")
        self.log_tag = cstr(rec[REC_TAG:])

    def printer_args(self):
        """The printer that matches this package, and checks the announce line against it."""
        args = ["--variant", str(self.variant), "--scramble", "1" if self.scramble else "0",
                "--access-code", self.access_code, "--image-length", str(self.length)]
        return args + (["--version", self.version] if self.version else [])


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


def find_unix_pid(exe_suffix_path):
    """The Wine process that runs a program: the one whose first argument is the program's
    Windows path (the desktop's explorer carries that path as a later argument)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if argv and argv[0].decode("latin-1").lower().endswith(exe_suffix_path.lower()):
            return int(entry)
    return None


def holds_open(pid, path):
    """Whether process `pid` has `path` open."""
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                return True
        except OSError:
            pass
    return False


class Session:
    def __init__(self, opts):
        self.opts = opts
        self.build = os.path.abspath(opts.build_dir)
        self.wine_run = os.path.join(self.build, "wine-run.sh")
        self.driver_exe = os.path.join(self.build, "tests", "e2e", "zorven-driver.exe")
        self.printer_exe = opts.printer or os.path.join(self.build, "host", "tools", "zorven-printer")
        self.port_name = f"COM{opts.com}"
        self.port_path = os.path.join(self.build, "ports", self.port_name)
        self.package = Package(opts.package)
        self.work = tempfile.mkdtemp(prefix="zorven-e2e-")
        self.exe_name = os.path.basename(opts.program)
        shutil.copy(opts.program, os.path.join(self.work, self.exe_name))
        # The driver finds the program's windows by the end of its executable's path.
        self.exe_suffix = "\\" + os.path.basename(self.work) + "\\" + self.exe_name
        self.procs = []  # (name, Popen) of everything started here, ended in reverse order
        self.xvfb = self.printer = self.program = self.driver = None
        self.display = None
        self.made_port = False
        self.printer_log = []
        self.starts = 0

    # -- processes ------------------------------------------------------------------------

    def _spawn(self, name, argv, **kw):
        p = subprocess.Popen(argv, start_new_session=True, **kw)
        self.procs.append((name, p))
        return p

    def env(self):
        e = dict(os.environ)
        e["DISPLAY"] = self.display
        return e

    def start_xvfb(self):
        r, w = os.pipe()
        self.xvfb = self._spawn("Xvfb", ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                                         "-nolisten", "tcp", "-noreset"],
                                pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        # Read up to the newline: Xvfb writes the number and the newline separately, and ends
        # with a fatal error when the second write finds the pipe closed.
        got = b""
        deadline = time.time() + 30
        while not got.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([r], [], [], max(0.0, deadline - time.time()))
            chunk = os.read(r, 64) if ready else b""
            if not chunk:
                break
            got += chunk
        os.close(r)
        number = got.decode().strip()
        check(number.isdigit(), "Xvfb did not report its display")
        self.display = ":" + number

    def start_printer(self, extra=(), serial=DEFAULT_SERIAL):
        """The virtual printer for this package, on a pty linked to the test's port path."""
        self.remove_port()
        os.makedirs(os.path.dirname(self.port_path), exist_ok=True)
        self.received = os.path.join(self.work, "received.bin")
        argv = [self.printer_exe, "--link", self.port_path, "--serial", serial, "--out", self.received,
                *self.package.printer_args(), *extra]
        self.printer = self._spawn("printer", argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True, bufsize=1)
        self.made_port = True
        lines = queue.Queue()

        def pump():
            for line in self.printer.stdout:
                self.printer_log.append(line.rstrip("\n"))
                lines.put(line)
        threading.Thread(target=pump, daemon=True).start()
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                line = lines.get(timeout=0.5)
            except queue.Empty:
                check(self.printer.poll() is None, f"printer ended: {self.printer_log}")
                continue
            if line.startswith("PTY "):
                break
        check(os.path.islink(self.port_path), f"printer made no link {self.port_path}: {self.printer_log}")

    def point_port_at_directory(self):
        self.remove_port()
        os.makedirs(self.port_path)
        self.made_port = True

    def remove_port(self):
        if os.path.islink(self.port_path) or os.path.isfile(self.port_path):
            os.unlink(self.port_path)
        elif os.path.isdir(self.port_path):
            shutil.rmtree(self.port_path)

    def start_program(self):
        """The program in a Wine virtual desktop of its own on this test's display, so that no
        Wine process outlives the test bound to its display; and a driver for that desktop."""
        self.close_driver()
        self.starts += 1
        self.desktop = f"{os.path.basename(self.work)}-{self.starts}"
        win_path = "Z:" + os.path.join(self.work, self.exe_name).replace("/", "\\")
        env = self.env()
        # Wine's error messages go to a file in the working directory, kept when a test fails.
        env.setdefault("WINEDEBUG", "-all,err+all")
        with open(os.path.join(self.work, "wine.log"), "ab") as log:
            self.program = self._spawn("zorven", [self.wine_run, "explorer", f"/desktop={self.desktop},1024x768",
                                                  win_path], cwd=self.work, env=env, stdout=log, stderr=log)
        self.driver = self._spawn("driver", [self.wine_run, self.driver_exe, "--desktop", self.desktop,
                                             "--exe", self.exe_suffix, "serve"],
                                  cwd=self.work, env=self.env(), stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.answers = queue.Queue()

        def pump(out, answers):
            for line in out:
                answers.put(line)
            answers.put(None)
        threading.Thread(target=pump, args=(self.driver.stdout, self.answers), daemon=True).start()
        self.must("wait-dialog", 60)

    def close_driver(self):
        if self.driver and self.driver.poll() is None:
            try:
                self.driver.stdin.write("quit\n")
                self.driver.stdin.flush()
                self.driver.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                pass
        self.driver = None

    def once(self, *words):
        """A driver command that needs no program: the settings in the prefix."""
        r = subprocess.run([self.wine_run, self.driver_exe, "--exe", self.exe_suffix, *words], cwd=self.work,
                           env=self.env(), stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        lines = r.stdout.strip().splitlines()
        check(lines, f"driver gave no answer to {words}: {r.stderr}")
        a = json.loads(lines[-1])
        check(a.get("ok"), f"{' '.join(words)}: {a}")
        return a

    def cmd(self, *words):
        """One command to the driver of the running program; its JSON answer."""
        check(self.driver is not None, "no program running")
        line = " ".join('"%s"' % w if (" " in str(w) or w == "") else str(w) for w in words)
        self.driver.stdin.write(line + "\n")
        self.driver.stdin.flush()
        waits = [float(w) for w in words[1:] if re.fullmatch(r"\d+(\.\d+)?", str(w))]
        try:
            answer = self.answers.get(timeout=60 + (max(waits) if waits else 0))
        except queue.Empty:
            raise Failure(f"driver gave no answer to {line}")
        check(answer is not None, f"driver ended at {line}")
        return json.loads(answer)

    def must(self, *words):
        a = self.cmd(*words)
        check(a.get("ok"), f"{' '.join(map(str, words))}: {a}")
        return a

    def wait_program_exit(self, secs=30):
        """The program's exit code, once it and its desktop have gone."""
        code = self.must("wait-exit", secs)["exit_code"]
        self.close_driver()
        try:
            self.program.wait(timeout=secs)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program's desktop did not close within {secs} s")
        return code

    def stop_printer(self):
        if self.printer and self.printer.poll() is None:
            self.printer.send_signal(signal.SIGTERM)
            try:
                self.printer.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.printer.kill()

    def close(self):
        """Ends what this run started: each process with the group it leads (Wine starts the
        program's desktop and the program in the group of the command that started them)."""
        self.close_driver()
        for name, p in reversed(self.procs):
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(p.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    continue
                time.sleep(0.2)  # the leader is gone; members of its group may still be ending
        if self.made_port:
            self.remove_port()

    # -- checks ---------------------------------------------------------------------------

    def production_log(self):
        path = os.path.join(self.work, "sn_build.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def run_update(self, port=None, speed=None):
        """Chooses port and speed and presses START; returns the time just before."""
        self.must("set-port", port or self.port_name)
        if speed:
            self.must("set-speed", speed)
        started = datetime.datetime.now().replace(microsecond=0)
        self.must("press", "START")
        return started

    def wait_log(self, text, secs):
        a = self.cmd("wait-log", text, secs)
        check(a.get("ok"), f"no log line {text!r} within {secs} s; log: {a.get('log')}")
        return a["log"]

    def idle_state(self):
        self.must("wait-idle", 30)
        s = self.must("state")
        check(s["start_text"] == "START", f"button reads {s['start_text']!r} after the run")
        check(all(s["enabled"].values()), f"controls not all enabled after the run: {s['enabled']}")
        return s

    def check_success(self, started, serial, retries=0):
        """A successful run: the exact log (RETRY lines come between the announce reply's "OK"
        and "WAIT"), full progress, the image received byte for byte, one production log line."""
        self.wait_log("Process finished.", 120)
        s = self.idle_state()
        expected = FULL_LOG[:2] + ["RETRY"] * retries + FULL_LOG[2:]
        check(log_texts(s["log"]) == expected, f"log after a successful update: {s['log']}")
        check(s["progress"] == 100, f"progress {s['progress']} after the last block")
        self.stop_printer()
        with open(self.received, "rb") as f:
            got = f.read()
        check(len(got) == len(self.package.image), f"printer received {len(got)} of {len(self.package.image)} bytes")
        check(got == self.package.image, "received image differs from the package's image")
        line = self.production_log()
        check(line is not None, "no sn_build.txt after a successful update")
        check_production_line(line, serial, self.package.log_tag, started)
        return s

    def check_failed_run(self, expected, last_text, secs=60):
        """A run that ended in a failure: the exact log, idle controls, no production log line."""
        self.wait_log(last_text, secs)
        s = self.idle_state()
        texts = log_texts(s["log"])
        check(texts == expected, f"log {texts}, expected {expected}")
        check(self.production_log() is None, "a failed run wrote a production log line")
        return s

    def screenshot(self, path):
        """The dialog as the screen shows it (the virtual desktop lies at the screen's origin)."""
        left, top, right, bottom = self.must("state")["rect"]
        subprocess.run(["import", "-display", self.display, "-window", "root",
                        "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path],
                       check=True, timeout=60)


# -- scenarios ------------------------------------------------------------------------------

def settings_of(h):
    a = h.once("settings")
    return {k: (a[k]["user"] if a[k]["user"] is not None else a[k]["profile"]) for k in ("Port", "BaudRate")}


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
            with open(os.path.join(h.build, "wineprefix", "drive_c", "windows", "win.ini"), "a") as f:
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
    serial = DEFAULT_SERIAL if h.package.variant in (0, 1, 4) else ""
    h.start_printer(shlex.split(opts.printer_args))
    h.start_program()
    started = h.run_update(speed=opts.speed)
    s = h.check_success(started, serial, retries=opts.retries)
    print("log:", *s["log"], sep="\n  ")
    if opts.screenshot:
        h.screenshot(opts.screenshot)


FAILURES = {
    # name: (printer fault options, the exact log texts, the line that ends the wait)
    "no-communication": (["--silent", "handshake"], ["Start...", "No communication.", ""], "No communication."),
    "no-ok": (["--garbage", "announce"],
              ["Start...", "Bad printer response or timeout.", "GARBAGE", ""], "Bad printer response or timeout."),
    "bad-block-reply": (["--bad-reply-block", "3"], ["Start...", "OK", "BUSY", ""], "BUSY"),
    "no-wait": (["--no-wait"], ["Start...", "OK", "", "Bad printer response.", ""], "Bad printer response."),
}


def scenario_failure(h, opts):
    faults, expected, last = FAILURES[opts.scenario]
    h.start_printer(faults)
    h.start_program()
    h.run_update()
    s = h.check_failed_run(expected, last, secs=60)
    if opts.scenario == "bad-block-reply":
        check(0 < s["progress"] < 100, f"progress {s['progress']} after a failure in the middle")


def scenario_bad_receipt(h, opts):
    """A refused entry frame: "Bad Receipt: " and the hexadecimal dump of the 4 bytes read."""
    h.start_printer(["--refuse-handshake"])
    h.start_program()
    h.run_update()
    h.wait_log("Bad Receipt: ", 60)
    s = h.idle_state()
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
    s = h.check_failed_run(["Start...", "OK", "Process stopped.", ""], "Process stopped.")
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
    box = h.must("wait-errorbox", 30)
    check(box["text"] == "Error opening serial port.", f"error box text {box['text']!r}")
    check(log_texts(h.must("log")["log"]) == ["Start...", "Error opening serial port."],
          "log before the error box is dismissed")
    h.must("dismiss-errorbox")
    check(h.wait_program_exit() == 0, "program exit code after the error box")
    # START passed the package test, so the choice was saved before the port failed.
    check(settings_of(h) == {"Port": h.port_name, "BaudRate": "19200"}, f"saved settings {settings_of(h)}")


def scenario_empty_package(h, opts):
    """START with an empty package: error box, nothing logged or saved, the program ends with 0."""
    h.once("reset-settings")
    h.start_program()
    h.must("press", "START")
    box = h.must("wait-errorbox", 30)
    check(box["text"] == "No data found in file.", f"error box text {box['text']!r}")
    check(h.must("log")["log"] == [], "log lines after START with an empty package")
    h.must("dismiss-errorbox")
    check(h.wait_program_exit() == 0, "program exit code after the error box")
    check(settings_of(h) == {"Port": None, "BaudRate": None}, f"settings saved: {settings_of(h)}")


def scenario_settings(h, opts):
    """The choice made at START is saved and selected at the next start; Cancel saves nothing."""
    h.once("reset-settings")
    h.start_printer()
    h.start_program()
    started = h.run_update(speed="115200")
    h.check_success(started, DEFAULT_SERIAL if h.package.variant in (0, 1, 4) else "")
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


BLOCK_SIZE = 528
# The block replies' timeout is 5 s, counted in whole seconds: a read can wait up to 6 s.
BLOCK_REPLY_WAIT_MAX = 6
EXIT_DISCONNECTED = 3  # the printer's exit code after it closed its line


def scenario_unplugged(h, opts):
    """The printer's line closes in the middle of the image, as when the adapter is pulled out:
    the block's verdict never comes, so the run logs the empty reply line and ends within the
    reply timeout; the port is closed, nothing goes into the production log and the dialog is
    ready again. Then the printer comes back behind the same COM port, and a second START in the
    same dialog finishes the update."""
    blocks = -(-h.package.length // BLOCK_SIZE)
    check(blocks >= 3, f"a package of {blocks} blocks has no middle")
    middle = blocks // 2 + 1
    # Replies a little late, so that the port is seen open while the blocks go out.
    h.start_printer(["--disconnect-at-block", str(middle), "--delay", "200"])
    pty = os.readlink(h.port_path)
    h.start_program()
    wine_pid = find_unix_pid(h.exe_suffix)
    check(wine_pid is not None, "the program's Wine process is not in /proc")
    h.run_update()
    deadline = time.time() + 30
    while not holds_open(wine_pid, pty):
        check(time.time() < deadline, f"the program never opened {pty}")
        time.sleep(0.05)
    try:
        code = h.printer.wait(timeout=60)
    except subprocess.TimeoutExpired:
        raise Failure("the printer did not close its line at the middle block")
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
    check(texts == FULL_LOG, f"log of the second run: {texts}")
    check(s["progress"] == 100, f"progress {s['progress']} after the second run")
    h.stop_printer()
    with open(h.received, "rb") as f:
        check(f.read() == h.package.image, "the image received in the second run differs from the package's")
    line = h.production_log()
    check(line is not None, "no production log line after the second run")
    serial = DEFAULT_SERIAL if h.package.variant in (0, 1, 4) else ""
    check_production_line(line, serial, h.package.log_tag, started)


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
    **{name: scenario_failure for name in FAILURES},
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
    ap.add_argument("scenario", choices=sorted(SCENARIOS))
    opts = ap.parse_args()

    h = Session(opts)
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
            if h.printer_log and not ok:
                print("printer:", *h.printer_log[-20:], sep="\n  ")
            if ok:
                shutil.rmtree(h.work, ignore_errors=True)
            else:
                print("working directory kept:", h.work, "display:", h.display)
    if ok:
        print(f"PASS {opts.scenario}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
