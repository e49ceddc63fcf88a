// Tessellated carving: a grid of identical shape tiles drawn as a pattern
// heightfield, contoured at evenly spaced levels into nested rings, each
// tile's rings chained from the innermost outward and cut in depth passes
// against the canvas surface grown by the cutter. Runs in the generator
// frame (cam/generate.h) and uses the line generators' cut surface.
#pragma once
#include "cam/generate.h"

#include <cstdint>
#include <vector>

struct image;

// Shapes of the operation's aux[0] low half.
enum tess_shape { tess_none, tess_quads, tess_triangles, tess_diamonds, tess_diamonds2, tess_hexagons, tess_circles };

// Flag 0x40: open polylines (tiles cut off by the canvas edge) are skipped.
constexpr uint32_t camop_removepartials = 0x40;

constexpr int tess_maxnodes = 8192; // rings of one run, all levels together
constexpr int tess_maxlist = 2048;  // rings of one level

// The operation's tiling, read from its aux words: aux[0] unsigned halves
// (shape, cuts per tile), aux[1] signed halves (columns, rows), aux[2] the
// gap between neighbouring tiles' rings in project units.
struct tess_params {
    int shape, cuts, cols, rows;
    float gap;
};
// Unpacks op's aux words; 0 (logged as fn) when cuts, columns or rows are
// not positive or the gap is not a finite number: a loaded project may carry
// what the editor refuses.
int tess_unpack(const camop *op, tess_params *p, const char *fn);

// First contour level and the step between levels for cuts rings per tile.
void tess_levels(int cuts, float gap, float *first, float *step);

// The pattern image "tile%d" of width x height for cols x rows tiles with
// gap pixels between shapes: 1 at a shape's centre, 0 on its border, below 0
// in the gap. wide 1 draws four pixels a step, 0 one; both give the same
// values. Null (logged) when the image cannot be had.
image *tess_drawtile(int shape, int width, int height, int cols, int rows, float gap, int wide);
// Draws the pattern over the whole of an existing scalar image.
void tess_drawpattern(image *tile, int shape, int cols, int rows, float gap, int wide);

// A ring of one level with the ring that encloses it one level lower.
struct tess_node {
    int32_t inner; // enclosing ring's node, -1 none
    uint32_t closed;
    std::vector<float> verts; // x, y, z; a closed ring repeats its first point
    float box[4];             // xmin, ymin, xmax, ymax
};
struct tess_rings {
    std::vector<tess_node> nodes; // in creation order over all levels
    std::vector<int32_t> leaves;  // the rings of the last level that traced any
};
// Steps 2 to 6 of a run: the tile pattern at twice the canvas resolution,
// scaled to the canvas, contoured level by level into rings linked to their
// enclosing ring. 0 (logged) when an image cannot be had or the rings
// overflow the node store or a level list.
int tess_buildrings(const cam_gen *g, const tess_params &p, tess_rings *out);

// The job function of operation type 13, "Tessellated Carving".
void cam_tessellate(void *op);
