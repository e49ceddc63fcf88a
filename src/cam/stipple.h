// Standard stippling: a staggered grid of dots drifted by a particle
// simulation toward dark (or light) parts of the canvas, each dot given a
// radius from the brightness under it and plunged to the depth at which the
// tool cuts a hole of that radius.
#pragma once

struct tool;
struct cam_gen;

// The depth (0 or below, from the stock top) at which tool t, its
// dimensions times f (tool units to project units), cuts a hole of top
// radius r; 0 (logged by the caller) for a tool type without a rule. The
// medial-axis generator shares these rules.
int cam_dotdepth(const tool *t, float f, float r, float *depth);
// Orders the plunges g added: nearest-next from far left of the canvas when
// the operation sorts, else entry cuts in the order of generation. Dithered
// stippling shares it.
void cam_dotorder(const cam_gen *g);

// The job function of operation type 5, "Standard Stippling".
void camop_stipple(void *op);
