#!/usr/bin/python3
# Times scikit-image's find_contours on the field that contour_bench.cpp
# traces (4096 x 4096 rolling hills, level 0.1), as an independent figure to
# set beside ours. Runs on the system Python, which has Debian's
# python3-skimage (scripts/deps.sh --bench).
import statistics
import sys
import time

import numpy as np
from skimage import measure

SIDE = 4096
LEVEL = 0.1


def field():
    # Same formula as contour_bench.cpp: computed in double, stored as float.
    y, x = np.mgrid[0:SIDE, 0:SIDE].astype(np.float64)
    return (np.sin(0.021 * x) * np.cos(0.017 * y) + 0.5 * np.sin(0.0043 * (x + 2.0 * y))).astype(np.float32)


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    f = field()
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        lines = measure.find_contours(f, LEVEL)
        times.append(time.perf_counter() - start)
    points = sum(len(line) for line in lines)
    print(f"find_contours {SIDE}x{SIDE} @{LEVEL}: {len(lines)} polylines, {points} points")
    print(f"  best {min(times) * 1000:.1f} ms, median {statistics.median(times) * 1000:.1f} ms over {runs} runs")


if __name__ == "__main__":
    main()
