#!/usr/bin/python3
"""Judges tessellation rings with shapely. Reads a JSON list of requests
(argv[1]), each with the canvas box, pixel size, tile size and row period,
cuts, gap and the chains of rings (innermost first). Writes to argv[2], per
request, one line per fault and then a line "shapes N" with the number of
whole shapes checked."""
import json
import sys

from shapely.geometry import Point, Polygon, box


def judge(req):
    px, tx, ty = req["pixel"], req["tilex"], req["tiley"] * req["rowperiod"]
    canvas = box(*req["canvas"])
    inner = canvas.buffer(-px)
    faults, whole = [], []
    for chain in req["chains"]:
        rings = [r for r in chain]
        outer = rings[-1]
        if outer[0] != outer[-1] or not inner.contains(Polygon(outer)):
            continue
        whole.append(chain)
        if len(rings) != req["cuts"]:
            faults.append("shape at %s: %d rings, not %d" % (Polygon(outer).centroid, len(rings), req["cuts"]))
        for a, b in zip(rings, rings[1:]):
            if a[0] != a[-1]:
                faults.append("open inner ring at %s" % (Point(a[0]),))
            elif not Polygon(b).contains(Polygon(a)):
                faults.append("ring at %s not inside the next" % (Polygon(a).centroid,))
        if req["quads"]:
            step, first = req["step"], req["first"]
            for j, r in enumerate(rings):
                level = first + step * (len(rings) - 1 - j)
                x0, y0, x1, y1 = Polygon(r).bounds
                for got, want in ((x1 - x0, (1 - level) * req["tilex"]), (y1 - y0, (1 - level) * req["tiley"])):
                    if abs(got - want) > px:
                        faults.append("quad ring at level %.3f is %.4f across, not %.4f" % (level, got, want))
    cents = [Polygon(c[-1]).centroid for c in whole]
    for c, chain in zip(cents, whole):
        shape = Polygon(chain[-1])
        for dx, dy in ((tx, 0.0), (0.0, -ty)):
            x0, y0, x1, y1 = shape.bounds
            if not inner.contains(box(x0 + dx, y0 + dy, x1 + dx, y1 + dy)):
                continue
            target = Point(c.x + dx, c.y + dy)
            if min(target.distance(o) for o in cents) > px:
                faults.append("no shape repeats %s at %s" % (c, target))
    if req["gap"] > 0:
        level0 = [Polygon(c[-1]) for c in whole]
        for a in level0:
            for b in level0:
                d = (b.centroid.x - a.centroid.x, b.centroid.y - a.centroid.y)
                if abs(d[0] - tx) < px and abs(d[1]) < px and abs(a.distance(b) - req["gap"]) > px:
                    faults.append("neighbours %.4f apart, gap %.4f" % (a.distance(b), req["gap"]))
    return faults + ["shapes %d" % len(whole)]


def main():
    with open(sys.argv[2], "w") as out:
        for req in json.load(open(sys.argv[1])):
            for line in judge(req):
                out.write(line + "\n")


main()
