// Mesh models: the triangle meshes of model layers, in a table of 32 slots.
// Importers and the canvas mesh export build a model vertex by vertex and
// face by face, merging duplicate vertices through an optional hash; the
// project file and undo blobs carry models in a raw and a quantised form.
#pragma once
#include <cstdint>

struct msg_stream;

struct model_face {
    uint32_t a, b, c; // vertex indexes
    float normal[3];
};
static_assert(sizeof(model_face) == 24, "faces are stored and drawn as 24-byte records");

struct model {
    uint32_t sz_verts; // capacities; the slot is free while sz_verts is 0
    uint32_t sz_faces;
    uint32_t num_verts; // in use
    uint32_t num_faces;
    float *verts;       // sz_verts points of x, y, z
    float min[3], max[3]; // bounds
    model_face *faces;
};

constexpr int mdl_maxmodels = 32;
constexpr int vbucket_count = 1 << 20;
constexpr int vbucket_entries = 64;

// One bucket of the vertex hash: vertex indexes and how many are set.
struct __attribute__((packed)) vbucket {
    int32_t index[vbucket_entries];
    uint8_t count;
};
static_assert(sizeof(vbucket) == 257, "buckets are 257 bytes");

extern model models[mdl_maxmodels];
extern int mdl_cursor;
extern int mdl_count; // models taken, for the allocator's failure report
extern int mdl_current; // the model mdl_vert and mdl_face append to
extern vbucket *vbuckets; // the importer's vertex hash, null while absent
extern int mdl_lastbucket; // the bucket of mdl_vert's last overflow

// Takes a free slot as the current model (bounds empty, arrays absent);
// -1 when the table is full.
int mdl_alloc();
// Frees a model's arrays and its slot; -1 and free slots are ignored.
void mdl_free(int slot);
int mdl_vert(const float p[3]);
// The vertex-hash bucket of a point (0 .. vbucket_count - 1).
int mdl_hash(const float p[3]);
int mdl_face(uint32_t a, uint32_t b, uint32_t c);
// Gives the current model arrays of the given capacities (1, or 0 logged).
int mdl_reserve(uint32_t verts, uint32_t faces);
// Cuts a model's capacities back to its counts (at least 1), so a model
// kept for long holds no room an importer reserved: 1, or 0 when the slot
// is free (logged) or the arrays kept their size.
int mdl_trim(int slot);

int model_write(msg_stream *m, int slot, int quantised);
int model_write(int slot, int quantised);
// Reads a model at the stream's position into a new slot; -1 on a damaged
// or truncated model (logged, the slot given back).
int model_read(msg_stream *m, int quantised);
int model_read(int quantised);
