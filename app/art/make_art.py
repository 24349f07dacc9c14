#!/usr/bin/env python3
"""Draws every picture of Quorvane Live: the bitmaps and the icons.

    python3 make_art.py OUTDIR [--preview PNGDIR]

Nothing here is a stored image. Shapes are signed distance functions, so
their edges are anti-aliased for free; text comes from the hand-made pixel
fonts beside this script (font5x7.txt, font3x5.txt). Standard library only,
so the build needs no more than python3. --preview also writes enlarged PNG
copies, for looking at the art without a Windows build.
"""

import math
import os
import random
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------------------
# Theme. Graphite panels, one amber accent; green and red only where they
# carry meaning (live, record, meter zones).

PAL = {
    "void": (17, 18, 21),
    "panel_top": (55, 58, 64),
    "panel_bot": (40, 42, 47),
    "toolbar": (43, 46, 51),
    "groove": (24, 26, 29),
    "groove_lo": (19, 20, 23),
    "edge_dark": (10, 11, 13),
    "edge_light": (96, 101, 110),
    "ink": (228, 231, 235),
    "label": (182, 188, 196),
    "dim": (112, 118, 127),
    "accent": (255, 170, 40),
    "accent_hi": (255, 214, 140),
    "accent_dim": (128, 88, 30),
    "lcd_top": (9, 10, 9),
    "lcd_bot": (20, 18, 14),
    "live": (96, 214, 112),
    "rec": (228, 52, 44),
    "seg_off": (36, 42, 39),
    "seg_peak_off": (66, 33, 32),
}

# Where the program draws over the gate pane. The knob windows (20x20) sit
# at the knob positions and show this picture with the needle on top
# (centre pixel x+9, y+9, radius 7); the read-outs are drawn from (text x,
# text y) into the display boxes, some of them with an opaque background of
# BOX_FACE, so the boxes' interiors are exactly that colour. The lit switch
# (switchlit.bmp) is put over the unlit one at "switch".
# Rows are (knob x, knob y, text x, text y, caption, unit).
GATE = {
    "gain_frame": (4, 13, 224, 84),
    "gate_frame": (4, 101, 224, 198),
    "rows": [
        (25, 29, 60, 32, "Output", "dB"),
        (25, 54, 60, 58, "Input", "dB"),
        (24, 118, 60, 122, "Attack", "ms"),
        (24, 144, 60, 148, "Release", "ms"),
        (24, 170, 60, 174, "Threshold", "dB"),
    ],
    "knob": 20,
    "box_x0": 56,     # display box: x0 .. x1, text y - 3 .. text y + 11
    "box_x1": 126,
    "unit_x": 130,
    "caption_x": 147,
    "switch": (17, 208),
}
BOX_FACE = (34, 36, 47)
SWITCH_W, SWITCH_H = 83, 15

# Effect-chain pane: the program writes slot names at (34, 14+28r) and puts
# the bypass badge at (228, 13+28r).
FX_ROWS = 8
FX_ROW_Y0, FX_ROW_PITCH = 14, 28
BADGE_X, BADGE_W, BADGE_H = 228, 51, 15

# Meter: 43 segments per channel, 5 px pitch from x=65; the last five are
# the peak zone. The scale maps -80..0 dB linearly onto the segment span.
# Rows are y0 .. y1 with y1 outside, as the program fills the segments.
METER_SEG_X0, METER_SEG_PITCH, METER_SEGS, METER_PEAK_FROM = 65, 5, 43, 38
METER_ROWS = (("LEFT", 11, 22), ("RIGHT", 34, 45))


# ---------------------------------------------------------------------------
# Colour helpers

def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def shade(c, k):
    """k > 0 lightens towards white, k < 0 darkens towards black."""
    return mix(c, (255, 255, 255), k) if k >= 0 else mix(c, (0, 0, 0), -k)


def ramp(stops, t):
    t = clamp(t)
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return mix(c0, c1, (t - t0) / (t1 - t0) if t1 > t0 else 0.0)
    return stops[-1][1]


def vgrad(y0, y1, stops):
    return lambda x, y: ramp(stops, (y - y0) / (y1 - y0))


def hgrad(x0, x1, stops):
    return lambda x, y: ramp(stops, (x - x0) / (x1 - x0))


def rgrad(cx, cy, r, stops):
    return lambda x, y: ramp(stops, math.hypot(x - cx, y - cy) / r)


# ---------------------------------------------------------------------------
# Canvas: straight (not premultiplied) RGBA, colour 0..255, alpha 0..1.

class Canvas:
    def __init__(self, w, h, fill=None):
        self.w, self.h = w, h
        if fill is None:
            self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]
        else:
            self.px = [[float(fill[0]), float(fill[1]), float(fill[2]), 1.0] for _ in range(w * h)]

    def blend(self, x, y, c, a, add=False):
        if a <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        p = self.px[y * self.w + x]
        if add:  # light: brightens whatever is below
            for k in range(3):
                p[k] = min(255.0, p[k] + c[k] * a)
            return
        a = min(a, 1.0)
        da = p[3]
        if da >= 1.0:
            for k in range(3):
                p[k] += (c[k] - p[k]) * a
            return
        oa = a + da * (1.0 - a)
        for k in range(3):
            p[k] = (c[k] * a + p[k] * da * (1.0 - a)) / oa if oa > 0 else 0.0
        p[3] = oa

    def get(self, x, y):
        return self.px[y * self.w + x]

    def crop(self, x, y, w, h):
        out = Canvas(w, h)
        for j in range(h):
            for i in range(w):
                out.px[j * w + i] = list(self.get(x + i, y + j))
        return out

    def paste(self, other, x, y):
        for j in range(other.h):
            for i in range(other.w):
                p = other.px[j * other.w + i]
                self.blend(x + i, y + j, p, p[3])

    def tweak(self, x0, y0, x1, y1, fn):
        """Adds fn(x, y) to the brightness of every pixel in the rectangle."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                d = fn(x, y)
                p = self.px[y * self.w + x]
                for k in range(3):
                    p[k] = clamp(p[k] + d, 0.0, 255.0)

    def rgb_bytes(self, x, y):
        p = self.px[y * self.w + x]
        return [int(clamp(v, 0, 255) + 0.5) for v in p[:3]], p[3]


# ---------------------------------------------------------------------------
# Shapes: a distance function (negative inside, in pixels) and a bounding box.

class Shape:
    def __init__(self, f, bbox):
        self.f, self.bbox = f, bbox

    def __or__(self, o):
        f, g = self.f, o.f
        a, b = self.bbox, o.bbox
        return Shape(lambda x, y: min(f(x, y), g(x, y)),
                     (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])))

    def __sub__(self, o):
        f, g = self.f, o.f
        return Shape(lambda x, y: max(f(x, y), -g(x, y)), self.bbox)

    def __and__(self, o):
        f, g = self.f, o.f
        a, b = self.bbox, o.bbox
        return Shape(lambda x, y: max(f(x, y), g(x, y)),
                     (max(a[0], b[0]), max(a[1], b[1]), min(a[2], b[2]), min(a[3], b[3])))

    def grow(self, k):
        f, b = self.f, self.bbox
        return Shape(lambda x, y: f(x, y) - k, (b[0] - k, b[1] - k, b[2] + k, b[3] + k))

    def outline(self, w):
        f, b, h = self.f, self.bbox, w / 2.0
        return Shape(lambda x, y: abs(f(x, y)) - h, (b[0] - h, b[1] - h, b[2] + h, b[3] + h))

    def moved(self, dx, dy):
        f, b = self.f, self.bbox
        return Shape(lambda x, y: f(x - dx, y - dy), (b[0] + dx, b[1] + dy, b[2] + dx, b[3] + dy))


def union(shapes):
    shapes = list(shapes)
    fs = [s.f for s in shapes]
    bb = (min(s.bbox[0] for s in shapes), min(s.bbox[1] for s in shapes),
          max(s.bbox[2] for s in shapes), max(s.bbox[3] for s in shapes))
    return Shape(lambda x, y: min(f(x, y) for f in fs), bb)


def circle(cx, cy, r):
    return Shape(lambda x, y: math.hypot(x - cx, y - cy) - r, (cx - r, cy - r, cx + r, cy + r))


def rrect(x0, y0, x1, y1, r=0.0):
    """Rectangle between pixel edges x0..x1, y0..y1 with corner radius r."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - r
    return Shape(f, (x0, y0, x1, y1))


def segment(ax, ay, bx, by, r):
    ex, ey = bx - ax, by - ay
    ll = ex * ex + ey * ey

    def f(x, y):
        wx, wy = x - ax, y - ay
        t = clamp((wx * ex + wy * ey) / ll) if ll else 0.0
        return math.hypot(wx - ex * t, wy - ey * t) - r
    return Shape(f, (min(ax, bx) - r, min(ay, by) - r, max(ax, bx) + r, max(ay, by) + r))


def polyline(pts, r):
    return union(segment(a[0], a[1], b[0], b[1], r) for a, b in zip(pts, pts[1:]))


def polygon(pts):
    n = len(pts)

    def f(x, y):
        d = (x - pts[0][0]) ** 2 + (y - pts[0][1]) ** 2
        s = 1.0
        j = n - 1
        for i in range(n):
            vix, viy = pts[i]
            ex, ey = pts[j][0] - vix, pts[j][1] - viy
            wx, wy = x - vix, y - viy
            t = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey))
            bx, by = wx - ex * t, wy - ey * t
            d = min(d, bx * bx + by * by)
            c1, c2, c3 = y >= viy, y < pts[j][1], ex * wy > ey * wx
            if (c1 and c2 and c3) or not (c1 or c2 or c3):
                s = -s
            j = i
        return s * math.sqrt(d)
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return Shape(f, (min(xs), min(ys), max(xs), max(ys)))


def arc(cx, cy, radius, a0, a1, w):
    """Stroke of width w along a circle from angle a0 to a1 (degrees,
    clockwise on screen, 0 = right), with round ends."""
    span = (a1 - a0) % 360.0 or 360.0
    ends = [(cx + radius * math.cos(math.radians(a)), cy + radius * math.sin(math.radians(a)))
            for a in (a0, a1)]
    h = w / 2.0

    def f(x, y):
        ang = math.degrees(math.atan2(y - cy, x - cx))
        if (ang - a0) % 360.0 <= span:
            return abs(math.hypot(x - cx, y - cy) - radius) - h
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - h
    R = radius + h
    return Shape(f, (cx - R, cy - R, cx + R, cy + R))


def polar(cx, cy, r, deg):
    return cx + r * math.cos(math.radians(deg)), cy + r * math.sin(math.radians(deg))


# ---------------------------------------------------------------------------
# Painting shapes

def fill(cv, shape, paint, alpha=1.0, soft=None, add=False, pad=0):
    """Paints shape; coverage comes from the distance (anti-aliased edge), or
    from soft(d) for shadows and glows that reach pad pixels outside."""
    b = shape.bbox
    x0, y0 = max(0, int(math.floor(b[0])) - 1 - pad), max(0, int(math.floor(b[1])) - 1 - pad)
    x1, y1 = min(cv.w, int(math.ceil(b[2])) + 1 + pad), min(cv.h, int(math.ceil(b[3])) + 1 + pad)
    f = shape.f
    const = not callable(paint)
    for y in range(y0, y1):
        py = y + 0.5
        for x in range(x0, x1):
            d = f(x + 0.5, py)
            cov = soft(d) if soft else clamp(0.5 - d)
            if cov <= 0.0:
                continue
            cv.blend(x, y, paint if const else paint(x + 0.5, py), cov * alpha, add)


def blur_edge(width):
    """Soft coverage for drop shadows: fades over `width` px outside."""
    return lambda d: clamp(0.5 - d / width)


def glow(radius):
    return lambda d: 1.0 if d <= 0 else max(0.0, 1.0 - d / radius) ** 2


# ---------------------------------------------------------------------------
# Pixel fonts

class Font:
    def __init__(self, name):
        self.glyphs, self.cap, cur = {}, 7, None
        with open(os.path.join(HERE, name)) as fh:
            for line in fh:
                line = line.strip()
                if not line or line.startswith(";"):
                    continue
                if line.startswith("cap "):
                    self.cap = int(line[4:])
                elif line.startswith("glyph "):
                    key = line[6:].strip()
                    cur = self.glyphs[" " if key == "space" else key] = []
                else:
                    cur.append(line)
        for key, rows in self.glyphs.items():
            if len({len(r) for r in rows}) != 1:
                raise ValueError("%s: glyph %r has rows of different widths" % (name, key))

    def glyph(self, ch):
        if ch not in self.glyphs:
            raise KeyError("no glyph for %r in the pixel font" % ch)
        return self.glyphs[ch]

    def width(self, text, bold=False, spacing=1):
        if not text:
            return 0
        w = sum(len(self.glyph(c)[0]) + spacing + (1 if bold else 0) for c in text)
        return w - spacing

    def cells(self, text, bold=False, spacing=1):
        """Yields (column, row) of every inked cell of the text."""
        ox = 0
        for ch in text:
            rows = self.glyph(ch)
            for j, row in enumerate(rows):
                for i, cell in enumerate(row):
                    if cell == "#":
                        yield ox + i, j
                        if bold:
                            yield ox + i + 1, j
            ox += len(rows[0]) + spacing + (1 if bold else 0)


FONT = Font("font5x7.txt")
SMALL = Font("font3x5.txt")


def text(cv, x, y, s, colour, font=FONT, bold=False, alpha=1.0, spacing=1, emboss=False):
    """Pixel text with its top-left at (x, y). emboss adds the dark line
    under each stroke that makes a label look engraved into a panel."""
    cells = set(font.cells(s, bold, spacing))
    if emboss:
        for i, j in cells:
            if (i, j + 1) not in cells:
                cv.blend(x + i, y + j + 1, (0, 0, 0), 0.55 * alpha)
    for i, j in cells:
        cv.blend(x + i, y + j, colour, alpha)


def text_centred(cv, cx, y, s, colour, **kw):
    font, bold = kw.get("font", FONT), kw.get("bold", False)
    text(cv, int(round(cx - font.width(s, bold, kw.get("spacing", 1)) / 2.0)), y, s, colour, **kw)


def text_shapes(x, y, s, sx, sy, stroke, font=FONT, spacing=1.0):
    """Large text: the pixel glyphs redrawn as round-ended strokes joining
    neighbouring cells, which reads as a smooth monoline face at any scale."""
    shapes, ox = [], 0.0
    for ch in s:
        rows = font.glyph(ch)
        on = {(i, j) for j, row in enumerate(rows) for i, c in enumerate(row) if c == "#"}
        segs = []
        for (i, j) in on:
            links = [(i + 1, j), (i, j + 1)]
            if (i + 1, j + 1) in on and (i + 1, j) not in on and (i, j + 1) not in on:
                links.append((i + 1, j + 1))
            if (i - 1, j + 1) in on and (i - 1, j) not in on and (i, j + 1) not in on:
                links.append((i - 1, j + 1))
            cx, cy = x + ox + (i + 0.5) * sx, y + (j + 0.5) * sy
            linked = [(a, b) for a, b in links if (a, b) in on]
            for a, b in linked:
                segs.append(segment(cx, cy, x + ox + (a + 0.5) * sx, y + (b + 0.5) * sy, stroke))
            if not linked:
                segs.append(segment(cx, cy, cx, cy, stroke))
        if segs:
            shapes.append(union(segs))
        ox += (len(rows[0]) + spacing) * sx
    return shapes, ox - spacing * sx


# ---------------------------------------------------------------------------
# Surfaces and furniture shared by several pictures

def brushed(cv, x0, y0, x1, y1, amount, seed, streak=14):
    """Horizontal brushing: noise smeared along x, a little grain on top."""
    rnd = random.Random(seed)
    w = x1 - x0
    field = {}
    for y in range(y0, y1):
        raw = [rnd.gauss(0.0, 1.0) for _ in range(w)]
        acc, run = 0.0, []
        for x in range(w + streak):
            acc += raw[x % w]
            if x >= streak:
                acc -= raw[(x - streak) % w]
                run.append(acc / math.sqrt(streak))
        bias = rnd.gauss(0.0, 0.35)
        for x in range(w):
            field[(x0 + x, y)] = (0.75 * run[x] + bias + 0.3 * rnd.gauss(0.0, 1.0)) * amount
    cv.tweak(x0, y0, x1, y1, lambda x, y: field[(x, y)])


def panel(w, h, seed):
    """The anodised graphite plate every pane is cut from."""
    cv = Canvas(w, h, PAL["panel_bot"])
    fill(cv, rrect(0, 0, w, h), vgrad(0, h, [(0, PAL["panel_top"]), (1, PAL["panel_bot"])]))
    brushed(cv, 0, 0, w, h, 2.2, seed)
    # Soft light from above: a bright top edge, a dark bottom edge.
    fill(cv, rrect(0, 0, w, 1), PAL["edge_light"], 0.45)
    fill(cv, rrect(0, 0, 1, h), PAL["edge_light"], 0.18)
    fill(cv, rrect(0, h - 1, w, h), PAL["edge_dark"], 0.7)
    fill(cv, rrect(w - 1, 0, w, h), PAL["edge_dark"], 0.45)
    return cv


def well(cv, x0, y0, x1, y1, r, paint, depth=1.0):
    """A recess milled into the plate: shadowed top, lit lower lip."""
    fill(cv, rrect(x0, y0 + 1, x1, y1 + 1, r), PAL["edge_light"], 0.35 * depth)
    fill(cv, rrect(x0, y0, x1, y1, r), PAL["edge_dark"], 0.9)
    fill(cv, rrect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, max(0.0, r - 1)), paint)
    # The lip throws a shadow that fades down into the recess.
    inner = rrect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, max(0.0, r - 1))
    fill(cv, inner & rrect(x0, y0, x1, y0 + 4), (0, 0, 0), 0.22 * depth)
    fill(cv, inner & rrect(x0, y0, x1, y0 + 2), (0, 0, 0), 0.25 * depth)


def engraved_frame(cv, x0, y0, x1, y1, title):
    """Group box cut into the plate, its title sitting in a gap of the line."""
    tw = FONT.width(title, bold=True)
    gap = rrect(x0 + 7, y0 - 5, x0 + 13 + tw, y0 + 5)
    line = rrect(x0 + 0.5, y0 + 0.5, x1 - 0.5, y1 - 0.5, 4).outline(1.0) - gap
    fill(cv, line.moved(1, 1), PAL["edge_light"], 0.28)
    fill(cv, line, PAL["edge_dark"], 0.75)
    text(cv, x0 + 10, y0 - 3, title, PAL["accent"], bold=True, emboss=True)


def knob(cv, x, y):
    """20x20 knob with its scale around it; the program draws the needle on
    top from the centre pixel (x+9, y+9), 270 degrees from lower left
    (135) over the top to lower right (405)."""
    cx, cy = x + 9.5, y + 9.5
    for k in range(11):
        a = 135 + 27 * k
        big = k in (0, 5, 10)
        ax, ay = polar(cx, cy, 10.8, a)
        bx, by = polar(cx, cy, 13.0 if big else 12.2, a)
        fill(cv, segment(ax, ay, bx, by, 0.5), PAL["label"] if big else PAL["dim"], 0.9)
    fill(cv, circle(cx + 0.5, cy + 1.2, 9.2), (0, 0, 0), 0.6, soft=blur_edge(2.5), pad=3)
    fill(cv, circle(cx, cy, 9.0), vgrad(cy - 9, cy + 9, [(0, (120, 125, 134)), (0.5, (66, 70, 77)),
                                                         (1, (30, 32, 36))]))
    fill(cv, circle(cx, cy, 6.8), vgrad(cy - 7, cy + 7, [(0, (46, 49, 54)), (1, (70, 74, 81))]))
    fill(cv, circle(cx, cy, 6.8).outline(0.7), (20, 21, 24), 0.55)
    fill(cv, circle(cx - 2.0, cy - 2.8, 2.4), (255, 255, 255), 0.10, soft=blur_edge(3.0), pad=3)
    # Knurling round the skirt.
    for k in range(20):
        ax, ay = polar(cx, cy, 7.4, k * 18)
        bx, by = polar(cx, cy, 8.6, k * 18)
        fill(cv, segment(ax, ay, bx, by, 0.3), (0, 0, 0), 0.35)
    fill(cv, arc(cx, cy, 8.5, 200, 320, 0.8), (255, 255, 255), 0.25)


def lcd(cv, x0, y0, x1, y1):
    """Display box: a recess whose face is the flat BOX_FACE, the colour
    the program paints behind a read-out it redraws."""
    well(cv, x0 - 1, y0 - 1, x1 + 1, y1 + 1, 2, BOX_FACE)
    fill(cv, rrect(x0, y0, x1, y1), BOX_FACE)


def led(cv, cx, cy, lit, colour):
    if lit:
        fill(cv, circle(cx, cy, 2.6), colour, 0.5, soft=glow(6.0), add=True, pad=6)
        fill(cv, circle(cx, cy, 2.3), rgrad(cx - 0.6, cy - 0.6, 2.6, [(0, (255, 250, 225)), (0.5, colour),
                                                                     (1, shade(colour, -0.25))]))
    else:
        fill(cv, circle(cx, cy + 0.6, 2.6), PAL["edge_light"], 0.3)
        fill(cv, circle(cx, cy, 2.6), PAL["edge_dark"], 0.9)
        fill(cv, circle(cx, cy, 1.8), rgrad(cx - 0.5, cy - 0.7, 2.2, [(0, shade(colour, -0.55)),
                                                                     (1, shade(colour, -0.82))]))


def switch_face(cv, x, y, lit):
    """The Center Amp. push switch, 83x15, in either state."""
    w, h = SWITCH_W, SWITCH_H
    fill(cv, rrect(x, y + 1, x + w, y + h, 3), (0, 0, 0), 0.45)
    fill(cv, rrect(x, y, x + w, y + h - 0.5, 3), PAL["edge_dark"])
    if lit:
        face = vgrad(y, y + h, [(0, (92, 72, 38)), (0.5, (70, 52, 26)), (1, (50, 37, 20))])
    else:
        face = vgrad(y, y + h, [(0, (82, 86, 93)), (0.5, (60, 63, 69)), (1, (46, 48, 53))])
    fill(cv, rrect(x + 1, y + 1, x + w - 1, y + h - 1.5, 2), face)
    fill(cv, rrect(x + 2, y + 1, x + w - 2, y + 2), (255, 255, 255), 0.16)
    led(cv, x + 8.5, y + 7.0, lit, PAL["accent"])
    label = "Center Amp."
    tx = x + 15 + (w - 17 - FONT.width(label)) // 2
    if lit:
        text(cv, tx, y + 4, label, PAL["accent_hi"])
        fill(cv, rrect(x + 1, y + 1, x + w - 1, y + h - 1.5, 2), PAL["accent"], 0.10, add=True)
    else:
        text(cv, tx, y + 4, label, PAL["label"], emboss=True)


def segment_cell(cv, x, y0, y1, colour, lit):
    """One 4 px meter/bar segment."""
    if lit:
        fill(cv, rrect(x, y0, x + 4, y1), vgrad(y0, y1, [(0, shade(colour, 0.35)), (0.45, colour),
                                                          (1, shade(colour, -0.3))]))
    else:
        fill(cv, rrect(x, y0, x + 4, y1), vgrad(y0, y1, [(0, shade(colour, 0.12)), (1, shade(colour, -0.2))]))
        fill(cv, rrect(x, y0, x + 4, y0 + 1), (255, 255, 255), 0.05)


# ---------------------------------------------------------------------------
# The pictures, one function each

def fxpane():
    w, h = 291, 235
    cv = panel(w, h, 11)
    for r in range(FX_ROWS):
        y = FX_ROW_Y0 + FX_ROW_PITCH * r
        top, bot = y - 5, y + 18
        well(cv, 6, top, 285, bot, 3, vgrad(top, bot, [(0, PAL["groove_lo"]), (1, PAL["groove"])]))
        # A cell at the row's start; the pane writes the slot's number itself
        # ("1: ..."), so the picture carries none.
        fill(cv, rrect(7, top + 1, 27, bot - 1, 2), (255, 255, 255), 0.03)
        fill(cv, rrect(27, top + 3, 28, bot - 3), PAL["edge_dark"], 0.8)
        fill(cv, rrect(28, top + 3, 29, bot - 3), PAL["edge_light"], 0.15)
        # Where the bypass badge appears: a faint empty window.
        fill(cv, rrect(BADGE_X - 0.5, y - 1.5, BADGE_X + BADGE_W + 0.5, y + 14.5, 3).outline(1.0),
             (255, 255, 255), 0.05)
    return cv


def bypass(fx):
    """Badge over the effect slot's groove; its corners are the groove."""
    cv = fx.crop(BADGE_X, FX_ROW_Y0 - 1, BADGE_W, BADGE_H)
    w, h = BADGE_W, BADGE_H
    fill(cv, rrect(0.5, 0.5, w - 0.5, h - 0.5, 3), PAL["accent"], 0.35, soft=glow(2.0), add=True, pad=1)
    fill(cv, rrect(1, 1, w - 1, h - 1, 2.5), vgrad(1, h - 1, [(0, (255, 190, 80)), (0.5, PAL["accent"]),
                                                            (1, (200, 120, 20))]))
    fill(cv, rrect(2, 1.5, w - 2, 6.5, 2), (255, 255, 255), 0.18)
    tx = (w - FONT.width("BYPASS", bold=True, spacing=1)) // 2
    text(cv, tx, 4, "BYPASS", (40, 24, 6), bold=True)
    return cv


def gatepane():
    g = GATE
    cv = panel(228, 235, 23)
    engraved_frame(cv, *g["gain_frame"], "Gain Adjust")
    engraved_frame(cv, *g["gate_frame"], "Input Gate")
    for kx, ky, tx, ty, caption, unit in g["rows"]:
        knob(cv, kx, ky)
        lcd(cv, g["box_x0"], ty - 3, g["box_x1"], ty + 11)
        text(cv, g["unit_x"], ty, unit, PAL["accent"], emboss=True)
        text(cv, g["caption_x"], ty, caption, PAL["label"], emboss=True)
    switch_face(cv, *g["switch"], lit=False)
    return cv


def switchlit(gate):
    x, y = GATE["switch"]
    cv = gate.crop(x, y, SWITCH_W, SWITCH_H)
    switch_face(cv, 0, 0, lit=True)
    return cv


def mdipattern():
    """Carbon twill, dark and quiet: 4 px blocks alternating the direction
    of their sheen. 64 is a multiple of the 8 px repeat, so it tiles."""
    n, b = 64, 4
    cv = Canvas(n, n, PAL["void"])
    for y in range(n):
        for x in range(n):
            bx, by = x // b, y // b
            u = ((x % b) + 0.5) / b if (bx + by) % 2 else ((y % b) + 0.5) / b
            k = 0.5 - 0.5 * math.cos(u * math.pi * 2)   # bright in the middle of a block
            lift = 3.0 + 7.0 * k if (bx + by) % 2 else 1.0 + 5.0 * k
            p = cv.get(x, y)
            for c in range(3):
                p[c] += lift
    return cv


def meter():
    w, h = 300, 56
    cv = panel(w, h, 37)
    x0 = METER_SEG_X0
    x_end = x0 + METER_SEG_PITCH * METER_SEGS - 1   # right edge of the last segment
    for title, y0, y1 in METER_ROWS:
        text(cv, 10, (y0 + y1) // 2 - 3, title, PAL["label"], bold=True, emboss=True)
        well(cv, x0 - 2, y0 - 2, x_end + 2, y1 + 2, 2, PAL["edge_dark"])
        for k in range(METER_SEGS):
            colour = PAL["seg_peak_off"] if k >= METER_PEAK_FROM else PAL["seg_off"]
            segment_cell(cv, x0 + METER_SEG_PITCH * k, y0, y1, colour, lit=False)
    # dB scale between the bars.
    top = METER_ROWS[0][2] + 3
    bottom = METER_ROWS[1][1] - 2
    span = x_end - x0
    for db in range(-80, 1, 5):
        x = int(round(x0 + span * (db + 80) / 80.0))
        major = db % 10 == 0
        colour = (PAL["accent_dim"] if db >= -10 else PAL["dim"])
        fill(cv, rrect(x, top, x + 1, top + (2 if major else 1)), colour)
        fill(cv, rrect(x, bottom - (2 if major else 1), x + 1, bottom), colour)
        if major:
            label = str(db) if db else "0"
            lw = SMALL.width(label)
            text(cv, x + 1 - (lw + 1) // 2 - (1 if db else 0), top + 2, label,
                 PAL["label"] if db < -10 else PAL["accent"], font=SMALL)
    text(cv, x_end + 6, top + 2, "dB", PAL["dim"], font=SMALL)
    return cv


def splash():
    w, h = 360, 160
    cv = Canvas(w, h, PAL["void"])
    fill(cv, rrect(0, 0, w, h), vgrad(0, h, [(0, (34, 37, 43)), (0.55, (22, 24, 28)), (1, (13, 14, 16))]))
    fill(cv, circle(90, 40, 40), (70, 78, 92), 0.35, soft=glow(200.0), pad=200)
    brushed(cv, 0, 0, w, h, 1.0, 51, streak=40)

    # Waveform motif: an overview of a phrase, bars mirrored about a line.
    mid = 120.0
    fill(cv, rrect(0, mid - 1, w, mid + 1), PAL["accent"], 0.35, soft=glow(18.0), add=True, pad=18)
    rnd = random.Random(7)
    hits = [(0.05, 0.8), (0.17, 0.55), (0.29, 0.9), (0.41, 0.5), (0.53, 1.0), (0.6, 0.45), (0.72, 0.8),
            (0.84, 0.5), (0.93, 0.65)]
    for x in range(8, w - 8, 3):
        t = x / float(w)
        # A phrase of struck notes: each hit decays, the phrase fades at both ends.
        env = sum(v * math.exp(-(t - t0) / 0.045) for t0, v in hits if t >= t0)
        env = min(1.0, 0.12 + env) * math.sin(math.pi * t) ** 0.35
        a = max(1.0, 30.0 * env * (0.6 + 0.4 * rnd.random()))
        heat = mix(PAL["accent_dim"], PAL["accent"], clamp(a / 24.0))
        fill(cv, rrect(x, mid - a, x + 2, mid), vgrad(mid - a, mid, [(0, shade(heat, 0.25)), (1, heat)]))
        fill(cv, rrect(x, mid, x + 2, mid + a * 0.55), vgrad(mid, mid + a * 0.55, [(0, heat), (1, PAL["void"])]),
             0.45)
    fill(cv, rrect(0, mid, w, mid + 0.7), PAL["accent_hi"], 0.6)

    # Product name, version, line of purpose.
    shapes, tw = text_shapes(0, 0, "Quorvane", 4.0, 4.6, 1.35)
    x0, y0 = 26.0, 24.0
    for s in shapes:
        fill(cv, s.moved(x0 + 1.5, y0 + 2.5), (0, 0, 0), 0.55, soft=blur_edge(3.0), pad=3)
        fill(cv, s.moved(x0, y0), vgrad(y0, y0 + 32, [(0, (250, 251, 253)), (1, (186, 192, 202))]))
    live, lw = text_shapes(0, 0, "Live", 4.0, 4.6, 1.35)
    lx = x0 + tw + 14
    for s in live:
        fill(cv, s.moved(lx + 1.5, y0 + 2.5), (0, 0, 0), 0.55, soft=blur_edge(3.0), pad=3)
        fill(cv, s.moved(lx, y0), PAL["accent"], 0.35, soft=glow(5.0), add=True, pad=5)
        fill(cv, s.moved(lx, y0), vgrad(y0, y0 + 32, [(0, PAL["accent_hi"]), (1, PAL["accent"])]))
    text(cv, 28, 70, "LIVE INPUT AUDIO STUDIO", PAL["label"], spacing=2)
    ver = "1.21"
    text(cv, int(lx + lw - FONT.width(ver, bold=True)), 70, ver, PAL["accent"], bold=True)
    fill(cv, rrect(0, h - 1, w, h), PAL["edge_dark"])
    return cv


def loadbar():
    """166x16; the read-out shows the first n columns (n = the load in percent,
    at most 100) and 14 rows inside a box whose rest is black. Segments of
    2 px with a 1 px black gap ramp from green over yellow to red at 100 %."""
    w, h = 166, 16
    cv = Canvas(w, h, (0, 0, 0))
    stops = [(0, (30, 200, 70)), (0.6, (226, 214, 60)), (0.8, (255, 150, 30)), (1, (235, 40, 32))]
    for x in range(0, w, 3):
        colour = ramp(stops, min(x, 99) / 99.0)
        fill(cv, rrect(x, 1, x + 2, 13), vgrad(1, 13, [(0, shade(colour, 0.35)), (0.4, colour),
                                                      (1, shade(colour, -0.35))]))
    return cv


# Toolbar pictures: eleven 48x39 cells side by side, in button order. The
# toolbar and the accompaniment bar's button are painted in the system
# button face, and these pictures sit on it: they are drawn on the classic
# light-grey face (192, 192, 192), so that a picture blends into its button.
# The normal set is muted, the hot set in full colour.

FACE = (192, 192, 192)
INK = (52, 54, 58)          # outlines: dark enough to read on the grey face
PAPER = (252, 252, 248)
WAVE_BLUE = (38, 96, 188)
ARROW_GREEN = (34, 150, 60)
WOOD = (150, 92, 44)


def tb_colour(c, hi):
    """Hot pictures show their colours; normal ones lean towards the face."""
    if hi:
        return c
    lum = 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]
    return mix(mix(c, (lum, lum, lum), 0.55), FACE, 0.12)


def inked(cv, shape, paint, width=1.0, alpha=1.0):
    """A shape with a dark rim, as classic toolbar glyphs are drawn."""
    fill(cv, shape.grow(width), INK, alpha)
    fill(cv, shape, paint, alpha)


def drop_shadow(cv, shape):
    fill(cv, shape.moved(1.5, 1.5), (0, 0, 0), 0.22, soft=blur_edge(2.0), pad=2)


def sheet(cv, ox, hi, x0=15, y0=6, x1=33, y1=33, fold=6):
    page = polygon([(ox + x0, y0), (ox + x1 - fold, y0), (ox + x1, y0 + fold), (ox + x1, y1), (ox + x0, y1)])
    drop_shadow(cv, page)
    paper = tb_colour(PAPER, hi)
    inked(cv, page, vgrad(y0, y1, [(0, paper), (1, shade(paper, -0.08))]))
    corner = polygon([(ox + x1 - fold, y0), (ox + x1, y0 + fold), (ox + x1 - fold, y0 + fold)])
    inked(cv, corner, shade(paper, -0.22), 0.6)
    return page


def arrow(cv, pts, colour, hi):
    """A thick arrow along pts (its head at the last point)."""
    col = tb_colour(colour, hi)
    (ax, ay), (bx, by) = pts[-2], pts[-1]
    d = math.hypot(bx - ax, by - ay)
    ux, uy = (bx - ax) / d, (by - ay) / d
    head = polygon([(bx + ux * 2.5, by + uy * 2.5),
                    (bx - ux * 5 - uy * 5, by - uy * 5 + ux * 5),
                    (bx - ux * 5 + uy * 5, by - uy * 5 - ux * 5)])
    shaft = polyline(pts[:-1] + [(bx - ux * 4, by - uy * 4)], 1.6)
    inked(cv, shaft | head, vgrad(min(p[1] for p in pts) - 3, max(p[1] for p in pts) + 3,
                                  [(0, shade(col, 0.25)), (1, shade(col, -0.15))]))


def tb_new(cv, ox, hi):
    sheet(cv, ox, hi)
    for k in range(4):
        fill(cv, rrect(ox + 18, 15 + 4 * k, ox + 30 - 4 * (k == 3), 16 + 4 * k), tb_colour((150, 156, 166), hi))
    # A spark in the corner: new.
    star = polygon([polar(ox + 33, 28, 5.5 if k % 2 == 0 else 2.2, -90 + 45 * k) for k in range(8)])
    inked(cv, star, tb_colour((255, 200, 40), hi), 0.8)


def tb_open(cv, ox, hi):
    sheet(cv, ox, hi, 11, 9, 28, 34, 5)
    for k in range(3):
        fill(cv, rrect(ox + 14, 18 + 4 * k, ox + 24, 19 + 4 * k), tb_colour((150, 156, 166), hi))
    arrow(cv, [(ox + 22, 27), (ox + 29, 20), (ox + 36, 13)], ARROW_GREEN, hi)


def tb_save(cv, ox, hi):
    body = tb_colour((56, 84, 150), hi)
    disk = rrect(ox + 11, 12, ox + 35, 36, 2.0) - polygon([(ox + 31, 11), (ox + 36, 11), (ox + 36, 16)])
    drop_shadow(cv, disk)
    inked(cv, disk, vgrad(12, 36, [(0, shade(body, 0.15)), (1, shade(body, -0.2))]))
    fill(cv, rrect(ox + 16, 12, ox + 29, 19, 0.5), tb_colour((196, 200, 206), hi))
    fill(cv, rrect(ox + 25, 13.5, ox + 27.5, 17.5), shade(body, -0.3))
    fill(cv, rrect(ox + 15, 24, ox + 31, 35, 1.0), tb_colour(PAPER, hi))
    for k in range(2):
        fill(cv, rrect(ox + 17, 27 + 3.5 * k, ox + 29, 28 + 3.5 * k), tb_colour((150, 156, 166), hi))
    # The arrow comes down into the disk.
    arrow(cv, [(ox + 37, 2), (ox + 37, 9), (ox + 31, 17)], ARROW_GREEN, hi)


def tb_wave(cv, ox, hi):
    sheet(cv, ox, hi, 13, 4, 35, 35, 6)
    blue = tb_colour(WAVE_BLUE, hi)
    pts = [(ox + 16 + t * 0.5, 15 + 5.5 * math.sin(t * 0.5 * 2 * math.pi / 8.0) * (0.35 + 0.65 * math.sin(math.pi * t / 32.0)))
           for t in range(33)]
    fill(cv, polyline(pts, 0.75), blue)
    fill(cv, rrect(ox + 16, 15, ox + 32, 15.5), blue, 0.35)
    text_centred(cv, ox + 24, 24, "WAVE", tb_colour((160, 30, 30), hi), font=FONT, spacing=0)


def tb_microphone(cv, ox, hi):
    cx = ox + 24
    metal = tb_colour((120, 126, 136), hi)
    head = rrect(cx - 5.5, 4, cx + 5.5, 22, 5.5)
    drop_shadow(cv, head)
    inked(cv, head, hgrad(cx - 6, cx + 6, [(0, shade(metal, 0.45)), (0.45, shade(metal, 0.1)),
                                           (1, shade(metal, -0.35))]))
    for k in range(4):
        fill(cv, rrect(cx - 4.5, 8 + 3.2 * k, cx + 4.5, 8.8 + 3.2 * k), shade(metal, -0.5), 0.8)
    band = tb_colour((200, 40, 36), hi)
    fill(cv, rrect(cx - 5.5, 17.5, cx + 5.5, 19.5), band)
    holder = arc(cx, 15.5, 8.5, 20, 160, 1.6)
    inked(cv, holder, shade(metal, -0.2), 0.7)
    stand = rrect(cx - 1.2, 24, cx + 1.2, 31) | rrect(cx - 7, 31, cx + 7, 34, 1.2)
    inked(cv, stand, shade(metal, -0.1), 0.8)


def tb_metronome(cv, ox, hi):
    cx = ox + 24
    wood = tb_colour(WOOD, hi)
    body = polygon([(cx - 4, 4), (cx + 4, 4), (cx + 10, 33), (cx - 10, 33)])
    drop_shadow(cv, body)
    inked(cv, body, hgrad(cx - 10, cx + 10, [(0, shade(wood, 0.25)), (0.5, wood), (1, shade(wood, -0.3))]))
    face = polygon([(cx - 2.5, 8), (cx + 2.5, 8), (cx + 6.5, 27), (cx - 6.5, 27)])
    fill(cv, face, tb_colour((236, 226, 196), hi))
    for k in range(5):
        fill(cv, rrect(cx - 1.2, 11 + 3.5 * k, cx + 1.2, 11.7 + 3.5 * k), tb_colour((110, 80, 50), hi), 0.8)
    base = rrect(cx - 12, 31, cx + 12, 35, 1.2)
    inked(cv, base, shade(wood, -0.35), 0.8)
    # The pendulum, swung to the right, with its weight.
    rod = segment(cx, 29, cx + 9, 3, 0.8)
    fill(cv, rod, INK)
    weight = rrect(cx + 3.5, 11, cx + 8.5, 15, 1.0)
    inked(cv, weight, tb_colour((210, 170, 60), hi), 0.7)


def tb_record(cv, ox, hi):
    cx, cy = ox + 24, 19.5
    red = tb_colour((214, 30, 28), hi)
    bezel = circle(cx, cy, 12.5)
    drop_shadow(cv, bezel)
    inked(cv, bezel, vgrad(cy - 12, cy + 12, [(0, (236, 236, 236)), (1, (128, 128, 128))]))
    fill(cv, circle(cx, cy, 10.0), INK)
    fill(cv, circle(cx, cy, 9.2), rgrad(cx - 3, cy - 3.5, 13, [(0, shade(red, 0.5)), (0.45, red),
                                                              (1, shade(red, -0.45))]))
    fill(cv, circle(cx - 3.0, cy - 3.8, 2.8), (255, 255, 255), 0.45, soft=blur_edge(2.0), pad=2)


def tb_fx(cv, ox, hi):
    amber = tb_colour((240, 160, 30), hi)
    badge = rrect(ox + 8, 8, ox + 40, 31, 5)
    drop_shadow(cv, badge)
    inked(cv, badge, vgrad(8, 31, [(0, (70, 74, 82)), (1, (30, 32, 36))]))
    fill(cv, rrect(ox + 9.5, 9.5, ox + 38.5, 29.5, 4).outline(1.0), amber, 0.8)
    shapes, w = text_shapes(0, 0, "FX", 1.9, 2.0, 1.05)
    for sh in shapes:
        fill(cv, sh.moved(ox + 24 - w / 2.0, 12.5), vgrad(12, 27, [(0, shade(amber, 0.4)), (1, amber)]))


SONG_BLUE = (44, 108, 204)


def skip(cv, ox, hi, forward):
    """A skip mark: two triangles against a bar, pointing forward (right)
    or back (left), as a player's next and previous track buttons are."""
    def x(v):
        return ox + (v if forward else 48 - v)
    top, bottom, mid = 10.0, 30.0, 20.0
    first = polygon([(x(9), top), (x(21), mid), (x(9), bottom)])
    second = polygon([(x(20), top), (x(32), mid), (x(20), bottom)])
    bar = rrect(min(x(32), x(37)), top, max(x(32), x(37)), bottom, 0.8)
    mark = first | second | bar
    drop_shadow(cv, mark)
    blue = tb_colour(SONG_BLUE, hi)
    inked(cv, mark, vgrad(top, bottom, [(0, shade(blue, 0.4)), (0.5, blue), (1, shade(blue, -0.3))]))


def tb_previous_song(cv, ox, hi):
    skip(cv, ox, hi, False)


def tb_next_song(cv, ox, hi):
    skip(cv, ox, hi, True)


def tb_tap_tempo(cv, ox, hi):
    """A finger tapping a pad, the beat ringing out from the tap."""
    cx, tip = ox + 21, 26.0
    pad = rrect(ox + 8, 27, ox + 40, 35, 3.5)
    drop_shadow(cv, pad)
    inked(cv, pad, vgrad(27, 35, [(0, (84, 88, 98)), (1, (34, 36, 42))]))
    amber = tb_colour((240, 160, 30), hi)
    fill(cv, rrect(ox + 10, 28.5, ox + 38, 30, 0.7), amber, 0.85)
    # The beat: short strokes radiating from the fingertip on both sides.
    for deg in (195, 225, 255, 285, 315, 345):
        (ax, ay), (bx, by) = polar(cx, tip, 6.5, deg), polar(cx, tip, 11.0, deg)
        inked(cv, segment(ax, ay, bx, by, 0.75), amber, 0.6)
    skin = tb_colour((236, 190, 150), hi)
    fist = rrect(cx - 4, 2, cx + 13, 15, 4.5)
    finger = rrect(cx - 3.5, 5, cx + 3.0, tip, 3.2)
    hand = fist | finger
    drop_shadow(cv, hand)
    inked(cv, hand, hgrad(cx - 4, cx + 13, [(0, shade(skin, 0.2)), (1, shade(skin, -0.2))]))
    crease = tb_colour((150, 100, 70), hi)
    for k in range(3):
        fill(cv, rrect(cx + 4, 5 + 3 * k, cx + 11, 5.8 + 3 * k, 0.4), crease, 0.8)
    fill(cv, rrect(cx - 2.0, tip - 6, cx + 1.5, tip - 1.5, 1.5), shade(skin, 0.35))


TOOLBAR = [tb_new, tb_open, tb_save, tb_wave, tb_microphone, tb_metronome, tb_record, tb_fx,
           tb_previous_song, tb_next_song, tb_tap_tempo]


def keyed(w, h, draw):
    """A picture on the key colour in which only untouched background is the
    key colour: the program masks the key out, so a glyph pixel that happens
    to come out light grey is nudged, lest it become a hole. The untouched
    pixels are found by drawing once more on a background one step off."""
    cv, probe = Canvas(w, h, FACE), Canvas(w, h, (FACE[0] - 1,) + FACE[1:])
    draw(cv)
    draw(probe)
    for i, (p, q) in enumerate(zip(cv.px, probe.px)):
        x, y = i % w, i // w
        (rgb, _), (rgb_probe, _) = cv.rgb_bytes(x, y), probe.rgb_bytes(x, y)
        if tuple(rgb) == FACE and tuple(rgb_probe) != (FACE[0] - 1,) + FACE[1:]:
            p[0], p[1], p[2] = FACE[0] + 1.0, FACE[1] + 1.0, FACE[2] + 1.0
    return cv


def toolbar(hot):
    def draw(cv):
        for i, picture in enumerate(TOOLBAR):
            picture(cv, 48 * i, hot)
    return keyed(48 * len(TOOLBAR), 39, draw)


# The accompaniment bar's play and stop pictures, on a push button: the
# same light-grey face.

def play():
    def draw(cv):
        tri = polygon([(4.0, 2.5), (11.5, 7.0), (4.0, 11.5)])
        fill(cv, tri.grow(0.7), INK)
        fill(cv, tri, vgrad(2, 12, [(0, (90, 200, 100)), (1, (20, 120, 40))]))
    return keyed(14, 14, draw)


def stop():
    def draw(cv):
        sq = rrect(3.5, 3.5, 10.5, 10.5, 0.8)
        fill(cv, sq.grow(0.7), INK)
        fill(cv, sq, vgrad(3, 11, [(0, (230, 80, 70)), (1, (150, 30, 26))]))
    return keyed(14, 14, draw)


def icon(size):
    """A knob on a dark tile, its scale lit amber to two o'clock. Strokes
    keep a floor width so the 16 px image still reads."""
    s = size / 32.0
    cv = Canvas(size, size)
    m = 0.5 if size <= 16 else size * 0.03
    tile = rrect(m, m, size - m, size - m, size * 0.2)
    fill(cv, tile, vgrad(0, size, [(0, (66, 70, 78)), (0.55, (38, 40, 46)), (1, (22, 23, 27))]))
    fill(cv, tile.outline(1.0) & rrect(0, 0, size, size * 0.5), (255, 255, 255), 0.18)
    cx, cy = size / 2.0, size / 2.0 + size * 0.03
    R = size * (0.31 if size > 16 else 0.33)
    w = max(2.0, 2.7 * s)
    point = -40.0
    fill(cv, arc(cx, cy, R, point, 405, w), (96, 102, 112))
    lit = arc(cx, cy, R, 135, point, w)
    if size > 16:
        fill(cv, lit, PAL["accent"], 0.5, soft=glow(3.0 * s), add=True, pad=int(4 * s))
    fill(cv, lit, vgrad(cy - R, cy + R, [(0, PAL["accent_hi"]), (1, PAL["accent"])]))
    if size > 16:
        disc = circle(cx, cy, R * 0.62)
        fill(cv, disc.moved(0, s), (0, 0, 0), 0.5, soft=blur_edge(2.0 * s), pad=2)
        fill(cv, disc, vgrad(cy - R, cy + R, [(0, (112, 118, 128)), (1, (44, 47, 53))]))
    px, py = polar(cx, cy, R * (0.55 if size > 16 else 0.62), point)
    fill(cv, segment(cx, cy, px, py, max(1.0, 1.1 * s)), (255, 255, 255))
    return cv


# ---------------------------------------------------------------------------
# File formats

def bmp_bytes(cv):
    """24-bit, bottom-up, rows padded to 4 bytes."""
    stride = (cv.w * 3 + 3) & ~3
    data = bytearray()
    for y in range(cv.h - 1, -1, -1):
        row = bytearray()
        for x in range(cv.w):
            (r, g, b), _ = cv.rgb_bytes(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        data += row
    info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + bytes(data)


def ico_bytes(images):
    """ICO of 32-bit BGRA images, each with the AND mask older code wants."""
    blobs = []
    for cv in images:
        xor, mask = bytearray(), bytearray()
        mstride = ((cv.w + 31) // 32) * 4
        for y in range(cv.h - 1, -1, -1):
            bits = bytearray(mstride)
            for x in range(cv.w):
                (r, g, b), a = cv.rgb_bytes(x, y)
                a8 = int(clamp(a) * 255 + 0.5)
                xor += bytes((b, g, r, a8))
                if a8 == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        blobs.append(info + bytes(xor) + bytes(mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for cv, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", cv.w % 256, cv.h % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def png_bytes(cv, scale=1, backdrop=(128, 128, 128)):
    """Preview only: enlarged, transparent parts shown over backdrop."""
    raw = bytearray()
    for y in range(cv.h * scale):
        raw.append(0)
        for x in range(cv.w * scale):
            (r, g, b), a = cv.rgb_bytes(x // scale, y // scale)
            c = mix(backdrop, (r, g, b), clamp(a))
            raw += bytes(int(v + 0.5) for v in c)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    hdr = struct.pack(">IIBBBBB", cv.w * scale, cv.h * scale, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", hdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + \
        chunk(b"IEND", b"")


# ---------------------------------------------------------------------------

def build():
    """Every output file name with its pictures (a Canvas, or a list of
    Canvases for an icon)."""
    fx, gate = fxpane(), gatepane()
    icons = {n: icon(n) for n in (16, 32, 48)}
    return {
        "quorvane.ico": [icons[16], icons[32], icons[48]],
        "quorvane_small.ico": [icons[16], icons[32]],
        "fxpane.bmp": fx,
        "gatepane.bmp": gate,
        "switchlit.bmp": switchlit(gate),
        "mdipattern.bmp": mdipattern(),
        "meter.bmp": meter(),
        "splash.bmp": splash(),
        "bypass.bmp": bypass(fx),
        "loadbar.bmp": loadbar(),
        "toolbar_normal.bmp": toolbar(False),
        "toolbar_hot.bmp": toolbar(True),
        "play.bmp": play(),
        "stop.bmp": stop(),
    }


def write(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as fh:
        fh.write(data)
    os.replace(tmp, path)


def run(argv, build_pictures, script):
    """The command line every art script shares: OUTDIR [--preview PNGDIR].
    `build_pictures()` gives {file name: canvas, or a list of canvases for
    an .ico}; each is written as BMP or ICO, and as enlarged PNGs to look at
    with --preview."""
    args = argv[1:]
    preview = None
    if "--preview" in args:
        i = args.index("--preview")
        preview = args[i + 1]
        del args[i:i + 2]
    if len(args) != 1:
        sys.stderr.write("usage: %s OUTDIR [--preview PNGDIR]\n" % script)
        return 2
    out = args[0]
    os.makedirs(out, exist_ok=True)
    for name, pic in build_pictures().items():
        if name.endswith(".ico"):
            write(os.path.join(out, name), ico_bytes(pic))
        else:
            write(os.path.join(out, name), bmp_bytes(pic))
        if preview:
            os.makedirs(preview, exist_ok=True)
            for cv in (pic if isinstance(pic, list) else [pic]):
                scale = max(2, min(8, 400 // max(cv.w, cv.h)))
                stem = os.path.splitext(name)[0] + ("_%d" % cv.w if isinstance(pic, list) else "")
                write(os.path.join(preview, stem + ".png"), png_bytes(cv, scale))
    return 0


def main(argv):
    return run(argv, build, "make_art.py")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
