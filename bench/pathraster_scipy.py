#!/usr/bin/env python3
# Counterparts of pathraster_bench.cpp, timed by hand beside it: SciPy's
# exact distance transform of the glyph mask, one cKDTree.query_pairs of the
# stipple's ~50,000 start points at its reach, and scikit-image's
# medial_axis of the traced lettering mask, all at 2048 x 2048.
import math
import time

import numpy as np
from scipy import ndimage
from scipy.spatial import cKDTree
from skimage.draw import polygon
from skimage.morphology import medial_axis

SIDE = 2048


def glyph_mask():
    mask = np.zeros((SIDE, SIDE), dtype=bool)
    for gy in range(10):
        for gx in range(10):
            cx, cy = (gx + 0.5) / 10, (gy + 0.5) / 10
            for r in (0.035, 0.018):
                xs, ys = [], []
                for i in range(24):
                    a = 2 * math.pi * i / 24
                    k = 1.0 / (abs(math.cos(a)) ** 4 + abs(math.sin(a)) ** 4) ** 0.25
                    xs.append((cx + r * k * math.cos(a)) * SIDE)
                    ys.append((cy + 1.3 * r * k * math.sin(a)) * SIDE)
                rr, cc = polygon(ys, xs, mask.shape)
                mask[rr, cc] ^= True
    return mask


def stipple_points(size=20.48, s=0.1):
    pts, y, row = [], 0.5 * s, 0
    while y < size:
        x = 0.0
        while x < size + 0.0001:
            px = x + (0.75 if row % 2 else 0.25) * s
            if px <= size:
                pts.append((px, y))
            x += s
        y += s / 1.2
        row += 1
    return np.array(pts)


def letter_mask():
    mask = np.zeros((SIDE, SIDE), dtype=bool)
    for gy in range(8):
        for gx in range(8):
            x, y = 40 + gx * 250, 40 + gy * 250
            if (gx + gy) % 2:
                mask[y:y + 40, x:x + 200] = True
                mask[y:y + 200, x + 80:x + 120] = True
            else:
                mask[y:y + 200, x:x + 200] = True
                mask[y + 40:y + 160, x + 40:x + 160] = False
    return mask


def timed(name, fn):
    start = time.perf_counter()
    out = fn()
    print("%-24s %.3f s" % (name, time.perf_counter() - start))
    return out


def main():
    g = glyph_mask()
    timed("distance_transform_edt", lambda: ndimage.distance_transform_edt(g))
    pts = stipple_points()
    tree = cKDTree(pts)
    pairs = timed("query_pairs (%d pts)" % len(pts), lambda: tree.query_pairs(0.13))
    print("  pairs: %d" % len(pairs))
    m = letter_mask()
    timed("medial_axis", lambda: medial_axis(m))


if __name__ == "__main__":
    main()
