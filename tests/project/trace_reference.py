#!/usr/bin/env python3
# Independent reference for the trace-to-paths tests. Reads a JSON list of
# requests from the first file, each with the field (width, height, values by rows), the level, an
# offset in pixels and our traced curves as lists of [column, row] points in
# pixel-centre coordinates. The outline is scikit-image's find_contours of
# the field at the level, offset with shapely's buffer (round joins). Writes
# a line "hausdorff ours_area reference_area" per request to the second file: the Hausdorff
# distance between our curves and the reference outline in pixels, and the
# areas enclosed (largest ring minus the others) in square pixels.
import json
import sys

import numpy as np
from shapely.geometry import LinearRing, MultiLineString, Polygon
from skimage.measure import find_contours


def region(rings):
    rings = [r for r in rings if len(r) >= 4]
    if not rings:
        return Polygon()
    rings.sort(key=lambda r: -abs(Polygon(r).area))
    return Polygon(rings[0], rings[1:])


def points(g, step=0.25):
    """Points every step along the lines of g."""
    out = []
    for line in getattr(g, "geoms", [g]):
        n = max(2, int(line.length / step) + 1)
        out += [line.interpolate(line.length * i / (n - 1)).coords[0] for i in range(n)]
    return np.array(out)


def hausdorff(a, b):
    pa, pb = points(a), points(b)
    d = np.sqrt(((pa[:, None, :] - pb[None, :, :]) ** 2).sum(axis=2))
    return max(d.min(axis=1).max(), d.min(axis=0).max())


def answer(q):
    field = np.array(q["field"], dtype=np.float64).reshape(q["height"], q["width"])
    reference = region([[(c, r) for r, c in ring] for ring in find_contours(field, q["level"])])
    if q["offset"]:
        reference = reference.buffer(q["offset"], resolution=32)
    ours = region([[tuple(p) for p in curve] for curve in q["curves"]])
    outline = reference.boundary
    lines = MultiLineString([LinearRing(ring).coords for ring in
                             [ours.exterior] + list(ours.interiors)]) if not ours.is_empty else None
    distance = hausdorff(lines, outline) if lines is not None else 1e9
    return "%.9g %.9g %.9g\n" % (distance, ours.area, reference.area)


def main():
    with open(sys.argv[1]) as f:
        requests = json.load(f)
    with open(sys.argv[2], "w") as f:
        for q in requests:
            f.write(answer(q))


if __name__ == "__main__":
    main()
