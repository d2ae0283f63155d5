#!/usr/bin/env python3
"""Writes the program's icon for the freedesktop icon theme: OUTDIR/<size>x<size>/apps/NAME.png.

    make_icons.py OUTDIR NAME SIZE...

The shield and tick are the Windows icon's (window/win32/make_icon.py draws them); here each
pixel is the average of 4 x 4 samples, so that the larger sizes have smooth edges.
"""
import os
import struct
import sys
import zlib

sys.dont_write_bytecode = True  # nothing left in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window", "win32"))
from make_icon import pixel  # noqa: E402

SAMPLES = 4


def rgba(size):
    rows = []
    for y in range(size):
        row = bytearray([0])  # PNG filter type 0 for the row
        for x in range(size):
            r = g = b = covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = pixel((x + (sx + 0.5) / SAMPLES) / size,
                                   (y + (sy + 0.5) / SAMPLES) / size, size)
                    if colour is not None:
                        r, g, b, covered = r + colour[0], g + colour[1], b + colour[2], covered + 1
            if covered:
                row += bytes((r // covered, g // covered, b // covered,
                              covered * 255 // (SAMPLES * SAMPLES)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png(size):
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rgba(size), 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) < 4:
        sys.exit("usage: make_icons.py OUTDIR NAME SIZE...")
    out, name = sys.argv[1], sys.argv[2]
    for size in map(int, sys.argv[3:]):
        folder = os.path.join(out, f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name + ".png"), "wb") as f:
            f.write(png(size))


if __name__ == "__main__":
    main()
