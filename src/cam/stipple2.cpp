// The dithered stippling generator. Contents: the working image (reduced to
// at most 262,144 pixels); the placement, driven by the error heap with
// lazily re-keyed entries so each pixel is visited once; depths by the
// tool's shape; the plunges in key order. A stipple array that cannot grow
// keeps the stipples placed so far and ends the placement.
#include "cam/stipple2.h"

#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/stipple.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/heap.h"
#include "img/adjust.h"
#include "img/image.h"
#include "img/resample.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

void *(*stipple2_realloc)(void *block, size_t bytes) = realloc;

constexpr int64_t stip2_maxpixels = 262144;
constexpr int64_t stip2_startcount = 16384;

namespace {
struct stip2_run {
    cam_gen *g = nullptr;
    const image *a = nullptr; // levelled input
    float *w = nullptr;       // working values
    int width = 0, height = 0;
    float thresh = 0, gain1 = 0, gain2 = 0, minr = 0, maxr = 0;
    int reach = 0; // R
    float *dots = nullptr; // x, y, radius (later plunge Z) per stipple
    int64_t count = 0, capacity = 0;
    std::vector<float> kernel;
    std::vector<uint8_t> visited;
    heap order{};
    ~stip2_run()
    {
        free(dots);
        heap_free(&order);
    }
};
} // namespace

// Step 2: the canvas, or its reduction to at most 262,144 pixels.
static image *stip2_input(const cam_gen *g)
{
    const image *ref = g->ref;
    const int64_t n = (int64_t)ref->width * ref->height;
    if (n <= stip2_maxpixels)
        return img_alloc(ref->name, ref->width, ref->height, ref->bytesperpixel, ref->pixels);
    int64_t f = std::max<int64_t>(1, n / stip2_maxpixels);
    while (n / f > stip2_maxpixels)
        f++;
    const double factor = std::sqrt((double)(f + 1));
    sys_log("downscaling input (factor:%f)", factor);
    return img_rescalescalar(ref, (int)(ref->width / factor), (int)(ref->height / factor));
}

// Room for one more stipple; 0 (reported) when the array cannot grow.
static int stip2_room(stip2_run &r)
{
    if (r.count < r.capacity)
        return 1;
    const int64_t cap = r.capacity ? r.capacity * 2 : stip2_startcount;
    void *p = stipple2_realloc(r.dots, (size_t)((uint64_t)cap * 3 * sizeof(float)));
    if (!p) {
        sys_error("img_scalarstipples: failed to realloc stipple buffer!");
        return 0;
    }
    r.dots = (float *)p;
    r.capacity = cap;
    return 1;
}

// Step 6.3: the kernel over the unvisited neighbours within ri, its
// absolute sum returned.
static float stip2_kernel(stip2_run &r, int x, int y, float rr, int ri, bool placed)
{
    const int side = 2 * r.reach + 1;
    float sum = 0;
    for (int dy = -ri; dy < ri; dy++)
        for (int dx = -ri; dx < ri; dx++) {
            float &k = r.kernel[(size_t)(dy + r.reach) * side + (dx + r.reach)];
            k = 0;
            const int qx = x + dx, qy = y + dy;
            if (dx * dx + dy * dy > ri * ri || (dx == 0 && dy == 0) || qx < 0 || qy < 0 || qx >= r.width ||
                qy >= r.height || r.visited[(size_t)qy * r.width + qx])
                continue;
            const float wq = r.w[(size_t)qy * r.width + qx];
            const float d = std::sqrt((float)(dx * dx + dy * dy));
            const float m = placed ? wq + (1 - wq) * 0.1f : 1 - wq;
            k = std::pow(1 - d / rr, placed ? 4.0f : 0.5f) * m;
            sum += std::fabs(k);
        }
    return sum;
}

// Steps 6.1 to 6.4 for pixel i; 0 when a stipple was due but could not be kept.
static int stip2_visit(stip2_run &r, int64_t i)
{
    const int x = (int)(i % r.width), y = (int)(i / r.width);
    const float v = r.w[i];
    const float rr = std::min((float)r.reach, 3 * (r.maxr * (1 - v) + r.minr * v));
    const bool placed = v < r.thresh;
    float e = -(1 - v);
    if (placed) {
        if (!stip2_room(r))
            return 0;
        const float t = (v / r.thresh) * 0.5f + ((const float *)r.a->pixels)[i] * 0.5f;
        float *dot = r.dots + 3 * r.count++;
        dot[0] = (float)x, dot[1] = (float)y, dot[2] = t * r.minr + (1 - t) * r.maxr;
        e = (1 - v) * 0.01f + v;
    }
    r.visited[i] = 1;
    const int ri = (int)std::floor(rr);
    if (ri <= 0)
        return 1;
    const float s = stip2_kernel(r, x, y, rr, ri, placed);
    if (s < 0.0001f)
        return 1;
    const float g = placed ? ((1 - r.gain1 * r.gain1) * 100 + r.gain1 * r.gain1 * 1000) * std::pow(rr / r.reach, 1 / r.gain1)
                           : std::pow(1 - rr / r.reach, 1 - r.gain2 * 0.999f);
    const int side = 2 * r.reach + 1;
    for (int dy = -ri; dy < ri; dy++)
        for (int dx = -ri; dx < ri; dx++) {
            const float c = r.kernel[(size_t)(dy + r.reach) * side + (dx + r.reach)];
            if (c == 0)
                continue;
            float &wq = r.w[(size_t)(y + dy) * r.width + (x + dx)];
            wq = std::clamp(wq + c * e * g / s, 0.0f, 1.0f);
        }
    return 1;
}

// Steps 5 and 6: lightest pixels first; an entry whose value changed since
// its push goes back in with the new value.
static int stip2_place(stip2_run &r)
{
    const int64_t n = (int64_t)r.width * r.height;
    if (!heap_reset(&r.order, n, nullptr, nullptr))
        return 0;
    for (int64_t i = 0; i < n; i++)
        heap_push(&r.order, -r.w[i], (uint64_t)i + 1);
    heap_entry top;
    while (heap_take(&r.order, &top) && top.payload) {
        const int64_t i = (int64_t)top.payload - 1;
        if (top.key != -r.w[i]) {
            heap_push(&r.order, -r.w[i], top.payload);
            continue;
        }
        if (!stip2_visit(r, i)) {
            sys_log("camop_stipple2: placement stops at %lld stipples", (long long)r.count);
            break;
        }
    }
    heap_free(&r.order);
    return 1;
}

// Steps 3 and 4 and the placement; 0 after the error line.
static int stip2_dither(stip2_run &r, const image *in)
{
    const cam_gen &g = *r.g;
    const camop &op = *g.op;
    r.width = in->width, r.height = in->height;
    const float ppu = r.width / g.size[0];
    r.thresh = op.aux[0], r.gain1 = op.aux[1], r.gain2 = op.aux[2];
    r.minr = op.step * ppu * 0.5f, r.maxr = op.z_doc * ppu * 0.5f;
    sys_log("generating stipples (balance:%f gain1:%f gain2:%f mindia:%f maxdia:%f)...", r.thresh, r.gain1,
            r.gain2, r.minr, r.maxr);
    // The kernel is (2R + 1) squared floats: past 2,048 pixels of reach it
    // would take hundreds of megabytes for a stipple far wider than the canvas.
    const float reach = 3 * std::max(r.minr, r.maxr);
    if (!(reach < 2048.0f) || r.minr < 0 || !std::isfinite(r.thresh + r.gain1 + r.gain2)) {
        sys_log("camop_stipple2: stipple diameters %f to %f (%f pixels a unit) cannot be placed", op.step, op.z_doc,
                ppu);
        return 0;
    }
    r.reach = (int)reach;
    image *a = img_scalarautolevel(in);
    if (!a)
        return 0;
    r.a = a;
    std::vector<float> w((const float *)a->pixels, (const float *)a->pixels + (size_t)r.width * r.height);
    r.w = w.data();
    const double start = sys_seconds();
    r.kernel.assign((size_t)(2 * r.reach + 1) * (2 * r.reach + 1), 0.0f);
    r.visited.assign((size_t)r.width * r.height, 0);
    sys_log("img_scalarstipples = thresh:%f g1:%f g2:%f minrad:%f maxrad:%f", r.thresh, r.gain1, r.gain2, r.minr,
            r.maxr);
    const int ok = stip2_room(r) && stip2_place(r);
    img_free(a);
    r.a = nullptr, r.w = nullptr;
    if (ok)
        sys_log("...generated %d stipples (elapsed %.4fs)", (int)r.count, sys_seconds() - start);
    for (int64_t i = 0; i < 3 * r.count; i++)
        r.dots[i] /= ppu;
    return ok;
}

// Steps 9 and 10: plunges ordered by their key, largest first; those not
// deeper than z_min left out.
static void stip2_emit(stip2_run &r)
{
    const cam_gen &g = *r.g;
    if (!heap_reset(&r.order, r.count, nullptr, nullptr))
        return;
    for (int64_t i = 0; i < r.count; i++) {
        const float *d = r.dots + 3 * i;
        heap_push(&r.order, std::trunc(d[1] * 4096.0f) + d[0], (uint64_t)i + 1);
    }
    const float top = g.top, lowest = g.top - g.size[2];
    heap_entry e;
    while (heap_take(&r.order, &e)) {
        const float *d = r.dots + 3 * (e.payload - 1);
        if (d[2] >= top - g.op->z_min)
            continue;
        const float x = d[0] - g.origin[0], y = (g.size[1] - g.origin[1]) - d[1];
        const float z = std::clamp(d[2], lowest, top);
        const float verts[6] = {x, y, top, x, y, z};
        float end[3];
        toolpath_addpath(end, g.slot, 0, 0, 0, 0, 1, 2, verts);
    }
    heap_free(&r.order);
}

void camop_stipple2(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_stipple2", "CAMOP_STIPPLE2"))
        return;
    if (g.t->type < tool_cylinder || g.t->type > tool_taperball) {
        sys_log("camop_stipple2: tool%d of type %d has no depth rule", g.op->tool, g.t->type);
        cam_genfail(&g);
        return;
    }
    stip2_run r;
    r.g = &g;
    image *in = stip2_input(&g);
    const int ok = in && stip2_dither(r, in);
    img_free(in);
    if (!ok) {
        cam_genfail(&g);
        return;
    }
    sys_log("calculating stipple depths from diameters and cutter profile...");
    for (int64_t i = 0; i < r.count; i++) {
        float depth = 0;
        cam_dotdepth(g.t, g.u, r.dots[3 * i + 2], &depth);
        r.dots[3 * i + 2] = g.top + depth;
    }
    if (!cam_genclaim(&g, 0))
        return;
    stip2_emit(r);
    free(r.dots);
    r.dots = nullptr;
    cam_dotorder(&g);
    cam_genend(&g, 0, nullptr);
}
