// The mesh start: the preview-mesh array of the CAM operations, allocated
// once for the run, and the key and fill light directions that the mesh
// drawing shades with, made unit length at start.
#pragma once
#include <cstdint>

constexpr int mesh_previewslots = 12;
constexpr int mesh_previewbytes = 62304; // 12 slots of 5,192 bytes

// The preview-mesh slots, zeroed at start; the CAM preview code lays out
// each slot. Null before mesh_init and after mesh_quit.
extern uint8_t *cam_previewmeshes;
// Unit directions toward the key and the fill light.
extern float mesh_keylight[3];
extern float mesh_filllight[3];

// Allocates the zeroed preview-mesh array (a second call starts over with a
// fresh one) and normalises the light directions. 1, or 0 (reported) when
// the array cannot be allocated.
int mesh_init();
// Frees the preview-mesh array.
void mesh_quit();
