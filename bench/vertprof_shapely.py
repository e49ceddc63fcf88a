#!/usr/bin/env python3
"""Times shapely's buffer by 1.05 r (r = 1/16 inch) of vertprof_bench's
region, a 10 x 10 inch square: as its 4 corners, and traced at the bench's
pixel pitch (12 / 2048 inch); prints the seconds of each, best of five."""
import time

from shapely.geometry import Polygon, box

r = 0.0625
p = 12.0 / 2048
n = int(10 / p)
dense = Polygon([(-5 + 10 * i / n, -5) for i in range(n)] + [(5, -5 + 10 * i / n) for i in range(n)] +
                [(5 - 10 * i / n, 5) for i in range(n)] + [(-5, 5 - 10 * i / n) for i in range(n)])
for name, region in (("square", box(-5, -5, 5, 5)), ("traced square", dense)):
    best = 1e9
    for _ in range(5):
        t0 = time.perf_counter()
        region.buffer(1.05 * r)
        best = min(best, time.perf_counter() - t0)
    print("%s (%d points): %.6f s" % (name, len(region.exterior.coords), best))
