// SVG export of a path: one SVG 1.1 document of cubic Bezier path elements,
// for the paths-layer export and the toolpath-outline export.
#pragma once

struct path;

// Writes the path, normalised to -0.5..0.5, scaled to size (width, height)
// with y pointing down, to a file whose name ends in ".svg". Returns the
// bytes written, or 0 (logged) when nothing was written; a failed write
// leaves no partial file.
int path_exportsvg(const char *filename, const path *p, const float size[2]);
