// Mesh models: the triangle meshes of model layers. A model holds growable
// vertex and face arrays with their bounds; the renderer draws its faces.
#pragma once
#include <cstdint>

struct model_face {
    uint32_t a, b, c; // vertex indexes
    float normal[3];
};
static_assert(sizeof(model_face) == 24, "faces are stored and drawn as 24-byte records");

struct model {
    uint32_t sz_verts; // capacities
    uint32_t sz_faces;
    uint32_t num_verts; // in use
    uint32_t num_faces;
    float *verts;       // sz_verts points of x, y, z
    float min[3], max[3]; // bounds
    model_face *faces;
};

extern int model_count; // mesh models alive, for the allocator's failure report
