#!/usr/bin/python3
# Independent fixtures for the layer loader tests, with what each file holds
# as measured by another program than ours: SVG drawings written by svgwrite
# and measured by svgelements, STL meshes written by numpy-stl and measured
# by numpy, DXF drawings written by ezdxf with each layer's box from ezdxf's
# own bounding box, and PNG pictures (good and damaged) written byte by byte
# with zlib.
#
#   loader_fixtures.py svg <folder> <dpi> [<dpi> ...]
#   loader_fixtures.py stl <folder>
#   loader_fixtures.py dxf <folder>
#   loader_fixtures.py png <folder>
#
# Each writes its files into the folder and one record a line to stdout:
#   svg:  "svg NAME DPI MINX MINY MAXX MAXY", the union of the geometry's
#         bounds in document pixels at DPI (y down), strokes left out
#   stl:  "stl NAME MINX MINY MINZ MAXX MAXY MAXZ"
#   dxf:  "dxf NAME LAYER MINX MINY MAXX MAXY" per layer with geometry
#   png:  "png NAME WIDTH HEIGHT"
import os
import struct
import sys
import zlib

import numpy as np


# ------------------------------------------------------------------- SVG

def svg_drawings(folder):
    import svgwrite

    files = []

    def save(name, dwg):
        dwg.saveas(os.path.join(folder, name))
        files.append(name)

    dwg = svgwrite.Drawing(size=("300px", "200px"))
    dwg.add(dwg.line((20, 30), (170, 30), stroke="black", stroke_width=4))
    dwg.add(dwg.line((40, 60), (140, 180), stroke="black"))
    save("lines.svg", dwg)

    dwg = svgwrite.Drawing(size=("300px", "200px"))
    dwg.add(dwg.line((20, 50), (220, 50), stroke="black"))
    save("oneline.svg", dwg)

    dwg = svgwrite.Drawing(size=("400px", "300px"))
    dwg.add(dwg.rect((50, 40), (120, 80), fill="none", stroke="black"))
    dwg.add(dwg.rect((210, 90), (60, 150), fill="none", stroke="black"))
    save("rects.svg", dwg)

    dwg = svgwrite.Drawing(size=("400px", "400px"))
    dwg.add(dwg.circle((100, 120), 40, fill="none", stroke="black"))
    dwg.add(dwg.circle((260, 300), 75, fill="black"))
    save("circles.svg", dwg)

    # A group moved and scaled, holding a rectangle and a circle.
    dwg = svgwrite.Drawing(size=("500px", "500px"))
    g = dwg.g(transform="translate(120,40) scale(1.5,0.75)")
    g.add(dwg.rect((10, 20), (100, 60), fill="none", stroke="black"))
    g.add(dwg.circle((160, 200), 30, fill="none", stroke="black"))
    dwg.add(g)
    dwg.add(dwg.line((5, 400), (60, 470), stroke="black"))
    save("group.svg", dwg)

    # A drawing in millimetres: its user units are millimetres through the
    # viewBox, so its size depends on the resolution it is read at.
    dwg = svgwrite.Drawing(size=("120mm", "80mm"), viewBox="0 0 120 80")
    dwg.add(dwg.rect((10, 10), (50, 30), fill="none", stroke="black"))
    dwg.add(dwg.circle((90, 55), 15, fill="none", stroke="black"))
    save("millimetres.svg", dwg)

    # One point: a zero-length line.
    dwg = svgwrite.Drawing(size=("100px", "100px"))
    dwg.add(dwg.line((30, 30), (30, 30), stroke="black"))
    save("onepoint.svg", dwg)
    return files


def svg_bounds(path, dpi):
    from svgelements import SVG, Shape

    svg = SVG.parse(path, ppi=dpi)
    box = None
    for e in svg.elements():
        if not isinstance(e, Shape):
            continue
        b = e.bbox(transformed=True, with_stroke=False)
        if b is None:
            continue
        box = b if box is None else (min(box[0], b[0]), min(box[1], b[1]), max(box[2], b[2]), max(box[3], b[3]))
    return box


def svg(folder, dpis):
    for name in svg_drawings(folder):
        for dpi in dpis:
            b = svg_bounds(os.path.join(folder, name), float(dpi))
            if b is not None:
                print("svg %s %s %.9g %.9g %.9g %.9g" % ((name, dpi) + tuple(b)))


# ------------------------------------------------------------------- STL

def stl(folder):
    from stl import mesh, Mode

    # A tilted, moved tetrahedron pair: extents differ on every axis.
    pts = np.array([[0, 0, 0], [4, 0, 0], [0, 2.5, 0], [0, 0, 1.25], [4, 2.5, 1.25]], dtype=np.float32)
    pts = pts @ np.array([[0.96, 0.28, 0], [-0.28, 0.96, 0], [0, 0, 1]], dtype=np.float32) + [3.5, -1.5, 0.75]
    tris = [(0, 1, 2), (0, 1, 3), (0, 2, 3), (1, 2, 3), (1, 2, 4), (1, 3, 4), (2, 3, 4)]
    m = mesh.Mesh(np.zeros(len(tris), dtype=mesh.Mesh.dtype))
    for i, t in enumerate(tris):
        m.vectors[i] = pts[list(t)]
    for name, mode in (("solid_binary.stl", Mode.BINARY), ("solid_ascii.stl", Mode.ASCII)):
        m.save(os.path.join(folder, name), mode=mode)
        back = mesh.Mesh.from_file(os.path.join(folder, name))
        v = back.vectors.reshape(-1, 3)
        lo, hi = v.min(axis=0), v.max(axis=0)
        print("stl %s %.9g %.9g %.9g %.9g %.9g %.9g" % ((name,) + tuple(lo) + tuple(hi)))

    # One triangle whose corners lie on a line: no extent in y.
    d = mesh.Mesh(np.zeros(1, dtype=mesh.Mesh.dtype))
    d.vectors[0] = np.array([[0, 0, 0], [1, 0, 0], [2, 0, 0]], dtype=np.float32)
    d.save(os.path.join(folder, "degenerate.stl"), mode=Mode.BINARY)
    # A sound triangle standing upright in the x-z plane: flat in y.
    d.vectors[0] = np.array([[0, 0, 0], [1, 0, 0], [0, 0, 1]], dtype=np.float32)
    d.save(os.path.join(folder, "flat.stl"), mode=Mode.BINARY)


# ------------------------------------------------------------------- DXF

def dxf(folder):
    import ezdxf
    from ezdxf import bbox

    doc = ezdxf.new("R2000")
    layers = {"Frame": [(0, 0), (40, 0), (40, 25), (0, 25)],
              "Window": [(5, 5), (15, 5), (15, 18), (5, 18)],
              "Door": [(25, 0), (33, 0), (33, 20), (25, 20)]}
    msp = doc.modelspace()
    for name, pts in layers.items():
        doc.layers.add(name)
        msp.add_lwpolyline(pts, close=True, dxfattribs={"layer": name})
    # Layers of other drawings sit at other places: move everything.
    for e in msp:
        e.translate(-12.5, 30, 0)
    doc.saveas(os.path.join(folder, "three.dxf"))
    for name in layers:
        b = bbox.extents(msp.query('*[layer=="%s"]' % name))
        print("dxf three.dxf %s %.9g %.9g %.9g %.9g" % (name, b.extmin.x, b.extmin.y, b.extmax.x, b.extmax.y))

    # Faces only: nothing a paths-layer can hold.
    doc = ezdxf.new("R12")
    msp = doc.modelspace()
    msp.add_3dface([(0, 0, 0), (10, 0, 0), (10, 10, 2), (0, 10, 2)])
    msp.add_3dface([(10, 0, 0), (20, 0, 0), (20, 10, 2), (10, 10, 2)])
    doc.saveas(os.path.join(folder, "faces.dxf"))


# ------------------------------------------------------------------- PNG

def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_bytes(width, height, rows):
    head = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)  # 8-bit grey
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", head) + png_chunk(b"IDAT", zlib.compress(rows)) + \
        png_chunk(b"IEND", b"")


def png(folder):
    w, h = 1000, 500
    x = np.arange(w, dtype=np.uint32)
    rows = b"".join(b"\x00" + ((x + 3 * y) % 256).astype(np.uint8).tobytes() for y in range(h))
    good = png_bytes(w, h, rows)
    with open(os.path.join(folder, "picture.png"), "wb") as f:
        f.write(good)
    print("png picture.png %d %d" % (w, h))
    with open(os.path.join(folder, "truncated.png"), "wb") as f:
        f.write(good[:len(good) // 3])
    # A header declaring 100,000 x 100,000 pixels over one row of data.
    with open(os.path.join(folder, "huge.png"), "wb") as f:
        f.write(png_bytes(100000, 100000, b"\x00" * 101))
    open(os.path.join(folder, "empty.png"), "wb").close()


if __name__ == "__main__":
    kind, folder = sys.argv[1], sys.argv[2]
    if kind == "svg":
        svg(folder, sys.argv[3:])
    elif kind == "stl":
        stl(folder)
    elif kind == "dxf":
        dxf(folder)
    elif kind == "png":
        png(folder)
    else:
        sys.exit("unknown fixture kind " + kind)
