#!/usr/bin/env python3
# Independent reference for the distance-field tests: the exact Euclidean
# distance transform of a mask, from scipy. Reads a mask file (little-endian
# int32 width and height, then width x height bytes, nonzero inside) and
# writes, for every pixel, the distance from its centre to the centre of the
# nearest outside pixel as width x height little-endian float32 values.
import sys

import numpy as np
from scipy import ndimage


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: edt_reference.py MASK OUT")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    width, height = np.frombuffer(data[:8], dtype="<i4")
    mask = np.frombuffer(data[8:], dtype=np.uint8)
    if mask.size != width * height:
        sys.exit("edt_reference.py: mask holds %d bytes, not %d" % (mask.size, width * height))
    distance = ndimage.distance_transform_edt(mask.reshape(height, width) != 0)
    distance.astype("<f4").tofile(sys.argv[2])


if __name__ == "__main__":
    main()
