// Labyrinth carving: a maze (cam/maze.h) one stepover to the cell grown over
// the canvas, its open cells outlined into closed polylines and cut in depth
// passes that follow the canvas surface grown by the cutter. The job of
// operation type 4 runs the generator frame's start and hands over to
// camop_labyrinth, which owns the rest of the run.
#pragma once
#include "cam/generate.h"

// The job function of operation type 4, "Labyrinth Carving".
void camop_labyrinthjob(void *op);
// Everything after the frame's start: maze, outline, passes, the end of the
// frame (mutex released).
void camop_labyrinth(cam_gen *g);
