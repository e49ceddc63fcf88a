// DXF import: the ASCII group-code form of a drawing turned into paths, one
// per non-empty layer or one for the whole file. The reader keeps the lines,
// arcs, polylines and splines of the ENTITIES section and the names of the
// LAYER table; the geometry step samples them into point lists that the
// path fitter (geom/pathedit.h) turns into curves.
#pragma once
#include <cstdint>

struct path;

constexpr int dxf_maxlayers = 1024;

// Fits one point list into a new curve of the path; addcurvepoly unless a
// test puts a recorder in its place. Every curve of the import but the
// two-knot stand-in of a tiny arc is made through it.
extern int (*dxf_addcurve)(path *p, int n, const float *verts, int closed, float tolerance);

// Reads the file and writes the new paths (the caller owns them) into
// paths, which holds dxf_maxlayers entries; returns how many, 0 on failure.
int sys_loadDXF(const char *file, path **paths);
// The same for a file's text already in memory (size bytes, any content).
// name is the file's path, for the log.
int dxf_loadtext(const char *name, const char *text, int32_t size, path **paths);
