#!/usr/bin/env python3
"""Draws the program's icons, main-window banner, splash banner, the viewer's
placeholder picture and add button images and the clippings manager's button
images into src/resources.

Shapes are filled with 4x4 supersampling so edges come out antialiased; the
icons keep that coverage as alpha, the banner is flattened to 24-bit. The
button images are 16 x 16 pixel art.
"""
import math
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "resources")
SS = 4


def rgb(hexstr):
    return tuple(int(hexstr[i:i + 2], 16) for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


# Shapes: (inside(x, y), bounding box x0, y0, x1, y1).
def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        dx = max(x0 + r - x, 0, x - (x1 - r))
        dy = max(y0 + r - y, 0, y - (y1 - r))
        return x0 <= x <= x1 and y0 <= y <= y1 and dx * dx + dy * dy <= r * r
    return inside, (x0, y0, x1, y1)


def ellipse(cx, cy, rx, ry):
    def inside(x, y):
        return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1
    return inside, (cx - rx, cy - ry, cx + rx, cy + ry)


def polygon(pts):
    def inside(x, y):
        hit = False
        for (ax, ay), (bx, by) in zip(pts, pts[1:] + pts[:1]):
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return inside, (min(xs), min(ys), max(xs), max(ys))


def capsule(ax, ay, bx, by, r):
    lx, ly = bx - ax, by - ay
    ll = lx * lx + ly * ly

    def inside(x, y):
        t = min(1, max(0, ((x - ax) * lx + (y - ay) * ly) / ll))
        px, py = ax + t * lx - x, ay + t * ly - y
        return px * px + py * py <= r * r
    return inside, (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r)


def arc(cx, cy, rx, ry, pen, a0, a1):
    """A stroke of width `pen` along an ellipse, from angle a0 to a1 (radians, y down)."""
    def inside(x, y):
        ux, uy = (x - cx) / rx, (y - cy) / ry
        d = math.hypot(ux, uy)
        if d == 0:
            return False
        if abs(d - 1) * min(rx, ry) > pen / 2:
            return False
        return (math.atan2(uy, ux) - a0) % (2 * math.pi) <= a1 - a0
    return inside, (cx - rx - pen, cy - ry - pen, cx + rx + pen, cy + ry + pen)


def feather(nx, ny, tx, ty, width, bare=0.22):
    """A quill vane along the nib-to-tip axis, bare near the nib, narrower on one side."""
    length = math.hypot(tx - nx, ty - ny)
    ux, uy = (tx - nx) / length, (ty - ny) / length
    vx, vy = -uy, ux
    left, right = [], []
    for i in range(41):
        t = bare + (1 - bare) * i / 40
        s = (t - bare) / (1 - bare)
        w = width * math.sin(math.pi * s) ** 0.7
        cx, cy = nx + ux * length * t, ny + uy * length * t
        left.append((cx + vx * w, cy + vy * w))
        right.append((cx - vx * w * 0.6, cy - vy * w * 0.6))
    return polygon(left + right[::-1])


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]  # premultiplied

    def fill(self, shape, colour, alpha=1.0, dx=0, dy=0):
        """Composites the shape over the canvas; colour may be a function of (x, y)."""
        inside, (x0, y0, x1, y1) = shape
        for py in range(max(0, int(y0 + dy)), min(self.h, int(math.ceil(y1 + dy)) + 1)):
            for px in range(max(0, int(x0 + dx)), min(self.w, int(math.ceil(x1 + dx)) + 1)):
                hits = sum(inside(px + (i + 0.5) / SS - dx, py + (j + 0.5) / SS - dy)
                           for i in range(SS) for j in range(SS))
                if not hits:
                    continue
                a = alpha * hits / (SS * SS)
                c = colour(px + 0.5, py + 0.5) if callable(colour) else colour
                p = self.px[py * self.w + px]
                for k in range(3):
                    p[k] = c[k] / 255 * a + p[k] * (1 - a)
                p[3] = a + p[3] * (1 - a)

    def paste(self, other, ox, oy):
        """Composites another canvas with its top-left corner at (ox, oy)."""
        for y in range(other.h):
            for x in range(other.w):
                if 0 <= x + ox < self.w and 0 <= y + oy < self.h:
                    src, dst = other.px[y * other.w + x], self.px[(y + oy) * self.w + x + ox]
                    for k in range(4):
                        dst[k] = src[k] + dst[k] * (1 - src[3])

    def pixel(self, x, y):
        """Straight (not premultiplied) 8-bit RGBA."""
        r, g, b, a = self.px[y * self.w + x]
        if a <= 0:
            return 0, 0, 0, 0
        return tuple(min(255, round(v / a * 255)) for v in (r, g, b)) + (round(a * 255),)


# Palette: calm blues, silver clip, amber for the flash.
NAVY = rgb("173a5e")
BOARD = rgb("2f6aa3")
BOARD_LIGHT = rgb("4d8ccb")
PAPER = rgb("fbfdff")
LINE = rgb("9dbfe2")
INK = rgb("1b2f4a")
CLIP = rgb("d3dde8")
CLIP_DARK = rgb("6f8399")
VANE = rgb("e8f2fc")
VANE_EDGE = rgb("5b93c9")
AMBER = rgb("f0a030")
AMBER_LIGHT = rgb("ffc85a")
BOLT = rgb("fff27a")
BOLT_EDGE = rgb("8a4a00")


def clipboard(c, s, x0, y0, x1, y1, board, board_light, lines):
    """Board with a silver clip and a sheet of text lines; coordinates in s units."""
    c.fill(rrect(x0 * s, y0 * s, x1 * s, y1 * s, 3 * s),
           lambda x, y: mix(board_light, board, (y / s - y0) / (y1 - y0)))
    c.fill(rrect((x0 + 2) * s, (y0 + 4) * s, (x1 - 2) * s, (y1 - 2) * s, s), PAPER)
    for ly, lx1 in lines:
        c.fill(rrect((x0 + 6) * s, ly * s, lx1 * s, (ly + 2) * s, 0), LINE)
    mid = (x0 + x1) / 2
    c.fill(rrect((mid - 6) * s, (y0 - 2) * s, (mid + 6) * s, (y0 + 4) * s, 2 * s), CLIP_DARK)
    c.fill(rrect((mid - 5) * s, (y0 - 1) * s, (mid + 5) * s, (y0 + 3) * s, 1.5 * s), CLIP)
    c.fill(ellipse(mid * s, (y0 + 0.5) * s, 1.5 * s, 1 * s), CLIP_DARK)


def quill(c, s, nx, ny, tx, ty, width):
    c.fill(feather(nx * s, ny * s, tx * s, ty * s, (width + 1) * s), VANE_EDGE)
    c.fill(feather(nx * s, ny * s, tx * s, ty * s, width * s), VANE)
    c.fill(capsule(nx * s, ny * s, (nx + (tx - nx) * 0.9) * s, (ny + (ty - ny) * 0.9) * s,
                   max(0.5, 0.6 * s)), VANE_EDGE)
    c.fill(capsule(nx * s, ny * s, (nx + (tx - nx) * 0.12) * s, (ny + (ty - ny) * 0.12) * s,
                   max(0.7, 1.0 * s)), INK)


def draw_icon(size, flash):
    """Icons are designed on a 32-unit grid; at 16 pixels even edges stay sharp."""
    c, s = Canvas(size, size), size / 32
    lines = [(12, 20), (16, 18), (20, 20), (24, 14)]
    if flash:
        clipboard(c, s, 2, 4, 26, 30, AMBER, AMBER_LIGHT, lines)
        bolt = [(20, 0), (10, 18), (18, 18), (12, 32), (30, 12), (22, 12), (28, 0)]
        c.fill(polygon([(x * s, y * s) for x, y in bolt]), BOLT_EDGE)
        inner = [(21.2, 2), (13.4, 16), (20.8, 16), (17, 26), (26.2, 14), (18.6, 14), (24.6, 2)]
        c.fill(polygon([(x * s, y * s) for x, y in inner]), BOLT)
    else:
        clipboard(c, s, 2, 4, 26, 30, BOARD, BOARD_LIGHT, lines)
        quill(c, s, 16, 28, 31, 1, 4.5)
    return c


def draw_banner(w, h):
    c = Canvas(w, h)
    top, bottom = rgb("e4eff9"), rgb("3f78b2")
    c.fill(rrect(0, 0, w, h, 0), lambda x, y: mix(top, bottom, (y / h) ** 0.9))
    # Soft glow behind the board: faint nested ellipses instead of one hard edge.
    for k in range(8):
        c.fill(ellipse(w * 0.45, h * 0.5, w * (0.9 - k * 0.07), h * (0.36 - k * 0.03)),
               (255, 255, 255), 0.05)
    x0, y0, x1, y1 = 14, 62, 80, 206
    for grow in (4, 3, 2, 1):
        c.fill(rrect(x0 - grow + 3, y0 - grow + 5, x1 + grow + 3, y1 + grow + 5, 6 + grow),
               NAVY, 0.07)
    c.fill(rrect(x0, y0, x1, y1, 6), lambda x, y: mix(BOARD_LIGHT, BOARD, (y - y0) / (y1 - y0)))
    c.fill(rrect(x0 + 6, y0 + 11, x1 - 6, y1 - 7, 2), PAPER)
    c.fill(rrect(x0 + 12, y0 + 19, x0 + 42, y0 + 23, 1), VANE_EDGE)
    for i, end in enumerate((66, 60, 64, 52, 66, 58, 63, 46, 65, 57, 62, 54, 66)):
        y = y0 + 31 + i * 8
        c.fill(rrect(x0 + 12, y, end, y + 2.5, 1), LINE)
    # The last line is still being written, in ink up to the nib.
    ny = y0 + 31 + 13 * 8
    c.fill(rrect(x0 + 12, ny, 44, ny + 2.5, 1), INK)
    mid = (x0 + x1) / 2
    c.fill(rrect(mid - 13, y0 - 8, mid + 13, y0 + 8, 4), CLIP_DARK)
    c.fill(rrect(mid - 11, y0 - 6, mid + 11, y0 + 6, 3), CLIP)
    c.fill(ellipse(mid, y0 - 4, 4, 2.5), CLIP_DARK)
    quill(c, 1, 45, ny + 1, 92, 6, 13)
    # A quiet wave along the foot of the banner.
    wave = [(x, 228 + 5 * math.sin(x / w * 2 * math.pi)) for x in range(0, w + 1, 2)]
    c.fill(polygon(wave + [(w, h), (0, h)]), rgb("2b5f95"), 0.6)
    return c


def wordmark(c, x, base, colour):
    """"Quillet" in strokes: x-height 15, ascenders 22, pen 3.2; returns the right edge."""
    pen, xh, asc = 3.2, 15, 22
    r = pen / 2

    def stem(x0, y0, x1, y1):
        c.fill(capsule(x0, y0, x1, y1, r), colour)

    # Q: an oval with a tail across its foot.
    c.fill(arc(x + 9, base - asc / 2, 9 - r, asc / 2 - r, pen, 0, 2 * math.pi), colour)
    stem(x + 10, base - 5, x + 18, base + 2)
    x += 22
    # u
    stem(x + r, base - xh + r, x + r, base - 5)
    c.fill(arc(x + 5.5, base - 5.5, 5.5 - r, 5.5 - r, pen, 0, math.pi), colour)
    stem(x + 11 - r, base - xh + r, x + 11 - r, base - r)
    x += 15
    # i
    stem(x + r, base - xh + r, x + r, base - r)
    c.fill(ellipse(x + r, base - xh - 4.5, 2, 2), colour)
    x += 7
    # l l
    for _ in range(2):
        stem(x + r, base - asc + r, x + r, base - r)
        x += 7
    # e: a ring open at the lower right, with a bar at its middle
    c.fill(arc(x + 6.5, base - xh / 2, 6.5 - r, xh / 2 - r, pen, 0.35 * math.pi, 2 * math.pi), colour)
    stem(x + r + 0.5, base - xh / 2, x + 13 - r, base - xh / 2)
    x += 16
    # t: a stem that turns right at its foot, and a cross bar
    stem(x + 2.5 + r, base - asc + 3, x + 2.5 + r, base - 4)
    c.fill(arc(x + 6.5, base - 4.5, 4 - r / 2, 4 - r, pen, 0.5 * math.pi, math.pi), colour)
    stem(x + 6.5, base - r, x + 8.5, base - r)
    stem(x + r, base - xh + r, x + 9, base - xh + r)
    return x + 10


def draw_splash(w, h):
    c = Canvas(w, h)
    top, bottom = rgb("eef5fc"), rgb("b9d4ee")
    c.fill(rrect(0, 0, w, h, 0), lambda x, y: mix(top, bottom, y / h))
    for k in range(6):
        c.fill(ellipse(w * 0.4, h * 0.45, w * (0.55 - k * 0.06), h * (0.6 - k * 0.06)),
               (255, 255, 255), 0.06)
    # A quiet wave along the foot, as on the main window's banner.
    wave = [(x, h - 7 + 2.5 * math.sin(x / w * 2 * math.pi + 0.6)) for x in range(0, w + 1, 2)]
    c.fill(polygon(wave + [(w, h), (0, h)]), rgb("3f78b2"), 0.75)
    icon = draw_icon(44, False)
    c.paste(icon, 8, 1)
    right = wordmark(c, 62, 35, NAVY)
    # Plain text lines trailing the name: what the program leaves on the clipboard.
    for i, end in enumerate((w - 12, w - 22, w - 16)):
        y = 21 + i * 5
        c.fill(rrect(right + 8, y, end, y + 2, 1), LINE)
    return c


# A 5 x 7 pixel font for the placeholder's text, one string of five bits a row;
# g, p and y add two rows below the baseline.
GLYPHS = {
    " ": ["00000"] * 7,
    ".": ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "a": ["00000", "00000", "01110", "00001", "01111", "10001", "01111"],
    "b": ["10000", "10000", "10110", "11001", "10001", "10001", "11110"],
    "c": ["00000", "00000", "01110", "10000", "10000", "10001", "01110"],
    "d": ["00001", "00001", "01101", "10011", "10001", "10001", "01111"],
    "e": ["00000", "00000", "01110", "10001", "11111", "10000", "01110"],
    "g": ["00000", "00000", "01111", "10001", "10001", "10001", "01111", "00001", "01110"],
    "h": ["10000", "10000", "10110", "11001", "10001", "10001", "10001"],
    "i": ["00100", "00000", "01100", "00100", "00100", "00100", "01110"],
    "l": ["01100", "00100", "00100", "00100", "00100", "00100", "01110"],
    "m": ["00000", "00000", "11010", "10101", "10101", "10001", "10001"],
    "n": ["00000", "00000", "10110", "11001", "10001", "10001", "10001"],
    "o": ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    "p": ["00000", "00000", "11110", "10001", "10001", "10001", "11110", "10000", "10000"],
    "s": ["00000", "00000", "01110", "10000", "01110", "00001", "11110"],
    "t": ["01000", "01000", "11100", "01000", "01000", "01001", "00110"],
    "y": ["00000", "00000", "10001", "10001", "10001", "10001", "01111", "00001", "01110"],
}


def pixel_text(c, text, x, y, scale, colour):
    """Blocks of scale x scale pixels, one column of space between letters."""
    for ch in text:
        for row, bits in enumerate(GLYPHS[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    px, py = x + col * scale, y + row * scale
                    c.fill(rrect(px, py, px + scale, py + scale, 0), colour)
        x += 6 * scale


def pixel_text_width(text, scale):
    return (6 * len(text) - 1) * scale


def draw_placeholder(w, h):
    c = Canvas(w, h)
    top, bottom = rgb("fbfdff"), rgb("dde9f5")
    c.fill(rrect(0, 0, w, h, 0), lambda x, y: mix(top, bottom, y / h))
    c.fill(rrect(0.5, 0.5, w - 0.5, h - 0.5, 0), LINE)
    c.fill(rrect(1.5, 1.5, w - 1.5, h - 1.5, 0), lambda x, y: mix(top, bottom, y / h))
    cx, cy, r = w / 2, 60, 44
    c.fill(ellipse(cx + 2, cy + 3, r, r), NAVY, 0.12)
    c.fill(ellipse(cx, cy, r, r), BOARD)
    c.fill(ellipse(cx, cy, r - 3, r - 3), lambda x, y: mix(VANE, BOARD_LIGHT, (y - cy + r) / (2 * r)))
    for ex in (cx - 15, cx + 15):
        c.fill(ellipse(ex, cy - 12, 5, 7), INK)
        c.fill(ellipse(ex - 1.5, cy - 15, 1.6, 2), PAPER)
    # The frown: the upper half of an ellipse below the face's middle.
    c.fill(arc(cx, cy + 28, 19, 14, 4, math.pi * 1.12, math.pi * 1.88), INK)
    text = "The image cannot be displayed."
    scale = 2
    pixel_text(c, text, round((w - pixel_text_width(text, scale)) / 2), 122, scale, INK)
    return c


# The grey that LoadImage's LR_LOADMAP3DCOLORS replaces by the button face; the
# images use no other of the greys that flag remaps (128 and 223).
FACE = (192, 192, 192)
# A disabled bitmap button is drawn embossed from the pixels that are not
# white, so the grey plus stands on white to keep its shape.
WHITE = (255, 255, 255)


def draw_plus(grey):
    """A 16 x 16 plus with a dark outline, lit from the upper left."""
    ground = WHITE if grey else FACE

    def inside(x, y):
        return (5 <= x <= 10 and 1 <= y <= 14) or (1 <= x <= 14 and 5 <= y <= 10)

    outline, fill, light, shade = rgb("1d6a2b"), rgb("3aa84a"), rgb("8fdc8a"), rgb("267f35")
    if grey:
        outline, fill, light, shade = (100, 100, 100), (160, 160, 160), (236, 236, 236), (134, 134, 134)
    rows = []
    for y in range(16):
        row = []
        for x in range(16):
            if not inside(x, y):
                row.append(ground)
            elif not all(inside(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                row.append(outline)
            elif not inside(x - 2, y) or not inside(x, y - 2):
                row.append(light)
            elif not inside(x + 2, y) or not inside(x, y + 2):
                row.append(shade)
            else:
                row.append(fill)
        rows.append(row)
    return rows


# The local clippings manager's picture buttons, one letter a pixel. The ground
# "." is FACE, which the program turns into the button face when loading the
# enabled look; the grey look stands on white like the add button's.
RENAME_ART = [  # a text field crossed by an I-beam cursor
    "........kk.kk...",
    "..........k.....",
    "..........k.....",
    "ddddddddddkddddd",
    "dwwwwwwwwwkwwwwd",
    "dwwwwwwwwwkwwwwd",
    "dwtttwtttwkwwwwd",
    "dwtttwtttwkwwwwd",
    "dwwwwwwwwwkwwwwd",
    "dwwwwwwwwwkwwwwd",
    "ddddddddddkddddd",
    "..........k.....",
    "..........k.....",
    "........kk.kk...",
    "................",
    "................",
]
DELETE_ART = [  # a red cross
    ".oo..........oo.",
    "olro........olro",
    "olrro......olrro",
    ".olrro....olrro.",
    "..olrro..olrro..",
    "...olrroolrro...",
    "....olrrrrro....",
    ".....orrrro.....",
    ".....orrrro.....",
    "....orrrrrro....",
    "...orrroorrro...",
    "..orrro..orrro..",
    ".orrro....orrro.",
    "orrro......orrro",
    "orro........orro",
    ".oo..........oo.",
]
COPY_ART = [  # two overlapping documents
    "dddddddddd......",
    "dppppppppd......",
    "dpbbbbbbpd......",
    "dppppppppd......",
    "dpbbbddddddddddd",
    "dppppdwwwwwwwwwd",
    "dpbbbdwbbbbbbbwd",
    "dppppdwwwwwwwwwd",
    "dpbbbdwbbbbbbbwd",
    "dppppdwwwwwwwwwd",
    "dpbbbdwbbbbbbbwd",
    "ddddddwwwwwwwwwd",
    ".....dwbbbbbwwwd",
    ".....dwwwwwwwwwd",
    ".....dwwwwwwwwwd",
    ".....ddddddddddd",
]
SYNC_ART = [  # a cloud above a pair of opposite arrows
    ".....cccc.......",
    "....cwwwwc.ccc..",
    "..ccwwwwwwcwwwc.",
    ".cwwwwwwwwwwwwc.",
    "cwwwwwwwwwwwwwwc",
    "cppppppppppppppc",
    ".cccccccccccccc.",
    "................",
    "...g.......nnn..",
    "..ggg......nnn..",
    ".ggggg.....nnn..",
    "ggggggg....nnn..",
    "..ggg....nnnnnnn",
    "..ggg.....nnnnn.",
    "..ggg......nnn..",
    "..ggg.......n...",
]
ART_COLOURS = {
    ".": FACE, "w": WHITE, "k": (0, 0, 0), "d": INK, "t": BOARD_LIGHT, "p": rgb("e4eef8"),
    "b": rgb("7fa6cf"), "o": rgb("8b1a1a"), "r": rgb("d93a2f"), "l": rgb("f28b7e"),
    "c": BOARD, "n": BOARD, "g": rgb("2e9a44"),
}


def grey_of(colour):
    """Paper stays white, which the disabled button's embossing leaves out;
    every other colour becomes the grey of its brightness."""
    r, g, b = colour
    lum = 0.3 * r + 0.59 * g + 0.11 * b
    if lum >= 224:
        return WHITE
    v = round(96 + lum / 2)
    return (v, v, v)


def draw_button_art(grid, grey):
    c = Canvas(16, 16)
    for y, line in enumerate(grid):
        for x, ch in enumerate(line):
            colour = ART_COLOURS[ch]
            if grey:
                colour = WHITE if ch == "." else grey_of(colour)
            c.px[y * 16 + x] = [v / 255 for v in colour] + [1.0]
    return c


def write_bmp8(path, rows):
    """An 8-bit palette BMP: LR_LOADMAP3DCOLORS works only on a colour table."""
    palette = sorted({c for row in rows for c in row})
    index = {c: i for i, c in enumerate(palette)}
    w, h = len(rows[0]), len(rows)
    stride = (w + 3) // 4 * 4
    bits = b"".join(bytes(index[c] for c in row) + b"\0" * (stride - w) for row in reversed(rows))
    table = b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(bits), 2835, 2835, len(palette), 0)
    offset = 14 + len(info) + len(table)
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + table + bits)


def write_ico(path, canvases):
    images = []
    for c in canvases:
        xor = b"".join(struct.pack("<4B", b, g, r, a)
                       for y in reversed(range(c.h)) for x in range(c.w)
                       for r, g, b, a in [c.pixel(x, y)])
        stride = (c.w + 31) // 32 * 4
        mask = b""
        for y in reversed(range(c.h)):
            bits = 0
            for x in range(c.w):
                bits = bits << 1 | (c.pixel(x, y)[3] < 128)
            bits <<= stride * 8 - c.w
            mask += bits.to_bytes(stride, "big")
        header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0,
                             len(xor) + len(mask), 0, 0, 0, 0)
        images.append((c, header + xor + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in images:
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(data for _, data in images))


def write_bmp(path, c):
    stride = (c.w * 3 + 3) // 4 * 4
    rows = b""
    for y in reversed(range(c.h)):
        row = b"".join(struct.pack("<3B", b, g, r)
                       for x in range(c.w) for r, g, b, _ in [c.pixel(x, y)])
        rows += row + b"\0" * (stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, c.w, c.h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + rows)


def main():
    write_ico(os.path.join(OUT, "quillet.ico"), [draw_icon(16, False), draw_icon(32, False)])
    write_ico(os.path.join(OUT, "flash.ico"), [draw_icon(16, True), draw_icon(32, True)])
    # 68 x 155 dialog units of 8-point MS Sans Serif, less the sunken edge.
    write_bmp(os.path.join(OUT, "main.bmp"), draw_banner(100, 250))
    # 133 x 31 dialog units.
    write_bmp(os.path.join(OUT, "splash.bmp"), draw_splash(200, 50))
    write_bmp8(os.path.join(OUT, "add.bmp"), draw_plus(False))
    write_bmp8(os.path.join(OUT, "add_grey.bmp"), draw_plus(True))
    for name, grid in (("rename", RENAME_ART), ("delete", DELETE_ART), ("copy", COPY_ART),
                       ("sync", SYNC_ART)):
        write_bmp(os.path.join(OUT, name + ".bmp"), draw_button_art(grid, False))
        write_bmp(os.path.join(OUT, name + "_grey.bmp"), draw_button_art(grid, True))
    # The viewer shows it for a picture it cannot display.
    write_bmp(os.path.join(OUT, "placeholder.bmp"), draw_placeholder(379, 159))


if __name__ == "__main__":
    main()
