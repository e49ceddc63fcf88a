#!/usr/bin/python3
# Independent fixtures for the DXF, STL and OBJ import tests, with what each
# file must import as. DXF drawings are written by ezdxf and their expected
# point lists come from ezdxf's own arc, ellipse, bulge and B-spline
# constructions at the importer's point counts; STL files come from
# openscad, admesh and numpy-stl, with counts and bounds from numpy; OBJ
# faces come from this script's own reference resolver.
#
#   import_fixtures.py dxf <folder> <tolerance setting>
#   import_fixtures.py stl <folder>
#   import_fixtures.py obj <folder>
#
# Each writes its files into the folder and what they hold to stdout, one
# record a line, numbers separated by blanks:
#   dxf:  "file NAME SIZE TOLERANCE", then "call LAYER CLOSED N x y x y ..."
#   stl:  "stl NAME FACES VERTS MINX MINY MINZ MAXX MAXY MAXZ"
#   obj:  "tri x y z x y z x y z" for each triangle in order
import math
import os
import struct
import subprocess
import sys

import numpy as np


# ------------------------------------------------------------------- DXF

def dxf_drawings(folder):
    import ezdxf
    from ezdxf.math import closed_uniform_bspline

    # The oldest version ezdxf writes: lines, arcs, circles and POLYLINEs.
    doc = ezdxf.new("R12")
    for name in ("WALLS", "holes"):
        doc.layers.add(name)
    msp = doc.modelspace()
    msp.add_line((0, 0), (10, 0), dxfattribs={"layer": "WALLS"})
    msp.add_line((10, 0), (10, 6), dxfattribs={"layer": "WALLS"})
    msp.add_line((20, 20), (25, 20), dxfattribs={"layer": "WALLS"})
    msp.add_arc((5, 5), 3, 30, 120, dxfattribs={"layer": "WALLS"})
    msp.add_arc((15, 5), 2, 350, 10, dxfattribs={"layer": "WALLS"})
    msp.add_circle((4, 14), 2.5, dxfattribs={"layer": "holes"})
    # A closed POLYLINE with bulges of 1, -1 and 0.4142 (every VERTEX
    # carries "70 0").
    msp.add_polyline2d([(12, 10, 0, 0, 1), (16, 10, 0, 0, 0), (16, 14, 0, 0, -1), (12, 14, 0, 0, 0.4142)],
                       format="xyseb", close=True, dxfattribs={"layer": "holes"})
    block = doc.blocks.new("BOLT")
    block.add_circle((0, 0), 1)
    block.add_line((-1, 0), (1, 0))
    msp.add_blockref("BOLT", (30, 30))
    msp.add_blockref("BOLT", (-5, 30))
    doc.saveas(os.path.join(folder, "r12.dxf"))

    # The first version with LWPOLYLINE, ELLIPSE and SPLINE.
    doc = ezdxf.new("R2000")
    doc.layers.add("curves")
    doc.layers.add("Outline")
    msp = doc.modelspace()
    msp.add_lwpolyline([(0, 0, 0, 0, 0.4142), (8, 0, 0, 0, 0), (8, 5, 0, 0, -1), (0, 5)],
                       format="xyseb", close=True, dxfattribs={"layer": "Outline"})
    msp.add_lwpolyline([(10, 0), (14, 3), (18, 0)], dxfattribs={"layer": "Outline"})
    msp.add_ellipse((5, 15), (4, 0), 0.5, 0, math.tau, dxfattribs={"layer": "curves"})
    msp.add_ellipse((15, 15), (0, 3), 0.3, 0.5, 2.5, dxfattribs={"layer": "curves"})
    msp.add_open_spline([(0, 20), (3, 26), (7, 18), (11, 25), (14, 21)], degree=3,
                        dxfattribs={"layer": "curves"})
    msp.add_rational_spline([(16, 20), (18, 26), (22, 26), (24, 20)], [1, 3, 0.5, 1], degree=2,
                            dxfattribs={"layer": "curves"})
    closed = msp.add_spline(dxfattribs={"layer": "curves"})
    closed.apply_construction_tool(
        closed_uniform_bspline([(2, 30), (6, 34), (10, 30), (6, 26)], order=4))
    closed.closed = True
    doc.saveas(os.path.join(folder, "r2000.dxf"))
    return ["r12.dxf", "r2000.dxf"]


def dxf_bounds(doc):
    """The drawing's extent by the importer's rules: vertices, control
    points, centres, radii and major-axis ends widen it, and so does the
    POLYLINE header's own point."""
    lo = [9999999.0, 9999999.0]
    hi = [-9999999.0, -9999999.0]

    def widen(axis, v):
        lo[axis] = min(lo[axis], v)
        hi[axis] = max(hi[axis], v)

    for e in doc.modelspace():
        kind = e.dxftype()
        if kind == "LINE":
            for p in (e.dxf.start, e.dxf.end):
                widen(0, p.x), widen(1, p.y)
        elif kind == "LWPOLYLINE":
            for x, y, *_ in e.get_points():
                widen(0, x), widen(1, y)
        elif kind == "POLYLINE":
            widen(0, 0.0), widen(1, 0.0)
            for v in e.vertices:
                widen(0, v.dxf.location.x), widen(1, v.dxf.location.y)
        elif kind in ("ARC", "CIRCLE"):
            c, r = e.dxf.center, e.dxf.radius
            for axis, v in ((0, c.x), (1, c.y)):
                widen(axis, v), widen(axis, v - abs(r)), widen(axis, v + abs(r))
        elif kind == "ELLIPSE":
            c, m = e.dxf.center, e.dxf.major_axis
            widen(0, c.x), widen(1, c.y)
            widen(0, c.x - abs(m.x)), widen(0, c.x + abs(m.x))
            widen(1, c.y - abs(m.y)), widen(1, c.y + abs(m.y))
        elif kind == "SPLINE":
            for p in e.control_points:
                widen(0, p[0]), widen(1, p[1])
    return max(hi[0] - lo[0], hi[1] - lo[1])


def bulge_points(p1, p2, bulge, size):
    from ezdxf.math import bulge_to_arc
    if bulge == 0:
        return []
    half = 0.5 * math.dist(p1, p2)
    n = math.ceil(2048 * half * abs(bulge) / size)
    centre, _, _, radius = bulge_to_arc(p1, p2, bulge)
    a0 = math.atan2(p1[1] - centre.y, p1[0] - centre.x)
    sweep = 4 * math.atan(bulge)
    return [(centre.x + radius * math.cos(a0 + sweep * k / (n + 1)),
             centre.y + radius * math.sin(a0 + sweep * k / (n + 1))) for k in range(1, n + 1)]


def poly_list(vertices, closed, size):
    """One closed poly, or a chain of open ones: (x, y, bulge) vertices."""
    pts = []
    for j, (x, y, b) in enumerate(vertices):
        if j == 0 or abs(x - pts[-1][0]) + abs(y - pts[-1][1]) > 0:
            pts.append((x, y))
        if j + 1 < len(vertices):
            pts += bulge_points((x, y), vertices[j + 1][:2], b, size)
    if closed:
        pts += bulge_points(vertices[-1][:2], vertices[0][:2], vertices[-1][2], size)
        if pts[-1] != pts[0]:
            pts.append(pts[0])
    return pts


def dxf_expected(path, setting):
    import ezdxf
    doc = ezdxf.readfile(path)
    size = dxf_bounds(doc)
    t = setting * setting
    tolerance = size * (0.0002 * t + 0.00005 * (1 - t))
    step = 5 * t + 0.5 * (1 - t)
    layers = [layer.dxf.name for layer in doc.layers]
    calls = []
    for li, lname in enumerate(layers):
        ents = [e for e in doc.modelspace() if e.dxf.layer.lower() == lname.lower()]
        polys, arcs, splines = [], [], []
        for e in ents:
            kind = e.dxftype()
            if kind == "LINE":
                polys.append(([(e.dxf.start.x, e.dxf.start.y, 0), (e.dxf.end.x, e.dxf.end.y, 0)], False))
            elif kind == "LWPOLYLINE":
                polys.append(([(x, y, b) for x, y, _, _, b in e.get_points("xyseb")], e.closed))
            elif kind == "POLYLINE":
                polys.append(([(v.dxf.location.x, v.dxf.location.y, v.dxf.bulge) for v in e.vertices],
                              e.is_closed))
            elif kind in ("ARC", "CIRCLE", "ELLIPSE"):
                arcs.append(e)
            elif kind == "SPLINE":
                splines.append(e)
        # Chains: exact continuations of open polys.
        chains = []
        for verts, closed in polys:
            if chains and not closed and not chains[-1][1] and chains[-1][0][-1][:2] == verts[0][:2]:
                chains[-1] = (chains[-1][0] + verts, False)
            else:
                chains.append((list(verts), closed))
        for verts, closed in chains:
            pts = poly_list(verts, closed, size)
            calls.append({"layer": li, "points": pts, "closed": int(pts[0] == pts[-1])})
        for e in arcs:
            if e.dxftype() == "ELLIPSE":
                a1 = math.degrees(e.dxf.start_param)
                a2 = math.degrees(e.dxf.end_param)
            elif e.dxftype() == "CIRCLE":
                a1, a2 = 0.0, 360.0
            else:
                a1, a2 = e.dxf.start_angle, e.dxf.end_angle
            span = math.fmod(a2 - a1, 360.0)
            if span <= 0:
                span += 360.0
            start = a1 if a2 > a1 else a1 - 360.0
            n = int(span / step + 0.5)
            angles = [start + span * i / (n - 1) for i in range(n)]
            if e.dxftype() == "ELLIPSE":
                tool = e.construction_tool()
                pts = [(v.x, v.y) for v in tool.vertices([math.radians(a) for a in angles])]
            else:
                from ezdxf.math import ConstructionArc
                tool = ConstructionArc(e.dxf.center, e.dxf.radius, a1, a2)
                pts = [(v.x, v.y) for v in tool.vertices(angles)]
            calls.append({"layer": li, "points": pts, "closed": int(abs(360 - span) < 0.1)})
        for e in splines:
            tool = e.construction_tool()
            cps = list(tool.control_points)
            knots = list(tool.knots())
            p, count = tool.degree, len(cps)
            xs = [c[0] for c in cps]
            ys = [c[1] for c in cps]
            diag = math.hypot(max(xs) - min(xs), max(ys) - min(ys))
            n = int(count * (6 + 50 * (1 - t) * diag / size))
            u0, u1 = knots[p], knots[count]
            params = [u0 + (u1 - u0) * min(i / (n - 1), 1.0) for i in range(n)]
            pts = [(v.x, v.y) for v in tool.points(params)]
            calls.append({"layer": li, "points": pts, "closed": int(e.closed)})
    return {"size": size, "tolerance": tolerance, "layers": layers, "calls": calls}


def dxf_main(folder, setting):
    files = dxf_drawings(folder)
    return {name: dxf_expected(os.path.join(folder, name), setting) for name in files}


# ------------------------------------------------------------------- STL

def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def stl_facts(path):
    from stl import mesh
    m = mesh.Mesh.from_file(path)
    v = m.vectors.reshape(-1, 3).astype(np.float32)
    return {"faces": int(len(m.vectors)), "verts": int(len(np.unique(v, axis=0))),
            "min": [float(x) for x in v.min(axis=0)], "max": [float(x) for x in v.max(axis=0)]}


def stl_main(folder):
    from stl import mesh, Mode
    at = lambda name: os.path.join(folder, name)
    with open(at("cube.scad"), "w") as f:
        f.write("cube([10, 20, 5], center = false);\n")
    with open(at("cylinder.scad"), "w") as f:
        f.write("translate([-3, 2, 1]) cylinder(h = 7.5, r = 4, $fn = 10);\n")
    run(["openscad", "-o", at("cube.stl"), at("cube.scad")])
    run(["openscad", "-o", at("cylinder.stl"), at("cylinder.scad")])
    # admesh: to binary, and back to ASCII written with "%E".
    run(["admesh", "-b", at("cube_bin.stl"), at("cube.stl")])
    run(["admesh", "-a", at("cube_ascii.stl"), at("cube_bin.stl")])
    # numpy-stl writes both kinds of the cylinder.
    cyl = mesh.Mesh.from_file(at("cylinder.stl"))
    cyl.save(at("cyl_np_ascii.stl"), mode=Mode.ASCII)
    cyl.save(at("cyl_np_bin.stl"), mode=Mode.BINARY)
    # Two triangles sharing an edge, written field by field (184 bytes), with
    # a header that starts like an ASCII file.
    tris = [((0, 0, 0), (1, 0, 0), (0, 1, 0)), ((1, 0, 0), (1, 1, 0), (0, 1, 0))]
    with open(at("two.stl"), "wb") as f:
        f.write(b"solid looks like text".ljust(80, b" ") + struct.pack("<I", len(tris)))
        for tri in tris:
            f.write(struct.pack("<3f", 0, 0, 1) + b"".join(struct.pack("<3f", *v) for v in tri) + b"\0\0")
    files = ["cube.stl", "cylinder.stl", "cube_bin.stl", "cube_ascii.stl", "cyl_np_ascii.stl", "cyl_np_bin.stl",
             "two.stl"]
    return {name: stl_facts(at(name)) for name in files}


# ------------------------------------------------------------------- OBJ

OBJ_TEXT = (
    "# quads, triangles and a pentagon, negative and slash references\r\n"
    "mtllib none.mtl\r\n"
    "o part\r\n"
    "v 0 0 0 1 0 0\r\n"
    "v 4 0 0 0 1 0\r\n"
    "v 4 3 0 0 0 1\r\n"
    "v 0 3 0 1 1 1\r\n"
    "vt 0 0\r\nvt 1 0\r\nvt 1 1\r\n"
    "vn 0 0 1\r\n"
    "g top\r\n"
    "usemtl steel\r\n"
    "s 1\r\n"
    "f 1 2 3 4\r\n"
    "v 0 0 2.5\r\n"
    "v 4 0 2.5\r\n"
    "f -2 -1 2 1\r\n"
    "f 1/1 3/2 5/3\r\n"
    "f 2//1 6//1 3//1\r\n"
    "f 4/1/1 3/2/1 6/3/1\r\n"
    "s off\r\n"
    "v -1.5E+02 7 1e-05\r\n"
    "f 1 2 6 5 7\r\n"
)


def obj_resolve(text):
    """Triangles as coordinate triples: the reference resolver, with a fan
    per polygon."""
    verts, tris = [], []
    for line in text.splitlines():
        words = line.split()
        if not words:
            continue
        if words[0] == "v":
            verts.append([float(w) for w in words[1:4]])
        elif words[0] == "f":
            refs = []
            for w in words[1:]:
                r = int(w.split("/")[0])
                refs.append(r - 1 if r > 0 else len(verts) + r)
            for j in range(1, len(refs) - 1):
                tris.append([verts[refs[0]], verts[refs[j]], verts[refs[j + 1]]])
    return tris


def obj_main(folder):
    with open(os.path.join(folder, "parts.obj"), "w", newline="") as f:
        f.write(OBJ_TEXT)
    return {"parts.obj": {"triangles": obj_resolve(OBJ_TEXT)}}


def out(*fields):
    print(" ".join(repr(f) if isinstance(f, float) else str(f) for f in fields))


if __name__ == "__main__":
    kind, folder = sys.argv[1], sys.argv[2]
    if kind == "dxf":
        for name, d in dxf_main(folder, float(sys.argv[3])).items():
            out("file", name, d["size"], d["tolerance"])
            for c in d["calls"]:
                out("call", c["layer"], c["closed"], len(c["points"]), *[float(v) for p in c["points"] for v in p])
    elif kind == "stl":
        for name, f in stl_main(folder).items():
            out("stl", name, f["faces"], f["verts"], *f["min"], *f["max"])
    else:
        for tri in obj_main(folder)["parts.obj"]["triangles"]:
            out("tri", *[float(v) for p in tri for v in p])
