// Layer slots of the project: allocation with placement after the selected
// layer and a fresh identity, release of everything a slot owns, unique
// names, fitting a layer to the canvas, finding a layer by its identity,
// swapping neighbours, re-bounding a paths-layer to its path, and the
// mapping of a point in a layer's frame to the world. Main thread only.
#pragma once
#include "project/project.h"

#include "img/levels.h"

#include <cstdint>

extern int32_t numlayers;                 // layers in use
extern int32_t numlayertypes[layer_types]; // layers in use by type
// Model-layers using each mesh-model slot; the last one frees the mesh.
extern uint32_t project_meshuses[project_maxmeshes];

// The identity hash of a seed (a 64-bit multiply-xorshift chain, low 32 bits).
uint32_t project_layeruid(uint32_t seed);
// Takes the first free slot for a layer of type 1..4 with the canvas's size
// and position, a uid seeded from the frame time, and a name from the type;
// with a layer selected the new layer is moved to stand right after it.
// The slot, or -1 (a full table is reported as an error). The data handle
// is left empty (-1 for a model or text layer) for the caller to set.
int project_layeralloc(int type);
// Frees the slot's data and depth map and resets it to a free slot.
void project_layerfree(int slot);
// Names the slot base, or base_00, base_01 ... when another slot has the
// name; a trailing "_" and two digits of base are dropped first. The name
// in the slot, or null for a bad slot or base.
const char *project_layername(int slot, const char *base);
// Names the slot after a file's name (the text after the last '\' or '/'),
// with control and non-ASCII bytes as '?' and more than 30 characters cut
// to 30 and "...".
const char *project_layernamefrompath(int slot, const char *path);
// Sizes the layer to fill the canvas with its own aspect; size z stays.
void project_layerfitsize(int slot);
// The layer holding uid, or -1 (logged).
int project_findlayeruid(uint32_t uid);
// Swaps slots i and i + 1: 1, or 0 (logged) when i is not 0..62.
int project_swaplayers(int i);
// Copies a layer's placement and look (flags, smoothing, blend, fill,
// aspect, position, size, angles, crop and groups), leaving its name,
// type, identity and data alone.
void layer_copystate(project_layer &to, const project_layer &from);
// Re-fits a paths-layer to its path after the path changed: the path is
// normalised into -0.5..0.5 and the layer moved and sized so that the path
// stays where it was drawn. An empty path gives the canvas's size.
void layer_bounds(int slot);
// The world point of p, a point of the layer's frame (-0.5..0.5 across the
// layer, z 0..1 through its depth): scaled by the size, mirrored, turned by
// the rotation and moved to the position.
void layer_transformpoint(float *out, const float *p, const project_layer *layer);

// Settings of the raster-edit panels, kept for the main window's editors
// and read by the depth previews: the levels curve with its mode and point
// count (tool 3), columns or ring count, rows, the share of each tile's cell
// and the ring's radius (project units) and phase (tools 6 and 7), and the
// quantisation's level count and quality switch (tool 8).
extern levels_curve rasteredit_levels;
extern int32_t rasteredit_levelsmode;
extern int32_t rasteredit_levelspoints;
extern float rasteredit_tilecount;
extern float rasteredit_tilerows;
extern float rasteredit_tilefill[2];
extern float rasteredit_tileradius;
extern float rasteredit_ringphase;
extern float rasteredit_quantlevels;
extern int32_t rasteredit_quanthq;
