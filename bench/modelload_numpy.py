#!/usr/bin/python3
# Times numpy on the binary STL that modelload_bench.cpp writes, as an
# independent figure beside model_load: a structured np.fromfile parse of
# the 50-byte records, and the merge of shared corners with
# np.unique(axis=0), which is what model_load's vertex hash does. Runs on the
# system Python (Debian's python3-numpy).
import statistics
import sys
import time

import numpy as np

RECORD = np.dtype([("normal", "<f4", 3), ("corners", "<f4", (3, 3)), ("attr", "<u2")])


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "/tmp/kerfmill-heightfield.stl"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    parse, merge = [], []
    for _ in range(runs):
        start = time.perf_counter()
        tris = np.fromfile(path, dtype=RECORD, offset=84)
        corners = tris["corners"].reshape(-1, 3)
        middle = time.perf_counter()
        verts, faces = np.unique(corners, axis=0, return_inverse=True)
        end = time.perf_counter()
        parse.append(middle - start)
        merge.append(end - middle)
    print(f"numpy: {len(tris)} triangles, {len(verts)} vertices")
    print(f"parse (np.fromfile)      median {statistics.median(parse):.3f} s")
    print(f"merge (np.unique axis=0) median {statistics.median(merge):.3f} s")
    print(f"parse + merge            median {statistics.median(parse) + statistics.median(merge):.3f} s")


if __name__ == "__main__":
    main()
