// Standard stippling inside the generator frame: set-up (spacing, reach,
// buffers and cells), the staggered start, the advection by neighbour
// forces found through a compact cell index, the radii, the depths and the
// plunges. The cell index holds every point's index ordered by cell with a
// start and a count per cell, so its memory follows the point count; at
// most 1,024 points of one cell take part, in index order.
#include "cam/stipple.h"

#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/profile.h"
#include "geom/vec.h"
#include "img/image.h"
#include "img/resample.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

constexpr int stip_cellcap = 1024;

namespace {
struct stip_run {
    cam_gen *g = nullptr;
    float s = 0, m = 0, invm = 0, m2 = 0;
    float a = 0;          // advection amount, |A| <= 1
    bool invert = false;  // A < 0: light areas count as dark
    int64_t szverts = 0;
    int64_t count = 0;
    float *front = nullptr, *back = nullptr; // x, y, w per point
    int32_t nx = 1, ny = 1;
    float cw = 1, ch = 1;
    int32_t *start = nullptr, *num = nullptr; // per cell
    int32_t *index = nullptr;                 // point indexes ordered by cell
};
} // namespace

static void stip_free(stip_run &r)
{
    sys_free(r.front);
    sys_free(r.back);
    sys_free(r.start);
    sys_free(r.num);
    sys_free(r.index);
    r.front = r.back = nullptr;
    r.start = r.num = r.index = nullptr;
}

// ---------------------------------------------------------------- depths

static float stip_cone(float r, float rt, float ta, float flutes)
{
    const float e = r - rt;
    if (e < 0.0f)
        return 0.0f;
    if (e > ta * flutes)
        return -flutes;
    return -e / ta;
}

int cam_dotdepth(const tool *t, float f, float r, float *depth)
{
    const float flutes = t->flutelength * f, rc = t->diameter * f * 0.5f;
    const float rad = (float)M_PI / 180.0f;
    switch (t->type) {
    case tool_cylinder: {
        const float cr = t->aux * f;
        *depth = math_steppos(r, rc, cr, cr, -cr);
        return 1;
    }
    case tool_tapered:
    case tool_vbit: {
        const float ta = std::tan((t->type == tool_vbit ? 0.5f : 1.0f) * t->aux * rad);
        *depth = stip_cone(r, rc - ta * flutes, ta, flutes);
        return 1;
    }
    case tool_taperball: {
        const float a = t->aux * rad, ta = std::tan(a), rb = t->flutediameter * f;
        const float h = rb * (1.0f - std::sin(a)), fl = flutes - h;
        const float cone = stip_cone(r, rc - ta * fl, ta, fl) - h;
        *depth = std::max(cone, math_steppos(r, rb, rb, rb, -flutes));
        return 1;
    }
    }
    return 0;
}

// ---------------------------------------------------------------- set-up

// Steps 1 to 5: spacing, reach, buffers and cells; 0 after the error line.
static int stip_setup(stip_run &r)
{
    const cam_gen &g = *r.g;
    const camop &op = *g.op;
    float s = op.step;
    if (op.flags & camop_percentstep)
        s = op.step * (g.t->type == tool_taperball ? g.t->flutediameter * g.u * 0.02f : g.t->diameter * g.u * 0.01f);
    float m = 1.3f * s;
    s = s > 0.03125f ? std::min(s, 64.0f) : 0.03125f;
    m = m > 0.001f ? std::min(m, 100.0f) : 0.001f;
    r.s = s, r.m = m, r.invm = 1.0f / m, r.m2 = m * m;
    const double sz = std::trunc((double)g.size[0] / s * 3.0 * g.size[1] / s);
    r.szverts = sz > 0 ? (int64_t)std::min(sz, 9e18) : 0;
    sys_log("density:%f maxdist:%f szverts:%lld", s, m, (long long)r.szverts);
    const int64_t bytes = std::max<int64_t>(r.szverts, 1) * 3 * (int64_t)sizeof(float);
    if (bytes > INT32_MAX || !(r.front = (float *)sys_malloc((int32_t)bytes))) {
        sys_error("camop_stipple: failed to allocate contours buffer");
        return 0;
    }
    if (!(r.back = (float *)sys_malloc((int32_t)bytes))) {
        sys_error("camop_stipple: failed to allocate contours back-buffer");
        return 0;
    }
    // At least one cell per axis: a canvas narrower than the reach would
    // otherwise have none and put its points before the array.
    const double nx = std::max(1.0, std::trunc((double)g.size[0] / m));
    const double ny = std::max(1.0, std::trunc((double)g.size[1] / m));
    const double cells = nx * ny;
    r.nx = (int32_t)std::min(nx, 1e9), r.ny = (int32_t)std::min(ny, 1e9);
    r.cw = g.size[0] / r.nx, r.ch = g.size[1] / r.ny;
    sys_log("cells[%d][%d] = %f %f", r.nx, r.ny, r.cw, r.ch);
    const int64_t cellbytes = (int64_t)cells * (int64_t)sizeof(int32_t);
    const int64_t indexbytes = std::max<int64_t>(r.szverts, 1) * (int64_t)sizeof(int32_t);
    const bool fits = cells <= 1e9 && cellbytes <= INT32_MAX && indexbytes <= INT32_MAX;
    if (!fits || !(r.start = (int32_t *)sys_malloc((int32_t)cellbytes)) ||
        !(r.num = (int32_t *)sys_malloc((int32_t)cellbytes)) ||
        !(r.index = (int32_t *)sys_malloc((int32_t)indexbytes))) {
        sys_error("camop_stipple: unable to allocate spatial indexing cells!");
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- points

// The canvas value under point (x, y), inverted for negative advection.
static float stip_sample(const stip_run &r, float x, float y)
{
    const cam_gen &g = *r.g;
    const float col = (x + g.origin[0]) * g.width / g.size[0];
    const float row = g.height - (y + g.origin[1]) * g.height / g.size[1];
    const float v = img_samplescalar(g.ref, col, row);
    return r.invert ? 1.0f - v : v;
}

// The staggered rows of the initial distribution; 0 after the overflow line.
static int stip_initial(stip_run &r)
{
    const cam_gen &g = *r.g;
    const float s = r.s, ox = g.origin[0], oy = g.origin[1], sx = g.size[0], sy = g.size[1];
    sys_log("generating initial stipple distribution...");
    float rem = std::fmod(sx, s);
    if (rem < 0.0f)
        rem += s;
    sys_log("remainder = %f", rem);
    double sum = 0.0;
    int row = 0;
    for (float y = 0.5f * s; y < sy; y += s / 1.2f, row++) {
        for (float x = 0.0f; x < sx + 0.0001f; x += s) {
            float px = x - ox + ((row & 1) ? 0.75f * s : 0.25f * s);
            if (g.op->dir == 2 && (row & 1))
                px = sx - x - rem - ox + 0.75f * s;
            const float py = y - oy;
            if (px < -ox || px > sx - ox || py < -oy || py > sy - oy)
                continue;
            if (r.count >= r.szverts) {
                sys_error("vertices overflow! (size:%lld)", (long long)r.szverts);
                return 0;
            }
            float *p = r.front + 3 * r.count++;
            p[0] = px, p[1] = py, p[2] = g.top;
            sum += stip_sample(r, px, py);
        }
    }
    sys_log("performing stipple advection... (avgdist:%f)", r.count ? sum / (2.0 * r.count) : 0.0);
    return 1;
}

static void stip_showpoints(const stip_run &r)
{
    contour *c = r.g->op->cont;
    if (!c)
        return;
    c->numpolys = 0;
    c->numverts = 0;
    if (r.count > 0)
        cont_addpoly(c, r.front, (uint32_t)std::min<int64_t>(r.count, cont_maxverts), 0, -1, "camop_stipple");
}

// ---------------------------------------------------------------- advection

static int32_t stip_cellof(const stip_run &r, const float *p)
{
    const cam_gen &g = *r.g;
    const int32_t cx = (int32_t)std::clamp((p[0] + g.origin[0]) / r.cw, 0.0f, (float)(r.nx - 1));
    const int32_t cy = (int32_t)std::clamp((p[1] + g.origin[1]) / r.ch, 0.0f, (float)(r.ny - 1));
    return cy * r.nx + cx;
}

// Indexes every point by cell in index order, at most stip_cellcap a cell.
static void stip_index(stip_run &r)
{
    const int64_t cells = (int64_t)r.nx * r.ny;
    memset(r.num, 0, (size_t)cells * sizeof(int32_t));
    for (int64_t i = 0; i < r.count; i++) {
        int32_t &n = r.num[stip_cellof(r, r.front + 3 * i)];
        n = std::min(n + 1, stip_cellcap);
    }
    int32_t at = 0;
    for (int64_t c = 0; c < cells; c++) {
        r.start[c] = at;
        at += r.num[c];
        r.num[c] = 0;
    }
    for (int64_t i = 0; i < r.count; i++) {
        const int32_t c = stip_cellof(r, r.front + 3 * i);
        if (r.num[c] < stip_cellcap)
            r.index[r.start[c] + r.num[c]++] = (int32_t)i;
    }
}

// The push of the four canvas edges on a point dist from one of them.
static float stip_edgepush(float dist, float invm)
{
    const float t = 1.0f - dist * invm;
    if (t <= 0.0f)
        return 0.0f;
    return t >= 1.0f ? 0.005f : 0.005f * t;
}

// Step 3 for point i: the neighbour forces summed over the 3 x 3 cells.
static void stip_forces(const stip_run &r, int64_t i, float k0, float *disp)
{
    const float *p = r.front + 3 * i;
    const int32_t c = stip_cellof(r, p), cx = c % r.nx, cy = c / r.nx;
    for (int32_t y = cy - 1; y <= cy + 1; y++)
        for (int32_t x = cx - 1; x <= cx + 1; x++) {
            if (x < 0 || y < 0 || x >= r.nx || y >= r.ny)
                continue;
            const int32_t cell = y * r.nx + x;
            for (int32_t n = 0; n < r.num[cell]; n++) {
                const int32_t j = r.index[r.start[cell] + n];
                if (j == i)
                    continue;
                const float *q = r.front + 3 * (int64_t)j;
                const float dx = q[0] - p[0], dy = q[1] - p[1], d2 = dx * dx + dy * dy;
                if (std::isnan(d2) || d2 > r.m2 || d2 < 0.0001f)
                    continue;
                const float d = d2 * vec_fastinvsqrt(d2);
                const float e = d * r.invm - (p[2] + q[2]);
                const float k = k0 * e * std::fabs(e) / d;
                disp[0] += dx * k;
                disp[1] += dy * k;
            }
        }
}

static void stip_iterate(stip_run &r, int it, int iterations)
{
    const cam_gen &g = *r.g;
    const float ox = g.origin[0], oy = g.origin[1], sx = g.size[0], sy = g.size[1];
    for (int64_t i = 0; i < r.count; i++) {
        float *p = r.front + 3 * i;
        const float v = std::max(stip_sample(r, p[0], p[1]), 0.0f);
        p[2] = 0.5f + 0.5f * v * std::sqrt(v);
    }
    stip_index(r);
    const float k0 = r.a * 0.05f / g.scale, edge = 1.0f / g.scale;
    for (int64_t i = 0; i < r.count; i++) {
        const float *p = r.front + 3 * i;
        float disp[2] = {0.0f, 0.0f};
        stip_forces(r, i, k0, disp);
        disp[0] += (stip_edgepush(p[0] + ox, r.invm) - stip_edgepush(sx - (p[0] + ox), r.invm)) * edge;
        disp[1] += (stip_edgepush(p[1] + oy, r.invm) - stip_edgepush(sy - (p[1] + oy), r.invm)) * edge;
        float *o = r.back + 3 * i;
        o[0] = std::clamp(p[0] + disp[0], -ox, sx - ox);
        o[1] = std::clamp(p[1] + disp[1], -oy, sy - oy);
        o[2] = p[2];
    }
    std::swap(r.front, r.back);
    if (it % 5 == 0)
        stip_showpoints(r);
    g.op->progress.store(0.9f * (float)(it + 1) / (float)iterations, std::memory_order_release);
}

// ---------------------------------------------------------------- output

// Radii from the canvas, then depths; 0 after the error line for a tool
// without a depth rule.
static int stip_depths(stip_run &r)
{
    const cam_gen &g = *r.g;
    const float rmin = 0.5f * g.op->aux[1], rmax = 0.5f * g.op->aux[2];
    sys_log("sampling image for stipple radii... min:%f max:%f", rmin, rmax);
    for (int64_t i = 0; i < r.count; i++) {
        float *p = r.front + 3 * i;
        const float v = stip_sample(r, p[0], p[1]);
        p[2] = v * rmin + (1.0f - v) * rmax;
    }
    sys_log("calculating stipple depths from diameters and cutter profile...");
    for (int64_t i = 0; i < r.count; i++) {
        float *p = r.front + 3 * i, depth = 0.0f;
        if (!cam_dotdepth(g.t, g.u, p[2], &depth)) {
            sys_error("camop_stipple: tool%d of type %d has no depth rule", g.op->tool, g.t->type);
            return 0;
        }
        p[2] = g.top + depth;
    }
    return 1;
}

static void stip_emit(const stip_run &r)
{
    const cam_gen &g = *r.g;
    const float top = g.top, lowest = g.top - g.size[2];
    for (int64_t i = 0; i < r.count; i++) {
        const float *p = r.front + 3 * i;
        if (!(p[2] < top - g.op->z_min))
            continue;
        const float z = std::clamp(p[2], lowest, top);
        const float verts[6] = {p[0], p[1], top, p[0], p[1], z};
        float end[3];
        toolpath_addpath(end, g.slot, 0, 0, 0, 1, 2, verts);
    }
}

void cam_dotorder(const cam_gen *g)
{
    if (g->op->flags & camop_sortpaths) {
        const float from[3] = {-999999.0f, 0.0f, 0.0f};
        float end[3];
        toolpath_sortpaths(end, g->slot, from, 0, 0, 0.0f);
    } else {
        toolpath_engagepaths(g->slot);
    }
}

void camop_stipple(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_stipple", "CAMOP_STIPPLE"))
        return;
    stip_run r;
    r.g = &g;
    // A damaged file may hold any amount: beyond 1 it would only lengthen
    // the run past its 4,096 iterations.
    const float a = g.op->aux[0];
    r.a = std::isfinite(a) ? std::min(std::fabs(a), 1.0f) : 0.0f;
    r.invert = a < 0.0f;
    if (g.t->type == tool_none) {
        sys_error("camop_stipple: tool%d has no cutter type", g.op->tool);
        cam_genfail(&g);
        return;
    }
    if (!stip_setup(r) || !stip_initial(r)) {
        stip_free(r);
        cam_genfail(&g);
        return;
    }
    stip_showpoints(r);
    const int iterations = (int)std::trunc(r.a * 4096.0f);
    for (int it = 0; it < iterations; it++)
        stip_iterate(r, it, iterations);
    if (!stip_depths(r)) {
        stip_free(r);
        cam_genfail(&g);
        return;
    }
    if (!cam_genclaim(&g, 0)) {
        stip_free(r);
        return;
    }
    stip_emit(r);
    stip_free(r);
    cam_dotorder(&g);
    cam_genend(&g, 0, nullptr);
}
