#!/usr/bin/env python3
"""Times GEOS's minimum bounding circle (through shapely) over the outlines
drillholes_bench leaves in /tmp/kerfmill-drill-polys.txt, one a line as
x y x y ...; prints the seconds for the set, best of three."""
import ctypes
import time

from shapely.geometry import MultiPoint


def circle_fn():
    try:
        from shapely import minimum_bounding_circle
        return minimum_bounding_circle
    except ImportError:
        from shapely.geometry.base import geom_factory
        from shapely.geos import lgeos
        f = lgeos._lgeos.GEOSMinimumBoundingCircle_r
        f.restype = ctypes.c_void_p
        f.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_double), ctypes.c_void_p]
        r = ctypes.c_double()
        return lambda g: geom_factory(f(lgeos.geos_handle, g._geom, ctypes.byref(r), None))


def main():
    polys = []
    with open("/tmp/kerfmill-drill-polys.txt") as src:
        for line in src:
            v = [float(t) for t in line.split()]
            if v:
                polys.append(MultiPoint(list(zip(v[0::2], v[1::2]))))
    mbc = circle_fn()
    best = 1e9
    for _ in range(3):
        t0 = time.perf_counter()
        for g in polys:
            mbc(g)
        best = min(best, time.perf_counter() - t0)
    print("%d outlines: %.4f s" % (len(polys), best))


main()
