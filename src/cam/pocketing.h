// 2D offset milling: the region below a threshold (or inside paths) becomes
// a distance field, rings of equal distance one stepover apart are traced
// from it and arranged into a tree of pocket nodes (each ring knowing the
// rings inside it and a root knowing its islands), and the tree is cut level
// by level through the pocket walk of cam/nodewalk, innermost ring first.
#pragma once
#include "cam/nodewalk.h"

#include <cstdint>

struct contour;
struct image;

constexpr int pocket_maxnodes = 4096;
constexpr int pocket_maxindex = 1024; // leaves, new leaves, roots, islands

// The ring tree under construction. Every table is checked before it is
// written: a ring that would not fit fails the pass instead of replacing
// another.
struct pocket_tree {
    pocket_node *nodes; // pocket_maxnodes, vertices malloc'd per node
    int numnodes;
    int leaves[pocket_maxindex]; // -1 free
    int leafpos;                 // running position of the next leaf
    int newleaves[pocket_maxindex];
    int numnew;
    int roots[pocket_maxindex];
    int numroots;
    int islands[pocket_maxindex];
    int numislands;
    float step;    // S: rings closer than 1.5 S belong together
    float minarea; // rings of a smaller |area| are dropped
    float top;     // T, stamped on every node
};

// Results of a pass and of the island step.
constexpr int pocket_ok = 1;
constexpr int pocket_full = 0;     // a table would overflow (logged)
constexpr int pocket_orphan = -1;  // a ring or island fits nowhere (logged)

// 1 with the tables empty, 0 (logged) when the node table cannot be had.
int pocket_inittree(pocket_tree *t, float step, float minarea, float top);
// Frees every node's vertices and the node table.
void pocket_freetree(pocket_tree *t);
// Adds the rings of contour k traced at distance d (0 for the first pass):
// the first pass makes roots and islands, later ones hang each ring under
// the smallest larger leaf beside it. On pocket_orphan the ring that found
// no parent and the current leaves are logged.
int pocket_addpass(pocket_tree *t, const contour *k, float d);
// Puts every island at the head of the island chain of the smallest root
// around it. On pocket_orphan the island and the roots are logged.
int pocket_attachislands(pocket_tree *t);

// The region mask of a paths input (1 wall, 0 to clear) widened on every
// side by a positive stock plus tool (the cutter's radius, 0 when it stays
// inside the outline) with edge pixels, or for a negative stock by tool and
// then cropped and padded back by -stock with wall, and given its raised
// border. img is taken over (freed); size, origin and frac follow the image.
// Null when an image cannot be had.
image *pocket_padmask(image *img, float *size, float *origin, float *frac, float stock, float tool);

// The job of operation type 10.
void cam_pocketing(void *op);
