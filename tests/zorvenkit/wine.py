"""A Wine session in a build tree: its prefix (through the tree's wine-run.sh), the COM port paths
that lead to a printer's pty, an Xvfb display, and programs started and ended in it.

The tree's prefix maps COM5 to COM12 to the paths ports/COM5 ... ; a session points its port at a
virtual printer's pty (or at a directory, to make the port unopenable). A dialog program is
started in a Wine virtual desktop of its own on the session's display, so that no Wine process
outlives the session bound to that display, and is driven by zorven-driver.exe through window
messages. Everything a session starts it ends again, by process id, with its port link.
"""

import datetime
import json
import os
import queue
import re
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from .checks import Failure, check
from .printer import DEFAULT_SERIAL, Printer
from .record import Package

XVFB_LIMIT_S = 30


class Session:
    def __init__(self, build_dir, com, program=None, package=None, printer=None, work=None):
        """`program`: a dialog or console .exe, copied into the working directory where it writes
        sn_build.txt; `package`: the record it carries, which the printer is set up to match;
        `printer`: the virtual printer program (default: the tree's host tool); `work`: the
        working directory (default: a fresh temporary one)."""
        self.build = os.path.abspath(build_dir)
        self.wine_run = os.path.join(self.build, "wine-run.sh")
        self.prefix = os.path.join(self.build, "wineprefix")
        self.driver_exe = os.path.join(self.build, "tests", "e2e", "zorven-driver.exe")
        self.printer_exe = printer or os.path.join(self.build, "host", "tools", "zorven-printer")
        self.port_name = f"COM{com}"
        self.port_path = os.path.join(self.build, "ports", self.port_name)
        self.package = Package(package) if package else None
        if work:
            shutil.rmtree(work, ignore_errors=True)
            os.makedirs(work)
            self.work = work
        else:
            self.work = tempfile.mkdtemp(prefix="zorven-e2e-")
        self.exe_name = self.exe_suffix = None
        if program:
            self.exe_name = os.path.basename(program)
            shutil.copy(program, os.path.join(self.work, self.exe_name))
            # The driver finds the program's windows by the end of its executable's path.
            self.exe_suffix = "\\" + os.path.basename(self.work) + "\\" + self.exe_name
        self.procs = []  # (name, Popen) of everything started here but printers, ended in reverse order
        self.printer = self.program = self.driver = None
        self.display = None
        self.made_port = False
        self.starts = 0

    # -- processes ------------------------------------------------------------------------

    def spawn(self, name, argv, **kw):
        """A process of this session, in a group of its own that close() ends."""
        p = subprocess.Popen(argv, start_new_session=True, **kw)
        self.procs.append((name, p))
        return p

    def env(self):
        e = dict(os.environ)
        if self.display:
            e["DISPLAY"] = self.display
        return e

    def run_console(self, argv, timeout, **kw):
        """A console program under Wine in the working directory, to its end."""
        return subprocess.run([self.wine_run, *argv], cwd=self.work, env=self.env(), timeout=timeout, **kw)

    def start_xvfb(self):
        r, w = os.pipe()
        self.spawn("Xvfb", ["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                            "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        # Read up to the newline: Xvfb writes the number and the newline separately, and ends
        # with a fatal error when the second write finds the pipe closed.
        got = b""
        deadline = time.time() + XVFB_LIMIT_S
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

    # -- the printer behind the session's port --------------------------------------------

    def start_printer(self, extra=(), serial=DEFAULT_SERIAL):
        """A fresh virtual printer (the one before it ended) on a pty that the port path leads
        to; set up for the session's package when there is one."""
        self.stop_printer()
        self.remove_port()
        os.makedirs(os.path.dirname(self.port_path), exist_ok=True)
        args = ["--serial", serial, *(self.package.printer_args() if self.package else []), *extra]
        self.made_port = True
        self.printer = Printer(self.printer_exe, self.work, "printer", args, link=self.port_path)
        self.received = self.printer.out
        return self.printer

    def stop_printer(self):
        if self.printer:
            self.printer.stop()

    def point_port_at(self, path):
        """The port leads to `path`, a pty this caller plays the far end of."""
        self.remove_port()
        os.makedirs(os.path.dirname(self.port_path), exist_ok=True)
        os.symlink(path, self.port_path)
        self.made_port = True

    def point_port_at_directory(self):
        self.remove_port()
        os.makedirs(self.port_path)
        self.made_port = True

    def remove_port(self):
        if os.path.islink(self.port_path) or os.path.isfile(self.port_path):
            os.unlink(self.port_path)
        elif os.path.isdir(self.port_path):
            shutil.rmtree(self.port_path)

    # -- the dialog program and its driver ------------------------------------------------

    def new_desktop(self):
        self.starts += 1
        return f"{os.path.basename(self.work)}-{self.starts}"

    def wine_log(self, name):
        """The environment and log file of a Wine process of this session: Wine's error messages
        go to NAME.log in the working directory, kept when a test fails."""
        env = self.env()
        env.setdefault("WINEDEBUG", "-all,err+all")
        return env, open(os.path.join(self.work, name + ".log"), "ab")

    def launch(self, desktop):
        """The program in the Wine virtual desktop `desktop` (its messages in wine.log)."""
        win_path = "Z:" + os.path.join(self.work, self.exe_name).replace("/", "\\")
        env, log = self.wine_log("wine")
        with log:
            self.program = self.spawn("zorven", [self.wine_run, "explorer", f"/desktop={desktop},1024x768", win_path],
                                      cwd=self.work, env=env, stdout=log, stderr=log)
        return self.program

    def start_driver(self, desktop, *words, stdin=subprocess.PIPE):
        """zorven-driver.exe for the program's windows on `desktop`, its answers on a text pipe
        (its messages in driver.log)."""
        env, log = self.wine_log("driver")
        with log:
            return self.spawn("driver", [self.wine_run, self.driver_exe, "--desktop", desktop, "--exe",
                                         self.exe_suffix, *words], cwd=self.work, env=env, stdin=stdin,
                              stdout=subprocess.PIPE, stderr=log, text=True, bufsize=1)

    def start_program(self):
        """The program on a desktop of its own, and a driver that serves commands for it."""
        self.close_driver()
        desktop = self.new_desktop()
        self.launch(desktop)
        self.driver = self.start_driver(desktop, "serve")
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
        r = self.run_console([self.driver_exe, "--exe", self.exe_suffix, *words], 120, stdin=subprocess.DEVNULL,
                             capture_output=True, text=True)
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
        if answer is None:
            program = self.exit_status(self.program) if self.program else "not started"
            raise Failure(f"driver ended at {line}: {self.exit_status(self.driver)}; the program: {program}")
        return json.loads(answer)

    @staticmethod
    def exit_status(proc):
        """How a process of the session ended, as far as Linux tells (it is given a few seconds)."""
        try:
            code = proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            return "still running"
        if code < 0:
            return f"killed by {signal.Signals(-code).name}"
        return f"exit status {code}"

    def must(self, *words):
        a = self.cmd(*words)
        check(a.get("ok"), f"{' '.join(map(str, words))}: {a}")
        return a

    def run_update(self, port=None, speed=None):
        """Chooses port and speed and presses START; returns the time just before."""
        self.must("set-port", port or self.port_name)
        if speed:
            self.must("set-speed", speed)
        started = datetime.datetime.now().replace(microsecond=0)
        self.must("press", "START")
        return started

    def wait_program_exit(self, secs=30):
        """The program's exit code, once it and its desktop have gone."""
        code = self.must("wait-exit", secs)["exit_code"]
        self.close_driver()
        try:
            self.program.wait(timeout=secs)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program's desktop did not close within {secs} s")
        return code

    def production_log(self):
        path = os.path.join(self.work, "sn_build.txt")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def screenshot(self, path):
        """The dialog as the screen shows it (the virtual desktop lies at the screen's origin)."""
        left, top, right, bottom = self.must("state")["rect"]
        subprocess.run(["import", "-display", self.display, "-window", "root",
                        "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path],
                       check=True, timeout=60)

    def close(self):
        """Ends what this session started: the printer, and each process with the group it leads
        (Wine starts the program's desktop and the program in the group of the command that
        started them)."""
        self.close_driver()
        self.stop_printer()
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
