// Toolpath slots: the planned cuts of one operation as cut paths over one
// growable vertex array, the order they are cut in, and, once compiled
// (cam/compile.h), the moves. Generators claim a slot, append paths, add
// entry cuts (cam/engage.h) and compile; cam_clearop frees the slot.
#pragma once
#include <cstdint>

constexpr int toolpath_maxslots = 10;
constexpr uint32_t toolpath_maxpaths = 0x80000; // 524,288 cut paths per slot
constexpr uint32_t toolpath_startverts = 4096;

// Cut path flags.
constexpr uint8_t PATH_LINK = 0x01;     // fed into from the previous path's end
constexpr uint8_t PATH_SORTED = 0x02;   // has its place in the sorted order
constexpr uint8_t ENGAGE_RAMP = 0x04;   // wants a ramp entry, or is one
constexpr uint8_t ENGAGE_HELIX = 0x08;  // wants a helical entry, or is one
constexpr uint8_t PATH_CLOSED = 0x10;   // first vertex repeated at the end
constexpr uint8_t ENGAGE_DIRECT = 0x20; // rapid straight to the start

// Project files carry these entries as they are, hence packed.
struct __attribute__((packed)) toolpath_path {
    uint32_t first; // index of the first vertex in verts
    uint32_t count;
    uint8_t flags;
};
static_assert(sizeof(toolpath_path) == 9, "cut paths are 9-byte entries");

// Bytes 0..2: path index in bits 0..22 (bit 23 kept as found); byte 3 unused;
// bit 0 of byte 4: 1 forward, 0 reverse.
struct __attribute__((packed)) toolpath_sorted {
    uint8_t bytes[5];
};
static_assert(sizeof(toolpath_sorted) == 5, "sorted entries are 5 bytes");

struct move;

// One slot; free while verts is null. The per-path arrays are allocated
// with the slot, so an idle slot costs only its header.
struct toolpath {
    uint32_t sz_verts;
    uint32_t num_verts;
    uint32_t num_paths;
    uint32_t num_sorted;
    double feeds;  // summed cutting length, set by compilation
    double rapids; // summed rapid length, set by compilation
    double *pathlen;           // [toolpath_maxpaths]
    toolpath_sorted *sorted;   // [toolpath_maxpaths]
    toolpath_path *paths;      // [toolpath_maxpaths]
    float *verts;              // x, y, z per vertex
    uint32_t sz_moves;
    uint32_t num_moves;
    uint32_t sz_parms;
    uint32_t num_parms;
    move *moves;
    float *parms;
};

extern toolpath toolpaths[toolpath_maxslots];
extern int toolpath_count; // slots in use

// 1 when slot names a claimed slot; else logs "<fn>: invalid toolpath slot
// %d" and returns 0, so callers refuse without touching anything.
int toolpath_valid(int slot, const char *fn);

// Claims the first free slot; -1 when all are taken or memory is short.
int toolpath_new();
// Claims the given slot when it is free (a project load restores slots);
// the slot, or -1.
int toolpath_newat(int slot);
// Frees a slot's arrays and makes it free again; an invalid slot is ignored.
void toolpath_free(int slot);
// A record outside the table with its arrays and room for verts vertices
// (a project load builds its slots before it frees the open project's);
// 0 when memory is short, the record then empty.
int toolpath_alloc(toolpath &tp, uint32_t verts);
// Frees a record's arrays, in the table or not, and empties it.
void toolpath_release(toolpath &tp);
// Moves a record made by toolpath_alloc into a free slot, emptying tp; -1
// when the slot is invalid or taken (tp then stays the caller's).
int toolpath_adopt(int slot, toolpath &tp);

// Appends a cut path of count x, y, z vertices; engage 0 none, 1 ramp,
// 2 helix, 3 direct. A closed polyline starts at start and repeats that
// vertex at its end; dir >= 1 forward, <= 0 reverse. Returns the last vertex
// written into out; 9999999 on each axis when count < 2, 0 on failure.
void toolpath_addpath(float out[3], int slot, int engage, int link, int closed, int start, int dir,
                      int count, const float *verts);
void toolpath_addpath(float out[3], int slot, int link, int closed, int start, int dir, int count,
                      const float *verts);

// Appends the path entry for count vertices already laid out in order,
// growing the vertex array; returns the path index or -1 (logged as fn).
// The overflow line carries start and dir for the caller's context.
int toolpath_appendverts(int slot, uint8_t flags, int count, const float *verts, int start, int dir);

// Sorted entries.
uint32_t toolpath_sortedpath(const toolpath_sorted &e);
int toolpath_sorteddir(const toolpath_sorted &e); // +1 forward, -1 reverse
void toolpath_setsorted(toolpath_sorted &e, uint32_t path, int dir);
// Appends path with its direction to the slot's sorted order.
void toolpath_pushsorted(int slot, uint32_t path, int dir);
