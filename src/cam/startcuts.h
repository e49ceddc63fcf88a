// Trochoidal start cuts: one pocket at one level, opened at its widest point
// (helix, spiral, closing circle), then cleared by loops swept along its
// medial axis whose arcs cut only where a cut map says material is left.
// The arcs form a tree (each arc under the arc of the loop before it that it
// overlaps most) emitted depth first through cam_addnodepaths.
#pragma once

struct camop;
struct contour;

constexpr int startcut_maxnodes = 1024; // arcs per tree; a full tree is emitted and restarted
// The nodes a tree may hold before it is emitted and restarted, at most
// startcut_maxnodes (the table's size). Only tests lower it, to fill trees
// on pockets small enough to cut quickly.
extern int startcut_treenodes;

// The heading of the last loop, kept from one call to the next.
extern float startcut_heading;

// Cuts the pocket whose medial axis is maxis (vertex z = clearance radius)
// at level z into op's toolpath slot. size and origin give the working
// world box (world = fraction x size - origin), cell the cut-map cell;
// dirsign (+1 / -1) flips per loop with dir 2. 1 when done (a pocket without
// axis adds nothing); 0 (logged) for an angular step that is not above 0, a
// stepover or cell that is not above 0, or a cut map that cannot be had.
int cam_startcuts(camop *op, const contour *maxis, const float *size, const float *origin, int *dirsign, float step,
                  float z, float zprev, float cell);
