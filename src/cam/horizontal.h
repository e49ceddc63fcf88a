// 2.5D offset milling and horizontal finishing (operation type 7): the cut
// surface sliced into Z levels, each level's region below it outlined and
// filled with rings offset inward by the stepover; the rings of all levels
// form one forest of pockets and islands that the horizontal-offset walks of
// cam/nodewalk cut. A stepover of 0 keeps one ring per outline and level.
#pragma once
#include "cam/generate.h"

constexpr int horz_maxnodes = 8192;  // rings of one run, all levels together
constexpr int horz_maxlevels = 1024; // Z levels
constexpr int horz_maxprev = 4096;   // rings of the previous offset step
constexpr int horz_maxstep = 512;    // rings of the offset step being built

// The job function of operation type 7, "2.5D Offset Milling".
void camop_horizontaljob(void *op);
// Everything after the frame's start: surface, levels, rings, cuts, and the
// end of the frame (mutex released) on every way out.
void cam_horizontal(cam_gen *g);
