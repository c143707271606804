#!/usr/bin/env python3
"""Writes TESTIcon.ico, the utility's icon: one image, 32 x 32 pixels, 8 bits
per pixel (256-colour palette), a loudspeaker with two sound waves on a blue
disc. Run from anywhere: python3 app/make_icon.py [OUTPUT]."""
import os
import struct
import sys

SIZE = 32
# Palette index -> (blue, green, red); the rest of the 256 entries stay black.
TRANSPARENT, BLUE, WHITE, NAVY, YELLOW = 0, 1, 2, 3, 4
PALETTE = {TRANSPARENT: (0, 0, 0), BLUE: (200, 110, 30), WHITE: (255, 255, 255),
           NAVY: (90, 40, 10), YELLOW: (40, 210, 250)}


def pixel(x, y):
    cx, cy = x - 15.5, y - 15.5
    r2 = cx * cx + cy * cy
    if r2 > 15.5 * 15.5:
        return TRANSPARENT
    if r2 > 14 * 14:
        return NAVY
    # Loudspeaker: a box and a cone opening to the right.
    if 7 <= x <= 11 and 12 <= y <= 19:
        return WHITE
    if 12 <= x <= 17 and abs(y - 15.5) <= 3.5 + (x - 12) * 0.9:
        return WHITE
    # Two sound waves: arcs around the cone's mouth.
    dx, dy = x - 15, y - 15.5
    d2 = dx * dx + dy * dy
    if dx > 0 and abs(dy) < dx * 1.3 and (4.5 * 4.5 <= d2 <= 6 * 6 or 8 * 8 <= d2 <= 9.5 * 9.5):
        return YELLOW
    return BLUE


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "TESTIcon.ico")
    # Rows bottom-up, as in every Windows bitmap.
    rows = [[pixel(x, y) for x in range(SIZE)] for y in reversed(range(SIZE))]
    xor = bytes(v for row in rows for v in row)
    mask = b""
    for row in rows:  # 1 = transparent; rows padded to 4 bytes
        bits = 0
        for x, v in enumerate(row):
            if v == TRANSPARENT:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("<BBBB", *PALETTE.get(i, (0, 0, 0)), 0) for i in range(256))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(mask), 0, 0, 256, 0)
    image = header + palette + xor + mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main()
