#!/usr/bin/env python3
"""Draws the application icon, ui/vaultine.ico: a 32 x 32 and a 16 x 16 image
of a vault door with a gold keyhole. Run it again after changing the drawing."""

import struct
import sys

NAVY = (32, 52, 96)
STEEL = (120, 140, 170)
GOLD = (236, 186, 48)
DARK = (16, 20, 32)


def pixel(size, x, y):
    """The colour at (x, y) of a size x size icon, or None where transparent."""
    s = size / 32.0
    cx = cy = (size - 1) / 2.0
    dx, dy = (x - cx) / s, (y - cy) / s
    # A rounded square door with a steel rim.
    edge = max(abs(dx), abs(dy))
    corner = (abs(dx) > 12 and abs(dy) > 12 and (abs(dx) - 12) ** 2 + (abs(dy) - 12) ** 2 > 9)
    if edge > 15.5 or corner:
        return None
    if edge > 13.5:
        return STEEL
    # The keyhole: a round head over a tapering slot.
    if dx * dx + (dy + 3) ** 2 <= 20:
        return DARK if dx * dx + (dy + 3) ** 2 <= 6 else GOLD
    if -1 <= dy <= 8 and abs(dx) <= 1.5 + (dy + 1) * 0.25:
        return DARK if abs(dx) <= 0.8 + (dy + 1) * 0.15 and dy < 7 else GOLD
    return NAVY


def image(size):
    rows = []
    mask_rows = []
    for y in reversed(range(size)):  # bitmaps are stored bottom row first
        row = b""
        bits = 0
        mask = b""
        for x in range(size):
            colour = pixel(size, x, y)
            if colour is None:
                row += bytes((0, 0, 0, 0))
                bits |= 0x80 >> (x % 8)
            else:
                r, g, b = colour
                row += bytes((b, g, r, 255))
            if x % 8 == 7:
                mask += bytes((bits,))
                bits = 0
        mask += b"\0" * ((4 - len(mask) % 4) % 4)
        rows.append(row)
        mask_rows.append(mask)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"".join(mask_rows)


def main(path):
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "ui/vaultine.ico")
