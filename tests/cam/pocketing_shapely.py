#!/usr/bin/env python3
# Independent reference for the pocket tests: the pocket shapes as shapely
# polygons, their canvases and outlines, and the checks of a toolpath
# against them. Reads a JSON request from the first file and writes a JSON
# answer to the second. World units, y up, the canvas spanning 0..1 on both
# axes (row 0 of a canvas at y = 1). Requests:
#   canvas  shape, n, top, floor -> field (n x n heights, floor inside the
#                                   region), rings (outline, then holes; the
#                                   outline clockwise, holes anticlockwise)
#   nested  shape, step, k       -> passes: the rings of buffer(-i step) for
#                                   i = 0..k-1; inside: per ring (numbered
#                                   through the passes) the rings whose
#                                   polygon lies inside its polygon
#   check   shape, r, stock, px, step, top, cuts (lists of [x, y, z]) ->
#           wall: the smallest distance from a vertex below top to the
#           region's boundary (negative outside the region), at: that
#           vertex and the number of its cut; uncovered: the
#           area of what the cuts' discs leave of the region the cutter
#           can reach (its centre r + stock + px inside the walls) once
#           pieces up to step / 2 wide are taken away
import json
import sys

from shapely.geometry import LineString, MultiPolygon, Point, Polygon
from shapely.geometry.polygon import orient
from shapely.ops import unary_union


def letter_p():
    stem = LineString([(0.25, 0.12), (0.25, 0.88)]).buffer(0.08, cap_style=2)
    bowl = Point(0.48, 0.64).buffer(0.24, 64).difference(Point(0.48, 0.64).buffer(0.08, 64))
    # Closed by 0.03 so no sharp spike of wall pokes into it: a raster of a
    # spike loses its tip.
    letter = unary_union([stem, bowl.difference(Polygon([(0, 0), (0.25, 0), (0.25, 1), (0, 1)]))])
    return letter.buffer(0.03, 64).buffer(-0.03, 64)


def shape(name):
    if name == "rect2":
        box = Polygon([(0.1, 0.15), (0.9, 0.15), (0.9, 0.85), (0.1, 0.85)])
        return box.difference(Point(0.32, 0.5).buffer(0.09, 64)).difference(Point(0.68, 0.5).buffer(0.09, 64))
    if name == "ell":
        return Polygon([(0.1, 0.1), (0.9, 0.1), (0.9, 0.45), (0.45, 0.45), (0.45, 0.9), (0.1, 0.9)])
    if name == "ring":
        return Point(0.5, 0.5).buffer(0.4, 64).difference(Point(0.5, 0.5).buffer(0.15, 64))
    if name == "letter":
        return letter_p()
    raise ValueError("unknown shape " + name)


def polygons(g):
    if g.is_empty:
        return []
    return list(g.geoms) if isinstance(g, MultiPolygon) else [g]


def rings(g):
    out = []
    for p in polygons(g):
        p = orient(p, sign=-1.0)
        out.append(list(p.exterior.coords))
        out.extend(list(h.coords) for h in p.interiors)
    return out


def canvas(r):
    region = shape(r["shape"])
    n = r["n"]
    field = []
    for j in range(n):
        y = 1.0 - (j + 0.5) / n
        for i in range(n):
            x = (i + 0.5) / n
            field.append(r["floor"] if region.contains(Point(x, y)) else r["top"])
    return {"field": field, "rings": rings(region)}


def nested(r):
    region = shape(r["shape"])
    passes, polys = [], []
    for i in range(r["k"]):
        g = region.buffer(-i * r["step"], 64)
        rs = rings(g)
        if not rs:
            break
        passes.append(rs)
        polys.extend(Polygon(c) for c in rs)
    inside = [[j for j, q in enumerate(polys) if j != i and p.buffer(1e-9).contains(q)] for i, p in enumerate(polys)]
    return {"passes": passes, "inside": inside}


def check(r):
    region = shape(r["shape"])
    boundary = region.boundary
    wall, at = 1e9, [0, 0, 0, -1]
    lines = []
    for n, cut in enumerate(r["cuts"]):
        for x, y, z in cut:
            if z < r["top"]:
                d = boundary.distance(Point(x, y))
                d = d if region.covers(Point(x, y)) else -d
                if d < wall:
                    wall, at = d, [x, y, z, n]
        if len(cut) >= 2:
            lines.append(LineString([(x, y) for x, y, z in cut]))
        elif cut:
            lines.append(Point(cut[0][0], cut[0][1]))
    swept = unary_union([g.buffer(r["r"], 32) for g in lines]) if lines else Polygon()
    target = region.buffer(-(r["r"] + r["stock"] + r["px"]), 32).buffer(r["r"], 32)
    left = target.difference(swept).buffer(-r["step"] / 4)
    return {"wall": wall, "at": at, "uncovered": left.area}


def write(f, answer):
    """One line per value: its key, then its numbers (rings flattened)."""
    for key, value in answer.items():
        if key == "passes":
            for i, rs in enumerate(value):
                for ring in rs:
                    f.write("ring %d %s\n" % (i, " ".join("%.9g %.9g" % (x, y) for x, y in ring)))
        elif key == "rings":
            for ring in value:
                f.write("ring 0 %s\n" % " ".join("%.9g %.9g" % (x, y) for x, y in ring))
        elif key == "inside":
            for i, js in enumerate(value):
                f.write("inside %d %s\n" % (i, " ".join(str(j) for j in js)))
        elif isinstance(value, list):
            f.write("%s %s\n" % (key, " ".join("%.9g" % v for v in value)))
        else:
            f.write("%s %.9g\n" % (key, value))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: pocketing_shapely.py REQUEST ANSWER")
    with open(sys.argv[1]) as f:
        request = json.load(f)
    answer = {"canvas": canvas, "nested": nested, "check": check}[request["op"]](request)
    with open(sys.argv[2], "w") as f:
        write(f, answer)


if __name__ == "__main__":
    main()
