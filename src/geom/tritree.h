// The triangle tree of a toolpath's surface mesh: the viewport builds it over
// a height field by halving right triangles where the surface needs detail,
// and toolpath_renderhelper walks it into the current render model.
#pragma once
#include <cstdint>

struct image;

// A node of the tree; child -1 marks a leaf. The builder keeps its own
// values in the remaining words.
struct toolpath_treenode {
    int32_t child[2];
    int32_t words[5];
};
static_assert(sizeof(toolpath_treenode) == 28, "nodes are seven words");

// Points of the tree are pixel columns and rows of the height field (x, y)
// and its heights (z); drawn, each axis becomes value x scale + offset.
struct toolpath_tree {
    float scale[3];
    float offset[3];
    int32_t width, height; // of the height field
    const image *field;    // the height field, a scalar image
    const toolpath_treenode *nodes;
    int32_t numnodes;
};

// Emits the triangle a, b, c of node into the open triangles primitive of the
// current render model with colour (four floats). A leaf gives one
// triangle; an inner node halves a-c at its midpoint, whose height is sampled
// from the field, into (b, m, a) for its first child and (c, m, b) for its
// second. 1 when every vertex was taken; 0 for node -1, a node outside the
// tree, a tree deeper than 32 levels (more than the largest
// canvas needs) or a vertex the arrays refused.
int toolpath_renderhelper(const toolpath_tree *tree, int node, const float *a, const float *b, const float *c,
                          const float *colour);
