#!/usr/bin/env python3
# Independent reference for the iso-line tracer: scikit-image's marching
# squares. Reads "width height level" and then width x height values, row by
# row, from the first file; writes every point of every contour that
# find_contours gives, one "row column" pair a line, to the second.
import sys

import numpy as np
from skimage.measure import find_contours


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: skimage_reference.py FIELD POINTS")
    with open(sys.argv[1]) as f:
        words = f.read().split()
    width, height, level = int(words[0]), int(words[1]), float(words[2])
    field = np.array([float(w) for w in words[3:]], dtype=np.float32).reshape(height, width)
    with open(sys.argv[2], "w") as f:
        for c in find_contours(field.astype(np.float64), level):
            for r, col in c:
                f.write("%.9g %.9g\n" % (r, col))


if __name__ == "__main__":
    main()
