"""zorven-cli as a station runs it: Ctrl-C in the middle of a transfer."""

import signal
import subprocess
import time

from .checks import Failure, check

STOP_LIMIT_S = 60


def interrupt_in_transfer(cli, under_way, start_limit, run_on_s=2, sig=signal.SIGINT):
    """Reads the output of the running `cli` (text pipes) up to the line `under_way(line)` accepts,
    lets the transfer run on for `run_on_s` seconds, and sends `sig` (SIGINT, as Ctrl-C does).
    Returns (the whole output, stderr) once the program has ended."""
    deadline = time.monotonic() + start_limit
    lines = []
    while time.monotonic() < deadline:
        line = cli.stdout.readline()
        if not line:
            break
        lines.append(line)
        if under_way(line):
            break
    check(lines and under_way(lines[-1]), "transfer did not start: %r" % lines)
    time.sleep(run_on_s)
    cli.send_signal(sig)
    try:
        rest, err = cli.communicate(timeout=STOP_LIMIT_S)
    except subprocess.TimeoutExpired:
        cli.kill()
        cli.communicate()
        raise Failure("no exit after %s" % signal.Signals(sig).name)
    return "".join(lines) + rest, err
