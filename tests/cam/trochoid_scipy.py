#!/usr/bin/python3
"""Reference for the trochoidal-milling tests, computed independently of the
program with scipy's exact Euclidean distance transform.

Usage: trochoid_scipy.py query answer. The query's first line holds
n (the canvas is n x n pixels), the cutter radius, the stock and the
stepover, all in pixels; the second line the n x n mask (1 material, 0 the
pocket, row 0 at the canvas's far y edge). The answer holds two lines:
"edt" with each pixel's distance to the nearest material pixel, and
"reach" with 1 where the tool can clear: the pocket shrunk by radius +
stock, opened by a disc of the stepover and grown back by the radius.
"""
import sys

import numpy as np
from scipy import ndimage


def disc(radius):
    k = int(np.ceil(radius))
    y, x = np.mgrid[-k:k + 1, -k:k + 1]
    return x * x + y * y <= radius * radius


def main():
    with open(sys.argv[1]) as f:
        head = f.readline().split()
        n = int(head[0])
        r, stock, step = (float(v) for v in head[1:4])
        mask = np.array(f.readline().split(), dtype=float).reshape(n, n) > 0.5
    # Outside the canvas is material as well.
    padded = np.pad(~mask, 1, constant_values=False)
    edt = ndimage.distance_transform_edt(padded)[1:-1, 1:-1]
    centres = edt > r + stock
    opened = ndimage.binary_opening(np.pad(centres, 8), structure=disc(step))[8:-8, 8:-8]
    reach = ndimage.binary_dilation(opened, structure=disc(r)) & ~mask
    with open(sys.argv[2], "w") as f:
        f.write("edt " + " ".join("%.4f" % v for v in edt.ravel()) + "\n")
        f.write("reach " + " ".join("1" if v else "0" for v in reach.ravel()) + "\n")


main()
