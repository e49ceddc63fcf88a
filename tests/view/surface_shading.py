#!/usr/bin/python3
"""The surface shader's colour at sample pixels, worked out with numpy from
the heights, light and gloss, the slice heights and the colours, as the
surface drawing is meant to light and colour them; the view tests hold the
GL's read-back against it.

Input (little-endian): int32 width, height, slices, samples; float32
heights[height][width] (image row 0 first), light[3], specular[3] (exponent,
intensity, roughness), rgb1[3], rgb2[3], bend, shadeweight, sign (1 a
heightfield, -1 a depth-map), isize.z (the normal's z scale, signed),
viewdir[3]; then per sample int32 column, row
of the image and x, y of the window pixel. Output: float32 r, g, b (0..255)
per sample."""
import sys
import numpy as np


def superbend(x, v):
    if v < 0.5:
        return 1.0 - (1.0 - x) ** (1.0 / (2.0 * v) ** 2)
    return x ** (1.0 / (2.0 * (1.0 - v)) ** 2)


def slice_levels(n):
    """The heights the slices carry: 16 bits in the red (low) and green
    (high) bytes of the vertex colour, read back as the vertex stage does."""
    f = np.clip(np.arange(n + 1) / n, 0.0, 1.0)
    h16 = np.rint(f * 65535.0).astype(np.int64)
    lo, hi = h16 & 255, h16 >> 8
    return (lo / 255.0 + hi) / 256.0


def main():
    data = open(sys.argv[1], "rb").read()
    w, h, n, count = np.frombuffer(data, "<i4", 4)
    pos = 16
    heights = np.frombuffer(data, "<f4", w * h, pos).reshape(h, w).astype(np.float64)
    pos += 4 * w * h
    vals = np.frombuffer(data, "<f4", 19, pos).astype(np.float64)
    pos += 4 * 19
    light, spec, rgb1, rgb2 = vals[0:3], vals[3:6], vals[6:9], vals[9:12]
    bend, weight, a, izscale = vals[12], vals[13], vals[14], vals[15]
    viewdir = vals[16:19]
    samples = np.frombuffer(data, "<i4", 4 * count, pos).reshape(count, 4)
    levels = slice_levels(n)
    out = []
    for col, row, px, py in samples:
        d = heights[row, col]
        # The slice nearest the eye that the surface keeps: at or under a
        # heightfield's surface, at or past a depth-map's cut.
        kept = levels[levels <= d] if a > 0 else levels[levels >= d]
        s = kept.max() if a > 0 else kept.min()
        sl, sr = heights[row, col - 2], heights[row, col + 2]
        # Texture rows run up the screen: row - 2 is the lower neighbour.
        sb, st = heights[row - 2, col], heights[row + 2, col]
        nx, ny = (sl - sr) / 2.0, (st - sb) / 2.0
        nz = np.sqrt(1.0 - np.clip(nx * nx + ny * ny, 0.0, 1.0)) * izscale
        nrm = np.array([nx, ny, nz])
        nrm = nrm / np.linalg.norm(nrm) * a
        shade = 1.0 + (np.dot(nrm, light) * 0.75 + 0.3 - 1.0) * weight * 0.5
        v = viewdir / np.linalg.norm(viewdir)
        ndv = max(np.dot(nrm, -v), 0.0)
        k = (1.0 - spec[2]) ** 2 * 0.5
        g = ndv / (ndv * (1.0 - k) + k)
        half = light - v
        half = half / np.linalg.norm(half)
        sp = max(np.dot(nrm, half), 0.0) ** spec[0] * spec[1] * g
        colour = superbend(np.clip(s if a > 0 else 1.0 - s, 0.0, 1.0), bend)
        rgb = rgb1 + (rgb2 - rgb1) * colour
        lit = rgb * shade * (1.0 - sp) + sp
        # The selection is full (1): the red pattern only where the diamond
        # cells meet.
        cx = abs(0.5 - ((px + 0.5) / 8.0) % 1.0)
        cy = abs(0.5 - ((py + 0.5) / 8.0) % 1.0)
        wsel = np.clip((abs(1.0 - 2.0 * (cx + cy)) - 0.75) / 0.5, 0.0, 1.0)
        red = np.array([shade * 0.6 + 0.4, 0.0, 0.0])
        out.append(np.clip(lit + (red - lit) * wsel, 0.0, 1.0) * 255.0)
    np.asarray(out, "<f4").tofile(sys.argv[2])


if __name__ == "__main__":
    main()
