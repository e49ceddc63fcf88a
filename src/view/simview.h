// The simulation view's state shared with the main window's simulation
// panels: whether the simulation plays, how far it has come, and whether the
// depth-map is being brought up to date.
#pragma once
#include <cstdint>

extern int32_t sim_playing;  // the simulation plays
extern double sim_progress;  // fraction 0..1 of the selected operation; -1 jumps to the end
extern int32_t sim_updating; // the simulation depth-map is being updated
// The operation entry the depth-map belongs to: -1 none, -2 forces a
// restart. A changed canvas size sets it to -2 and raises the regeneration
// flag, so the simulation is built again at the new size.
extern int32_t sim_simop;
extern int32_t sim_regenerate;
