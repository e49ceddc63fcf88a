// The grid pass: the grid tile of cam/simmodels.h repeated around the
// camera's centre into the view buffer, blended additively and faded with
// distance by fog, lifted to the selected layer while it is being edited.
#pragma once

// Tile size in project units by the project's units: 1 none, 12 inches,
// 100 metric.
float view_gridtile(unsigned units);
// Rebuilds the grid tile; regengridmodel, unless a test counts the calls.
extern void (*view_gridrebuild)();
// The grid pass at the end of the interaction phases.
void view_grid();
