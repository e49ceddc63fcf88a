// Shapes From Paths and Stroke Paths. The command (main thread) turns the
// selected paths-layer into world polylines and a request; the job (worker)
// fills the polylines into a mask, shapes it through a distance field and
// normalises it. Every exit of the job without a result frees what it made
// and clears layer_genkind, or no layer generator could start again.
#include "project/genraster.h"

#include "geom/contour.h"
#include "geom/fill.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "geom/plane.h"
#include "geom/profile.h"
#include "geom/topolys.h"
#include "img/blend.h"
#include "img/distance.h"
#include "img/fade.h"
#include "img/image.h"
#include "img/resample.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/project.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

layer_genrequestrecord layer_genrequest;
std::atomic<int32_t> layer_genkind{0};
std::atomic<int32_t> layer_gendone{0};
layer_genrastersettings layer_gensettings = {0, 1, 0, 0.25f, 1.0f, 0.0f, 0.0f, 0.0f};

// ---------------------------------------------------------------- command

// Bounds of the curves to convert, in the layer's own frame: the selected
// curves while path editing has some, else the whole path.
static path_box gen_pathbounds(const path *p)
{
    if (project_pathslayeredit <= 0)
        return path_bounds(p);
    path_box b = {path_emptymin, path_emptymin, -path_emptymin, -path_emptymin};
    for (int c = p->ctail, n = 0; c >= 0 && n < p->csz; c = p->curves[c].next, n++) {
        if (!path_curveselected(p, c))
            continue;
        const path_box cb = path_curvebounds(p, c);
        sys_debuglog("path[%d] bounds = ( %f, %f )( %f %f )", c, cb.minx, cb.miny, cb.maxx, cb.maxy);
        b.minx = std::min(b.minx, cb.minx);
        b.miny = std::min(b.miny, cb.miny);
        b.maxx = std::max(b.maxx, cb.maxx);
        b.maxy = std::max(b.maxy, cb.maxy);
    }
    return b;
}

// Where the new layer goes (centre and extent) for the selected layer's
// curves; the extent's pixel size checked against what an image can hold.
static int gen_place(const project_layer &l, int shape, float *centre, float *extent, int *width, int *height)
{
    const layer_genrastersettings &s = layer_gensettings;
    const path_box b = gen_pathbounds(l.data.pth);
    const float mid[3] = {0.5f * (b.minx + b.maxx), 0.5f * (b.miny + b.maxy), 0.0f};
    float world[3];
    layer_transformpoint(world, mid, &l);
    const float hx = 0.5f * (b.maxx - b.minx) * l.size[0], hy = 0.5f * (b.maxy - b.miny) * l.size[1];
    float box[4] = {-hx, -hy, hx, hy};
    bounds_rotate(box, box, l.rotation);
    centre[0] = world[0];
    centre[1] = world[1];
    extent[0] = (box[2] - box[0]) * 1.02f;
    extent[1] = (box[3] - box[1]) * 1.02f;
    if (s.exterior) {
        centre[0] = 0.5f * project.size[0];
        centre[1] = 0.5f * project.size[1];
        extent[0] = project.size[0];
        extent[1] = project.size[1];
    }
    if (shape == genshape_stroke) {
        extent[0] += s.brushsize;
        extent[1] += s.brushsize;
    }
    const double w = std::trunc(project.ppi * (double)extent[0] * project.scale) * (s.super ? 2 : 1);
    const double h = std::trunc(project.ppi * (double)extent[1] * project.scale) * (s.super ? 2 : 1);
    if (!(w >= 1.0 && h >= 1.0 && w <= INT32_MAX && h <= INT32_MAX)) {
        sys_log("project_genrasterpathslayer: a layer of %.0fx%.0f pixels cannot be made", w, h);
        return 0;
    }
    *width = (int)w;
    *height = (int)h;
    return 1;
}

static void gen_nopaths(int shape)
{
    sys_messagebox("Kerfmill",
                   shape == genshape_stroke
                       ? "Raster-layer not generated. No paths were found in the active paths-layer or among "
                         "selected paths."
                       : "Raster-layer shapes not generated. No closed-paths were found in the active "
                         "paths-layer or among selected paths.",
                   0, 3, 0);
}

void project_genrasterpathslayer(int shape, float chamfer, float zorigin, float zsize)
{
    const layer_genrastersettings &s = layer_gensettings;
    const int slot = project_selectedlayer;
    if (slot < 0 || slot >= project_maxlayers) {
        sys_error("No selected layer!");
        return;
    }
    const project_layer &l = project.layers[slot];
    if (l.type != layer_paths || !l.data.pth)
        return;
    if (shape < genshape_flat || shape > genshape_stroke || layer_genkind.load(std::memory_order_acquire)) {
        sys_log("project_genrasterpathslayer: shape %d not started (generator %d running)", shape,
                layer_genkind.load());
        return;
    }
    sys_log("project_genrasterpathslayer layer[%d]", slot);
    contour *polys = path_topolys(slot, s.super ? 0.005f : 0.025f, shape != genshape_stroke, 1, 1);
    if (!polys)
        return;
    sys_log("...generated %u polylines and %u verts", polys->numpolys, polys->numverts);
    if (!polys->numpolys) {
        cont_free(polys);
        gen_nopaths(shape);
        return;
    }
    float centre[2], extent[2];
    int width = 0, height = 0;
    if (!gen_place(l, shape, centre, extent, &width, &height)) {
        cont_free(polys);
        return;
    }
    const float zs = zsize > 0.0f ? zsize : l.size[2];
    sys_log("genrasterpaths org:%f,%f,%f size:%fx%fx%f %dx%d", centre[0], centre[1], zorigin, extent[0], extent[1],
            zs, width, height);
    layer_genrequest = layer_genrequestrecord{(float)sys_seconds(), slot, polys, {centre[0], centre[1]}, zorigin,
                                              {extent[0], extent[1], zs}, {0.0f, 0.0f}, 0.0f, width, height,
                                              s.super ? 3.0f : 5.0f, chamfer, s.exterior, layer_blendmaximum,
                                              nullptr};
    layer_genkind.store(shape, std::memory_order_release);
    if (sys_threadjob("genraster", job_genrasterlayer, nullptr) < 0) {
        sys_log("project_genrasterpathslayer: the job was refused");
        cont_free(layer_genrequest.polylines);
        layer_genrequest.polylines = nullptr;
        layer_genkind.store(0, std::memory_order_release);
    }
}

// ---------------------------------------------------------------- job

namespace {
// What the job holds; gen_fail frees whatever is set.
struct gen_work {
    layer_genrequestrecord &req = layer_genrequest;
    int shape = 0;
    float corner[3] = {}, size[3] = {};
    float ppu = 1.0f;
    std::vector<float> flipped; // the polylines with y negated, rows running down
    image *field = nullptr;
    image *mask = nullptr;
};
} // namespace

static void gen_freepolys(gen_work &w)
{
    cont_free(w.req.polylines);
    w.req.polylines = nullptr;
}

static void gen_fail(gen_work &w)
{
    img_free(w.field);
    img_free(w.mask);
    w.field = w.mask = nullptr;
    gen_freepolys(w);
    layer_genkind.store(0, std::memory_order_release);
    project.generating[0].store(0, std::memory_order_release);
}

static float *gen_pixels(image *img)
{
    return (float *)img->pixels;
}

static size_t gen_count(const image *img)
{
    return (size_t)img->width * img->height;
}

// The distance fields map world to pixels with rows running up from their
// origin; the layer's rows run down from its top edge. Negating y turns one
// into the other: origin (corner x, -corner y) and a positive extent.
static void gen_flip(gen_work &w)
{
    const contour *c = w.req.polylines;
    w.flipped.assign(c->verts, c->verts + 3 * (size_t)c->numverts);
    for (size_t i = 1; i < w.flipped.size(); i += 3)
        w.flipped[i] = -w.flipped[i];
}

static int gen_distance(gen_work &w, image *field, float outside, float scale, int rounded)
{
    const contour *c = w.req.polylines;
    const float size[3] = {w.size[0], -w.size[1], 1.0f};
    const float origin[3] = {w.corner[0], -w.corner[1], 0.0f};
    return img_scalarmaskeddistpolys(field, outside, scale, size, origin, (int)c->numpolys,
                                     (const int32_t *)c->vertcount, w.flipped.data(), rounded);
}

// Step 2 of the shapes: the coverage mask, inverted for the exterior.
static int gen_mask(gen_work &w)
{
    layer_genrequestrecord &r = w.req;
    w.field = con_fill(r.polylines, w.corner, w.size, r.width, r.height, (int)r.samples);
    if (!w.field)
        return 0;
    float *p = gen_pixels(w.field);
    for (size_t i = 0; i < gen_count(w.field); i++) {
        const float v = p[i] > 0.0f ? std::min(p[i], 1.0f) : 0.0f;
        p[i] = r.exterior ? 1.0f - v : v;
    }
    return 1;
}

// Chamfer: the field clamped into a new image "<field>.cmp".
static int gen_chamfer(gen_work &w)
{
    char name[img_maxname];
    snprintf(name, sizeof(name), "%.250s.cmp", w.field->name);
    image *out = img_allocfloat(name, w.field->width, w.field->height);
    if (!out) {
        sys_error("img_scalarclamp: failed to allocate image for returning");
        return 0;
    }
    const float *s = gen_pixels(w.field);
    float *d = gen_pixels(out);
    for (size_t i = 0; i < gen_count(out); i++)
        d[i] = std::clamp(s[i], 0.0f, 1.0f);
    img_free(w.field);
    w.field = out;
    return 1;
}

static void gen_fillet(gen_work &w)
{
    float *p = gen_pixels(w.field);
    for (size_t i = 0; i < gen_count(w.field); i++) {
        const float d = p[i];
        if (d <= 0.0f) {
            p[i] = 0.0f;
        } else if (d >= 1.0f) {
            p[i] = 1.0f;
        } else {
            const float e = (1.0f - d) * (1.0f - d);
            p[i] = (float)std::sqrt(1.0 - (double)e);
        }
    }
}

static float gen_maximum(const image *img)
{
    const float *p = (const float *)img->pixels;
    float m = -9999999.0f;
    for (size_t i = 0; i < gen_count(img); i++)
        m = std::max(m, p[i]);
    return m;
}

static int gen_rounded(gen_work &w, float hpx)
{
    const float m = gen_count(w.field) ? std::clamp(gen_maximum(w.field), 0.0f, 1.0f) : 0.0f;
    sys_log("rounded pathraster maxradius = %f", m);
    return img_scalarinflatedist(w.field, m * hpx, hpx) == 0;
}

// Steps 4 to 7 of shapes 2 to 4: distance field, profile, edges kept soft by
// the mask.
static int gen_shape(gen_work &w)
{
    layer_genrequestrecord &r = w.req;
    w.mask = img_copy(w.field);
    if (!w.mask)
        return 0;
    const float k = w.shape == genshape_chamfer ? std::tan(r.chamfer * (float)M_PI / 180.0f) : 1.0f;
    const float hpx = w.ppu * r.size[2];
    if (gen_distance(w, w.field, 0.0f, k / hpx, layer_gensettings.smooth) < 0)
        return 0;
    sys_log("distance transform generated (%dx%d)", w.field->width, w.field->height);
    switch (w.shape) {
    case genshape_chamfer:
        if (!gen_chamfer(w))
            return 0;
        break;
    case genshape_fillet:
        gen_fillet(w);
        break;
    case genshape_rounded:
        if (!gen_rounded(w, hpx))
            return 0;
        break;
    default:
        sys_error("job_genrasterlayer: genraster shape type unknown");
        return 0;
    }
    img_scalarblend(w.field, w.mask, img_blendmultiply, 1.0f);
    img_free(w.mask);
    w.mask = nullptr;
    return 1;
}

// Steps 1 to 5 of the stroke: a quarter-resolution field finds the band
// around the paths, the exact distance is taken only inside it, and the
// distance runs through the brush profile.
static int gen_stroke(gen_work &w)
{
    layer_genrequestrecord &r = w.req;
    const layer_genrastersettings &s = layer_gensettings;
    const double start = sys_seconds();
    image *pre = img_allocfloat("predist", std::max(r.width >> 2, 1), std::max(r.height >> 2, 1));
    if (!pre)
        return 0;
    std::fill(gen_pixels(pre), gen_pixels(pre) + gen_count(pre), 99999.0f);
    const float q = r.size[0] / pre->width;
    if (gen_distance(w, pre, 0.0f, q, 1) < 0) {
        img_free(pre);
        return 0;
    }
    sys_log("predist calculated... (elapsed %.3fs)", sys_seconds() - start);
    for (size_t i = 0; i < gen_count(pre); i++)
        gen_pixels(pre)[i] = (s.brushsize / 2.0f + q) - gen_pixels(pre)[i];
    w.field = img_rescalescalar(pre, r.width, r.height);
    img_free(pre);
    if (!w.field)
        return 0;
    const float p = r.size[0] / r.width;
    if (gen_distance(w, w.field, 99999.0f, p, 1) < 0)
        return 0;
    sys_log("...calculated polydists field (elapsed %.3fs)", sys_seconds() - start);
    // A stroke no wider than two pixels would make the scale infinite or
    // negative and fill the whole layer: the half width is kept one pixel.
    float half = s.brushsize / 2.0f - p;
    if (!(half >= p)) {
        sys_log("job_genrasterlayer: stroke width %f is too narrow for pixels of %f; taken as %f", s.brushsize, p,
                4.0f * p);
        half = p;
    }
    const float k = 1.0f / half;
    float *px = gen_pixels(w.field);
    const size_t n = gen_count(w.field);
    for (size_t i = 0; i < n; i++)
        px[i] = 1.0f - px[i] * k;
    arc_fit((int)n, px, s.brushouterradius, s.brushinnerradius, 1.0f - 0.999f * s.brushprofile * s.brushprofile,
            r.size[2] * s.brushvalue * k);
    for (size_t i = 0; i < n; i++)
        px[i] *= s.brushvalue;
    return 1;
}

// Steps 8 and 9: the peak scaled to 1 with the layer's height lowered to it,
// then the Z origin folded into the image.
static void gen_finish(gen_work &w)
{
    layer_genrequestrecord &r = w.req;
    float *p = gen_pixels(w.field);
    const size_t n = gen_count(w.field);
    const float m = n ? gen_maximum(w.field) : -9999999.0f;
    if (!(m > -99999.0f)) {
        sys_log("maximum genraster value:%f", -99999.0);
    } else {
        sys_log("maximum genraster value:%f", m);
        if (m > 0.0f) {
            for (size_t i = 0; i < n; i++)
                p[i] /= m;
            r.size[2] *= m;
        }
    }
    if (r.zorigin > 0.0f) {
        sys_log("offsetting genraster...");
        const float total = r.size[2] + r.zorigin;
        for (size_t i = 0; i < n; i++)
            p[i] = p[i] > 0.0f ? p[i] * r.size[2] / total + r.zorigin / total : 0.0f;
        r.size[2] = total;
        r.zorigin = 0.0f;
    }
}

void job_genrasterlayer(void *unused)
{
    gen_work w;
    layer_genrequestrecord &r = w.req;
    project.generating[0].store(1, std::memory_order_release);
    const double start = sys_seconds();
    w.shape = layer_genkind.load(std::memory_order_acquire);
    w.ppu = (float)project.ppi * project.scale * (layer_gensettings.super ? 2.0f : 1.0f);
    const float corner[3] = {r.centre[0] - r.size[0] / 2.0f, r.centre[1] + r.size[1] / 2.0f, r.zorigin};
    const float size[3] = {r.size[0], -r.size[1], r.size[2]};
    memcpy(w.corner, corner, sizeof(corner));
    memcpy(w.size, size, sizeof(size));
    if (!r.polylines) {
        sys_log("job_genrasterlayer: no polylines");
        gen_fail(w);
        return;
    }
    gen_flip(w);
    int ok;
    if (w.shape == genshape_stroke)
        ok = gen_stroke(w);
    else
        ok = gen_mask(w) && (w.shape == genshape_flat || gen_shape(w));
    if (!ok) {
        gen_fail(w);
        return;
    }
    gen_freepolys(w);
    gen_finish(w);
    r.result = w.field;
    sys_log("...generated raster-layer from paths (elapsed %.3fs)", sys_seconds() - start);
    project.generating[0].store(0, std::memory_order_release);
    layer_gendone.store(1, std::memory_order_release);
}
