// Spiral carving: one Archimedean spiral, a stepover per turn, around a
// user-placed centre until it covers the canvas or a user radius, cut level
// by level with Parallel's shared steps. Its pieces are never linked.
#pragma once
#include "cam/parallel.h"
#include "geom/contour.h"

#include <vector>

// The spiral is one polyline of a contour: it stops at this many vertices.
constexpr int spiral_maxverts = cont_maxverts;

// The base spiral at height z around (cx, cy) out to limit: angle sign g,
// stepover s, scale in inches per unit (the angle step shrinks as the
// radius grows in inches). Into out as x, y, z triples; 0 when the vertex
// cap cut it short (logged by the caller).
int camop_spiralverts(std::vector<float> &out, double cx, double cy, double z, double limit, double s, int g,
                      double scale);

// The job function of operation type 3, "Spiral Carving".
void camop_spiral(void *op);
