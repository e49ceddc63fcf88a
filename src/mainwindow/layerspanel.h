// The canvas-mode panel of the main window: the head buttons, the actions
// block of the selected layer, the four common layer actions (duplicate,
// merge down, move up and down) and the Canvas Layers list with its groups
// and per-row toggles. Clicks act on the project at once or leave a request
// (removal, merge-down, selection) that the viewport serves next frame.
#pragma once
#include "project/project.h"

#include <cstdint>

// Display names and icons of the layer types, by type 0..4.
extern const char *const layer_typenames[layer_types];
extern const int layer_typeicons[layer_types];


constexpr float layerspanel_rowheight = 23.0f;
constexpr float layerspanel_scrollwidth = 16.0f;

// The rows of the list that show in a rows area of the given height with
// count layers at scroll position 0..1: row k shows slot count - 1 - k.
struct layerspanel_window {
    int32_t first, last; // rows shown, last < first when none
    int32_t scrolls;     // the 16-px scroll column is split off
};
layerspanel_window layerspanel_visiblerows(float height, int count, float scroll);

// The name as its cell shows it: cut to what fits in the width (the icon
// square taken off) with "..." at the end when it is longer.
void layerspanel_fitname(char *out, int outsize, const char *name, float cellwidth, int font);

// The one copy of a layer made by Duplicate Layer, placed after the
// selected layer, with its undo event: the new slot, or -1 (logged) when
// nothing was selected or its data could not be copied.
int layerspanel_duplicate();

// The panel function of canvas mode: takes the top sector and pops it.
void layerspanel_draw();
