"""The virtual printer (zorven-printer) on a pty of its own.

Its files live in the caller's working directory under one name: NAME.bin receives each image,
NAME.summary.json the figures of every update (the printer's --summary), NAME.err its event lines. A
printer started here is ended here, by its process.
"""

import json
import os
import select
import signal
import subprocess
import time

from .checks import Failure, check

DEFAULT_SERIAL = "ZP-000001"
EXIT_DISCONNECTED = 3  # the printer's exit code after it closed its line
START_LIMIT_S = 20


class Printer:
    def __init__(self, program, work, name="printer", args=(), link=None, once=False):
        """Starts `program` with `args`; `link` (a port path) is made to lead to its pty, `once`
        ends it after one update."""
        self.out = os.path.join(work, name + ".bin")
        self.summary_path = os.path.join(work, name + ".summary.json")
        self.err_path = os.path.join(work, name + ".err")
        for path in (self.out, self.summary_path):
            if os.path.exists(path):
                os.unlink(path)
        argv = [program, "--out", self.out, "--summary", self.summary_path]
        if link:
            argv += ["--link", link]
        if once:
            argv.append("--once")
        with open(self.err_path, "w") as err:
            self.proc = subprocess.Popen(argv + list(args), stdout=subprocess.PIPE, stderr=err)
        self.pty = self._read_pty()
        check(not link or os.path.islink(link), f"printer made no link {link}: {self.tail()}")

    def _read_pty(self):
        got, deadline = b"", time.monotonic() + START_LIMIT_S
        fd = self.proc.stdout.fileno()
        while not got.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready = select.select([fd], [], [], max(0.0, left))[0] if left > 0 else []
            chunk = os.read(fd, 256) if ready else b""
            if not chunk:
                self.stop()
                raise Failure(f"printer did not report its pty: {got!r} {self.tail()}")
            got += chunk
        line = got.decode()
        check(line.startswith("PTY "), f"printer did not report its pty: {line!r}")
        return line.split()[1]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()

    def wait_exit(self, limit=20):
        """The exit code, or None if the printer is still running after `limit` seconds."""
        try:
            return self.proc.wait(limit)
        except subprocess.TimeoutExpired:
            return None

    def stderr_text(self):
        with open(self.err_path, errors="replace") as f:
            return f.read()

    def tail(self, n=20):
        return "\n  ".join(["printer:"] + self.stderr_text().splitlines()[-n:])

    def image(self):
        """The last image received whole, or None."""
        if not os.path.exists(self.out):
            return None
        with open(self.out, "rb") as f:
            return f.read()

    def updates(self):
        """The figures of every update served so far (the printer rewrites the file whole)."""
        if not os.path.exists(self.summary_path):
            return []
        with open(self.summary_path) as f:
            return json.load(f)["updates"]

    def printers(self):
        """With --serials: every printer of the line in order, each with its serial, state
        ("waiting", "on", "off"), outcome, attempts, bytes, blocks and retries."""
        if not os.path.exists(self.summary_path):
            return []
        with open(self.summary_path) as f:
            return json.load(f).get("printers", [])

    def wait_printer(self, number, limit, state="off"):
        """Printer `number` (from 1) of the line once it is in `state`."""
        deadline = time.monotonic() + limit
        while True:
            printers = self.printers()
            if len(printers) >= number and printers[number - 1]["state"] == state:
                return printers[number - 1]
            check(time.monotonic() < deadline, f"printer {number} of the line was not {state} within {limit} s")
            check(self.proc.poll() is None, f"the printer ended before printer {number} was {state}: {self.tail()}")
            time.sleep(0.05)

    def wait_update(self, limit, count=1):
        """The figures of update number `count` once the printer has ended it."""
        deadline = time.monotonic() + limit
        while len(self.updates()) < count:
            check(time.monotonic() < deadline, f"the printer reported no update within {limit} s")
            check(self.proc.poll() is None or len(self.updates()) >= count,
                  f"the printer ended without reporting an update: {self.tail()}")
            time.sleep(0.05)
        return self.updates()[count - 1]
