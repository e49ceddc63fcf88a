// Compilation into moves and the run-time estimate. A slot may come from a
// project file, so every sorted entry and path range is checked before the
// walk reads a vertex; buffer sizes are computed in 64 bits.
#include "cam/compile.h"

#include "cam/toolpath.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <climits>
#include <cmath>
#include <cstring>

static int move_floats(uint32_t code)
{
    return ((code & move_x) ? 1 : 0) + ((code & move_y) ? 1 : 0) + ((code & move_z) ? 1 : 0) +
           ((code & move_xy2) ? 2 : 0) + ((code & move_xz2) ? 2 : 0) + ((code & move_yz2) ? 2 : 0);
}

// Doubles a buffer of count elements of size bytes; 0 when it cannot.
static int move_grow(void **block, uint32_t *count, int size)
{
    uint64_t grown = (uint64_t)*count * 2;
    if (grown == 0 || grown * (uint64_t)size > INT_MAX)
        return 0;
    void *fresh = sys_realloc(*block, (int32_t)(grown * size));
    if (!fresh)
        return 0;
    *block = fresh;
    *count = (uint32_t)grown;
    return 1;
}

// Appends the point's floats; 0 when a buffer could not grow.
static int move_append(toolpath &tp, uint32_t kind, uint32_t code, const float *values)
{
    int n = ((code & move_x) ? 1 : 0) + ((code & move_y) ? 1 : 0) + ((code & move_z) ? 1 : 0);
    move *last = tp.num_moves ? &tp.moves[tp.num_moves - 1] : nullptr;
    if (!last || last->kind != kind || last->code != code) {
        if (tp.num_moves >= tp.sz_moves && !move_grow((void **)&tp.moves, &tp.sz_moves, sizeof(move)))
            return 0;
        last = &tp.moves[tp.num_moves++];
        *last = move{kind, code, 0};
    }
    if ((uint64_t)tp.num_parms + n >= tp.sz_parms) {
        sys_log("move_addpoints: realloc parms buffer size[%u] num[%u] (+%d)", tp.sz_parms, tp.num_parms, n);
        if (!move_grow((void **)&tp.parms, &tp.sz_parms, sizeof(float))) {
            // The run was opened for this point; leave no empty run behind.
            if (last->count == 0)
                tp.num_moves--;
            return 0;
        }
    }
    memcpy(tp.parms + tp.num_parms, values, (size_t)n * sizeof(float));
    tp.num_parms += n;
    last->count++;
    return 1;
}

static void move_newpos(float out[3], const float pos[3], uint32_t code, const float *values)
{
    int k = 0;
    for (int axis = 0; axis < 3; axis++)
        out[axis] = (code & (1u << axis)) ? values[k++] : pos[axis];
}

void move_addpoints(float out[3], int slot, const float pos[3], uint32_t code, const float *values)
{
    // out may be pos: it is written only once pos has been read.
    float next[3];
    move_newpos(next, pos, code, values);
    if (!toolpath_valid(slot, "move_addpoints") || !move_append(toolpaths[slot], move_rapid, code, values)) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    toolpath &tp = toolpaths[slot];
    float dx = next[0] - pos[0], dy = next[1] - pos[1], dz = next[2] - pos[2];
    float sq = dx * dx + dy * dy + dz * dz;
    tp.rapids += sqrt((double)sq);
    memcpy(out, next, sizeof(next));
}

void move_addpoints(float out[3], int slot, const float pos[3], int path, uint32_t code, const float *values)
{
    float next[3];
    move_newpos(next, pos, code, values);
    if (!toolpath_valid(slot, "move_addpoints") || !move_append(toolpaths[slot], move_feed, code, values)) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    toolpath &tp = toolpaths[slot];
    if ((code & move_cut) && path >= 0 && (uint32_t)path < toolpath_maxpaths) {
        double dx = (double)next[0] - pos[0], dy = (double)next[1] - pos[1], dz = (double)next[2] - pos[2];
        tp.pathlen[path] += sqrt(dx * dx + dy * dy + dz * dz);
    }
    memcpy(out, next, sizeof(next));
}

// Step 0: a slot read from a file may name paths or vertices it lacks.
static int compile_check(int slot)
{
    const toolpath &tp = toolpaths[slot];
    if (tp.num_paths > toolpath_maxpaths || tp.num_sorted > tp.num_paths || tp.num_verts > tp.sz_verts) {
        sys_log("toolpath_compile: toolpath%d header out of range (paths:%u sorted:%u verts:%u/%u)", slot,
                tp.num_paths, tp.num_sorted, tp.num_verts, tp.sz_verts);
        return 0;
    }
    for (uint32_t i = 0; i < tp.num_paths; i++) {
        const toolpath_path &p = tp.paths[i];
        if ((uint64_t)p.first + p.count > tp.num_verts) {
            sys_log("toolpath_compile: toolpath%d path[%u] verts %u+%u out of range (%u)", slot, i, p.first,
                    p.count, tp.num_verts);
            return 0;
        }
    }
    for (uint32_t k = 0; k < tp.num_sorted; k++) {
        uint32_t p = toolpath_sortedpath(tp.sorted[k]);
        if (p >= tp.num_paths) {
            sys_log("toolpath_compile: toolpath%d sorted[%u] names path %u of %u", slot, k, p, tp.num_paths);
            return 0;
        }
    }
    return 1;
}

static int compile_alloc(int slot)
{
    toolpath &tp = toolpaths[slot];
    tp.sz_moves = move_startmoves;
    tp.num_moves = 0;
    tp.sz_parms = move_startparms;
    tp.num_parms = 0;
    tp.moves = (move *)sys_calloc(move_startmoves, sizeof(move));
    if (!tp.moves) {
        sys_error("toolpath_compile: failed to allocate moves buffer");
        tp.sz_moves = tp.sz_parms = 0;
        return 0;
    }
    tp.parms = (float *)sys_calloc(move_startparms, sizeof(float));
    if (!tp.parms) {
        sys_error("toolpath_compile: failed to allocate parms buffer");
        sys_free(tp.moves);
        tp.moves = nullptr;
        tp.sz_moves = tp.sz_parms = 0;
        return 0;
    }
    return 1;
}

// Enters path p at S: from the safe height (or straight, for a direct
// entry), or by a feed link from where the previous path ended.
static void compile_entry(int slot, float pos[3], uint32_t p, uint8_t flags, int linked, const float *s, float safez)
{
    if (linked) {
        move_addpoints(pos, slot, pos, (int)p, move_engage | move_x | move_y | move_z, s);
        return;
    }
    if (flags & ENGAGE_DIRECT) {
        move_addpoints(pos, slot, pos, move_x | move_y | move_z, s);
        return;
    }
    move_addpoints(pos, slot, pos, move_z, &safez);
    move_addpoints(pos, slot, pos, move_x | move_y, s);
    move_addpoints(pos, slot, pos, (int)p, move_engage | move_z, s + 2);
}

static void compile_cut(int slot, float pos[3], uint32_t p, int dir, float safez, int *cut)
{
    toolpath &tp = toolpaths[slot];
    const toolpath_path &path = tp.paths[p];
    tp.pathlen[p] = 0.0;
    if (path.count == 0)
        return; // nothing to enter or cut; the next path is entered afresh
    const float *first = tp.verts + (size_t)path.first * 3;
    int64_t last = (int64_t)path.count - 1;
    const float *s = dir >= 1 ? first : first + last * 3;
    compile_entry(slot, pos, p, path.flags, *cut && (path.flags & PATH_LINK), s, safez);
    uint32_t code = move_x | move_y | move_z | move_cut;
    if (path.flags & (ENGAGE_RAMP | ENGAGE_HELIX | ENGAGE_DIRECT))
        code |= move_engage;
    if (dir >= 1)
        for (int64_t v = 1; v <= last; v++)
            move_addpoints(pos, slot, pos, (int)p, code, first + v * 3);
    else
        for (int64_t v = last - 1; v >= 0; v--)
            move_addpoints(pos, slot, pos, (int)p, code, first + v * 3);
    tp.feeds += tp.pathlen[p];
    *cut = 1;
}

int toolpath_compile(int slot, float safez)
{
    if (!toolpath_valid(slot, "toolpath_compile"))
        return 0;
    sys_log("toolpath_compile: %d %f %s", slot, safez, "all");
    toolpath &tp = toolpaths[slot];
    if (tp.moves) {
        sys_error("toolpath_compile: toolpath%d already has moves buffer!", slot);
        return 0;
    }
    if (tp.parms) {
        sys_error("toolpath_compile: toolpath%d already has parms buffer!", slot);
        return 0;
    }
    if (!tp.num_paths) {
        sys_log("toolpath_compile: toolpath%d has no cutpaths!", slot);
        return 0;
    }
    if (!compile_check(slot) || !compile_alloc(slot))
        return 0;
    if (!tp.num_sorted) {
        sys_log("sorted list defaulting to linear order...");
        for (uint32_t i = 0; i < tp.num_paths; i++)
            toolpath_pushsorted(slot, i, 1);
    }
    tp.feeds = 0.0;
    tp.rapids = 0.0;
    float pos[3] = {0.0f, 0.0f, 0.0f};
    int cut = 0; // the first path entered is never linked
    for (uint32_t k = 0; k < tp.num_sorted; k++)
        compile_cut(slot, pos, toolpath_sortedpath(tp.sorted[k]), toolpath_sorteddir(tp.sorted[k]), safez, &cut);
    move_addpoints(pos, slot, pos, move_z, &safez);
    sys_log("toolpath[%d]: generated moves:%u/parms:%u from paths:%u/verts:%u", slot, tp.num_moves, tp.num_parms,
            tp.num_paths, tp.num_verts);
    sys_log("...total feeds=%f rapids=%f", tp.feeds, tp.rapids);
    return 1;
}

// Time of one rapid run of length len: accelerate, cruise, brake.
static double eta_rapidrun(double len, double v, double accel, double t, double d)
{
    if (v <= 0.0)
        return 0.0;
    if (accel <= 0.0)
        return len / v; // no acceleration given: constant speed
    if (len <= 2.0 * d)
        return 2.0 * sqrt(len / accel);
    return (len - 2.0 * d) / v + 2.0 * t;
}

double toolpath_eta(int slot, float feed, float rapid, float accel)
{
    if (!toolpath_valid(slot, "toolpath_eta"))
        return 0.0;
    const toolpath &tp = toolpaths[slot];
    if (!tp.num_paths)
        return 0.0;
    double v = rapid / 60.0;
    double t = accel > 0.0f ? v / accel : 0.0;
    double d = 0.5 * accel * t * t;
    sys_log("rapid @%.2f/s^2 to %.2f/s = %.2f/%.3fs", accel, v, d, t);
    if (rapid <= 0.0f)
        sys_log("toolpath_eta: rapid rate %f, rapids not timed", rapid);
    double total = 0.0;
    float pos[3] = {0.0f, 0.0f, 0.0f};
    uint64_t at = 0;
    for (uint32_t m = 0; m < tp.num_moves && tp.moves; m++) {
        const move &mv = tp.moves[m];
        int n = move_floats(mv.code);
        if (at + (uint64_t)n * mv.count > tp.num_parms)
            break; // a run that claims floats the buffer lacks ends the walk
        double len = 0.0;
        for (uint32_t i = 0; i < mv.count; i++, at += n) {
            float next[3];
            move_newpos(next, pos, mv.code, tp.parms + at);
            double dx = (double)next[0] - pos[0], dy = (double)next[1] - pos[1], dz = (double)next[2] - pos[2];
            len += sqrt(dx * dx + dy * dy + dz * dz);
            memcpy(pos, next, sizeof(pos));
        }
        if (mv.kind == move_rapid)
            total += eta_rapidrun(len, v, accel, t, d);
    }
    if (feed > 0.0f)
        total += tp.feeds / feed * 60.0;
    else
        sys_log("toolpath_eta: feed rate %f, cuts not timed", feed);
    sys_log("...toolpath[%d] ETA = %.1fs", slot, total);
    return total;
}
