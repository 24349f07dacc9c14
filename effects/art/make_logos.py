#!/usr/bin/env python3
"""Draws the built-in effects' logos: bitmap 102 of each effect module.

    python3 make_logos.py OUTDIR [--preview PNGDIR]

Writes reverb_logo.bmp, echo_logo.bmp, flanger_logo.bmp and chorus_logo.bmp.
The editors show the logo in a static control of 112 x 31 dialog units at
(5, 5); with the dialogs' font, "MS Sans Serif" 8 (dialog base units 6 x 13
at 96 dpi), that is 112 * 6 / 4 = 168 by 31 * 13 / 8 = 50 pixels. The look
and every helper come from the program's own art script.
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "app", "art"))

import make_art as art  # noqa: E402
from make_art import PAL, fill, rrect, segment, vgrad, text  # noqa: E402

W, H = 168, 50
SCREEN = (96, 6, 162, 44)  # the little display that carries each effect's trace


def plate(name, seed):
    """Graphite plate, the effect's name large and amber, the maker small."""
    cv = art.panel(W, H, seed)
    shapes, _ = art.text_shapes(0, 0, name, 1.9, 2.6, 0.8)
    x0, y0 = 8.0, 7.0
    for s in shapes:
        fill(cv, s.moved(x0 + 1.0, y0 + 1.5), (0, 0, 0), 0.5, soft=art.blur_edge(2.0), pad=2)
        fill(cv, s.moved(x0, y0), PAL["accent"], 0.25, soft=art.glow(3.0), add=True, pad=3)
        fill(cv, s.moved(x0, y0), vgrad(y0, y0 + 18, [(0, PAL["accent_hi"]), (1, PAL["accent"])]))
    text(cv, 9, 37, "Quorvane", PAL["label"], emboss=True)
    x0, y0, x1, y1 = SCREEN
    art.well(cv, x0 - 1, y0 - 1, x1 + 1, y1 + 1, 2, PAL["lcd_top"])
    fill(cv, rrect(x0, y0, x1, y1), vgrad(y0, y1, [(0, PAL["lcd_top"]), (1, PAL["lcd_bot"])]))
    for gx in range(x0 + 11, x1, 11):
        fill(cv, rrect(gx, y0 + 1, gx + 0.5, y1 - 1), PAL["seg_off"], 0.5)
    mid = (y0 + y1) / 2.0
    fill(cv, rrect(x0 + 1, mid, x1 - 1, mid + 0.5), PAL["seg_off"], 0.8)
    return cv


def trace(cv, points, colour, width=0.6, alpha=1.0):
    """A glowing line through the points, as a scope would draw it."""
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        fill(cv, segment(ax, ay, bx, by, width + 0.8), colour, 0.18 * alpha, soft=art.glow(2.5), add=True, pad=3)
    for (ax, ay), (bx, by) in zip(points, points[1:]):
        fill(cv, segment(ax, ay, bx, by, width), colour, alpha)


def curve(f, step=0.5):
    x0, y0, x1, y1 = SCREEN
    mid, amp = (y0 + y1) / 2.0, (y1 - y0) / 2.0 - 3
    pts, x = [], x0 + 2.0
    while x <= x1 - 2:
        t = (x - x0 - 2) / float(x1 - x0 - 4)
        pts.append((x, mid - amp * f(t)))
        x += step
    return pts


def reverb():
    cv = plate("Reverb", 61)
    # A struck note and its dense tail.
    trace(cv, curve(lambda t: math.exp(-t * 4.0) * math.sin(t * 120.0) * (0.35 + 0.65 * math.cos(t * 37) ** 2)),
          PAL["live"])
    return cv


def echo():
    cv = plate("Echo", 62)
    # Repeats, each weaker and rounder than the last.
    def f(t):
        v = 0.0
        for k in range(4):
            d = (t - 0.08 - 0.24 * k) / (0.018 * (1 + k))
            v += 0.55 ** k * math.exp(-d * d) * (1 if k % 2 == 0 else 0.9)
        return v * 0.95
    trace(cv, curve(f), PAL["live"])
    return cv


def flanger():
    cv = plate("Flanger", 63)
    # The comb's notches sliding along a swept spectrum.
    def f(t):
        return 0.85 * abs(math.cos(t * 18.0 * (1 + 0.6 * t))) * 2 - 0.85
    trace(cv, curve(f, 0.35), PAL["live"])
    return cv


def chorus():
    cv = plate("Chorus", 64)
    # Two voices drifting against each other.
    trace(cv, curve(lambda t: 0.8 * math.sin(t * 14.0)), PAL["live"])
    trace(cv, curve(lambda t: 0.8 * math.sin(t * 14.0 + 0.9 + 0.6 * math.sin(t * 3.0))), PAL["accent"], alpha=0.85)
    return cv


def build():
    return {"reverb_logo.bmp": reverb(), "echo_logo.bmp": echo(), "flanger_logo.bmp": flanger(),
            "chorus_logo.bmp": chorus()}


def main(argv):
    return art.run(argv, build, "make_logos.py")


if __name__ == "__main__":
    sys.exit(main(sys.argv))
