// Conformal carving: iso-lines of a ramp across the canvas at the cut angle,
// mixed with a reduced copy of the canvas so that the lines bend with its
// relief, one stepover apart; cut level by level with Parallel's shared
// steps and ordered by source line through a binary tree.
#pragma once
#include "cam/nodewalk.h"
#include "cam/parallel.h"

// The one binary tree of a level's emission: a node pool of the given
// capacity. 1, or 0 through sys_error when a tree is already held or the
// pool cannot be had.
int bitree_new(int capacity);
// Links value under key as a leaf: keys less than or equal to a node's go
// left. The root, or null through sys_error when the pool is full.
bitree_node *bitree_insert(uint64_t value, int32_t key);
// The root of the tree held, null when none or empty.
bitree_node *bitree_root();
// Frees the pool; capacity 0 marks the tree as not held.
void bitree_free();

// The job function of operation type 9, "Conformal Carving".
void camop_conformal(void *op);
