// Medial-axis carving. The shapes' outlines are traced once; at every level
// the widest radius the cutter reaches at that depth caps the medial axis,
// each axis vertex's inscribed radius becomes the depth at which the tool
// touches both walls, and only the stretches within the level are cut.
#include "cam/medialaxis.h"

#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/parallel.h"
#include "cam/profile.h"
#include "cam/stipple.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/fill.h"
#include "geom/medial.h"
#include "geom/poly.h"
#include "geom/profile.h"
#include "img/adjust.h"
#include "img/contour.h"
#include "img/image.h"
#include "img/smooth.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct med_run {
    cam_gen *g;
    float tr;    // reference top: stock top less the depth offset
    float p;     // pixel pitch
    float maxr;  // R: the widest radius the shapes hold
    cam_lines box;
};

// Depth below the reference top at which the tool's radius is r; a corner
// radius given negative still rounds the same way.
int med_depth(const cam_gen *g, float r, float *depth)
{
    const tool *t = g->t;
    if (t->type == tool_cylinder) {
        const float rc = t->diameter * g->u * 0.5f, cr = t->aux * g->u;
        *depth = math_steppos(r, rc, cr, cr, -std::fabs(cr));
        return 1;
    }
    return cam_dotdepth(t, g->u, r, depth);
}

void med_invert(image *img)
{
    float *p = (float *)img->pixels;
    for (int i = 0; i < img->width * img->height; i++)
        p[i] = 1.0f - p[i];
}

float med_maxfield(const image *img)
{
    const float *p = (const float *)img->pixels;
    float m = -9999999.0f;
    for (int i = 0; i < img->width * img->height; i++)
        m = std::max(m, p[i]);
    return m;
}

// Canvas input: the outlines at the contour height, traced from a distance
// field in project units that is positive inside the shapes.
contour *med_canvas(med_run &r)
{
    cam_gen *g = r.g;
    const camop *op = g->op;
    image *src = (image *)g->ref;
    if (op->flags & camop_confine)
        src = cam_borderimage(g->ref, r.box.size, r.box.origin, r.box.frac, 1);
    if (!src)
        return nullptr;
    camop_linesmapping(&r.box);
    sys_log("thresholding image...");
    image *mask = img_scalarath(src, op->aux[0] / g->size[2], 1);
    if (src != g->ref)
        img_free(src);
    if (!mask)
        return nullptr;
    if (op->flags & 0x800)
        med_invert(mask);
    sys_log("generating distance transform... (%dx%d)", mask->width, mask->height);
    image *field = img_scalardistsmooth(mask, -r.p, 0.0f);
    img_free(mask);
    if (!field)
        return nullptr;
    float m = med_maxfield(field);
    r.maxr = m + 2.0f * r.p;
    sys_log("maximum medial-axis radius: %fpx", r.maxr / r.p);
    float *f = (float *)field->pixels;
    for (int i = 0; i < field->width * field->height; i++)
        f[i] = -f[i];
    contour *k = img_contour(field, 0.0f, r.box.sizevec, r.box.originvec, 0.995f, 3.0f * r.p, 9.0f * r.p, 3);
    img_free(field);
    return k;
}

// The medial axis moves each outline to its right. The canvas input traces
// a field that rises away from the shapes, which turns their outlines
// clockwise (holes counter-clockwise); the paths inputs trace fields that
// rise into the shapes and come out the other way round.
void med_reverse(contour *k)
{
    float *v = k->verts;
    for (uint32_t p = 0; p < k->numpolys; v += k->vertcount[p] * 3, p++)
        for (uint32_t a = 0, b = k->vertcount[p] - 1; a < b && b > 0; a++, b--)
            std::swap_ranges(v + a * 3, v + a * 3 + 3, v + b * 3);
}

// Paths inputs: the filled closed curves, traced directly or, with a stock,
// from a distance field valued at the stock.
contour *med_paths(med_run &r)
{
    cam_gen *g = r.g;
    const camop *op = g->op;
    contour *in = cam_geninput(g);
    if (!in)
        return nullptr;
    sys_log("filling contours... (%d polys %d verts)", (int)in->numpolys, (int)in->numverts);
    const float corner[2] = {-g->origin[0], g->size[1] - g->origin[1]};
    const float size[2] = {g->size[0], -g->size[1]};
    image *img = con_fill(in, corner, size, g->width, g->height, 4);
    cont_free(in);
    if (!img)
        return nullptr;
    contour *k = nullptr;
    if (std::fabs(op->stock) <= 0.0001f) {
        if (op->flags & 0x800)
            med_invert(img);
        k = img_contour(img, 0.5f, r.box.sizevec, r.box.originvec, 0.995f, 3.0f * r.p, 9.0f * r.p, 5);
    } else {
        if (!(op->flags & 0x800))
            med_invert(img);
        sys_log("generating distance transform... (%dx%d)", img->width, img->height);
        image *field = img_scalardistsmooth(img, r.p, op->stock);
        if (field)
            k = img_contour(field, 0.0f, r.box.sizevec, r.box.originvec, 0.995f, 3.0f * r.p, 9.0f * r.p, 5);
        if (field)
            img_free(field);
    }
    img_free(img);
    if (k)
        med_reverse(k);
    r.maxr = 99999.0f;
    return k;
}

// The outline with every segment cut into pieces no longer than len. The
// axis reaches a convex corner only as near as the inscribed circle that
// touches the middle of the corner's last segment, so traced segments of up
// to 9 pixels would leave sharp corners and star tips uncarved by up to
// half of one. Null when the copy cannot be had.
contour *med_fine(const contour *outline, float len)
{
    contour *out = cont_new();
    if (!out)
        return nullptr;
    std::vector<float> v;
    const float *src = outline->verts;
    for (uint32_t p = 0; p < outline->numpolys; src += outline->vertcount[p] * 3, p++) {
        const uint32_t n = outline->vertcount[p];
        v.clear();
        for (uint32_t i = 0; i < n; i++) {
            const float *a = src + i * 3;
            v.insert(v.end(), a, a + 3);
            if (i + 1 == n)
                break;
            const float *b = a + 3;
            const int pieces = (int)std::ceil(std::hypot(b[0] - a[0], b[1] - a[1]) / len);
            for (int k = 1; k < pieces; k++) {
                const float t = (float)k / (float)pieces;
                v.insert(v.end(), {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t});
            }
        }
        if (!cont_addpoly(out, v.data(), (uint32_t)v.size() / 3, outline->closed[p], outline->link[p],
                          "camop_medialaxis")) {
            cont_free(out);
            return nullptr;
        }
    }
    return out;
}

// The widest radius whose depth still lies at or above level z.
float med_reach(const med_run &r, float z)
{
    const cam_gen *g = r.g;
    const float rc = g->t->diameter * g->u * 0.5f;
    float rad = rc, step = rc / 2.0f;
    sys_log("finding maxdist for cut depth: %f", z);
    while (step > 0.0001f) {
        float d = 0.0f;
        med_depth(g, rad, &d);
        const float at = r.tr + d;
        if (at > z) {
            sys_debuglog("maxrad:%f += radstep:%f", rad, step);
            rad += step;
        } else if (at == z) {
            break;
        } else {
            sys_debuglog("maxrad:%f -= radstep:%f", rad, step);
            rad -= step;
        }
        step /= 2.0f;
    }
    return std::min({rad, rc, r.maxr});
}

// Step 4: the stretches of a polyline whose Z lies at or below u.
void med_band(const float *v, int count, float u, contour *out)
{
    std::vector<float> run;
    auto flush = [&]() {
        if (run.size() >= 6)
            cont_addpoly(out, run.data(), (uint32_t)run.size() / 3, 0, -1, "camop_medialaxis");
        run.clear();
    };
    for (int i = 0; i < count; i++) {
        const float *b = v + i * 3;
        if (i > 0) {
            const float *a = b - 3;
            const bool ain = a[2] <= u, bin = b[2] <= u;
            if (ain != bin) {
                const float dz = b[2] - a[2];
                const float inv = std::fabs(dz) < 0.0001f ? 10000.0f : 1.0f / dz;
                const float t = (u - a[2]) * inv;
                run.insert(run.end(), {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, u});
                if (!bin)
                    flush();
            }
        }
        if (b[2] <= u)
            run.insert(run.end(), {b[0], b[1], b[2]});
    }
    flush();
}

// One level: the axis up to the reachable radius, its depths, the band
// between this level and the one above, simplified, clipped and added.
int med_level(med_run &r, const contour *outline, float z, float u, int dirsign)
{
    cam_gen *g = r.g;
    const float rad = med_reach(r, z);
    sys_log("calculating medial-axis for contours... (maxrad:%f)", rad / g->u);
    contour *axis = con_medialaxis(outline, rad, cam_maxdot, 0.0f, 9.0f * r.p);
    if (!axis)
        return 0;
    sys_log("calculating cutpath depths for cutter profile...");
    uint32_t total = 0;
    for (uint32_t p = 0; p < axis->numpolys; p++)
        total += axis->vertcount[p];
    for (uint32_t i = 0; i < total; i++) {
        float d = 0.0f;
        med_depth(g, axis->verts[i * 3 + 2], &d);
        axis->verts[i * 3 + 2] = std::max(r.tr + d, z);
    }
    if (g->op->cont)
        con_append(axis, g->op->cont);
    contour *band = cont_new();
    if (!band) {
        cont_free(axis);
        return 0;
    }
    const float *v = axis->verts;
    for (uint32_t p = 0; p < axis->numpolys; p++) {
        med_band(v, (int)axis->vertcount[p], u, band);
        v += axis->vertcount[p] * 3;
    }
    cont_free(axis);
    int before = 0, after = 0;
    uint32_t rd = 0, wr = 0;
    for (uint32_t p = 0; p < band->numpolys; p++) {
        int n = (int)band->vertcount[p];
        std::memmove(band->verts + wr * 3, band->verts + rd * 3, (size_t)n * 3 * sizeof(float));
        rd += n;
        before += n;
        if (n > 2)
            n = poly_vertdot(n, band->verts + wr * 3, cam_maxdot, 0.0f, cam_maxlen);
        band->vertcount[p] = n;
        wr += n;
        after += n;
    }
    band->numverts = wr;
    sys_log("...simplified %d verts to %d verts (%d polys)", before, after, (int)band->numpolys);
    band = camop_restclip(g, band);
    v = band->verts;
    for (uint32_t p = 0; p < band->numpolys; p++) {
        float end[3];
        toolpath_addpath(end, g->slot, 0, 0, 0, 0, dirsign, (int)band->vertcount[p], v);
        v += band->vertcount[p] * 3;
    }
    cont_free(band);
    return 1;
}

} // namespace

void camop_medialaxis(void *arg)
{
    cam_gen g;
    if (!cam_genbegin(&g, (camop *)arg, "camop_medialaxis", "CAMOP_MEDIALAXIS"))
        return;
    camop *op = g.op;
    if (g.t->type == tool_none) {
        sys_log("camop_medialaxis: tool%d has no cutter type", op->tool);
        cam_genfail(&g);
        return;
    }
    med_run r{&g, g.top - op->aux[1], g.size[0] / (float)g.width, 0.0f, {}};
    camop_linesgeometry(&g, &r.box);
    const float lt = (g.t->type == tool_cylinder ? std::fabs(g.t->aux) : g.t->flutelength) * g.u;
    float doc = op->z_doc, mx = op->z_max;
    if (!(op->flags & camop_anydoc)) {
        mx = std::min(mx, lt);
        doc = std::min(doc, lt);
    }
    const float bottom = r.tr - mx;
    const int paths = (op->flags & (camop_pathslayer | camop_pathsgroup)) != 0;
    contour *outline = paths ? med_paths(r) : med_canvas(r);
    if (!outline) {
        cam_genfail(&g);
        return;
    }
    // The axis adds each vertex's radius to the outline's Z.
    uint32_t count = 0;
    for (uint32_t p = 0; p < outline->numpolys; p++)
        count += outline->vertcount[p];
    for (uint32_t i = 0; i < count; i++)
        outline->verts[i * 3 + 2] = 0.0f;
    sys_log("...contoured %d polys, %d verts", (int)outline->numpolys, (int)count);
    if (op->cont)
        con_append(outline, op->cont);
    for (uint32_t p = 0; p < outline->numpolys && !paths && !(op->flags & camop_confine); p++)
        if (!outline->closed[p]) {
            sys_error("Encountered non-closed contours! Enable \"Include Edges\" or modify the canvas to not result "
                      "in contours that have gaps along its edges.");
            cont_free(outline);
            cam_genfail(&g);
            return;
        }
    if (!cam_genclaim(&g, 0)) {
        cont_free(outline);
        return;
    }
    sys_log("generating toolpath...");
    int dirsign = op->dir == 1 ? -1 : 1;
    float z = std::max(bottom, r.tr - std::max(doc, op->z_min)), u = r.tr - op->z_min;
    float from[3] = {0, 0, 0};
    // Too fine for the contour's tables: the outline as traced.
    contour *fine = med_fine(outline, r.p);
    const contour *axisfrom = fine ? fine : outline;
    for (int guard = 0; guard < 100000; guard++) {
        if (!med_level(r, axisfrom, z, u, dirsign))
            break;
        if (op->flags & camop_sortpaths)
            toolpath_sortpaths(from, g.slot, from, op->dir == 2, 0, 0.0f);
        else
            toolpath_engagepaths(g.slot);
        if (op->dir == 2)
            dirsign = -dirsign;
        if (std::fabs(z - bottom) < 0.0001f || doc <= 0.0f)
            break;
        u = z;
        z = std::max(bottom, z - doc);
    }
    cont_free(fine);
    cont_free(outline);
    cam_genend(&g, 0, nullptr);
}
