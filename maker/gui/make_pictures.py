#!/usr/bin/env python3
"""Draws the maker's button glyphs and its usage picture into maker/gui/res/*.bmp.

Each glyph is a 32 x 16 bitmap in the 16 standard colours: a 16 x 16 picture for the
normal state on the left and the same picture greyed and embossed for the disabled
state on the right. The bottom-left pixel of every picture is the colour that stays
transparent (olive, which no glyph uses). The usage picture is 32 x 32 in 24-bit colour
with a magenta corner pixel as its transparent colour.

For screens above 96 DPI every picture is drawn again at 125, 150, 175 and 200 per cent
(glyph_NAME_150.bmp: 24 pixels): from shapes (polygons, strokes, arcs, discs) laid out on
the 16-pixel grid, sampled 4 x 4 times per pixel of the larger size, so that edges stay
sharp rather than being stretched. res/variants.rc gives them their resource ids (the
picture's id plus IDB_VARIANT_STEP per step, from resource.h).

Run it after changing a drawing; the .bmp files are committed so the build needs no
Python.
"""
import math
import pathlib
import re
import struct
import sys

# The 16 colours of a 4-bit bitmap, in the usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TRANSPARENT = 3  # olive
SHADOW = 8       # grey
HIGHLIGHT = 15   # white

# One character per pixel; "." is transparent.
KEY = {
    ".": TRANSPARENT, "k": 0, "m": 1, "g": 2, "n": 4, "p": 5, "t": 6, "s": 7, "d": 8,
    "r": 9, "l": 10, "y": 11, "b": 12, "f": 13, "c": 14, "w": 15,
}

GLYPHS = {
    # An open folder.
    "browse": [
        "................",
        "................",
        ".kkkk...........",
        "kyyyyk..........",
        "kyyyyykkkkkkk...",
        "kyyyyyyyyyyyk...",
        "kyyykkkkkkkkkkk.",
        "kyykyyyyyyyyyyk.",
        "kyykyyyyyyyyyk..",
        "kykyyyyyyyyyyk..",
        "kykyyyyyyyyyk...",
        "kkyyyyyyyyyyk...",
        "kkkkkkkkkkkkk...",
        "................",
        "................",
        "................",
    ],
    # A page with a green tick: a file checker being made.
    "make": [
        "................",
        ".kkkkkkkk.......",
        ".kwwwwwwkk......",
        ".kwwwwwwkwk.....",
        ".kwddddwkkkk....",
        ".kwwwwwwwwwk....",
        ".kwddddddwwk..g.",
        ".kwwwwwwwwwk.gg.",
        ".kwdddddwwwkggg.",
        ".kwwwwwwwwwggg..",
        ".kwddddwgwggg...",
        ".kwwwwwwggggk...",
        ".kwwwwwwwggwk...",
        ".kwwwwwwwwwwk...",
        ".kkkkkkkkkkkk...",
        "................",
    ],
    # A door with an arrow leading out.
    "close": [
        "................",
        "....kkkkkkkkk...",
        "....kmmmmmmmk...",
        "....kmrrrrrmk...",
        "....kmrrrrrmk...",
        "..n.kmrrrrrmk...",
        ".nn.kmrrrrrmk...",
        "nnnnnnrrrrymk...",
        ".nn.kmrrrrymk...",
        "..n.kmrrrrrmk...",
        "....kmrrrrrmk...",
        "....kmrrrrrmk...",
        "....kmrrrrrmk...",
        "....kmmmmmmmk...",
        "...kkkkkkkkkkk..",
        "................",
    ],
    # Three sliders: settings beyond the basic ones.
    "adv": [
        "................",
        "................",
        "......kk........",
        ".dddddbbdddddd..",
        ".wwwwwbbwwwwww..",
        "......kk........",
        "................",
        "..........kk....",
        ".ddddddddd.bdd..",
        ".wwwwwwwwwbbww..",
        "..........kk....",
        "................",
        "...kk...........",
        ".dd.bddddddddd..",
        ".wwbbwwwwwwwww..",
        "...kk...........",
    ],
    # A green tick.
    "ok": [
        "................",
        "................",
        "................",
        "............g...",
        "...........gg...",
        "..........ggg...",
        ".........ggg....",
        "..g.....ggg.....",
        "..gg...ggg......",
        "..ggg.ggg.......",
        "...ggggg........",
        "....ggg.........",
        ".....g..........",
        "................",
        "................",
        "................",
    ],
    # A red cross.
    "cancel": [
        "................",
        "................",
        "...rr......rr...",
        "...rrr....rrr...",
        "....rrr..rrr....",
        ".....rrrrrr.....",
        "......rrrr......",
        "......rrrr......",
        ".....rrrrrr.....",
        "....rrr..rrr....",
        "...rrr....rrr...",
        "...rr......rr...",
        "................",
        "................",
        "................",
        "................",
    ],
    # A blue arrow turning back: the standard values again.
    "default": [
        "................",
        "................",
        "......bbbbb.....",
        "....bbb...bbb...",
        "...bb.......bb..",
        "..bb.........b..",
        "..b..........bb.",
        "bbbbb.........b.",
        ".bbb..........b.",
        "..b..........bb.",
        ".............b..",
        "............bb..",
        "....bb....bbb...",
        ".....bbbbbb.....",
        "................",
        "................",
    ],
}


def disabled(picture):
    """Greyed and embossed: white shifted by one pixel, grey on the shape itself."""
    size = len(picture)
    out = [[TRANSPARENT] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            if picture[y][x] != TRANSPARENT and x + 1 < size and y + 1 < size:
                out[y + 1][x + 1] = HIGHLIGHT
    for y in range(size):
        for x in range(size):
            if picture[y][x] != TRANSPARENT:
                out[y][x] = SHADOW
    out[size - 1][0] = TRANSPARENT  # the corner names the transparent colour
    return out


def bmp_4bit(rows):
    """A bottom-up 4-bit BMP from rows of palette indices."""
    height, width = len(rows), len(rows[0])
    stride = ((width * 4 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, width, 2):
            line.append((row[x] << 4) | (row[x + 1] if x + 1 < width else 0))
        pixels += line + bytes(stride - len(line))
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    return header + info + palette + bytes(pixels)


def bmp_24bit(rows):
    height, width = len(rows), len(rows[0])
    stride = ((width * 24 + 31) // 32) * 4
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + bytes(stride - len(line))
    offset = 14 + 40
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + bytes(pixels)


def glyph(art):
    assert len(art) == 16 and all(len(r) == 16 for r in art), art
    normal = [[KEY[c] for c in row] for row in art]
    normal[15][0] = TRANSPARENT
    grey = disabled(normal)
    return [normal[y] + grey[y] for y in range(16)]


QUESTION = [  # 8 x 11, doubled when drawn
    "..xxxx..",
    ".xx..xx.",
    "xx....xx",
    "......xx",
    ".....xx.",
    "....xx..",
    "...xx...",
    "...xx...",
    "........",
    "...xx...",
    "...xx...",
]


def usage_picture():
    """A blue disc with a white question mark, shaded towards its lower right."""
    size = 32
    magenta = (255, 0, 255)
    rows = [[magenta] * size for _ in range(size)]
    cx = cy = 15.5
    for y in range(size):
        for x in range(size):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 <= 15.0 ** 2:
                shade = (x + y) / (2.0 * size)  # 0 at top left, 1 at bottom right
                rows[y][x] = (int(60 - 40 * shade), int(120 - 70 * shade), int(255 - 90 * shade))
            if 13.8 ** 2 < d2 <= 15.0 ** 2:
                rows[y][x] = (0, 0, 128)
    top, left = 5, 8
    for j, line in enumerate(QUESTION):
        for i, c in enumerate(line):
            if c == "x":
                for dy in range(2):
                    for dx in range(2):
                        rows[top + 2 * j + dy][left + 2 * i + dx] = (255, 255, 255)
    rows[size - 1][0] = magenta
    return rows


# ---------------------------------------------------------------- larger sizes

PERCENT = [125, 150, 175, 200]
SAMPLES = 4  # per pixel and axis


def _segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length = dx * dx + dy * dy
    k = 0.0 if length == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length))
    return math.hypot(px - (ax + k * dx), py - (ay + k * dy))


def _inside(px, py, points):
    inside = False
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > py) != (by > py) and px < ax + (py - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return inside


def covers(shape, x, y, line):
    """Whether a shape covers the point (x, y) of its grid; `line` is one output pixel
    there, the width of an outline."""
    kind = shape[0]
    if kind == "rect":
        x0, y0, x1, y1 = shape[2:6]
        return x0 <= x < x1 and y0 <= y < y1
    if kind == "poly":
        return _inside(x, y, shape[2])
    if kind == "edge":  # the outline of a polygon, one pixel wide, inside it
        points = shape[2]
        return _inside(x, y, points) and min(
            _segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in zip(points, points[1:] + points[:1])) < line
    if kind == "stroke":
        points, width = shape[2], shape[3]
        return min(_segment_distance(x, y, a[0], a[1], b[0], b[1]) for a, b in zip(points, points[1:])) <= width / 2
    if kind == "disc":
        cx, cy, r = shape[2:5]
        return math.hypot(x - cx, y - cy) <= r
    if kind == "arc":  # degrees clockwise from the right, as on the screen
        cx, cy, r, width, start, end = shape[2:8]
        if abs(math.hypot(x - cx, y - cy) - r) > width / 2:
            return False
        angle = math.degrees(math.atan2(y - cy, x - cx)) % 360
        return any(start <= a <= end for a in (angle, angle + 360))
    raise ValueError(kind)


def with_outline(colour, points):
    return [("poly", colour, points), ("edge", "k", points)]


# The glyphs as shapes on the 16-pixel grid, painted in order; colours are KEY letters.
SHAPES = {
    "browse": with_outline("y", [(0, 3), (1, 2), (5, 2), (6, 4), (13, 4), (13, 13), (0, 13)]) +
              with_outline("y", [(4.5, 6), (15.5, 6), (13, 13), (0.5, 13)]),
    "make": with_outline("w", [(1, 1), (9, 1), (12, 4), (12, 15), (1, 15)]) +
            with_outline("w", [(9, 1), (12, 4), (9, 4)]) +
            [("rect", "d", 3, 4, 7, 5), ("rect", "d", 3, 6, 9, 7), ("rect", "d", 3, 8, 8, 9),
             ("rect", "d", 3, 10, 7, 11), ("stroke", "g", [(8, 10.5), (10, 12.5), (15, 6)], 2.2)],
    "close": [("rect", "k", 4, 1, 13, 15), ("rect", "m", 5, 2, 12, 15), ("rect", "r", 6, 3, 11, 15),
              ("rect", "y", 10, 8, 11, 10), ("rect", "k", 3, 15, 14, 16),
              ("stroke", "n", [(1.5, 8.5), (7.5, 8.5)], 1.2), ("poly", "n", [(0, 8.5), (3, 5.5), (3, 11.5)])],
    "adv": [shape for y, knob in ((3, 6), (8, 10), (13, 3)) for shape in (
        ("rect", "d", 1, y, 14, y + 1), ("rect", "w", 1, y + 1, 14, y + 2),
        ("rect", "k", knob, y - 1, knob + 2, y + 3), ("rect", "b", knob, y, knob + 2, y + 2))],
    "ok": [("stroke", "g", [(2.5, 8), (5.5, 11.3), (12.5, 3.5)], 2.4)],
    "cancel": [("stroke", "r", [(3.5, 2.5), (12.5, 11.5)], 2.4), ("stroke", "r", [(12.5, 2.5), (3.5, 11.5)], 2.4)],
    "default": [("arc", "b", 8, 8.5, 5.5, 1.4, 200, 495), ("poly", "b", [(0, 6.8), (5, 6.8), (2.5, 9.8)])],
}


def draw_shapes(shapes, size, grid):
    """Palette indices of a size x size picture of shapes on a grid x grid layout: each
    pixel takes the colour most of its samples show (transparent where none)."""
    scale = grid / size
    line = scale * max(1, round(size / 16))
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    colour = TRANSPARENT
                    for shape in shapes:
                        if covers(shape, x, y, line):
                            colour = KEY[shape[1]]
                    votes[colour] = votes.get(colour, 0) + 1
            row.append(max(votes, key=lambda c: (votes[c], c != TRANSPARENT)))
        rows.append(row)
    return rows


def scaled_glyph(name, size):
    normal = draw_shapes(SHAPES[name], size, 16)
    normal[size - 1][0] = TRANSPARENT
    grey = disabled(normal)
    return [normal[y] + grey[y] for y in range(size)]


def scaled_usage_picture(size):
    """The usage picture's disc and question mark as shapes, averaged over each pixel's
    samples; a pixel that the disc covers less than half stays transparent."""
    magenta = (255, 0, 255)
    white = (255, 255, 255)
    scale = 32.0 / size
    question = [("arc", 16, 11.5, 4.6, 3.4, 165, 405), ("stroke", [(19.3, 14.8), (16, 18), (16, 20.5)], 3.4),
                ("disc", 16, 25, 2.1)]
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            colours = []
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    d = math.hypot(x - 16, y - 16)
                    if d > 15.5:
                        continue
                    if d > 14.3:
                        colours.append((0, 0, 128))
                    elif any(covers((s[0], "w") + s[1:], x, y, scale) for s in question):
                        colours.append(white)
                    else:
                        shade = (x + y) / 64.0
                        colours.append((60 - 40 * shade, 120 - 70 * shade, 255 - 90 * shade))
            if len(colours) * 2 < SAMPLES * SAMPLES:
                row.append(magenta)
            else:
                row.append(tuple(int(round(sum(c[i] for c in colours) / len(colours))) for i in range(3)))
        rows.append(row)
    rows[size - 1][0] = magenta
    return rows


def resource_ids(header):
    return {m.group(1): int(m.group(2)) for m in re.finditer(r"^#define (IDB_\w+) (\d+)$", header, re.M)}


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent / "res"
    out.mkdir(parents=True, exist_ok=True)
    ids = resource_ids((pathlib.Path(__file__).resolve().parent / "resource.h").read_text())
    lines = ["// The maker's pictures drawn for screens above 96 DPI (written by make_pictures.py).",
             '#include "resource.h"', ""]
    for name, art in GLYPHS.items():
        (out / ("glyph_%s.bmp" % name)).write_bytes(bmp_4bit(glyph(art)))
    (out / "usage.bmp").write_bytes(bmp_24bit(usage_picture()))
    for step, percent in enumerate(PERCENT, 1):
        for name in GLYPHS:
            file_name = "glyph_%s_%d.bmp" % (name, percent)
            (out / file_name).write_bytes(bmp_4bit(scaled_glyph(name, 16 * percent // 100)))
            lines.append('%d BITMAP "res/%s"' % (ids["IDB_GLYPH_" + name.upper()] + step * ids["IDB_VARIANT_STEP"],
                                                 file_name))
        file_name = "usage_%d.bmp" % percent
        (out / file_name).write_bytes(bmp_24bit(scaled_usage_picture(32 * percent // 100)))
        lines.append('%d BITMAP "res/%s"' % (ids["IDB_USAGE"] + step * ids["IDB_VARIANT_STEP"], file_name))
    (out / "variants.rc").write_text("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
