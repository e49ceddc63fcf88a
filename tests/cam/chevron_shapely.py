#!/usr/bin/env python3
# Independent reference for the chevron rows: shapely's distance between
# neighbouring polylines. Reads polylines from the first file, one a line as
# "x y x y ...", and writes the distance between each and the next, one a
# line, to the second.
import sys

from shapely.geometry import LineString


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: chevron_shapely.py ROWS DISTANCES")
    rows = []
    with open(sys.argv[1]) as f:
        for line in f:
            v = [float(w) for w in line.split()]
            if v:
                rows.append(LineString(list(zip(v[0::2], v[1::2]))))
    with open(sys.argv[2], "w") as f:
        for a, b in zip(rows, rows[1:]):
            f.write("%.9g\n" % a.distance(b))


if __name__ == "__main__":
    main()
