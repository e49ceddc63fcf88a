#!/usr/bin/env python3
"""Minimum bounding circles by GEOS through shapely, for the enclosing-circle
tests. Reads polygons from argv[1], one a line as x y x y ...; writes
"cx cy r" per polygon to argv[2]. shapely 2 names the routine
minimum_bounding_circle; shapely 1.8 reaches the same GEOS function through
its library handle."""
import ctypes
import sys

from shapely.geometry import MultiPoint


def circle(points):
    geom = MultiPoint(points)
    try:
        from shapely import minimum_bounding_circle, minimum_bounding_radius
        c = minimum_bounding_circle(geom).centroid
        return c.x, c.y, minimum_bounding_radius(geom)
    except ImportError:
        from shapely.geometry.base import geom_factory
        from shapely.geos import lgeos
        f = lgeos._lgeos.GEOSMinimumBoundingCircle_r
        f.restype = ctypes.c_void_p
        f.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_double), ctypes.c_void_p]
        r = ctypes.c_double()
        centre = geom_factory(f(lgeos.geos_handle, geom._geom, ctypes.byref(r), None)).centroid
        return centre.x, centre.y, r.value


def main():
    with open(sys.argv[1]) as src, open(sys.argv[2], "w") as out:
        for line in src:
            v = [float(t) for t in line.split()]
            if v:
                out.write("%.9f %.9f %.9f\n" % circle(list(zip(v[0::2], v[1::2]))))


main()
