"""The paced line and the bytes of one update on it: the wire-time limit every figure is set beside."""

BAUD = 115200
BITS_PER_BYTE = 10           # start bit, 8 data bits, stop bit: 8N1
BLOCK = 528                  # block size limit of the transfer
CRC_BYTES = 2
VERDICT = len("OK\r\n")      # the printer's reply to every accepted block
CLOSING = len("WAIT\r\n")
FRAMED_OVERHEAD = 7          # STX, length byte, two command/status characters, two checksum characters, LF
MODEL = "VIRTUAL"            # the printer's identification reply is "<serial>;VIRTUAL"
USB_LATENCIES_MS = (16, 1)   # an FTDI adapter's default latency timer, and the lowest it takes


def wire_bytes(pkg, serial):
    """Every byte of one update, both directions, with the printer answering at once.

    identification query (variants 0, 1, 4): 7 bytes out, a framed reply of "<serial>;VIRTUAL" back
    entry handshake: the variant's frames and the printer's framed status
    announce line "<version>;<length>;528;\\r\\n" and its "OK\\r\\n"
    each block: its bytes, 2 CRC bytes, "OK\\r\\n"; at the end "WAIT\\r\\n"
    """
    n = 0
    if pkg.variant in (0, 1, 4):
        n += 7 + FRAMED_OVERHEAD + len(serial) + 1 + len(MODEL)
        n += 13 + FRAMED_OVERHEAD                      # common entry frame, status reply
    elif pkg.variant == 2:
        n += 4 + 1 + 12 + (FRAMED_OVERHEAD + 7) + 1   # wake-up, ACK, frame, 14-byte reply, ACK
    elif pkg.variant == 3:
        n += (1 + 1 + 22) if pkg.scramble else 20       # probe and answer, scrambled or plain frame
        n += FRAMED_OVERHEAD
    n += len(pkg.version) + len(str(pkg.length)) + len(str(BLOCK)) + 5 + VERDICT
    full, last = divmod(pkg.length, BLOCK)
    n += full * (BLOCK + CRC_BYTES + VERDICT)
    if last:
        n += last + CRC_BYTES + VERDICT
    return n + CLOSING


def wire_limit(total_bytes, baud=BAUD):
    """Seconds the given bytes take on the paced line: the wire-time limit."""
    return total_bytes * BITS_PER_BYTE / baud


def block_count(pkg):
    """Blocks of the package's image, the last one short."""
    return -(-pkg.length // BLOCK)
