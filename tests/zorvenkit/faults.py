"""The printer's faults and what each leaves in the dialog's log.

fault_table(blocks) gives, for an image of `blocks` blocks, every fault as
(name, printer options, expected log texts, finished?, serial in the production log or None).
A fault that strikes a block strikes the middle one. `serial` is the one the printer gives when it
is asked; a fault at the identification query leaves the field empty.
"""

from .logs import START_LOG, finished_log
from .printer import DEFAULT_SERIAL


def fault_table(blocks):
    mid = blocks // 2 + 1
    # A storm: three RETRYs for each of about ten blocks (every block of a small image); and a
    # few single RETRYs. Each RETRY is a log line, which a full image would otherwise turn into
    # thousands.
    storm, storm_every = 3, max(1, blocks // 10)
    some_every = 3 if blocks < 30 else blocks // 3
    failed = lambda *texts: [START_LOG, *texts, ""]
    return [
        ("none", [], finished_log(), True, DEFAULT_SERIAL),
        ("retry-storm", ["--retry-every", str(storm_every), "--retry-times", str(storm)],
         finished_log(storm * (blocks // storm_every)), True, DEFAULT_SERIAL),
        ("garbage-query", ["--garbage", "query"], finished_log(), True, ""),
        ("garbage-handshake", ["--garbage", "handshake"], failed("Bad Receipt: ", "0x47 0x41 0x52 0x42 "), False, None),
        ("garbage-announce", ["--garbage", "announce"], failed("Bad printer response or timeout.", "GARBAGE"),
         False, None),
        ("garbage-block", ["--garbage", f"block:{mid}"], failed("OK", "GARBAGE"), False, None),
        ("garbage-wait", ["--garbage", "wait"], failed("OK", "GARBAGE", "Bad printer response."), False, None),
        ("refused-handshake", ["--refuse-handshake"], failed("Bad Receipt: ", "0x02 0x23 0x30 0x31 "), False, None),
        ("bad-block-verdict", ["--bad-reply-block", str(mid)], failed("OK", "BUSY"), False, None),
        ("retry-some", ["--retry-every", str(some_every)], finished_log(blocks // some_every), True, DEFAULT_SERIAL),
        ("silent-query", ["--silent", "query"], finished_log(), True, ""),
        ("silent-handshake", ["--silent", "handshake"], failed("No communication."), False, None),
        ("silent-announce", ["--silent", "announce"], failed("Bad printer response or timeout.", ""), False, None),
        ("silent-block", ["--silent", f"block:{mid}"], failed("OK", ""), False, None),
        ("silent-wait", ["--silent", "wait"], failed("OK", "", "Bad printer response."), False, None),
        ("no-wait", ["--no-wait"], failed("OK", "", "Bad printer response."), False, None),
        ("disconnect", ["--disconnect-at-block", str(mid)], failed("OK", ""), False, None),
    ]


def fault(name, blocks):
    return next(f for f in fault_table(blocks) if f[0] == name)


def last_text(expected):
    """The last non-empty log text: once it is shown, the run has ended."""
    return [t for t in expected if t][-1]
