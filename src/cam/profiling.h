// 2D profile milling: closed outlines (canvas at a contour height, or
// paths-layers) offset ring by ring up to a width of cuts, arranged into a
// tree of pockets and islands and cut level by level through the profiling
// walk of cam/nodewalk, with tabs on the outermost outline.
#pragma once

constexpr int prof_maxnodes = 2048;
constexpr int prof_maxleaves = 1024; // rings of one offset level

// The job of operation type 8.
void camop_profiling(void *op);
