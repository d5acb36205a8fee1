"""The firmware package record as the build wrote it, and the printer that matches it."""

from .checks import check

# Offsets in the record.
REC_SCRAMBLE, REC_PRESENCE, REC_LENGTH, REC_VARIANT = 4, 24, 28, 32
REC_VERSION, REC_IMAGE, REC_ACCESS, REC_TAG = 33, 289, 655649, 655655
REC_SIZE = 655784
BLOCK_SIZE = 528  # the transfer's block size


def cstr(b):
    return b.split(b"\0", 1)[0].decode("latin-1")


class Package:
    """The record a program carries."""

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

    @property
    def blocks(self):
        return -(-self.length // BLOCK_SIZE)

    @property
    def asks_serial(self):
        """Variants 0, 1 and 4 ask the printer for its serial number; 2 and 3 do not."""
        return self.variant in (0, 1, 4)

    def printer_args(self):
        """The printer that matches this package, and checks the announce line against it."""
        args = ["--variant", str(self.variant), "--scramble", "1" if self.scramble else "0",
                "--access-code", self.access_code, "--image-length", str(self.length)]
        return args + (["--version", self.version] if self.version else [])
