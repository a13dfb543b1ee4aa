#!/usr/bin/env python3
"""Draws the maker's button glyphs and its usage picture into maker/gui/res/*.bmp.

Each glyph is a 32 x 16 bitmap in the 16 standard colours: a 16 x 16 picture for the
normal state on the left and the same picture greyed and embossed for the disabled
state on the right. The bottom-left pixel of every picture is the colour that stays
transparent (olive, which no glyph uses). The usage picture is 32 x 32 in 24-bit colour
with a magenta corner pixel as its transparent colour.

Run it after changing a drawing; the .bmp files are committed so the build needs no
Python.
"""
import pathlib
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


def main():
    out = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent / "res"
    out.mkdir(parents=True, exist_ok=True)
    for name, art in GLYPHS.items():
        (out / ("glyph_%s.bmp" % name)).write_bytes(bmp_4bit(glyph(art)))
    (out / "usage.bmp").write_bytes(bmp_24bit(usage_picture()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
