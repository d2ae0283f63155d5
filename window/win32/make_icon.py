#!/usr/bin/env python3
"""Writes quelix_remover.ico: a green shield with a white tick, at 16, 32 and 48 pixels.

Run from anywhere: python3 window/win32/make_icon.py. The icon is committed; run this only to
change it.
"""
import os
import struct

SIZES = (16, 32, 48)
GREEN = (0x2E, 0x8B, 0x3C)
DARK = (0x1B, 0x5E, 0x27)
WHITE = (0xFF, 0xFF, 0xFF)


def in_shield(u, v):
    """True inside a shield shape in the unit square (v grows downwards)."""
    if v < 0.08 or v > 0.95 or u < 0.1 or u > 0.9:
        return False
    if v < 0.55:
        return True
    half = 0.4 * (1 - ((v - 0.55) / 0.4) ** 1.5)
    return abs(u - 0.5) <= half


def near_segment(u, v, a, b, width):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (u - px) ** 2 + (v - py) ** 2 <= width * width


def pixel(u, v, size):
    if not in_shield(u, v):
        return None
    edge = 1.5 / size
    if not (in_shield(u - edge, v) and in_shield(u + edge, v) and in_shield(u, v - edge)
            and in_shield(u, v + edge)):
        return DARK
    tick = 0.075
    if near_segment(u, v, (0.3, 0.5), (0.45, 0.68), tick) or near_segment(
            u, v, (0.45, 0.68), (0.72, 0.32), tick):
        return WHITE
    return GREEN


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as a DIB stores it
        row = b""
        for x in range(size):
            colour = pixel((x + 0.5) / size, (y + 0.5) / size, size)
            row += bytes((0, 0, 0, 0)) if colour is None else bytes(
                (colour[2], colour[1], colour[0], 0xFF))
        rows.append(row)
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + bytes(mask_stride * size)


def main():
    images = [image(size) for size in SIZES]
    offset = 6 + 16 * len(SIZES)
    out = struct.pack("<HHH", 0, 1, len(SIZES))
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quelix_remover.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
