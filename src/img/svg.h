// SVG documents: sys_loadSVG parses a file (SVG++ over libxml2) into shapes
// of absolute cubic Bezier paths with their fill and stroke, which the
// paths-layer importer reads; sys_loadSVGimage rasterises those same shapes
// with cairo into the RGBA picture that the image-file loader takes.
#pragma once
#include <cstdint>

// Limits on what a document may ask for; anything beyond them is refused.
constexpr int svg_maxdepth = 64;             // element nesting
constexpr int svg_maxelements = 262144;      // elements of the whole document
constexpr int64_t svg_maxpoints = 4194304;   // path points of all shapes
constexpr int64_t svg_maxstops = 1048576;    // gradient stops of all shapes
constexpr double svg_maxcoord = 1e9;         // |coordinate| of any point, in pixels

enum svg_paintkind : int32_t { svg_paintnone = 0, svg_paintcolor = 1, svg_paintlinear = 2, svg_paintradial = 3 };
enum svg_fillrule : int32_t { svg_nonzero = 0, svg_evenodd = 1 };
enum svg_linejoin : int32_t { svg_joinmiter = 0, svg_joinround = 1, svg_joinbevel = 2 };
enum svg_linecap : int32_t { svg_capbutt = 0, svg_capround = 1, svg_capsquare = 2 };
enum svg_spread : int32_t { svg_spreadpad = 0, svg_spreadreflect = 1, svg_spreadrepeat = 2 };

struct svg_stop {
    float offset;   // 0..1, never decreasing along the list
    uint32_t color; // red in the low byte, then green, blue, alpha
};

// A gradient as one shape uses it: its geometry in gradient space and the
// matrix from there to document space (the shape's transform, its bounding
// box for bounding-box units and the gradient's own transform together).
struct svg_gradient {
    float xform[6];  // a, b, c, d, e, f: x' = a x + c y + e, y' = b x + d y + f
    float coords[5]; // linear: x1, y1, x2, y2; radial: cx, cy, r, fx, fy
    int32_t spread;
    int32_t stopcount;
    svg_stop *stops;
};

struct svg_paint {
    int32_t kind;
    uint32_t color;                // svg_paintcolor; opacities folded into alpha
    const svg_gradient *gradient;  // the gradient kinds
};

// One subpath: the start point, then three points (two controls and the end)
// per cubic segment. A closed path ends on its start point.
struct svg_path {
    float *points; // x, y pairs
    int32_t count; // points, 1 + 3 x segments
    int32_t closed;
    float bounds[4]; // min x, min y, max x, max y of the curve
};

struct svg_shape {
    svg_paint fill, stroke;
    float opacity;     // already folded into the paints' alphas and stops
    float strokewidth; // document units
    float miterlimit;
    int32_t fillrule, linejoin, linecap;
    float bounds[4];
    svg_path *paths;
    int32_t pathcount;
};

// Shapes in document order, moved so that their extent starts at (0, 0).
struct svg_image {
    float width, height; // extent of all shapes' bounds
    svg_shape *shapes;
    int32_t shapecount;
};

// Sets up the XML parser for the whole process. Start-up calls it before any
// worker can load a picture; a load calls it too, so it is never missing.
void svg_init();

// Parses the SVG file at path; lengths in physical units become pixels at
// dpi. Null on failure (logged). Free the result with nsvg_delete.
svg_image *sys_loadSVG(const char *path, float dpi);
void nsvg_delete(svg_image *svg);

// The SVG file as a picture for the image loader: sized so that its area
// lies between 2^20 and 2^22 pixels, drawn over opaque white with a margin.
// Returns a new sys_malloc RGBA buffer, or null (logged).
uint8_t *sys_loadSVGimage(const char *path, float dpi, int *width, int *height);
