// The automatic update: the state that the frame loop and the shutdown read.
#pragma once
#include <cstdint>

extern int update_slot;         // download slot of the package, -1 none
extern int32_t update_downloaded; // non-zero once the package is stored
extern int32_t update_complete;   // non-zero when the package is whole

// Starts an update check; manual 0 is the silent check of every start.
void update_check(int manual);
// Starts the staged updater at exit.
void update_install();
