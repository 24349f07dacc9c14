#!/usr/bin/env python3
"""Draws the wrappers' pictures: the program-menu button of each editor
frame and each wrapper's small icon.

    python3 make_wrapper_art.py OUTDIR [--preview PNGDIR]

Writes vst_button.bmp, vst.ico, default_button.bmp and default.ico. The
drawing helpers, palette and file writers are the program's own
(app/art/make_art.py), so the wrappers' windows look like the program's.

The button (11 x 20, 24-bit) sits at (2, 2) in the frame's 15-pixel strip,
which the window system paints in its 3-D face colour. The picture is drawn
on the program's key colour (FACE) with only untouched background left in
that colour, so a wrapper that loads it into a masked image list lets the
real face colour show through, whatever the theme.

The icons share one tile (a dark panel with three amber value bars, the
generic editor in miniature); a mark in the lower right corner tells the
wrappers apart: a plug for the VST wrapper, a knob for the default one.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "app", "art"))

import make_art as art  # noqa: E402  (found through the path above)
from make_art import PAL, fill, rrect, polygon, segment, circle, vgrad, shade  # noqa: E402

BUTTON_W, BUTTON_H = 11, 20


def button(accent):
    """A small raised dark key with three menu lines and a down-pointing
    triangle: "this opens a list"."""
    def draw(cv):
        body = rrect(0.5, 0.5, BUTTON_W - 0.5, BUTTON_H - 0.5, 2.0)
        fill(cv, body.moved(0, 0.6), (0, 0, 0), 0.35)
        fill(cv, body, PAL["edge_dark"])
        face = rrect(1.5, 1.5, BUTTON_W - 1.5, BUTTON_H - 1.5, 1.2)
        fill(cv, face, vgrad(1, BUTTON_H - 1, [(0, (84, 88, 96)), (0.5, (60, 63, 69)), (1, (44, 46, 51))]))
        fill(cv, rrect(2, 1.5, BUTTON_W - 2, 2.5), (255, 255, 255), 0.18)
        for y in (5.5, 8.5, 11.5):
            fill(cv, segment(3.5, y, BUTTON_W - 3.5, y, 0.5), PAL["label"])
        tri = polygon([(2.6, 14.0), (BUTTON_W - 2.6, 14.0), (BUTTON_W / 2.0, 17.6)])
        fill(cv, tri, vgrad(14, 17.6, [(0, shade(accent, 0.3)), (1, accent)]))
    return art.keyed(BUTTON_W, BUTTON_H, draw)


def tile(size):
    """The shared icon body: a graphite tile with three value bars."""
    s = size / 32.0
    cv = art.Canvas(size, size)
    m = 0.5 if size <= 16 else size * 0.03
    body = rrect(m, m, size - m, size - m, size * 0.2)
    fill(cv, body, vgrad(0, size, [(0, (66, 70, 78)), (0.55, (38, 40, 46)), (1, (22, 23, 27))]))
    fill(cv, body.outline(1.0) & rrect(0, 0, size, size * 0.5), (255, 255, 255), 0.18)
    # Rows like the generic editor's: a dark groove with an amber fill.
    lengths = (0.78, 0.52, 0.36)
    x0, x1 = 4.0 * s, size - 4.0 * s
    h = max(2.0, 3.6 * s)
    for k, t in enumerate(lengths):
        y0 = (5.5 + 6.5 * k) * s if size > 16 else 3.0 + 3.5 * k
        y0 = round(y0)
        fill(cv, rrect(x0, y0, x1, y0 + h, 0.5 * s), PAL["groove_lo"])
        fill(cv, rrect(x0, y0, x0 + (x1 - x0) * t, y0 + h, 0.5 * s),
             vgrad(y0, y0 + h, [(0, PAL["accent_hi"]), (1, PAL["accent"])]))
    return cv


def badge(cv, size):
    """The round seat of the corner mark; returns its centre and radius."""
    s = size / 32.0
    r = 7.0 * s if size > 16 else 4.2
    cx, cy = size - r - 0.5, size - r - 0.5
    fill(cv, circle(cx, cy, r + max(1.0, s)), PAL["edge_dark"])
    fill(cv, circle(cx, cy, r), vgrad(cy - r, cy + r, [(0, (96, 101, 110)), (1, (52, 55, 61))]))
    return cx, cy, r


def plug_mark(cv, size):
    """A two-pin plug: a library plugged into the host."""
    cx, cy, r = badge(cv, size)
    w = max(1.0, r * 0.18)
    body = rrect(cx - r * 0.55, cy - r * 0.15, cx + r * 0.55, cy + r * 0.45, r * 0.15)
    fill(cv, body, PAL["ink"])
    for dx in (-0.28, 0.28):
        fill(cv, segment(cx + dx * r, cy - r * 0.6, cx + dx * r, cy - r * 0.15, w / 2.0 + 0.15), PAL["ink"])
    fill(cv, segment(cx, cy + r * 0.45, cx, cy + r * 0.8, w / 2.0 + 0.15), PAL["ink"])


def knob_mark(cv, size):
    """A knob with an amber pointer: the program's own effects."""
    cx, cy, r = badge(cv, size)
    fill(cv, circle(cx, cy, r * 0.62), vgrad(cy - r, cy + r, [(0, (150, 156, 166)), (1, (70, 74, 82))]))
    px, py = art.polar(cx, cy, r * 0.55, -50.0)
    fill(cv, segment(cx, cy, px, py, max(0.6, r * 0.12)), PAL["accent"])


def icon(size, mark):
    cv = tile(size)
    mark(cv, size)
    return cv


def build():
    return {
        "vst_button.bmp": button(PAL["accent"]),
        "default_button.bmp": button(PAL["accent"]),
        "vst.ico": [icon(16, plug_mark), icon(32, plug_mark)],
        "default.ico": [icon(16, knob_mark), icon(32, knob_mark)],
    }


def main(argv):
    return art.run(argv, build, "make_wrapper_art.py")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
