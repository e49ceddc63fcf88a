// The layer loaders of the Add Layer dialog: an image file becomes a
// raster-layer, an SVG or DXF drawing one or more paths-layers, an STL or OBJ
// mesh a model-layer. Each asks for the file with the open dialog (starting
// at cfg_openpath), reads it, places the new layers fitted to the canvas or
// at the file's own scale (cfg_fittocanvas), records one undo event and
// closes the dialog. Main thread only; the frame waits for the read.
#pragma once

struct path;

// Each returns 1 when at least one layer was made; 0 when the dialog was
// cancelled or the file gave no layer (logged, the status line says why,
// nothing of the project changed and the dialog stays open).
int layer_loadimage();
int layer_loadpaths();
int layer_loadmodel();

// The placing step of layer_loadpaths for n paths already read (svg: from
// an SVG file, else from a DXF drawing), named after file: one paths-layer
// per path that has a box and finds a free slot, placed together on the
// canvas, with one "layer addmulti" event naming them. Takes every path
// (those without a layer are freed); the number of layers made.
int layer_placepaths(path **paths, int n, int svg, const char *file);
