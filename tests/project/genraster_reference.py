#!/usr/bin/env python3
# Independent reference for the shapes-from-paths tests, from shapely and
# scipy. Reads a JSON request from the first file and writes a JSON answer to
# the second. The request holds:
#   rings    list of rings ([x, y] lists, first point repeated), combined
#            even-odd (each ring toggles the area it encloses)
#   lines    list of open lines ([x, y] lists)
#   grid     [corner x, corner y, size x, size y, width, height]: pixel (i, j)
#            has its centre at corner + ((i + 0.5) size x / width,
#            -(j + 0.5) size y / height), row 0 at the top
#   mask     optional list of width x height 0/1 values, row-major
# The answer is plain text: the area of the rings; the count and values of
# "linedist" (per pixel centre, the distance to the nearest line; none
# without lines); the count and values of "edt" (per pixel, scipy's exact
# distance in pixels from a mask pixel's centre to the nearest centre outside
# the mask, the image's surroundings outside; none without a mask).
import json
import sys

import numpy as np
from scipy import ndimage
from shapely.geometry import MultiLineString, Point, Polygon


def evenodd_area(rings):
    shape = None
    for ring in rings:
        p = Polygon(ring)
        shape = p if shape is None else shape.symmetric_difference(p)
    return 0.0 if shape is None else shape.area


def main():
    with open(sys.argv[1]) as f:
        r = json.load(f)
    cx, cy, sx, sy, w, h = r["grid"]
    w, h = int(w), int(h)
    out = {"area": evenodd_area(r.get("rings", [])), "linedist": [], "edt": []}
    if r.get("lines"):
        lines = MultiLineString(r["lines"])
        for j in range(h):
            y = cy - (j + 0.5) * sy / h
            for i in range(w):
                x = cx + (i + 0.5) * sx / w
                out["linedist"].append(lines.distance(Point(x, y)))
    if r.get("mask"):
        mask = np.array(r["mask"], dtype=np.uint8).reshape(h, w)
        # Outside the image counts as outside the mask.
        padded = np.pad(mask != 0, 1)
        out["edt"] = ndimage.distance_transform_edt(padded)[1:-1, 1:-1].ravel().tolist()
    with open(sys.argv[2], "w") as f:
        f.write("%.9g\n" % out["area"])
        for key in ("linedist", "edt"):
            f.write("%d %s\n" % (len(out[key]), " ".join("%.7g" % v for v in out[key])))


if __name__ == "__main__":
    main()
