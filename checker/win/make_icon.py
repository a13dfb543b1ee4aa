#!/usr/bin/env python3
"""Draws the checker's program icon: a yellow folder with a green check mark over it.

Writes checker.ico beside this script with a 16 x 16 and a 32 x 32 image in 16 colours
(4 bits per pixel, the standard VGA palette) and a transparency mask. The icon is drawn
from shapes rather than stored as pixels, so both sizes stay alike when it is changed.
Run it again after editing and commit the .ico; the build does not need Python.
"""
import pathlib
import struct
import sys

# The 16-colour palette of Windows, as (blue, green, red) like the bitmap stores it.
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_GREEN, DARK_YELLOW, GREY, GREEN, YELLOW, WHITE = 0, 2, 3, 8, 10, 11, 15
CLEAR = None  # transparent


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5


def draw(size):
    """Returns rows (top first) of palette indices or CLEAR."""
    s = size / 32.0
    pixels = [[CLEAR] * size for _ in range(size)]

    def box(x0, y0, x1, y1, edge, fill):
        for y in range(round(y0 * s), round(y1 * s)):
            for x in range(round(x0 * s), round(x1 * s)):
                inner = (round(x0 * s) < x < round(x1 * s) - 1 and round(y0 * s) < y < round(y1 * s) - 1)
                pixels[y][x] = fill if inner else edge

    # The folder: its tab, then its body over the tab's lower edge.
    box(2, 6, 14, 11, DARK_YELLOW, YELLOW)
    box(2, 9, 30, 28, DARK_YELLOW, YELLOW)
    # A lighter front flap gives the body some depth.
    for y in range(round(12 * s), round(27 * s)):
        for x in range(round(3 * s), round(29 * s)):
            if y == round(12 * s):
                pixels[y][x] = WHITE

    # The check mark: a dark outline under a bright stroke, running out of the folder.
    points = [(9, 18), (15, 25), (29, 5)]
    for width, colour in ((3.4, DARK_GREEN), (2.0, GREEN)):
        for y in range(size):
            for x in range(size):
                px, py = (x + 0.5) / s, (y + 0.5) / s
                d = min(segment_distance(px, py, *points[0], *points[1]),
                        segment_distance(px, py, *points[1], *points[2]))
                if d <= width * (1.0 if size >= 32 else 0.8):
                    pixels[y][x] = colour
    return pixels


def bitmap(pixels):
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for b, g, r in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        nibbles = [BLACK if p is CLEAR else p for p in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(data + b"\0" * (-len(data) % 4))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is CLEAR else 0)
        mask = bits.to_bytes(size // 8, "big")
        and_rows.append(mask + b"\0" * (-len(mask) % 4))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def icon(sizes):
    images = [bitmap(draw(size)) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    target = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).with_name("checker.ico")
    target.write_bytes(icon([16, 32]))
    if "--show" in sys.argv:
        for size in (16, 32):
            for row in draw(size):
                print("".join("." if p is CLEAR else "%x" % p for p in row))
            print()


if __name__ == "__main__":
    main()
