// The Conformal generator: the reduced canvas mixed into a ramp at the cut
// angle; its iso-lines one stepover apart traced into the line contour;
// then Parallel's cut surface and level loop, with each level's pieces
// either chained by nearest ends (mixed direction) or walked through the
// binary tree in ascending source line.
#include "cam/conformal.h"

#include "cam/engage.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "img/blend.h"
#include "img/blur.h"
#include "img/image.h"
#include "img/resample.h"
#include "sys/log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------- binary tree

static bitree_node *bitree_pool;
static int bitree_capacity, bitree_count;

int bitree_new(int capacity)
{
    if (bitree_capacity) {
        sys_error("bitree_new: binary tree already exists");
        return 0;
    }
    bitree_pool = capacity > 0 ? (bitree_node *)calloc((size_t)capacity, sizeof(bitree_node)) : nullptr;
    if (!bitree_pool) {
        sys_error("bitree_new: failed to allocate node pool");
        return 0;
    }
    bitree_capacity = capacity;
    bitree_count = 0;
    return 1;
}

bitree_node *bitree_insert(uint64_t value, int32_t key)
{
    if (bitree_count >= bitree_capacity) {
        sys_error("bitree_insert: node overflow");
        return nullptr;
    }
    bitree_node *n = &bitree_pool[bitree_count++];
    *n = bitree_node{value, key, nullptr, nullptr};
    if (n == bitree_pool)
        return n;
    for (bitree_node *at = bitree_pool;;) {
        bitree_node **next = key <= at->word ? &at->left : &at->right;
        if (!*next) {
            *next = n;
            return bitree_pool;
        }
        at = *next;
    }
}

bitree_node *bitree_root()
{
    return bitree_count ? bitree_pool : nullptr;
}

void bitree_free()
{
    free(bitree_pool);
    bitree_pool = nullptr;
    bitree_capacity = bitree_count = 0;
}

// ---------------------------------------------------------------- lines

// Steps 2 to 5: the reduced canvas mixed into the ramp, and the ramp's span
// dmax (pixels of the reduced canvas) along the gradient. Null (logged)
// when the canvas is too small for a ramp or an image cannot be had.
static image *conformal_field(const cam_gen *g, double *dmax)
{
    const camop *op = g->op;
    const int w2 = g->width / 2, h2 = g->height / 2;
    double b = std::fmod((double)op->aux[0] - 90.0, 360.0);
    if (b < 0)
        b += 360.0;
    const double cb = std::cos(b * M_PI / 180.0), sb = std::sin(b * M_PI / 180.0);
    const double mx = w2 * 0.5, my = h2 * 0.5;
    const double fx = (b < 90 || b >= 270) ? w2 - 1 : 0, fy = b < 180 ? h2 - 1 : 0;
    *dmax = (fx - mx) * cb + (fy - my) * sb;
    sys_debuglog("middle = (%f,%f)  furthest = (%f,%f)  gradvec = (%f,%f)", mx, my, fx, fy, cb, sb);
    sys_debuglog("%dx%d corner max distance @%f = %f", w2, h2, b, *dmax);
    // The ramp divides by dmax, and the iso-level step is the stepover over it.
    if (!(*dmax > 0.0) || w2 < 1 || h2 < 1) {
        sys_log("camop_conformal: a canvas of %d x %d pixels is too small for the ramp (span %f)", g->width,
                g->height, *dmax);
        return nullptr;
    }
    image *d = img_rescalescalar(g->ref, w2, h2);
    if (d && op->aux[2] > 0.0f) {
        image *blurred = img_scalarblur(d, op->aux[2], 1);
        img_free(d);
        d = blurred;
    }
    char name[32];
    snprintf(name, sizeof(name), "grad%03d", (int)b);
    image *ramp = d ? img_allocfloat(name, w2, h2) : nullptr;
    if (!ramp) {
        img_free(d);
        sys_log("camop_conformal: no reduced canvas or ramp (%d x %d)", w2, h2);
        return nullptr;
    }
    float *r = (float *)ramp->pixels;
    for (int y = 0; y < h2; y++)
        for (int x = 0; x < w2; x++)
            r[(size_t)y * w2 + x] = (float)((((x - mx) * cb + (y - my) * sb) / *dmax) * 0.5 + 0.5);
    img_scalarblend(d, ramp, img_blendmix, 1.0f - 0.25f * op->aux[1]);
    img_free(ramp);
    return d;
}

// Steps 6 and 7: the iso-lines of d one stepover apart, each linked to its
// level; null (logged) when nothing can be traced.
static contour *conformal_trace(const cam_gen *g, const cam_lines *canvas, const image *d, double dmax)
{
    const camop *op = g->op;
    const double zstep = ((d->width * (double)g->step) / g->size[0]) / (2.0 * dmax);
    sys_log("generating z-plane cutpaths... (zstep = %f)", zstep);
    contour *lines = cont_new();
    if (!lines)
        return nullptr;
    for (double t = 0.0; t <= 1.0; t += zstep) {
        sys_log("contouring @%.4f...", t);
        contour *q = cont_fromimage(d, (float)t, canvas->sizevec, canvas->originvec, cam_maxdot, cam_minlen,
                                    cam_maxlen, 0);
        if (!q)
            break;
        if (q->numpolys == 0) {
            cont_free(q);
            if (lines->numpolys)
                break;
            continue;
        }
        for (uint32_t i = 0; i < q->numpolys; i++)
            q->link[i] = (int32_t)(t * 1000.0);
        if (op->cont)
            con_append(q, op->cont);
        const bool kept = con_append(q, lines) > 0;
        cont_free(q);
        if (!kept) { // the line contour is full: a finer stepover cannot be held
            sys_log("camop_conformal: line contour full at level %f; tracing stops", t);
            break;
        }
    }
    sys_log("...contoured %d polylines, %d verts", (int)lines->numpolys, (int)cam_genvertcount(lines));
    return lines;
}

// ---------------------------------------------------------------- emission

namespace {
// A level's cut record, as the tree walk hands it to the path adder.
struct conformal_cut {
    cam_pathrequest req;
};
float conformal_last[3];
void conformal_add(uint64_t value)
{
    cam_addpathlogged(conformal_last, &((const conformal_cut *)(uintptr_t)value)->req);
}
} // namespace

// Mixed direction: each piece from its end nearer the last, fed into from
// it when close with flag 0x4 unless both come from one iso-line.
static void conformal_emitnearest(const cam_gen *g, const contour *k, float linkdist2)
{
    const camop *op = g->op;
    float e[3] = {9999999.0f, 9999999.0f, 9999999.0f};
    const float *v = k->verts;
    auto dist2 = [](const float *a, const float *b) {
        const float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
        return dx * dx + dy * dy + dz * dz;
    };
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++) {
        const int n = (int)k->vertcount[i];
        const float *last = v + 3 * (size_t)(n - 1);
        const bool forward = dist2(v, e) < dist2(last, e);
        const float *start = forward ? v : last;
        // Pieces of one iso-line are apart because the surface rises between
        // them: never fed from one to the other at depth.
        const bool linked = i > 0 && (op->flags & camop_linkcuts) && dist2(e, start) < linkdist2 &&
                            k->link[i] != k->link[i - 1];
        float out[3];
        toolpath_addpath(out, g->slot, op->entry, linked ? 1 : 0, (int)k->closed[i], forward ? 0 : n - 1,
                         forward ? 1 : -1, n, v);
        memcpy(e, forward ? last : v, sizeof(e));
    }
}

// Conventional or climb: in ascending source line through the tree, the
// pieces of one line in reverse; never linked.
static void conformal_emittree(const cam_gen *g, const contour *k)
{
    const camop *op = g->op;
    if (!bitree_new((int)k->numpolys))
        return;
    std::vector<conformal_cut> cuts(k->numpolys);
    const float *v = k->verts;
    for (uint32_t i = 0; i < k->numpolys; v += 3 * (size_t)k->vertcount[i], i++) {
        const int n = (int)k->vertcount[i];
        cuts[i].req = cam_pathrequest{g->slot, n, op->dir == 0 ? 0 : n - 1, op->dir == 0 ? 1 : -1,
                                      op->entry, (int)k->closed[i], v};
        bitree_insert((uint64_t)(uintptr_t)&cuts[i], k->link[i]);
    }
    bitree_walk(bitree_root(), conformal_add);
    bitree_free();
}

// ---------------------------------------------------------------- generator

namespace {
struct conformal_work {
    image *d = nullptr, *sc = nullptr;
    contour *lines = nullptr;
    void release()
    {
        img_free(d);
        img_free(sc);
        cont_free(lines);
        d = sc = nullptr;
        lines = nullptr;
    }
    ~conformal_work() { release(); }
};
} // namespace

static int conformal_prepare(cam_gen *g, cam_lines *w, conformal_work &work)
{
    cam_lines canvas;
    camop_linesgeometry(g, &canvas);
    *w = canvas;
    if (!cam_gencheckstep(g))
        return 0;
    double dmax = 0;
    work.d = conformal_field(g, &dmax);
    work.lines = work.d ? conformal_trace(g, &canvas, work.d, dmax) : nullptr;
    img_free(work.d);
    work.d = nullptr;
    if (work.lines) {
        sys_log("generating cutpath surface...");
        work.sc = camop_cutsurface(g, w);
    }
    if (!work.sc) {
        cam_genfail(g);
        return 0;
    }
    if (!cam_genclaim(g, 1))
        return 0;
    sys_log("conforming paths to input image surface...");
    return 1;
}

void camop_conformal(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_conformal", "CAMOP_CONFORMAL"))
        return;
    camop *op = g.op;
    cam_lines w;
    conformal_work work;
    if (!conformal_prepare(&g, &w, work))
        return;
    const float a = g.step * 1.5f * g.scale, linkdist2 = a * a / (g.scale * g.scale);
    float start[3] = {-g.origin[0], -g.origin[1], -g.origin[2]};
    for (float zprev = g.z0, z = cam_gennextlevel(&g, zprev);; zprev = z, z = cam_gennextlevel(&g, z)) {
        contour *k = camop_drapelevel(&w, work.sc, work.lines, z, zprev);
        k = camop_restclip(&g, k);
        if (k && k->numpolys) {
            if (op->dir == 2)
                conformal_emitnearest(&g, k, linkdist2);
            else
                conformal_emittree(&g, k);
            cam_genorderlevel(&g, zprev, start);
        }
        cont_free(k);
        if (cam_genleveldone(&g, z))
            break;
    }
    work.release();
    cam_genend(&g, 0, nullptr);
}
