#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (tests/fuzz/corpus/<target>/<seed>).

Each seed is one meaningful exchange in the line encoding of fuzz_line.h, behind the header bytes
its target reads first. Run it again after changing a seed here; the files are kept in the
repository so that the fuzz tests need nothing but the build.
"""
import os
import struct
import sys

# Line operations (fuzz_line.h).
def data(b):
    if isinstance(b, str):
        b = b.encode("latin-1")
    out = bytearray()
    while b:
        chunk, b = b[:8192], b[8192:]
        if len(chunk) <= 128:
            out += bytes([len(chunk) - 1]) + chunk
        else:
            n = len(chunk) - 1
            out += bytes([0xE0 | (n >> 8), n & 0xFF]) + chunk
    return bytes(out)

def idle(k=1):
    assert 1 <= k <= 32
    return bytes([0x80 + k - 1])

def fail(k=1):
    assert 1 <= k <= 32
    return bytes([0xA0 + k - 1])

STOP, CANCEL, WRITE_FAILS, WRITE_SHORT = b"\xC0", b"\xC1", b"\xC2", b"\xC3"

def query_reply(text):
    """A framed reply to the identification query carrying `text`."""
    return "\x02" + chr(0x23 + len(text)) + "00" + text + "00\n"

ACCEPTED = "\x02\x23" "00" "23\n"  # the common handshake's accepted reply
REFUSED = "\x02\x23" "01" "22\n"
VARIANT2_REPLY = "\x02\x23" "00" "abcdefg" "23\n"  # 14 bytes

def run_choice(variant, scrambled=False, length=1100, speed=0):
    """The update-run target's header byte."""
    v = 7 if variant == 255 else variant
    size = {1100: 0, 528: 1, 99: 2, 1: 3}[length]
    return bytes([v | (8 if scrambled else 0) | size << 4 | (speed + 1) << 6])

def record(variant=4, flag=1, presence=507904, length=1000, version=b"ZORVEN SAMPLE FIRMWARE 1.0.0",
           code=b"ZV4711", tag=b"ZORVEN-SAMPLE", clock=b"\x0d\x0c\x0a\x09\x05\x07"):
    head = struct.pack("<II16siIB", 0x5A3C91E7, flag, bytes(16), presence, length, variant)
    head += version.ljust(256, b"\0")[:256]
    tail = code + tag.ljust(129, b"\0")[:129]
    image = bytes((i * 7) & 0xFF for i in range(64))
    return head + tail + image + clock

SEEDS = {
    "line_read": {
        # timeout, buffer (0: the 1024-byte reply buffer), operations
        "ok-then-retry": b"\x05\x00" + data("OK\r\n") + data("RETRY\r\n"),
        "cr-waits-out-the-timeout": b"\x0a\x00" + data("WAIT\r") + idle(12) + data("OK\n"),
        "cut-by-timeout": b"\x05\x00" + data("O") + idle(6) + data("K\r\n"),
        "failed-request": b"\x05\x00" + data("RET") + fail() + data("OKAY\r\n"),
        "over-long-line": b"\x05\x00" + data("X" * 1500 + "\r\n") + data("OK\r\n"),
        "small-buffer": b"\x05\x84" + data("RETRY\r\n") + data("O\rK"),
    },
    "block_read": {
        # timeout, the two sizes, operations
        "reply-start-and-end": b"\x05\x04\x03" + data("\x02\x23" "00") + data("23\n"),
        "lf-runs-the-count-ahead": b"\x05\x04\x0e" + data("A\nB") + data("0123456\n"),
        "failed-request": b"\x05\x04\x04" + fail() + data("\x02\x23" "00"),
        "stop-while-silent": b"\x05\x0e\x01" + idle(2) + STOP + idle(3) + data("\x06"),
        "nothing-wanted": b"\x05\x00\x01" + data("\x06"),
        "timeout-then-more": b"\x03\xdc\x04" + data("12345") + idle(5) + data("\x02\x23" "00"),
    },
    "identification_query": {
        # variant, operations
        "serial-number": b"\x04" + data(query_reply("A1B2C3;rest")),
        "control-bytes-and-two-fields": b"\x00" + data(query_reply("SN\x01\x7f-77;A;B")),
        "longest-data": b"\x01" + data("\x02\xff" "00" + "9" * 218 + ";x" + "00\n"),
        "no-query-in-variant-2": b"\x02" + data(query_reply("A1B2C3;rest")),
        "no-separator": b"\x04" + data(query_reply("NOSEPARATOR")),
        "silent": b"\x04",
        "bad-start": b"\x04" + data("\x06\x23" "00;;;;"),
    },
    "entry_handshake": {
        # variant, scramble flag (0, 1, 0x80000000, 0xFFFFFFFF), operations
        "common-v0": b"\x00\x00" + data(ACCEPTED),
        "common-v1": b"\x01\x01" + data(ACCEPTED),
        "common-v4-refused": b"\x04\x01" + data(REFUSED),
        "v2-accepted": b"\x02\x00" + data("\x06") + data(VARIANT2_REPLY),
        "v2-no-ack": b"\x02\x01" + data("\x15"),
        "v3-scrambled": b"\x03\x01" + data("\x11") + data(ACCEPTED),
        "v3-scrambled-retry": b"\x03\x02" + data("\x11") + data(REFUSED) + data(ACCEPTED),
        "v3-plain-refused-twice": b"\x03\x00" + data(REFUSED) + data(REFUSED),
        # A failed request completes the first reply read with zeros: refused, though the bytes
        # that come later hold '0' '0' where the status would be.
        "v3-failed-request-then-retry": b"\x03\x00" + data("\xce") + fail() + data("\x13" "00")
        + data(ACCEPTED),
        "v5-invalid": b"\x05\x01" + data(ACCEPTED),
        "v255-invalid": b"\x07\x03" + data(ACCEPTED),
        "v4-stop-while-waiting": b"\x04\x01" + idle(2) + STOP + idle(3) + data(ACCEPTED),
    },
    "update_run": {
        # package choice, operations; the "finished-" seeds must end with "Process finished."
        "finished-v4-retry": run_choice(4, True, 1100) + data(query_reply("A1B2C3;rest")) + data(ACCEPTED)
        + data("OK\r\n") + data("OK\r\n") + data("RETRY\r\n") + data("OK\r\n") + data("OK\r\nWAIT\r\n"),
        "finished-v0-no-query-reply": run_choice(0, False, 528, speed=2) + idle() + data(ACCEPTED)
        + data("OK\r\n") + data("OK\r\n") + idle(7) + data("WAIT\r\n"),
        "finished-v2": run_choice(2, False, 528) + data("\x06") + data(VARIANT2_REPLY) + data("OK\r\n")
        + data("OK\r\nWAIT\r\n"),
        "finished-v3-scrambled": run_choice(3, True, 99) + data("\x11") + data(ACCEPTED) + data("OKAY\r\n")
        + data("OK\r\n") + data("WAIT\r\n"),
        "finished-v3-retry-frame": run_choice(3, False, 1, speed=-1) + data(REFUSED) + data(ACCEPTED)
        + data("OK\n") + data("OK\n") + data("WAIT\n"),
        "stop-between-blocks": run_choice(4, False, 1100) + data(query_reply("SN-9;x")) + data(ACCEPTED)
        + data("OK\r\n") + STOP + data("OK\r\n") + data("OK\r\n"),
        "cancel-during-query": run_choice(1, False, 528) + CANCEL + idle() + data(ACCEPTED) + data("OK\r\n")
        + data("OK\r\nWAIT\r\n"),
        "block-write-fails": run_choice(4, True, 528) + data(query_reply("SN;")) + data(ACCEPTED)
        + data("OK\r\n") + WRITE_FAILS + data("OK\r\nWAIT\r\n"),
        "no-block-verdict": run_choice(4, True, 1100) + data(query_reply("SN;")) + data(ACCEPTED)
        + data("OK\r\n") + idle(6),
        "bad-closing-reply": run_choice(4, True, 528) + data(query_reply("SN;")) + data(ACCEPTED)
        + data("OK\r\n") + data("OK\r\nWAIX\r\n"),
        "silent-printer": run_choice(4, True, 528),
    },
    "package_record": {
        # record head, access code and log tag, image start, clock bytes
        "sample-package": record(),
        "empty-package": record(presence=-1),
        "image-too-long": record(length=0xA0001, flag=0),
        "unterminated-texts": record(version=b"V" * 256, tag=b"T" * 129),
        "excluded-bytes-in-code": record(code=b"\x02\x0a\x11;\x00\x7f", flag=7,
                                         clock=b"\x80\x7f\xff\x00\x9c\x64"),
    },
}

def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for target, seeds in SEEDS.items():
        folder = os.path.join(root, target)
        os.makedirs(folder, exist_ok=True)
        for name, content in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
    return 0

if __name__ == "__main__":
    sys.exit(main())
