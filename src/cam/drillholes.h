// Drilling: finds the round outlines of the input (canvas at a threshold
// depth, a paths-layer or a layer group) that the tool's cutting diameter
// fits, and drills each straight down in pecks from the starting depth to
// the final depth.
#pragma once

constexpr int drill_maxholes = 1024;

struct drill_hole {
    float x, y, r;
};

// The hole table of the last run, in the order drilled.
extern drill_hole drill_holes[drill_maxholes];
extern int drill_numholes;

// The job of operation type 16.
void cam_drillholes(void *op);
