#!/usr/bin/env python3
# Independent reference for the profiling and medial-axis tests: the shapes
# drawn on a unit canvas (y up) and the geometry the carved or traced
# results are held against, from shapely. Reads a JSON list of requests
# from the first file and writes one answer line per request to the second:
#   shape     name                    -> "ring x y x y ..." per ring (outside
#                                        rings counter-clockwise, holes
#                                        clockwise, first point repeated),
#                                        then "end"
#   offset    name, distance, points  -> "distances d ...": each point's
#                                        distance to the boundary of the
#                                        shape buffered by distance
#   carved    name, pixel, cells      -> "hausdorff h outside n": the
#                                        Hausdorff distance between the
#                                        outline of the union of the cut
#                                        pixels (cells: centres) and the
#                                        shape's outline, and how many cut
#                                        pixel centres lie farther than 1.5
#                                        pixels outside the shape; for the
#                                        lettering then "glyphs h ...", the
#                                        distance of each glyph alone
import json
import math
import sys

from shapely.geometry import LineString, MultiPolygon, Point, Polygon, box
from shapely.geometry.polygon import orient
from shapely.ops import unary_union


def star(cx, cy, outer, inner, points=5):
    ring = []
    for k in range(2 * points):
        r = outer if k % 2 == 0 else inner
        a = math.pi / 2 + k * math.pi / points
        ring.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return Polygon(ring)


def letter_t(x, y, h, stroke):
    return unary_union([box(x, y + h - stroke, x + 0.6 * h, y + h), box(x + 0.3 * h - stroke / 2, y, x + 0.3 * h + stroke / 2, y + h)])


def letter_o(x, y, h, stroke):
    c = Point(x + 0.3 * h, y + h / 2)
    return c.buffer(h / 2, resolution=32).difference(c.buffer(h / 2 - stroke, resolution=32))


def letter_l(x, y, h, stroke):
    return unary_union([box(x, y, x + stroke, y + h), box(x, y, x + 0.5 * h, y + stroke)])


SHAPES = {
    # A disc grown into a bar: round and straight stretches, two reflex corners.
    "blob": lambda: unary_union([Point(0.4, 0.5).buffer(0.2, resolution=32), box(0.45, 0.38, 0.8, 0.62)]),
    # Lettering and stars, strokes no wider than a 60 degree V-bit of 0.25
    # reaches.
    "lettering": lambda: unary_union(LETTERING()),
}

# The separate glyphs of the lettering, in the order the carved answer
# gives their own distances: T, O, L and the two stars.
LETTERING = lambda: [
    letter_t(0.1, 0.55, 0.3, 0.07),
    letter_o(0.4, 0.55, 0.3, 0.07),
    letter_l(0.72, 0.55, 0.3, 0.07),
    star(0.27, 0.27, 0.18, 0.08),
    star(0.7, 0.27, 0.16, 0.07),
]


def rings(shape):
    polys = list(shape.geoms) if isinstance(shape, MultiPolygon) else [shape]
    out = []
    for p in polys:
        p = orient(p, 1.0)
        out.append(list(p.exterior.coords))
        out.extend(list(h.coords) for h in p.interiors)
    return out


def dense(line, step):
    n = max(1, int(line.length / step))
    return LineString([line.interpolate(line.length * i / n) for i in range(n + 1)])


def hausdorff(a, b, step):
    """Hausdorff distance of two outlines, both walked in fine steps (the
    plain distance of this shapely looks only at the vertices)."""
    da = [dense(g, step) for g in getattr(a, "geoms", [a])]
    db = [dense(g, step) for g in getattr(b, "geoms", [b])]
    ua, ub = unary_union(da), unary_union(db)
    return ua.hausdorff_distance(ub)


def answer(r):
    shape = SHAPES[r["name"]]()
    if r["op"] == "shape":
        return "\n".join("ring " + " ".join("%.7f %.7f" % p for p in ring) for ring in rings(shape)) + "\nend"
    if r["op"] == "offset":
        boundary = shape.buffer(r["distance"], resolution=64).boundary
        return "distances " + " ".join("%.7f" % boundary.distance(Point(p)) for p in r["points"])
    if r["op"] == "carved":
        # Cells snapped to the pixel grid, so that neighbours share edges.
        p = r["pixel"]
        h = p / 2
        cells = [(math.floor(x / p), math.floor(y / p)) for x, y in r["cells"]]
        cut = unary_union([box(i * p, j * p, (i + 1) * p, (j + 1) * p) for i, j in cells])
        grown = shape.buffer(1.5 * p)
        outside = sum(1 for x, y in r["cells"] if not grown.contains(Point(x, y)))
        answer = "hausdorff %.7f outside %d" % (hausdorff(cut.boundary, shape.boundary, h / 4), outside)
        if r["name"] == "lettering":
            # Each glyph against the cut near it.
            parts = []
            for g in LETTERING():
                near = cut.intersection(g.buffer(3 * p))
                parts.append(hausdorff(near.boundary, g.boundary, h / 4))
            answer += " glyphs " + " ".join("%.7f" % d for d in parts)
        return answer
    raise ValueError("unknown operation " + r["op"])


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: shapes_shapely.py REQUESTS ANSWERS")
    with open(sys.argv[1]) as f:
        requests = json.load(f)
    with open(sys.argv[2], "w") as f:
        for r in requests:
            f.write(answer(r) + "\n")


if __name__ == "__main__":
    main()
