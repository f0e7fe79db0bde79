#!/usr/bin/env python3
"""Draws the program's icon (a light ring open to the right on a blue rounded square) and writes
it as a Windows .ico with 16, 32 and 48 pixel images. Same output on every run."""
import math
import struct
import sys

SIZES = (16, 32, 48)
SUB = 4  # samples per pixel edge


def coverage(size, inside):
    """Fraction of each pixel's samples for which inside(x, y) holds; x, y in 0..1."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = (px + (sx + 0.5) / SUB) / size
                    y = (py + (sy + 0.5) / SUB) / size
                    hits += inside(x, y)
            row.append(hits / (SUB * SUB))
        rows.append(row)
    return rows


def in_square(x, y, r=0.18):
    dx = max(abs(x - 0.5) - (0.5 - r), 0.0)
    dy = max(abs(y - 0.5) - (0.5 - r), 0.0)
    return dx * dx + dy * dy <= r * r


def in_ring(x, y):
    dx, dy = x - 0.5, y - 0.5
    d = math.hypot(dx, dy)
    angle = math.degrees(math.atan2(-dy, dx))
    return 0.2 <= d <= 0.34 and abs(angle) > 40


def image(size):
    square = coverage(size, in_square)
    ring = coverage(size, in_ring)
    pixels = bytearray()
    # DIB rows run bottom-up.
    for py in reversed(range(size)):
        for px in range(size):
            a, r = square[py][px], ring[py][px]
            blue = (0x1E, 0x5A, 0xA8)
            light = (0xF2, 0xF6, 0xFF)
            rgb = [round(b * (1 - r) + l * r) for b, l in zip(blue, light)]
            pixels += bytes((rgb[2], rgb[1], rgb[0], round(255 * a)))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + bytes(pixels) + bytes(mask_row * size)


def main(out):
    images = [image(s) for s in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip(SIZES, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(out, "wb") as f:
        f.write(data + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
