#!/usr/bin/env python3
"""Writes the program's icon: three 16 x 16 images (16 colours, 256 colours, 32-bit colour with
alpha) of a printer with a down arrow, in one .ico file. Standard library only; the output depends
on nothing but this script, so the committed icon can be remade byte for byte.

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 16

# One character per pixel, top row first. '.' is transparent.
ART = [
    "................",
    "....WWWWWWWW....",
    "....WGGGGGGW....",
    "....WWWGGWWW....",
    "....WWWGGWWW....",
    "..KKKGGGGGGKKK..",
    ".KDDDDGGGGDDDDK.",
    ".KDDDDDGGDDDDDK.",
    ".KDDDDDDDDDDBDK.",
    ".KDDDDDDDDDDDDK.",
    ".KLLLLLLLLLLLLK.",
    ".KLKKKKKKKKKKLK.",
    ".KLKWWWWWWWWKLK.",
    "..KKWWWWWWWWKK..",
    "....WWWWWWWW....",
    "................",
]

# Colours as (red, green, blue); every one of them is in the standard 16-colour palette, so the
# 4-bit image shows the same picture as the others.
COLOURS = {
    "K": (0x00, 0x00, 0x00),  # outline
    "D": (0x80, 0x80, 0x80),  # body
    "L": (0xC0, 0xC0, 0xC0),  # paper slot
    "W": (0xFF, 0xFF, 0xFF),  # paper
    "G": (0x00, 0x80, 0x00),  # arrow
    "B": (0x00, 0xFF, 0x00),  # power lamp
}

VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def palette_256():
    # The 16 standard colours first, then a 6 x 6 x 6 colour cube and a grey ramp.
    pal = list(VGA16)
    steps = [0x00, 0x33, 0x66, 0x99, 0xCC, 0xFF]
    for r in steps:
        for g in steps:
            for b in steps:
                pal.append((r, g, b))
    while len(pal) < 256:
        level = 8 + (len(pal) - 232) * 10
        pal.append((level, level, level))
    return pal[:256]


def pixel(x, y):
    """The colour at (x, y) counted from the top, or None when transparent."""
    ch = ART[y][x]
    return None if ch == "." else COLOURS[ch]


def and_mask():
    # One bit per pixel, 1 = transparent, rows bottom-up, each padded to 32 bits.
    out = bytearray()
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            if pixel(x, y) is None:
                bits |= 1 << (15 - x)
        out += struct.pack(">H", bits) + b"\0\0"
    return bytes(out)


def info_header(bit_count, colours_used):
    # The height counts the colour image and the mask together.
    return struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bit_count, 0, 0, 0, 0, colours_used, 0)


def paletted_image(bit_count, palette):
    index = {c: i for i, c in reversed(list(enumerate(palette)))}
    pal = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in palette)
    rows = bytearray()
    for y in reversed(range(SIZE)):
        values = [index[pixel(x, y) or (0, 0, 0)] for x in range(SIZE)]
        if bit_count == 4:
            row = bytes((values[i] << 4) | values[i + 1] for i in range(0, SIZE, 2))
        else:
            row = bytes(values)
        rows += row + b"\0" * ((-len(row)) % 4)
    return info_header(bit_count, len(palette)) + pal + bytes(rows) + and_mask()


def true_colour_image():
    rows = bytearray()
    for y in reversed(range(SIZE)):
        for x in range(SIZE):
            c = pixel(x, y)
            rows += b"\0\0\0\0" if c is None else struct.pack("BBBB", c[2], c[1], c[0], 0xFF)
    return info_header(32, 0) + bytes(rows) + and_mask()


def icon_file():
    images = [
        (16, 4, paletted_image(4, VGA16)),
        (0, 8, paletted_image(8, palette_256())),
        (0, 32, true_colour_image()),
    ]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    data = b""
    for colour_count, bit_count, image in images:
        entries += struct.pack("<BBBBHHII", SIZE, SIZE, colour_count, 0, 1, bit_count, len(image), offset)
        offset += len(image)
        data += image
    return header + entries + data


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    for row in ART:
        assert len(row) == SIZE
    with open(sys.argv[1], "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
