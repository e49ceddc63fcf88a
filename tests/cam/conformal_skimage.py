#!/usr/bin/env python3
# Independent reference for the conformal iso-lines: scikit-image's marching
# squares. Reads "width height count", count levels, then width x height
# values row by row from the first file; writes, for each level in turn,
# "level L", then each contour as "line" followed by its "row column" points,
# to the second.
import sys

import numpy as np
from skimage.measure import find_contours


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: conformal_skimage.py FIELD LINES")
    with open(sys.argv[1]) as f:
        words = f.read().split()
    width, height, count = int(words[0]), int(words[1]), int(words[2])
    levels = [float(w) for w in words[3:3 + count]]
    field = np.array([float(w) for w in words[3 + count:]], dtype=np.float64).reshape(height, width)
    with open(sys.argv[2], "w") as f:
        for level in levels:
            f.write("level %.9g\n" % level)
            for c in find_contours(field, level):
                f.write("line\n")
                for r, col in c:
                    f.write("%.9g %.9g\n" % (r, col))


if __name__ == "__main__":
    main()
