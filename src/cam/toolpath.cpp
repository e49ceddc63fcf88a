// Toolpath slots and cut paths: claiming and freeing slots, appending cut
// paths with their entry flags, and the packed sorted entries. Sizes are
// computed in 64 bits so a runaway generator is refused, never wrapped.
#include "cam/toolpath.h"

#include "cam/compile.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <climits>
#include <cstring>

toolpath toolpaths[toolpath_maxslots];
int toolpath_count = 0;

constexpr int toolpath_vertbytes = 3 * sizeof(float);

int toolpath_valid(int slot, const char *fn)
{
    if (slot < 0 || slot >= toolpath_maxslots || !toolpaths[slot].verts) {
        sys_log("%s: invalid toolpath slot %d", fn, slot);
        return 0;
    }
    return 1;
}

int toolpath_alloc(toolpath &tp, uint32_t verts)
{
    memset(&tp, 0, sizeof(tp));
    uint64_t room = verts < toolpath_startverts ? toolpath_startverts : (uint64_t)verts + 1;
    if (room * toolpath_vertbytes > INT_MAX)
        return 0;
    tp.sz_verts = (uint32_t)room;
    tp.verts = (float *)sys_malloc((int32_t)(room * toolpath_vertbytes));
    tp.pathlen = (double *)sys_calloc(toolpath_maxpaths, sizeof(double));
    tp.sorted = (toolpath_sorted *)sys_calloc(toolpath_maxpaths, sizeof(toolpath_sorted));
    tp.paths = (toolpath_path *)sys_calloc(toolpath_maxpaths, sizeof(toolpath_path));
    if (!tp.verts || !tp.pathlen || !tp.sorted || !tp.paths) {
        toolpath_release(tp);
        return 0;
    }
    return 1;
}

void toolpath_release(toolpath &tp)
{
    sys_free(tp.verts);
    sys_free(tp.moves);
    sys_free(tp.parms);
    sys_free(tp.pathlen);
    sys_free(tp.sorted);
    sys_free(tp.paths);
    memset(&tp, 0, sizeof(tp));
}

int toolpath_adopt(int slot, toolpath &tp)
{
    if (slot < 0 || slot >= toolpath_maxslots || toolpaths[slot].verts || !tp.verts)
        return -1;
    toolpaths[slot] = tp;
    memset(&tp, 0, sizeof(tp));
    toolpath_count++;
    return slot;
}

int toolpath_newat(int slot)
{
    if (slot < 0 || slot >= toolpath_maxslots || toolpaths[slot].verts)
        return -1;
    toolpath tp;
    if (!toolpath_alloc(tp, 0)) {
        sys_error("toolpath_new: failed to allocate verts buffer");
        return -1;
    }
    return toolpath_adopt(slot, tp);
}

int toolpath_new()
{
    for (int i = 0; i < toolpath_maxslots; i++)
        if (!toolpaths[i].verts)
            return toolpath_newat(i);
    return -1;
}

void toolpath_free(int slot)
{
    if (slot < 0 || slot >= toolpath_maxslots || !toolpaths[slot].verts)
        return;
    toolpath_release(toolpaths[slot]);
    toolpath_count--;
}

// Grows the vertex array by half until it holds more than need vertices.
static int toolpath_growverts(int slot, uint64_t need)
{
    toolpath &tp = toolpaths[slot];
    if (need < tp.sz_verts)
        return 1;
    uint64_t size = tp.sz_verts;
    while (size <= need)
        size = size * 3 / 2;
    sys_log("toolpath_addpath: realloc toolpath[%d] buffer: sz_verts[%llu] num_verts[%u] (%llu verts)", slot,
            (unsigned long long)size, tp.num_verts, (unsigned long long)(need - tp.num_verts));
    uint64_t bytes = size * toolpath_vertbytes;
    float *grown = nullptr;
    if (bytes <= INT_MAX)
        grown = (float *)sys_realloc(tp.verts, (int32_t)bytes);
    if (!grown) {
        sys_error("toolpath_addpath: failed to allocate %3.1fmb toolpath verts buffer!", bytes / 1048576.0);
        return 0;
    }
    tp.verts = grown;
    tp.sz_verts = (uint32_t)size;
    return 1;
}

int toolpath_appendverts(int slot, uint8_t flags, int count, const float *verts, int start, int dir)
{
    toolpath &tp = toolpaths[slot];
    if (tp.num_paths >= toolpath_maxpaths) {
        sys_log("toolpath_addpath: overflow! (start:%d dir:%d verts:%d)", start, dir, count);
        return -1;
    }
    int index = (int)tp.num_paths++;
    toolpath_path &p = tp.paths[index];
    p.first = tp.num_verts;
    p.count = 0;
    p.flags = flags;
    if (!toolpath_growverts(slot, (uint64_t)tp.num_verts + (uint64_t)count)) {
        tp.num_paths--; // not added: no entry without vertices is left behind
        return -1;
    }
    memcpy(tp.verts + (size_t)tp.num_verts * 3, verts, (size_t)count * toolpath_vertbytes);
    p.count = (uint32_t)count;
    tp.num_verts += (uint32_t)count;
    return index;
}

static uint8_t toolpath_engageflags(int engage)
{
    switch (engage) {
    case 0:
        return 0;
    case 1:
        return ENGAGE_RAMP;
    case 2:
        return ENGAGE_HELIX;
    case 3:
        return ENGAGE_DIRECT;
    }
    sys_log("toolpath_addpath: unknown engage type %d", engage);
    return 0;
}

static void toolpath_setpoint(float out[3], float v)
{
    out[0] = out[1] = out[2] = v;
}

void toolpath_addpath(float out[3], int slot, int engage, int link, int closed, int start, int dir, int count,
                      const float *verts)
{
    toolpath_setpoint(out, 0.0f);
    if (!toolpath_valid(slot, "toolpath_addpath"))
        return;
    if (count < 2) {
        toolpath_setpoint(out, 9999999.0f);
        return;
    }
    toolpath &tp = toolpaths[slot];
    if (tp.num_paths >= toolpath_maxpaths) {
        sys_log("toolpath_addpath: overflow! (start:%d dir:%d verts:%d)", start, dir, count);
        return;
    }
    uint8_t flags = toolpath_engageflags(engage) | (link ? PATH_LINK : 0) | (closed ? PATH_CLOSED : 0);
    uint32_t index = tp.num_paths++;
    toolpath_path &p = tp.paths[index];
    p.first = tp.num_verts;
    p.count = 0;
    p.flags = flags;
    uint64_t written = (uint64_t)count + (closed ? 1 : 0);
    if (!toolpath_growverts(slot, tp.num_verts + written)) {
        tp.num_paths--; // not added: no entry without vertices is left behind
        return;
    }
    // Walk the source from s, in the chosen direction, modulo n; a closed
    // polyline may start anywhere, an open one starts at its own end.
    int64_t n = count;
    int64_t s = closed ? ((start % n) + n) % n : (dir >= 1 ? 0 : n - 1);
    int64_t step = dir >= 1 ? 1 : -1;
    float *dst = tp.verts + (size_t)tp.num_verts * 3;
    for (int64_t k = 0; k < (int64_t)written; k++) {
        int64_t src = (((s + step * k) % n) + n) % n;
        memcpy(dst + k * 3, verts + src * 3, toolpath_vertbytes);
    }
    p.count = (uint32_t)written;
    tp.num_verts += (uint32_t)written;
    memcpy(out, dst + (written - 1) * 3, toolpath_vertbytes);
}

void toolpath_addpath(float out[3], int slot, int link, int closed, int start, int dir, int count,
                      const float *verts)
{
    toolpath_addpath(out, slot, 0, link, closed, start, dir, count, verts);
}

uint32_t toolpath_sortedpath(const toolpath_sorted &e)
{
    return (e.bytes[0] | (uint32_t)e.bytes[1] << 8 | (uint32_t)e.bytes[2] << 16) & 0x7FFFFF;
}

int toolpath_sorteddir(const toolpath_sorted &e)
{
    return (e.bytes[4] & 1) ? 1 : -1;
}

void toolpath_setsorted(toolpath_sorted &e, uint32_t path, int dir)
{
    e.bytes[0] = (uint8_t)path;
    e.bytes[1] = (uint8_t)(path >> 8);
    e.bytes[2] = (uint8_t)((e.bytes[2] & 0x80) | ((path >> 16) & 0x7F));
    e.bytes[4] = (uint8_t)((e.bytes[4] & ~1u) | (dir >= 1 ? 1 : 0));
}

void toolpath_pushsorted(int slot, uint32_t path, int dir)
{
    toolpath &tp = toolpaths[slot];
    if (tp.num_sorted >= toolpath_maxpaths)
        return;
    toolpath_setsorted(tp.sorted[tp.num_sorted++], path, dir);
}
