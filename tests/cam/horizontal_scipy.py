#!/usr/bin/python3
"""Reference for the horizontal-offset tests, computed independently of the
program: the canvas grown by a flat end mill with scipy's grey_dilation, and
per ring either its Hausdorff distance (shapely) to the nearest iso-line of
that surface at the ring's level (scikit-image's find_contours), or its
vertices' worst departure from their expected distance inside the level's
region by scipy's exact Euclidean distance transform.

Usage: horizontal_scipy.py query.json answer.json. The query holds the
field (h rows of w values 0..1, row 0 at the canvas's far y edge), the
canvas size and origin, the cutter's radius, the mode ("hausdorff" or
"edt") and the rings ({"z", "d", "pts": [x, y, ...]}). The answer is one
number per ring.
"""
import json
import sys

import numpy as np
from scipy import ndimage
from shapely.geometry import LineString
from skimage import measure


def grown(q):
    w, h = q["w"], q["h"]
    sx, sy, sz = q["size"]
    oz = q["origin"][2]
    px, py = sx / w, sy / h
    world = np.array(q["field"], dtype=float).reshape(h, w) * sz - oz
    r = q["radius"]
    ry, rx = int(np.ceil(r / py)), int(np.ceil(r / px))
    yy, xx = np.mgrid[-ry:ry + 1, -rx:rx + 1]
    foot = (xx * px) ** 2 + (yy * py) ** 2 <= r * r + 1e-12
    # Beyond the canvas there is nothing to collide with.
    return ndimage.grey_dilation(world, footprint=foot, mode="constant", cval=-1e9), px, py


def toworld(q, px, py, rows, cols):
    sx, sy, _ = q["size"]
    ox, oy, _ = q["origin"]
    return -ox + (cols + 0.5) * px, sy - oy - (rows + 0.5) * py


def hausdorff(q, surface, px, py, ring):
    # A raised margin closes every region at the canvas edge.
    padded = np.pad(surface, 1, constant_values=1e9)
    line = LineString(np.array(ring["pts"]).reshape(-1, 2))
    best = 1e9
    for c in measure.find_contours(padded, ring["z"]):
        if len(c) < 2:
            continue
        x, y = toworld(q, px, py, c[:, 0] - 1, c[:, 1] - 1)
        best = min(best, LineString(np.column_stack((x, y))).hausdorff_distance(line))
    return best


def edt(q, surface, px, py, ring):
    region = surface < ring["z"]
    dist = ndimage.distance_transform_edt(region, sampling=(py, px))
    # A pixel centre next to the region's edge lies half a pixel inside it.
    dist = np.where(region, dist - 0.5 * px, 0.0)
    sx, sy, _ = q["size"]
    ox, oy, _ = q["origin"]
    pts = np.array(ring["pts"]).reshape(-1, 2)
    rows = (sy - oy - pts[:, 1]) / py - 0.5
    cols = (pts[:, 0] + ox) / px - 0.5
    got = ndimage.map_coordinates(dist, [rows, cols], order=1, mode="nearest")
    return float(np.max(np.abs(got - ring["d"])))


def main():
    with open(sys.argv[1]) as f:
        q = json.load(f)
    surface, px, py = grown(q)
    measure_ring = hausdorff if q["mode"] == "hausdorff" else edt
    answer = [measure_ring(q, surface, px, py, ring) for ring in q["rings"]]
    with open(sys.argv[2], "w") as f:
        json.dump(answer, f)


if __name__ == "__main__":
    main()
