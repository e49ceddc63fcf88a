// Parallel carving: straight cut lines across the canvas at a user angle,
// one stepover apart, clipped at each depth level to where the cutter still
// has material to remove and emitted in the order they come or swept pocket
// by pocket. The steps the other line generators (chevron, spiral,
// conformal) share with it are here too: the cut surface, the clip of a
// level, the rest clip, the link distance and plain emission.
#pragma once
#include "cam/generate.h"

struct image;
struct contour;

// The working geometry of a line generator: its own copies of the canvas
// size, origin and origin fractions (a confined run shrinks them) and the
// canvas mapping vectors made from them.
struct cam_lines {
    float size[3], origin[3], frac[3];
    float sizevec[3], originvec[3];
};

// Copies the canvas geometry of g and makes the mapping vectors.
void camop_linesgeometry(const cam_gen *g, cam_lines *w);
// Remakes the mapping vectors after size or origin changed.
void camop_linesmapping(cam_lines *w);
// The cut surface: the canvas grown by the leave stock (when above 0.0001),
// cropped by the cutter's radius when cuts are confined (shrinking w), then
// dilated by the cutter's profile: the lowest the tip may go at each pixel.
// Null (logged) on failure.
image *camop_cutsurface(const cam_gen *g, cam_lines *w);
// The pieces of the cut lines where the surface lies at or below zprev,
// following it but not below z; appended to the operation's working contour.
contour *camop_cliplevel(const cam_gen *g, const cam_lines *w, const image *sc, const contour *lines, float z,
                         float zprev);
// The cut lines draped on the surface sc where it lies at or below zprev,
// following it but not below z, and simplified; null when none can be made.
contour *camop_drapelevel(const cam_lines *w, const image *sc, const contour *lines, float z, float zprev);
// With flag 0x1 and a rest surface, k is replaced by its parts below the
// rest surface (k is freed); otherwise k is returned as it is.
contour *camop_restclip(const cam_gen *g, contour *k);
// Squared distance within which a cut may be fed into from the last one:
// three stepovers.
float camop_linkdistsqr(const cam_gen *g);
// Adds k's pieces in order; a piece is linked to the previous one (fed, no
// retract) with flag 0x4 under mixed direction when close and of another line.
void camop_emitplain(const cam_gen *g, const contour *k, float maxdistsqr);
// The cut lines over w's rectangle, the link word of each its index; null
// (logged) when the lines cannot be made.
contour *camop_parallellines(const cam_gen *g, const cam_lines *w);

// The job function of operation type 1, "Parallel Carving".
void camop_parallel(void *op);
