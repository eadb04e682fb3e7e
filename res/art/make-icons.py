#!/usr/bin/env python3
"""Render the Corvane icon artwork and write res/corvane.ico and res/icons/*.png.

The artwork is a stylised absolute-encoder code disc: a dark rim, a track of
alternating slots, and a hub carrying a "C". It is described geometrically and
rendered at each size with 4x4 supersampling and a majority vote per pixel, so
every pixel takes exactly one colour of the classic 16-colour palette (no
blending). That keeps the .ico images true 4-bit palette images and makes the
PNGs pixel-identical in colour to them.

Only the standard library is used. Run from anywhere:
    python3 res/art/make-icons.py
"""

import math
import os
import struct
import zlib

# The standard 16-colour palette, in index order (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]
NAVY, TEAL, AQUA, WHITE, YELLOW, RED, MAROON = 4, 6, 14, 15, 11, 9, 1
TRANSPARENT = -1

SLOTS = 8  # slots in the code track (each followed by a bar of equal width)


def art(x, y):
    """Colour index of the artwork at (x, y), both in [-1, 1], y pointing down."""
    r = math.hypot(x, y)
    if r > 0.98:
        return TRANSPARENT
    a = math.atan2(y, x)  # -pi..pi, 0 = right, positive = down
    if r > 0.86:
        return NAVY  # rim
    if r > 0.58:
        # Code track: slots alternate with bars; turned by half a segment so
        # that a bar sits straight to the right, where the C opens.
        seg = (a / (2 * math.pi) * 2 * SLOTS + 0.5) % (2 * SLOTS)
        return AQUA if int(seg) % 2 else NAVY
    if r > 0.50:
        return NAVY  # inner edge of the track
    # Hub: white face with a "C" open to the right.
    if 0.21 < r < 0.42 and abs(a) > math.radians(45):
        return RED
    return WHITE


def render(size, samples=4):
    """Return size x size rows of colour indices (TRANSPARENT for clear)."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(samples):
                for sx in range(samples):
                    x = ((px + (sx + 0.5) / samples) / size) * 2 - 1
                    y = ((py + (sy + 0.5) / samples) / size) * 2 - 1
                    c = art(x, y)
                    votes[c] = votes.get(c, 0) + 1
            # Majority; ties go to the lower index after transparency, so the
            # result does not depend on dictionary order.
            best = max(sorted(votes), key=lambda c: votes[c])
            row.append(best)
        rows.append(row)
    return rows


def ico_image(rows):
    """One 4-bit BMP icon image (header, palette, XOR bitmap, AND mask)."""
    size = len(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for px, c in enumerate(row):
            idx = 0 if c == TRANSPARENT else c
            if px % 2 == 0:
                line[px // 2] |= idx << 4
            else:
                line[px // 2] |= idx
            if c == TRANSPARENT:
                mline[px // 8] |= 0x80 >> (px % 8)
        xor += line
        mask += mline
    header = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0
    )
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def write_ico(path, images):
    count = len(images)
    out = bytearray(struct.pack("<HHH", 0, 1, count))
    offset = 6 + 16 * count
    blobs = []
    for rows in images:
        size = len(rows)
        blob = ico_image(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    for blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


def write_png(path, rows):
    size = len(rows)
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for c in row:
            if c == TRANSPARENT:
                raw += b"\x00\x00\x00\x00"
            else:
                raw += bytes(PALETTE[c]) + b"\xff"

    def chunk(kind, data):
        return (
            struct.pack(">I", len(data))
            + kind
            + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
        )

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    res = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    icons = os.path.join(res, "icons")
    os.makedirs(icons, exist_ok=True)
    rendered = {size: render(size) for size in (16, 32, 48)}
    write_ico(os.path.join(res, "corvane.ico"), [rendered[32], rendered[16]])
    for size, rows in rendered.items():
        write_png(os.path.join(icons, "corvane-%d.png" % size), rows)


if __name__ == "__main__":
    main()
