// The frame every operation generator runs in: the operation table that
// names each type's job and generator, the queuing of a generator, and the
// shared start (CAM mutex, wait for the reference heightfield, the values
// derived from the operation and its tool, the checks that keep the level
// and line loops finite, the toolpath slot) and end (order, compile,
// estimate, publish, failure notice). Generators live in their own files.
#pragma once
#include "cam/cam.h"

#include <atomic>
#include <cstdint>

struct image;
struct img_reference;
struct contour;
struct tool;

using camop_generator = void (*)(void *op);

// One row per operation type: the job's label, its generator (null while the
// type has none built) and the word of its start line.
struct camop_row {
    const char *jobname;
    camop_generator generator;
    const char *logname;
};
extern const camop_row camop_table[camop_types];

// Simplification of clipped and contoured polylines, set by whoever queues a
// generator and passed unchanged to the clip and contouring routines.
extern float cam_maxdot;
extern float cam_minlen;
extern float cam_maxlen;
// Stock left by earlier operations, dilated by the cutter; null when none.
// Line generators clip against it with flag 0x1.
extern image *cam_restsurface;
// Program clock (seconds) when the last toolpath was generated successfully.
extern std::atomic<float> cam_lastgenerated;

// Operation flags the frame reads.
constexpr uint32_t camop_rest = 0x1;        // clip against cam_restsurface
constexpr uint32_t camop_sortpaths = 0x2;   // nearest-next order / pocket emission
constexpr uint32_t camop_linkcuts = 0x4;
constexpr uint32_t camop_confine = 0x8;     // keep the cutter inside the canvas
constexpr uint32_t camop_anydoc = 0x80;     // depth of cut not limited by the flutes
constexpr uint32_t camop_pathslayer = 0x200;
constexpr uint32_t camop_percentstep = 0x400;
constexpr uint32_t camop_pathsgroup = 0x2000;

// Factor from a tool's dimensions (units 1 inches, 2 millimetres) to the
// units of a canvas of the given scale (inches per unit): a metric tool on
// an inch canvas, or an inch tool on a metric one, is converted.
float cam_unitsfactor(int units, float scale);

// Queues the generator of op's type with its start time, its layer group
// and generating flag set; the job slot, or -1 (logged) for a type without
// a generator or a full job queue, with op left idle. The run waits for the
// reference of group composed after this call: the caller requests that
// composition (canvas_operation) with the same group.
int camop_queue(camop *op, int32_t group);
// How long a generator waits for its reference heightfield (seconds): a
// full-resolution composition of a large project takes minutes on a slow
// machine. The run ends, idle, at the limit (logged) or on quit.
extern double gen_canvaslimit;

// What a generator knows about its run once the prologue has passed.
struct cam_gen {
    camop *op;
    const char *fn;      // the generator's name, which starts its log lines
    const char *logname; // the word of its start line
    const img_reference *hold; // the run's reference, given back at its end
    const image *ref;          // its heightfield
    int width, height;
    float size[3], origin[3], frac[3];
    float scale; // inches per project unit
    const tool *t;
    float u;      // tool dimensions to project units
    float top;    // T: machine Z of the canvas top
    float z0, z1; // T - z_min (first cuts start below), T - z_max (the last level)
    float doc;    // D: depth per level
    float step;   // S: stepover in project units
    int slot;     // toolpath slot, -1 before the claim
};

// Prologue (fn names the generator in its log lines): locks the CAM mutex,
// logs the start line, waits for the reference heightfield of op's group
// composed after op was queued, holds it for the run and derives the values
// above. Refuses what would loop forever or write nonsense (depth of cut,
// non-finite depths or angle, tool type, feeds) through the failure exit.
// 0 when the generator must return at once: the mutex is then released and
// op published.
int cam_genbegin(cam_gen *g, camop *op, const char *fn, const char *logname);
// A generator that steps by the stepover calls this before its claim;
// 0 after the failure exit.
int cam_gencheckstep(cam_gen *g);
// Claims the toolpath slot (ramps: entry cuts carry their engage kind);
// 0 after the failure exit when no slot is free.
int cam_genclaim(cam_gen *g, int ramps);
// The depth levels from z0 down to z1, D apart: first from z0, next from the
// previous level; cam_genlastlevel says when the level is the final one.
float cam_gennextlevel(const cam_gen *g, float prev);
int cam_genlastlevel(const cam_gen *g, float z);
// The mapping vectors that place a canvas-sized image (rows from the top
// edge down) of the given size and origin in project space, for contouring.
void cam_genmapping(const float *size, const float *origin, float *sizevec, float *originvec);
// Entry cuts of the coming level start 0.04 inch above zprev.
void cam_genengage(const cam_gen *g, float zprev);
// Orders the paths a level added: engage height from zprev, then nearest-next
// from start (moved to where the sort ends; close cuts linked with flag 0x4) when
// the operation sorts, else entry cuts in the order of generation.
void cam_genorderlevel(const cam_gen *g, float zprev, float *start);
// Ends the level reaching z: progress up to 0.99 by depth; 1 when it was the
// last level.
int cam_genleveldone(const cam_gen *g, float z);
// The number of vertices over all of k's polylines, for the log.
uint32_t cam_genvertcount(const contour *k);
// The polylines of the operation's paths input (flag 0x200: one paths-layer;
// 0x2000: a layer group), named by type-specific value aux; null for the
// canvas input or when none can be made.
contour *cam_geninput(const cam_gen *g, int aux = 2);
// Epilogue: orders the paths unless the generator did (sort: nearest-next
// from start, else the order of generation with entry cuts), compiles at
// T + z_safe, estimates, gives the reference back, publishes, unlocks and
// raises the failure notice when the toolpath did not compile.
void cam_genend(cam_gen *g, int order, const float *start);
// Failure exit for a generator that cannot go on (its error line first):
// frees the claimed slot, gives the reference back, publishes op as not
// generating, unlocks, notifies.
void cam_genfail(cam_gen *g);
