#!/usr/bin/env python3
# Independent reference for the dithered stippling tone: scipy's Spearman
# rank correlation. Reads "a b" pairs, one a line, from the first file and
# writes rho to the second.
import sys

from scipy.stats import spearmanr


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: stipple2_spearman.py PAIRS RHO")
    a, b = [], []
    with open(sys.argv[1]) as f:
        for line in f:
            w = line.split()
            if len(w) == 2:
                a.append(float(w[0]))
                b.append(float(w[1]))
    with open(sys.argv[2], "w") as f:
        f.write("%.9g\n" % spearmanr(a, b).correlation)


if __name__ == "__main__":
    main()
