// Fillet carving. The region's signed distance field (project units,
// positive inside) gives both the outline the strokes start from, traced
// just beyond the cutter's reach outside the edge, and the round-over
// surface, a quarter circle of radius H rising from the edge inward. Strokes
// run across the edge along its normals, spaced by the stepover along the
// outline and fanned round convex corners; each is conformed to the surface
// dilated by the cutter.
#include "cam/vertprof.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "geom/fill.h"
#include "geom/vec.h"
#include "img/adjust.h"
#include "img/convolve.h"
#include "img/image.h"
#include "img/smooth.h"
#include "sys/log.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t vprof_invert = 0x800;

struct vprof_run {
    cam_gen *g;
    float r = 0, h = 0, bottom = 0;
    float size[3], origin[3], frac[3];
    float sizevec[3], originvec[3];
    float pixel = 0;
    image *field = nullptr;     // distance field, then the fillet surface
    contour *strokes = nullptr; // two-point strokes, link = source outline
    int overflow = 0;
};

void vprof_free(vprof_run &r)
{
    if (r.field)
        img_free(r.field);
    r.field = nullptr;
    cont_free(r.strokes);
    r.strokes = nullptr;
}

void vprof_flip(image *img)
{
    float *p = (float *)img->pixels;
    for (int i = 0; i < img->width * img->height; i++)
        p[i] = 1.0f - p[i];
}

// Step 2: 1 inside the region, 0 outside, at canvas resolution.
image *vprof_mask(const cam_gen *g)
{
    const camop *op = g->op;
    if (!(op->flags & (camop_pathslayer | camop_pathsgroup))) {
        const float level = op->aux[0] / g->size[2];
        image *m = img_scalarath(g->ref, level, 1);
        sys_log("...thresholded pathsurf @%f", level);
        if (m && (op->flags & vprof_invert))
            vprof_flip(m);
        return m;
    }
    contour *k = cam_geninput(g);
    if (!k)
        return nullptr;
    uint32_t verts = 0;
    for (uint32_t i = 0; i < k->numpolys; i++)
        verts += k->vertcount[i];
    sys_log("filling contours... %dx%d (%u polys %u verts)", g->width, g->height, k->numpolys, verts);
    const float corner[2] = {-g->origin[0], g->size[1] - g->origin[1]};
    const float size[2] = {g->size[0], -g->size[1]};
    image *m = con_fill(k, corner, size, g->width, g->height, 4);
    cont_free(k);
    if (m && !(op->flags & vprof_invert))
        vprof_flip(m);
    return m;
}

// Step 3: the padded signed distance field.
int vprof_field(vprof_run &r)
{
    const cam_gen *g = r.g;
    image *mask = vprof_mask(g);
    if (!mask)
        return 0;
    image *padded = cam_padimage(mask, r.size, r.origin, r.frac, g->op->stock + r.r, 0);
    img_free(mask);
    if (!padded)
        return 0;
    r.pixel = r.size[0] / (float)padded->width;
    r.field = img_scalardistsmooth(padded, -r.pixel, 0.0f);
    img_free(padded);
    if (!r.field)
        return 0;
    sys_log("...distance transformed thresh");
    cam_genmapping(r.size, r.origin, r.sizevec, r.originvec);
    return 1;
}

// The distance field at world (x, y), nearest pixel, clamped to the image.
float vprof_distat(const vprof_run &r, float x, float y)
{
    const image *f = r.field;
    int i = (int)std::floor((x - r.originvec[0]) / r.sizevec[0] * (float)f->width);
    int j = (int)std::floor((y - r.originvec[1]) / r.sizevec[1] * (float)f->height);
    i = i < 0 ? 0 : i >= f->width ? f->width - 1 : i;
    j = j < 0 ? 0 : j >= f->height ? f->height - 1 : j;
    return ((const float *)f->pixels)[(size_t)j * f->width + i];
}

// +1 when the right-hand normal of the outline points away from the region
// (the way the strokes' outer ends lie), -1 when the tracing ran the other
// way round; judged at the outline's longest edge.
float vprof_side(const vprof_run &r, const float *v, int n)
{
    int best = 0;
    float bestlen = -1.0f;
    for (int i = 0; i + 1 < n; i++) {
        const float ex = v[3 * i + 3] - v[3 * i], ey = v[3 * i + 4] - v[3 * i + 1];
        if (ex * ex + ey * ey > bestlen)
            best = i, bestlen = ex * ex + ey * ey;
    }
    const float *a = v + 3 * best;
    const float len = std::sqrt(bestlen);
    if (!(len > 0.0f))
        return 1.0f;
    const float mx = (a[4] - a[1]) / len, my = -(a[3] - a[0]) / len;
    const float cx = (a[0] + a[3]) * 0.5f, cy = (a[1] + a[4]) * 0.5f, p = 2.0f * r.pixel;
    return vprof_distat(r, cx + p * mx, cy + p * my) <= vprof_distat(r, cx - p * mx, cy - p * my) ? 1.0f : -1.0f;
}

void vprof_stroke(vprof_run &r, const float *at, const float *normal, int poly)
{
    const float R = r.r + r.h;
    const float v[6] = {at[0] - R * normal[0], at[1] - R * normal[1], at[2] - R * normal[2], at[0], at[1], at[2]};
    if (r.overflow)
        return;
    if ((int)r.strokes->numpolys >= vertprof_maxstrokes || !cont_addpoly(r.strokes, v, 2, 0, poly, "cam_vertprof"))
        r.overflow = 1;
}

// Step 5 for one outline of n points.
void vprof_perpendiculate(vprof_run &r, const float *v, int n, int poly)
{
    sys_debuglog("perpendiculating poly[%d] = %d verts...", poly, n);
    if (n < 2)
        return;
    const float o = vprof_side(r, v, n), R = r.r + r.h, step = r.g->step;
    const float *last = v + 3 * (n - 1), *before = v + 3 * (n - 2);
    float prev[3] = {last[0] - before[0], last[1] - before[1], last[2] - before[2]};
    vec3_normalize(prev, prev);
    float prevnormal[3] = {o * prev[1], -o * prev[0], prev[2]};
    float s = 0.0f;
    const float *a = v;
    for (int i = 0; i < n && !r.overflow; i++) {
        const float *b = v + 3 * ((i + 1) % n);
        const float e[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float len = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        if (len < 0.0001f) {
            sys_log("!!! SKIPPING ZERO LENGTH SEG !!!");
            continue;
        }
        const float dir[3] = {e[0] / len, e[1] / len, e[2] / len};
        const float m[3] = {o * e[1] / len, -o * e[0] / len, e[2] / len};
        const float cross = prev[0] * dir[1] - prev[1] * dir[0];
        const float dot = prev[0] * dir[0] + prev[1] * dir[1] + prev[2] * dir[2];
        // A convex corner of the region turns the outline toward it, away
        // from the normals: the strokes fan round it at radius R.
        if (o * cross > 0.0f && dot < 0.9999f) {
            const float arc = std::acos(std::fmax(-1.0f, dot)) * R;
            sys_debuglog("...arclen = %.3f", arc);
            for (; s < arc && !r.overflow; s += step) {
                float normal[3];
                vec3_slerp(normal, prevnormal, m, s / arc);
                sys_debuglog("poly[%d]: ang:@%.3f = (%.3f,%.3f)", poly, s, a[0], a[1]);
                vprof_stroke(r, a, normal, poly);
            }
            s -= arc;
        }
        sys_debuglog("...seglen = %.3f", len);
        for (; s < len && !r.overflow; s += step) {
            const float p[3] = {a[0] + s / len * e[0], a[1] + s / len * e[1], a[2] + s / len * e[2]};
            sys_debuglog("poly[%d]: seg:@%.3f = (%.3f,%.3f)", poly, s, p[0], p[1]);
            vprof_stroke(r, p, m, poly);
        }
        s -= len;
        a = b;
        memcpy(prev, dir, sizeof(prev));
        memcpy(prevnormal, m, sizeof(prevnormal));
    }
}

// Steps 4 and 5: 0 when the outline cannot be traced, the strokes cannot be
// held or they would overflow the stroke contour.
int vprof_strokes(vprof_run &r)
{
    camop *op = r.g->op;
    contour *k = cont_fromimage(r.field, -1.05f * r.r, r.sizevec, r.originvec, 0.985f, 2.0f * r.pixel,
                                6.0f * r.pixel, 0);
    if (!k) {
        sys_log("cam_vertprof: the offset outline could not be traced");
        return 0;
    }
    if (op->cont)
        con_append(k, op->cont);
    r.strokes = cont_new();
    if (!r.strokes) {
        cont_free(k);
        return 0;
    }
    uint32_t first = 0;
    for (uint32_t p = 0; p < k->numpolys && !r.overflow; first += k->vertcount[p], p++) {
        // A closed outline repeats its first point: its last edge leads
        // into the first corner, and the wrap from the last point to the
        // first has no length.
        vprof_perpendiculate(r, k->verts + 3 * (size_t)first, (int)k->vertcount[p], (int)p);
    }
    cont_free(k);
    if (r.overflow) {
        sys_log("cam_vertprof: more than %d strokes; the stepover is too small for this edge", vertprof_maxstrokes);
        return 0;
    }
    sys_log("...perpendiculated %u segments", r.strokes->numpolys);
    r.strokes->numverts = 2 * r.strokes->numpolys;
    if (op->cont)
        con_append(r.strokes, op->cont);
    return 1;
}

// Steps 6 and 7: the round-over in place of the distance field, then dilated
// by the cutter.
image *vprof_cutsurface(vprof_run &r)
{
    const cam_gen *g = r.g;
    const float sz = r.size[2], zmax = g->op->z_max;
    float *f = (float *)r.field->pixels;
    for (int i = 0; i < r.field->width * r.field->height; i++) {
        const float d = f[i];
        if (!(d > 0.0f)) {
            f[i] = 0.0f;
            continue;
        }
        const float t = r.h > 0.0f ? std::fmin(d / r.h, 1.0f) : 1.0f;
        f[i] = (sz - zmax + r.h * std::sqrt(1.0f - (1.0f - t) * (1.0f - t))) / sz;
    }
    sys_log("convolving with tool[%d].surface...", g->op->tool);
    image *profile = cam_gentoolprofile(g->op->tool - 1, r.size, r.field->width, zmax);
    image *cut = profile ? img_scalarconvo(r.field, profile, 0, -99999.0f, 0.0f) : nullptr;
    if (profile)
        img_free(profile);
    img_free(r.field);
    r.field = nullptr;
    return cut;
}

} // namespace

int vertprof_addcuts(int slot, const camop *op, float step, const contour *k)
{
    int dirarg = op->dir == 1 ? -1 : 1, lastsrc = -1, added = 0;
    const int linking = (op->flags & camop_linkcuts) && op->dir == 2;
    const float linkdist2 = (1.5f * step) * (1.5f * step);
    float end[3] = {999999.0f, 999999.0f, 999999.0f};
    const float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += 3 * (size_t)k->vertcount[p], p++) {
        const int n = (int)k->vertcount[p];
        if (n < 4) {
            sys_debuglog("skipping cutpath %02u...", p);
            continue;
        }
        sys_debuglog("adding cutpath %02u... (source:%d lastsrc:%d)", p, k->link[p], lastsrc);
        int link = 0;
        if (linking) {
            const float *s = dirarg == 1 ? v : v + 3 * (n - 1);
            const float dx = s[0] - end[0], dy = s[1] - end[1], dz = s[2] - end[2];
            link = dx * dx + dy * dy + dz * dz < linkdist2;
        }
        toolpath_addpath(end, slot, 0, link, (int)k->closed[p], 0, dirarg, n, v);
        added++;
        if (op->dir == 2 && k->link[p] != lastsrc)
            dirarg = -dirarg;
        lastsrc = k->link[p];
    }
    return added;
}

void cam_vertprof(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "cam_vertprof", "CAMOP_VERTPROF"))
        return;
    // The strokes advance by the stepover: without one they never leave
    // the first edge.
    if (!cam_gencheckstep(&g))
        return;
    vprof_run r;
    r.g = &g;
    r.r = 0.5f * g.u * g.t->diameter;
    r.h = g.op->z_max - g.op->z_min;
    r.bottom = g.top - g.op->z_max;
    memcpy(r.size, g.size, sizeof(r.size));
    memcpy(r.origin, g.origin, sizeof(r.origin));
    memcpy(r.frac, g.frac, sizeof(r.frac));
    image *cut = nullptr;
    if (!vprof_field(r) || !vprof_strokes(r) || !(cut = vprof_cutsurface(r))) {
        vprof_free(r);
        cam_genfail(&g);
        return;
    }
    contour *pieces = con_simplify(cut, r.strokes, r.sizevec, r.originvec, r.bottom, 999999.0f, cam_maxdot,
                                   cam_minlen, cam_maxlen);
    img_free(cut);
    vprof_free(r);
    if (!pieces) {
        cam_genfail(&g);
        return;
    }
    sys_log("...conformed cutpaths to fillet manifold");
    if (!cam_genclaim(&g, 0)) {
        cont_free(pieces);
        return;
    }
    const int added = vertprof_addcuts(g.slot, g.op, g.step, pieces);
    cont_free(pieces);
    sys_log("...added %d cutpaths", added);
    toolpath_engagepaths(g.slot);
    cam_genend(&g, 0, nullptr);
}
