#!/usr/bin/env python3
"""Generates the program's and the modules' art into a temporary folder and checks what the resource
compiler and Windows will read: names, exact sizes, header fields, icon
directories and masks. Also checks that two runs give the same bytes, so
builds are reproducible."""

import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

BITMAPS = {
    "fxpane.bmp": (291, 235), "gatepane.bmp": (228, 235), "switchlit.bmp": (83, 15),
    "mdipattern.bmp": (64, 64), "meter.bmp": (300, 56), "splash.bmp": (360, 160),
    "bypass.bmp": (51, 15), "loadbar.bmp": (166, 16), "toolbar_normal.bmp": (528, 39),
    "toolbar_hot.bmp": (528, 39), "play.bmp": (14, 14), "stop.bmp": (14, 14),
}
ICONS = {"quorvane.ico": [16, 32, 48], "quorvane_small.ico": [16, 32]}
# The modules' own pictures, drawn by their scripts into folders of their own.
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MODULE_ART = [
    (os.path.join(ROOT, "wrappers", "art", "make_wrapper_art.py"),
     {"vst_button.bmp": (11, 20), "default_button.bmp": (11, 20)}, {"vst.ico": [16, 32], "default.ico": [16, 32]}),
    (os.path.join(ROOT, "effects", "art", "make_logos.py"),
     {"reverb_logo.bmp": (168, 50), "echo_logo.bmp": (168, 50), "flanger_logo.bmp": (168, 50),
      "chorus_logo.bmp": (168, 50)}, {}),
]


def check_bmp(data, w, h):
    assert data[:2] == b"BM", "no BM signature"
    size, _, _, offset = struct.unpack_from("<IHHI", data, 2)
    hsize, bw, bh, planes, bpp, comp = struct.unpack_from("<IiiHHI", data, 14)
    assert hsize == 40, "info header is %d bytes" % hsize
    assert (bw, bh) == (w, h), "size %dx%d, want %dx%d (bottom-up)" % (bw, bh, w, h)
    assert (planes, bpp, comp) == (1, 24, 0), "planes/bpp/compression %d/%d/%d" % (planes, bpp, comp)
    stride = (w * 3 + 3) & ~3
    assert offset == 54 and size == len(data) == 54 + stride * h, "sizes or offset disagree"
    pixels = {data[54 + y * stride + 3 * x:57 + y * stride + 3 * x] for y in range(h) for x in range(w)}
    assert len(pixels) > 3, "picture is (nearly) blank"


def check_ico(data, sizes):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind, count) == (0, 1, len(sizes)), "directory %d/%d/%d" % (reserved, kind, count)
    for i, n in enumerate(sizes):
        bw, bh, _, _, planes, bpp, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        assert (bw, bh, planes, bpp) == (n, n, 1, 32), "entry %d is %dx%d %d bpp" % (i, bw, bh, bpp)
        hsize, w, h2, _, ibpp = struct.unpack_from("<IiiHH", data, offset)
        mstride = ((n + 31) // 32) * 4
        assert (hsize, w, h2, ibpp) == (40, n, 2 * n, 32), "image %d header" % n
        assert length == 40 + 4 * n * n + mstride * n and offset + length <= len(data), "image %d length" % n
        xor, mask = offset + 40, offset + 40 + 4 * n * n
        alphas = [data[xor + 4 * p + 3] for p in range(n * n)]
        assert 0 in alphas and 255 in alphas, "image %d lacks transparent or opaque pixels" % n
        for p, a in enumerate(alphas):
            y, x = divmod(p, n)
            bit = data[mask + y * mstride + x // 8] >> (7 - x % 8) & 1
            assert bit == (a == 0), "image %d mask disagrees with alpha at %d,%d" % (n, x, y)


def main():
    passed = failed = 0
    scripts = [(os.path.join(HERE, "make_art.py"), BITMAPS, ICONS)] + MODULE_ART
    with tempfile.TemporaryDirectory() as tmp:
        for number, (script, bitmaps, icons) in enumerate(scripts):
            runs = [os.path.join(tmp, "%d%s" % (number, run)) for run in "ab"]
            for out in runs:
                subprocess.run([sys.executable, script, out], check=True)
            cases = [(n, check_bmp, s) for n, s in bitmaps.items()] + [(n, check_ico, (s,)) for n, s in icons.items()]
            for name, check, args in cases:
                try:
                    with open(os.path.join(runs[0], name), "rb") as fh:
                        data = fh.read()
                    check(data, *args)
                    with open(os.path.join(runs[1], name), "rb") as fh:
                        assert fh.read() == data, "second run differs"
                    passed += 1
                except (AssertionError, OSError, struct.error) as e:
                    print("FAIL %s: %s" % (name, e))
                    failed += 1
            extra = sorted(set(os.listdir(runs[0])) - set(bitmaps) - set(icons))
            if extra:
                print("FAIL unexpected files from %s: %s" % (os.path.basename(script), ", ".join(extra)))
                failed += 1
            else:
                passed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
