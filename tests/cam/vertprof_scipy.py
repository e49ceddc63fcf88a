#!/usr/bin/env python3
"""Exact Euclidean distance transform by scipy, for the fillet tests. Reads
argv[1]: "w h" then h rows of w characters 0/1 (1 inside the region);
writes to argv[2] the distance in pixels from each inside pixel's centre to
the nearest outside pixel's centre (0 outside), one value per line."""
import sys

import numpy as np
from scipy.ndimage import distance_transform_edt


def main():
    with open(sys.argv[1]) as f:
        w, h = (int(t) for t in f.readline().split())
        rows = [f.readline().strip() for _ in range(h)]
    mask = np.array([[c == "1" for c in row] for row in rows], dtype=bool)
    d = distance_transform_edt(mask)
    with open(sys.argv[2], "w") as out:
        out.write("\n".join("%.6f" % v for v in d.ravel()))


main()
