// The generator frame. Each generator holds the CAM mutex from its first
// step to its last, so one runs at a time and the engage settings it writes
// are its own. Values that would make a level or line loop endless, or a
// program the controller refuses, are turned away before the slot claim.
// Each run holds the reference heightfield of its own layer group, composed
// after its queuing, until its end: an install meanwhile frees nothing it
// reads, and a stale or foreign composition is never cut.
#include "cam/generate.h"

#include "cam/chevron.h"
#include "cam/compile.h"
#include "cam/conformal.h"
#include "cam/drillholes.h"
#include "cam/engage.h"
#include "cam/genflags.h"
#include "cam/horizontal.h"
#include "cam/labyrinth.h"
#include "cam/medialaxis.h"
#include "cam/parallel.h"
#include "cam/pathscut.h"
#include "cam/pocketing.h"
#include "cam/profiling.h"
#include "cam/spiral.h"
#include "cam/stipple.h"
#include "cam/stipple2.h"
#include "cam/tessellate.h"
#include "cam/trochoidal.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "cam/vertprof.h"
#include "geom/contour.h"
#include "geom/topolys.h"
#include "img/image.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/thread.h"
#include "sys/waits.h"

#include <cmath>
#include <cstring>
#include <iterator>

const camop_row camop_table[camop_types] = {
    {"none", nullptr, "NONE"},
    {"cam_parallel", camop_parallel, "CAMOP_PARALLEL"},
    {"cam_chevron", camop_chevron, "CAMOP_CHEVRON"},
    {"cam_spiral", camop_spiral, "CAMOP_SPIRAL"},
    {"cam_labyr", camop_labyrinthjob, "CAMOP_LABYRINTH"},
    {"cam_stipp1", camop_stipple, "CAMOP_STIPPLE"},
    {"cam_medial", camop_medialaxis, "CAMOP_MEDIALAXIS"},
    {"cam_offset", camop_horizontaljob, "CAMOP_HORIZONTAL"},
    {"cam_profile", camop_profiling, "CAMOP_PROFILING"},
    {"cam_conform", camop_conformal, "CAMOP_CONFORMAL"},
    {"cam_offset", cam_pocketing, "CAMOP_POCKETING"},
    {"cam_stipp2", camop_stipple2, "CAMOP_STIPPLE2"},
    {"cam_pathscut", cam_pathscut, "CAMOP_PATHSCUT"},
    {"cam_tessel", cam_tessellate, "CAMOP_TESSELLATE"},
    {"cam_trochoid", cam_trochoidal, "CAMOP_TROCHOIDAL"},
    {"cam_trochoid", cam_trochpock, "CAMOP_TROCHPOCK"},
    {"cam_drillholes", cam_drillholes, "CAMOP_DRILLHOLES"},
    {"cam_vertprof", cam_vertprof, "CAMOP_VERTPROF"},
};

float cam_maxdot = 1.0f;
float cam_minlen = 0.0f;
float cam_maxlen = 0.0f;
image *cam_restsurface = nullptr;
std::atomic<float> cam_lastgenerated{0.0f};
double gen_canvaslimit = 300.0;

constexpr int gen_maxlevels = 100000;

static const char gen_failcaption[] = "Operation Toolpath Failure";
static const char gen_failtext[] =
    "Operation failed to generate a toolpath. Check your operation parameters and make sure that they are "
    "compatible with the canvas composition for the operation's selected Layer Group.\n\nFor explanations about "
    "operation parameters please refer to the User Guide, accessible via the Help menu, or check out the new "
    "Interactive Tutorials to learn how to use different features and functionality in Kerfmill.";

int camop_queue(camop *op, int32_t group)
{
    if (!op || op->type < 0 || op->type >= camop_types || !camop_table[op->type].generator) {
        sys_log("camop_queue: no generator for operation type %d", op ? op->type : -1);
        return -1;
    }
    op->group = group;
    op->applied = sys_seconds();
    op->time = (float)op->applied;
    op->generating.store(1, std::memory_order_release);
    int job = sys_threadjob(camop_table[op->type].jobname, camop_table[op->type].generator, op);
    if (job < 0)
        op->generating.store(0, std::memory_order_release);
    return job;
}

// ---------------------------------------------------------------- prologue

// Waits for the reference of op's group composed after op was queued, and
// holds it; null when the canvas composition gave up on it meanwhile (the
// flag is cleared for the next generator, which then waits afresh), the
// wait reached its limit or the program quits. A reference of another
// group or an older one is never taken: it would cut the wrong relief.
static const img_reference *gen_waitcanvas(const camop *op)
{
    const img_reference *ref = nullptr;
    bool refused = false;
    sys_waituntil(
        [&] {
            ref = img_holdref(op->group, op->applied);
            refused = !ref && cam_canvasfailed.exchange(0);
            return ref || refused;
        },
        gen_canvaslimit, "gen_waitcanvas");
    return ref;
}

float cam_unitsfactor(int units, float scale)
{
    if (units == 2 && scale == 1.0f)
        return 0.03937008f;
    if (units == 1 && scale < 1.0f)
        return 25.4f;
    return 1.0f;
}

static void gen_publish(cam_gen *g)
{
    camop *op = g->op;
    img_releaseref(g->hold);
    g->hold = nullptr;
    op->time = (float)(sys_seconds() - op->time);
    view_redraw = 1;
    op->generating.store(0, std::memory_order_release);
}

void cam_genfail(cam_gen *g)
{
    if (g->slot >= 0) {
        toolpath_free(g->slot);
        g->slot = -1;
        g->op->toolpath = -1;
    }
    gen_publish(g);
    sys_unlockmutex(cam_mutex);
    cam_log(gen_failcaption, 4, "%s", gen_failtext);
}

// The operation's numbers that every generator relies on; 0 after the log
// line naming the first that is unusable.
static int gen_checkop(const cam_gen *g)
{
    const camop *op = g->op;
    const char *fn = g->fn;
    const struct {
        const char *name;
        float value;
    } values[] = {{"z_doc", op->z_doc}, {"z_max", op->z_max}, {"z_min", op->z_min},
                  {"z_safe", op->z_safe}, {"stock", op->stock}, {"aux[0]", op->aux[0]}};
    // Paths carving, and profiling from one paths-layer (flag 0x200), keep a
    // layer uid's bits in aux[0], which may read as any float, not a number
    // included: about one uid in 256 has an exponent of all ones.
    const bool uidword = op->type == 12 || (op->type == 8 && (op->flags & camop_pathslayer));
    const size_t checked = uidword ? std::size(values) - 1 : std::size(values);
    for (size_t i = 0; i < checked; i++)
        if (const auto &v = values[i]; !std::isfinite(v.value)) {
            sys_log("%s: %s is %f", fn, v.name, v.value);
            return 0;
        }
    if (op->feed <= 0 || op->engagefeed <= 0) {
        sys_log("%s: feed %d / plunge feed %d must be above 0", fn, op->feed, op->engagefeed);
        return 0;
    }
    if (!(g->doc > 0.0f) || !std::isfinite(g->doc)) {
        sys_log("%s: depth of cut %f must be above 0 (z_doc %f, flute length %f)", fn, g->doc, op->z_doc,
                g->t->flutelength);
        return 0;
    }
    // A depth of cut far below the span would take more levels than anyone
    // can run, or stop moving the level at all in single precision.
    const double levels = ((double)g->z0 - g->z1) / g->doc;
    if (levels > gen_maxlevels) {
        sys_log("%s: depth of cut %f gives %.0f levels (at most %d)", fn, g->doc, levels, gen_maxlevels);
        return 0;
    }
    return 1;
}

static int gen_taketool(cam_gen *g)
{
    const camop *op = g->op;
    if (op->tool < 1 || op->tool > cam_maxtools) {
        sys_log("%s: no tool %d", g->fn, op->tool);
        return 0;
    }
    g->t = &cam_tools[op->tool - 1];
    if (g->t->type < tool_none || g->t->type > tool_taperball) {
        sys_log("%s: tool%d has unknown type %d", g->fn, op->tool, g->t->type);
        return 0;
    }
    return 1;
}

static void gen_derive(cam_gen *g)
{
    const camop *op = g->op;
    const tool &t = *g->t;
    g->u = cam_unitsfactor(t.units, g->scale);
    g->top = g->size[2] - g->origin[2];
    g->z0 = g->top - op->z_min;
    g->z1 = g->top - op->z_max;
    g->doc = op->z_doc;
    if (!(op->flags & camop_anydoc))
        g->doc = std::fmin(op->z_doc, g->u * t.flutelength);
    g->step = op->step;
    if (op->flags & camop_percentstep) {
        const float base = t.type == tool_taperball ? 2.0f * t.flutediameter : t.diameter;
        g->step = g->u * base * op->step * 0.01f;
    }
}

int cam_genbegin(cam_gen *g, camop *op, const char *fn, const char *logname)
{
    *g = cam_gen{};
    g->op = op;
    g->fn = fn;
    g->logname = logname;
    g->slot = -1;
    sys_lockmutex(cam_mutex);
    sys_log("%s %s %s", "- - - - - - - - -", logname, "- - - - - - - - -");
    g->hold = gen_waitcanvas(op);
    if (!g->hold) {
        op->generating.store(0, std::memory_order_release);
        sys_unlockmutex(cam_mutex);
        return 0;
    }
    const img_reference *ref = g->hold;
    g->ref = ref->img;
    g->width = ref->img->width;
    g->height = ref->img->height;
    memcpy(g->size, ref->size, sizeof(g->size));
    memcpy(g->origin, ref->origin, sizeof(g->origin));
    memcpy(g->frac, ref->originfrac, sizeof(g->frac));
    g->scale = ref->scale;
    if (!gen_taketool(g)) {
        cam_genfail(g);
        return 0;
    }
    gen_derive(g);
    if (!gen_checkop(g)) {
        cam_genfail(g);
        return 0;
    }
    // Entry cuts start above the stock until the generator says otherwise;
    // a height left by the previous run could lie inside the material.
    engage_flag = 0;
    engage_cutz = g->top + 0.04f / g->scale;
    return 1;
}

int cam_gencheckstep(cam_gen *g)
{
    if (g->step > 0.0f && std::isfinite(g->step))
        return 1;
    sys_log("%s: stepover %f must be above 0 (step %f, tool diameter %f)", g->fn, g->step, g->op->step,
            g->t->diameter);
    cam_genfail(g);
    return 0;
}

int cam_genclaim(cam_gen *g, int ramps)
{
    if (ramps)
        engage_flag = 1;
    engage_sethelixradius(g->op->tool);
    g->slot = toolpath_new();
    g->op->toolpath = g->slot;
    if (g->slot >= 0)
        return 1;
    sys_error("%s: no free toolpath slot", g->fn);
    cam_genfail(g);
    return 0;
}

float cam_gennextlevel(const cam_gen *g, float prev)
{
    return std::fmax(g->z1, prev - g->doc);
}

int cam_genlastlevel(const cam_gen *g, float z)
{
    return std::fabs(z - g->z1) < 0.0001f;
}

void cam_genmapping(const float *size, const float *origin, float *sizevec, float *originvec)
{
    sizevec[0] = size[0];
    sizevec[1] = -size[1];
    sizevec[2] = size[2];
    originvec[0] = -origin[0];
    originvec[1] = size[1] - origin[1];
    originvec[2] = -origin[2];
}

void cam_genengage(const cam_gen *g, float zprev)
{
    engage_cutz = zprev + 0.04f / g->scale;
    sys_log("engage cutz = %f", engage_cutz);
}

void cam_genorderlevel(const cam_gen *g, float zprev, float *start)
{
    const camop *op = g->op;
    cam_genengage(g, zprev);
    if (op->flags & camop_sortpaths) {
        float end[3];
        toolpath_sortpaths(end, g->slot, start, op->dir == 2, 1, (op->flags & camop_linkcuts) ? 2.5f * g->step : 0.0f);
        memcpy(start, end, sizeof(end));
    } else {
        toolpath_engagepaths(g->slot);
    }
}

int cam_genleveldone(const cam_gen *g, float z)
{
    const float span = std::fmax(g->z0 - g->z1, 1e-6f);
    g->op->progress.store(std::fmin(1.0f, (g->z0 - z) / span) * 0.99f, std::memory_order_release);
    return cam_genlastlevel(g, z);
}

uint32_t cam_genvertcount(const contour *k)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < k->numpolys; i++)
        n += k->vertcount[i];
    return n;
}

// ---------------------------------------------------------------- input

// The layer slot whose uid is given, -1 (logged) when none carries it.
static int gen_findlayer(uint32_t uid)
{
    for (int i = 0; i < project_maxlayers; i++)
        if (project.layers[i].type != 0 && project.layers[i].uid == uid)
            return i;
    sys_log("...unknown layer uid:%08X", uid);
    return -1;
}

contour *cam_geninput(const cam_gen *g, int aux)
{
    const camop *op = g->op;
    int32_t word;
    memcpy(&word, &op->aux[aux], sizeof(word));
    if (op->flags & camop_pathslayer) {
        int layer = gen_findlayer((uint32_t)word);
        sys_log("paths-layer to contour... (layer:%02d id:%08X)", layer, (uint32_t)word);
        return path_topolys(layer, 0.015f, 1, 0, 1);
    }
    if (op->flags & camop_pathsgroup) {
        sys_log("group[%d] paths-layers to contour...", word);
        return cont_fromlayerpaths(word);
    }
    return nullptr;
}

// ---------------------------------------------------------------- epilogue

void cam_genend(cam_gen *g, int order, const float *start)
{
    camop *op = g->op;
    if (order) {
        if (op->flags & camop_sortpaths) {
            float end[3];
            toolpath_sortpaths(end, g->slot, start, 1, 0, 0.0f);
        } else {
            toolpath_engagepaths(g->slot);
        }
    }
    int ok = toolpath_compile(g->slot, g->top + op->z_safe);
    const float rapid = cfg_getf(cfg_rapidfeed), accel = cfg_getf(cfg_rapidaccel);
    op->eta = (float)toolpath_eta(g->slot, (float)op->feed, rapid / g->scale, accel / g->scale);
    op->progress.store(1.0f, std::memory_order_release);
    gen_publish(g);
    sys_unlockmutex(cam_mutex);
    if (!ok)
        cam_log(gen_failcaption, 4, "%s", gen_failtext);
    else
        cam_lastgenerated.store((float)sys_seconds());
}
