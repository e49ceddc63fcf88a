// Tree walks that turn nested offset outlines into cut paths: which ring is
// cut first, whether the tool links to it at depth or retracts, and how it
// enters the material (plunge, ramp or helix). Profiling, the offset
// pockets, the horizontal offsets, the trochoidal start cuts and the
// conformal passes each keep their own node record; the start vertex, the
// link test, the entry and its log line are shared by all of them.
#pragma once
#include <cstdint>

struct camop;
struct contour;
struct image;

// Profiling node; links are node indexes, -1 none (inner -2: not cut below
// the tab top).
struct prof_node {
    int32_t nextroot;
    int32_t inner;
    int32_t depth;
    int32_t islands; // adopted island roots
    int32_t next;
    int32_t pockets; // adopted pocket roots
    int32_t one;
    int32_t outermost;
    float area; // signed: positive pocket, negative island
    int32_t reserved;
    int32_t count;
    float *verts; // closed loop, first point not repeated; x, y, z
};

// Tabs left on the outermost outline: spacing of cut between tabs, length
// of a tab's top (the cutter's diameter included) and the machine Z of its
// top. cont receives each tabbed loop; a loop it cannot hold fails the walk.
struct cam_tabs {
    float spacing;
    float length;
    float top;
    contour *cont;
};

// An image the walks clip or drape their rings onto, with the world box it
// covers (size and origin, x y z).
struct cam_clip {
    const image *img;
    float size[3];
    float origin[3];
};

// Offset-pocket ring (leaf: no inner ring of its own level).
struct pocket_node {
    int32_t inner;
    int32_t island;
    int32_t next;
    int32_t closed;
    int32_t leaf;
    float area;
    float top;
    int32_t count;
    float *verts;
};

// Horizontal-offset node; count drops to 0 once the node is cut.
struct horiz_node {
    int32_t nextroot;
    int32_t child;
    int32_t list2; // before a pocket, after an island
    int32_t list3;
    int32_t list4;
    int32_t list5;
    int32_t closed;
    int32_t perimeter;
    float area;
    float cutz;
    int32_t count;
    float *verts;
    uint64_t mark;
};

// Trochoidal start-cut node; verts is malloc'd by the builder and freed by
// cam_addnodepaths.
struct startcut_node {
    int32_t next;
    int32_t child;
    uint32_t count;
    float *verts;
    float midangle;
    float halfsweep;
    uint32_t link;
};

struct bitree_node {
    uint64_t value;
    int32_t word;
    bitree_node *right;
    bitree_node *left;
};

struct cam_pathrequest {
    int slot;
    int count;
    int start;
    int dir;
    int entry;
    int closed;
    const float *verts;
};

// In-order walk: left subtree, the node, then along the right chain.
void bitree_walk(const bitree_node *n, void (*callback)(uint64_t value));
// Logs the request and adds it unlinked; the last vertex written into out.
void cam_addpathlogged(float out[3], const cam_pathrequest *r);

// The given depth, or the deepest of the inner nodes of the same area sign.
int32_t cam_nodedepth(int node, int32_t depth, const prof_node *nodes);
// Smallest positive nearest-point value from ref's first vertex to the
// pockets of node, its inner subtree and its next nodes; cap when none.
float cam_nodemindist(int node, float cap, int ref, const prof_node *nodes);
// Cuts node and what hangs from it at cut Z; out receives the last point.
// 1, or 0 (logged) when a tabbed loop does not fit the tab contour.
int cam_outputnodes(float out[3], camop *op, int node, int *dirsign, int *rampstart, const float last[3],
                    float z, int firstlevel, int lastlevel, float linkdist2, const cam_tabs *tabs,
                    prof_node *nodes);

void cam_marksubtree(uint64_t value, horiz_node *nodes, int node);
// Cuts a horizontal-offset tree; returns the last point (also in out).
float *cam_rootcuts(float out[3], camop *op, int *dirsign, int relation, int first, const float last[3], int node,
                    horiz_node *nodes, float linkdist2, float maxdz, float maxperimarea, const cam_clip *clip);
float *cam_helicalentry(float out[3], camop *op, int *dirsign, int relation, const float last[3], int node,
                        horiz_node *nodes, float linkdist2, float maxdz);

// Cuts the ring tree of an offset pocket at level z, innermost first. rest
// (null: as traced) drapes the rings with flag 0x1.
void cam_helicalentrypos(float out[3], camop *op, const contour *maxis, int *dirsign, int node, const float start[3],
                         float z, float prevz, float joindist2, pocket_node *nodes, const cam_clip *rest);
// Adds the open polylines of a start-cut tree depth first, freeing them.
void cam_addnodepaths(camop *op, startcut_node *nodes, int first);
