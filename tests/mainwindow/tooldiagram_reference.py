#!/usr/bin/python3
# Independent check of the tool diagram's outline: numpy computes each
# cutter's outline from the drawing rules of its type, and shapely judges the
# recorded line strip. Reads a JSON list of
#   {"type", "d", "v", "l", "cell": [x, y, w, h], "padding", "points": [[x, y], ...]}
# and writes one line per tool: the largest distance between the recorded
# and the computed points (1e9 when their counts differ), 1 when shapely
# finds the recorded strip simple, and the Hausdorff distance between the
# strip and its mirror image about the centre line.
import json
import sys

import numpy as np
from shapely.affinity import scale
from shapely.geometry import LineString


def arc(cx, cy, radius, degrees):
    a = np.radians(np.asarray(degrees, dtype=float))
    return np.stack([cx + radius * np.cos(a), cy + radius * np.sin(a)], axis=1)


def cylinder(d, r, l, x0, y0, w, h):
    cx, cy = x0 + w / 2, y0 + h / 2
    k = 0.5 * w / (d + l)
    hw, rp = d / 2 * k, r * k
    yb = cy + hw / 2
    steps = np.arange(11) * 9.0
    parts = [[(cx - hw, y0)]]
    if rp > 0:
        parts.append(arc(cx - hw + rp, yb - rp, rp, 180 - steps))
        parts.append(arc(cx + hw - rp, yb - rp, rp, 90 - steps))
    elif rp < 0:
        a = -rp
        parts.append(arc(cx - hw, yb + a, a, -90 + steps))
        parts.append(arc(cx + hw, yb + a, a, 180 + steps))
    else:
        parts.append([(cx - hw, yb), (cx + hw, yb)])
    parts.append([(cx + hw, y0)])
    return np.vstack([np.asarray(p, dtype=float) for p in parts])


def tapered(d, angle, l, x0, y0, w, h):
    cx, cy = x0 + w / 2, y0 + h / 2
    a = np.radians(angle)
    k = 0.4 * w * np.cos(a) / (l + d / 2)
    t, g, f = d / 2 * k, l * np.tan(a) * k, l * k / 2
    return np.array([(cx - t - g, y0), (cx - t - g, cy - f), (cx - t, cy + f), (cx + t, cy + f),
                     (cx + t + g, cy - f), (cx + t + g, y0)])


def vbit(d, angle, x0, y0, w, h):
    cx, cy = x0 + w / 2, y0 + h / 2
    a = np.radians(angle / 2)
    lc = d / 2 / np.tan(a)
    k = 0.5 * w * np.cos(a) / (d / 2 + lc)
    hw, v = d / 2 * k, k * lc / 2
    return np.array([(cx - hw, y0), (cx - hw, cy - v), (cx, cy + v), (cx + hw, cy - v), (cx + hw, y0)])


def taperedball(rball, angle, l, x0, y0, w, h):
    cx, cy = x0 + w / 2, y0 + h / 2
    a = np.radians(angle)
    k = 0.4 * w * np.cos(a) / (l + rball * np.cos(a))
    t = rball * np.cos(a) * k
    g = (l - rball * (1 - np.sin(a))) * np.tan(a) * k
    e = rball * (1 - np.sin(a)) * k
    f, rb = l * k / 2, rball * k
    ty, bcy = cy + f - e, cy + f - rb
    thetas = []
    j = 1
    while angle + 5 * j < 180 - angle:
        thetas.append(angle + 5 * j)
        j += 1
    th = np.radians(np.asarray(thetas, dtype=float))
    ball = np.stack([cx - rb * np.cos(th), bcy + rb * np.sin(th)], axis=1).reshape(-1, 2)
    head = np.array([(cx - t - g, y0), (cx - t - g, cy - f), (cx - t, ty)])
    tail = np.array([(cx + t, ty), (cx + t + g, cy - f), (cx + t + g, y0)])
    return np.vstack([head, ball, tail])


def outline(tool):
    x, y, w, h = tool["cell"]
    p = tool["padding"]
    frame = (x + p, y + p, w - 2 * p, h - 2 * p)
    d, v, l = tool["d"], tool["v"], tool["l"]
    kind = tool["type"]
    if kind == 1:
        return cylinder(d, v, l, *frame), frame
    if kind == 2:
        return tapered(d, v, l, *frame), frame
    if kind == 3:
        return vbit(d, v, *frame), frame
    return taperedball(d, v, l, *frame), frame


def judge(tool):
    expected, (x0, _, w, _) = outline(tool)
    got = np.asarray(tool["points"], dtype=float).reshape(-1, 2)
    diff = 1e9 if got.shape != expected.shape else float(np.max(np.abs(got - expected)))
    strip = LineString(got)
    mirrored = scale(strip, xfact=-1.0, yfact=1.0, origin=(x0 + w / 2, 0.0))
    return diff, int(strip.is_simple), strip.hausdorff_distance(mirrored)


def main():
    with open(sys.argv[1]) as f:
        tools = json.load(f)
    with open(sys.argv[2], "w") as out:
        for tool in tools:
            diff, simple, mirror = judge(tool)
            out.write("%.9g %d %.9g\n" % (diff, simple, mirror))


if __name__ == "__main__":
    main()
