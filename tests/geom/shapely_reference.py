#!/usr/bin/env python3
# Independent reference for the contour tests: plane geometry from shapely.
# Reads a JSON list of requests from the first file and writes a JSON list of
# answers, in order, to the second. Each request names an operation:
#   area      ring                -> signed area, positive clockwise (y up)
#   contains  ring, point         -> 1 when the point lies inside, else 0
#   distance2 line, point         -> squared distance from point to the line
#   cutlength line, ring          -> length of the line inside the polygon
#   compare   ring, other         -> [area of other, Hausdorff distance of
#                                     the two outlines]
#   bridge    ring, holes, line   -> 1 when the line lies in ring minus holes
#   outline   rings, points       -> per point, the distance to the nearest
#                                    of the rings
#   offset    ring, distance, points -> per point, the distance to the
#                                    boundary of the polygon buffered by
#                                    distance (round joins)
# Rings and lines are lists of [x, y]; rings repeat their first point.
import json
import sys

from shapely.geometry import LinearRing, LineString, MultiLineString, Point, Polygon


def farthest(a, b, step=0.05):
    """Largest distance from a point of line a to line b, a walked in steps.

    Measured here rather than by hausdorff_distance, which on closed rings
    of this shapely gives distances far beyond any point's."""
    n = max(1, int(a.length / step))
    points = list(a.coords) + [a.interpolate(a.length * i / n).coords[0] for i in range(n + 1)]
    return max(b.distance(Point(p)) for p in points)


def answer(r):
    op = r["op"]
    if op == "area":
        ring = LinearRing(r["ring"])
        area = Polygon(ring).area
        return -area if ring.is_ccw else area
    if op == "contains":
        return 1 if Polygon(r["ring"]).contains(Point(r["point"])) else 0
    if op == "distance2":
        return LineString(r["line"]).distance(Point(r["point"])) ** 2
    if op == "cutlength":
        return LineString(r["line"]).intersection(Polygon(r["ring"])).length
    if op == "compare":
        a, b = LineString(r["ring"]), LineString(r["other"])
        return [Polygon(r["other"]).area, max(farthest(a, b), farthest(b, a))]
    if op == "bridge":
        region = Polygon(r["ring"], r["holes"]).buffer(1e-4)
        return 1 if region.covers(LineString(r["line"])) else 0
    if op == "outline":
        rings = MultiLineString(r["rings"])
        return [rings.distance(Point(p)) for p in r["points"]]
    if op == "offset":
        boundary = Polygon(r["ring"]).buffer(r["distance"], resolution=64).boundary
        return [boundary.distance(Point(p)) for p in r["points"]]
    raise ValueError("unknown operation " + op)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: shapely_reference.py REQUESTS ANSWERS")
    with open(sys.argv[1]) as f:
        requests = json.load(f)
    with open(sys.argv[2], "w") as f:
        json.dump([answer(r) for r in requests], f)


if __name__ == "__main__":
    main()
