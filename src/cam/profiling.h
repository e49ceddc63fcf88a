// 2D profile milling: closed outlines (canvas at a contour height, or
// paths-layers) offset ring by ring up to a width of cuts, arranged into a
// tree of pockets and islands and cut level by level through the profiling
// walk of cam/nodewalk, with tabs on the outermost outline.
#pragma once

struct camop;

constexpr int prof_maxnodes = 2048;
constexpr int prof_maxleaves = 1024; // rings of one offset level

// The settings the editor packs into 16-bit codes: aux[1] low half the
// width of cuts (quadratic over 0..8 inches), high half the tab spacing
// (0..24 inches); aux[2] low half the tab length (0..1 inch), high half the
// tab height (0..0.5 inch). In project units, scale being inches per unit.
struct prof_settings {
    float width, spacing, tablength, tabheight;
};
prof_settings prof_readcodes(const camop *op, float scale);

// The job of operation type 8.
void camop_profiling(void *op);
