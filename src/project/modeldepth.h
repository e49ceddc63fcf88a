// The depth map of a model-layer: its mesh model drawn with an orthographic
// projection into an off-screen float framebuffer of the map's size, the
// height written as colour by "mdl_origin" and read back. Runs on the
// composition worker (borrowing the workers' context) or on the main thread.
#pragma once

struct image;

// Render samples per pixel of a model-layer's depth map (0 or 1: none); the
// settings set it.
extern int mdl_samplecount;

// Renders model-layer slot into map, whose size is the render size and which
// the caller filled with the layer's Z fill: covered pixels get the height
// of the highest surface, the rest keep the Z fill. Stores the layer's
// aspect (height over width of the oriented model). A bad slot, a missing
// mesh, a refused context or an incomplete framebuffer leave map as it is
// (logged).
void mdl_gendepth(int slot, image *map);
