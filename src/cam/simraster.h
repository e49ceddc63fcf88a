// Cut rasterisation: a stretch of an operation's toolpath, measured by cut
// length from a saved position, drawn as centre lines into a depth image of
// the simulation size and widened by the tool's cutter profile over the
// touched rectangle only. The step-image job and the depth-map job
// (cam/simulate.h) play operations back with it.
#pragma once

struct image;

// Depth images hold, per pixel, the depth cut as a fraction of the canvas Z
// size below the canvas top; row 0 lies at the canvas's far Y edge.
//
// op: operation record index. path, move, fraction: the position in the
// sorted order, in/out (path -1 once finished). length: in, the cut length
// to add; out, the length counted. size, origin: the box the image covers,
// (Sx, -Sy, -Sz) over the canvas block's (x0, y0 + Sy, z0 + Sz) from
// sim_canvasbox. toolpos (3 floats), rect (x0, y0, x1, y1, ends exclusive)
// and the n x n cell counters are optional outputs. Returns the new image
// "rasteroplen" for the caller to free, or null when nothing was cut or the
// call was refused (logged).
image *cam_rasteroplength(int op, int *path, int *move, double *fraction, double *length, const float *size,
                          const float *origin, float *toolpos, int *rect, int n, int *cells);
