// Texture coordinates of the source layer are rasterised as quads along the
// paths into a packed u/v image (u across the ribbon, v along it), then the
// prepared source image is looked up at them, the result cropped to what it
// covers and handed back through the request.
#include "project/alongpaths.h"

#include "geom/contour.h"
#include "img/chunk.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "project/genraster.h"
#include "project/project.h"
#include "render/text.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

int32_t alongpath_layer = -1;
int32_t alongpath_mode = 1;
int32_t alongpath_axis = 0;
int32_t alongpath_reverse = 0;
float alongpath_lateral = 0.5f;
float alongpath_position = 0.5f;
int32_t alongpath_byreps = 0;
float alongpath_reps = 1.0f;
float alongpath_scale = 1.0f;
int32_t alongpath_repeat = 0;
float alongpath_spacing = 0.0f;
int32_t alongpath_fixed = 0;
float alongpath_angle = 0.0f;
int32_t alongpath_swap = 0;

alongpath_sizes alongpath_measure(float len, const float *s)
{
    alongpath_sizes z;
    const bool xaxis = alongpath_axis == 0;
    if (alongpath_byreps) {
        const float reps = std::max(1.0f, std::trunc(alongpath_reps));
        z.along = len / reps;
        const float aspect = s[0] > 0.0f ? s[1] / s[0] : 1.0f;
        z.cross = xaxis ? z.along * aspect : (aspect > 0.0f ? z.along / aspect : z.along);
    } else {
        z.along = (xaxis ? s[0] : s[1]) * alongpath_scale;
        z.cross = (xaxis ? s[1] : s[0]) * alongpath_scale;
    }
    z.spacing = alongpath_repeat ? alongpath_spacing * z.along : 0.0f;
    return z;
}

static void ap_perp(const float *a, const float *b, float *out)
{
    float t[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float l = std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]);
    if (l > 0.0f)
        t[0] /= l, t[1] /= l, t[2] /= l;
    out[0] = t[1], out[1] = -t[0], out[2] = t[2];
}

void alongpath_normals(const float *pts, int n, int closed, float *out)
{
    if (alongpath_fixed) {
        const float a = alongpath_angle * (float)M_PI / 180.0f;
        for (int i = 0; i < n; i++)
            out[i * 3] = -std::sin(a), out[i * 3 + 1] = -std::cos(a), out[i * 3 + 2] = 0.0f;
        return;
    }
    for (int i = 0; i < n; i++) {
        float before[3] = {0, 0, 0}, after[3] = {0, 0, 0};
        int has = 0;
        if (i > 0)
            ap_perp(pts + (i - 1) * 3, pts + i * 3, before), has |= 1;
        else if (closed && n > 1)
            ap_perp(pts + (n - 2) * 3, pts + (n - 1) * 3, before), has |= 1;
        if (i + 1 < n)
            ap_perp(pts + i * 3, pts + (i + 1) * 3, after), has |= 2;
        else if (closed && n > 1)
            ap_perp(pts, pts + 3, after), has |= 2;
        float m[3] = {before[0] + after[0], before[1] + after[1], before[2] + after[2]};
        const float l = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
        for (int k = 0; k < 3; k++)
            out[i * 3 + k] = l > 0.0f ? m[k] / l : 0.0f;
    }
}

float alongpath_v(float s, float s0, const alongpath_sizes &z)
{
    const float r = alongpath_reverse ? 1.0f : 0.0f;
    return (s0 + s) / (z.along + z.spacing) * (1.0f - 2.0f * r) + r;
}

static float ap_dist(const float *a, const float *b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

static float ap_length(const float *p, int n)
{
    float l = 0.0f;
    for (int i = 1; i < n; i++)
        l += ap_dist(p + (i - 1) * 3, p + i * 3);
    return l;
}

void alongpath_walk(const float *P, int np, const float *Q, int nq, alongpath_quadfn quad, void *ctx)
{
    const float LP = ap_length(P, np), LQ = ap_length(Q, nq);
    if (np < 2 || nq < 2 || LP <= 0.0f || LQ <= 0.0f)
        return;
    float cP[3], cQ[3];
    memcpy(cP, P, 12);
    memcpy(cQ, Q, 12);
    int iP = 1, iQ = 1; // next vertex on each rail
    float sP = 0.0f, sQ = 0.0f, walked = 0.0f;
    // Moves c toward the next vertex by fraction f of the rail's length.
    auto advance = [](float *c, const float *next, float f, float L) {
        const float d = ap_dist(c, next), move = std::min(d, f * L);
        if (d > 0.0f)
            for (int k = 0; k < 3; k++)
                c[k] += (next[k] - c[k]) * move / d;
        return move;
    };
    while (walked < 0.9999f) {
        const float fP = iP < np ? ap_dist(P + iP * 3, cP) / LP : 1e30f;
        const float fQ = iQ < nq ? ap_dist(Q + iQ * 3, cQ) / LQ : 1e30f;
        float oP[3], oQ[3];
        memcpy(oP, cP, 12);
        memcpy(oQ, cQ, 12);
        const float osP = sP, osQ = sQ;
        float step;
        if (fQ <= fP || iP >= np) {
            if (iQ >= nq)
                break;
            step = fQ;
            memcpy(cQ, Q + iQ * 3, 12);
            sQ += step * LQ;
            iQ++;
            if (iP < np) {
                sP += advance(cP, P + iP * 3, step, LP);
                if (ap_dist(cP, P + iP * 3) <= 0.0f)
                    iP++;
            }
        } else {
            step = fP;
            memcpy(cP, P + iP * 3, 12);
            sP += step * LP;
            iP++;
            sQ += advance(cQ, Q + iQ * 3, step, LQ);
            if (ap_dist(cQ, Q + iQ * 3) <= 0.0f)
                iQ++;
        }
        walked += step;
        quad(ctx, oP, cP, osP, sP, oQ, cQ, osQ, sQ);
    }
}

namespace {

struct ap_work {
    image *uv = nullptr;
    float size[3], origin[3];
    int clamp = 1;
    // double-path state
    float dcross = 0.0f, s0P = 0.0f, s0Q = 0.0f;
    alongpath_sizes zP{}, zQ{};
};

void ap_quad(ap_work &w, const float *a0, const float *a1, const float *b0, const float *b1, const float *uvs)
{
    float verts[12];
    memcpy(verts, a0, 12);
    memcpy(verts + 3, a1, 12);
    memcpy(verts + 6, b0, 12);
    memcpy(verts + 9, b1, 12);
    img_scalarrasterquad(w.uv, w.size, w.origin, verts, uvs, w.clamp);
}

void ap_single(ap_work &w, const float *pts, int n, int closed, const float *layersize)
{
    const float L = ap_length(pts, n);
    const alongpath_sizes z = alongpath_measure(L, layersize);
    const float s0 = -alongpath_position * (L - z.along);
    const float r = alongpath_reverse ? 1.0f : 0.0f;
    std::vector<float> normals((size_t)n * 3), a((size_t)n * 3), b((size_t)n * 3);
    alongpath_normals(pts, n, closed, normals.data());
    for (int i = 0; i < n; i++)
        for (int k = 0; k < 3; k++) {
            a[i * 3 + k] = pts[i * 3 + k] - normals[i * 3 + k] * alongpath_lateral * z.cross;
            b[i * 3 + k] = pts[i * 3 + k] + normals[i * 3 + k] * (1.0f - alongpath_lateral) * z.cross;
        }
    float s = 0.0f;
    for (int k = 1; k < n; k++) {
        const float sprev = s;
        s += ap_dist(pts + (k - 1) * 3, pts + k * 3);
        const float v0 = alongpath_v(sprev, s0, z), v1 = alongpath_v(s, s0, z);
        const float uvs[8] = {1 - r, v0, 1 - r, v1, r, v0, r, v1};
        ap_quad(w, &a[(k - 1) * 3], &a[k * 3], &b[(k - 1) * 3], &b[k * 3], uvs);
    }
}

void ap_pairquad(void *ctx, const float *p0, const float *p1, float sp0, float sp1, const float *q0, const float *q1,
                 float sq0, float sq1)
{
    ap_work &w = *(ap_work *)ctx;
    const float d = w.dcross;
    const float uvs[8] = {1 - d, alongpath_v(sp0, w.s0P, w.zP), 1 - d, alongpath_v(sp1, w.s0P, w.zP),
                          d,     alongpath_v(sq0, w.s0Q, w.zQ), d,     alongpath_v(sq1, w.s0Q, w.zQ)};
    ap_quad(w, p0, p1, q0, q1, uvs);
}

// The source layer's image as a scalar field, prepared: mirrored, cropped,
// inverted, with a one-pixel border of zeros.
image *ap_source(int slot)
{
    const project_layer *l = slot >= 0 && slot < project_maxlayers ? &project.layers[slot] : nullptr;
    image *img = nullptr;
    if (l && l->type == layer_raster && l->data.img) {
        img = img_copy(l->data.img);
    } else if (l && l->type == layer_text && l->data.text >= 0 && l->data.text < text_maxobjects && text_objects &&
               text_objects[l->data.text].font >= 0) {
        image *t = text_getimage(l->data.text, 1);
        img = t ? img_scalarize(t, 1.0f, 0.0f) : nullptr;
    } else {
        img = img_allocfloat("blank", 32, 32);
        if (img)
            std::fill((float *)img->pixels, (float *)img->pixels + 32 * 32, 1.0f);
        return img ? img : nullptr;
    }
    if (!img)
        return nullptr;
    auto replace = [&](image *next) {
        img_free(img);
        img = next;
        return next != nullptr;
    };
    const bool mx = l->flags & layer_mirrorx, my = l->flags & layer_mirrory;
    if ((mx || my) && !replace(img_flip(img, mx, my)))
        return nullptr;
    const float *c = l->crop;
    if ((c[2] - c[0]) * (c[3] - c[1]) < 1.0f) {
        const float rect[4] = {c[0], 1.0f - c[3], c[2], 1.0f - c[1]};
        if (!replace(img_croprect(img, rect)))
            return nullptr;
    }
    if (l->flags & layer_invert) {
        float *p = (float *)img->pixels;
        for (int64_t i = 0; i < (int64_t)img->width * img->height; i++)
            p[i] = 1.0f - p[i];
    }
    return img;
}

// The border of zeros, the spacing gap and the quarter turn that makes rows
// run along the path.
image *ap_prepare(image *src)
{
    image *bdr = img_allocfloat("bdr", src->width + 2, src->height + 2);
    if (!bdr)
        return nullptr;
    img_simplestamp(src, bdr, img_stampoffset(1, 1));
    image *img = bdr;
    const bool xaxis = alongpath_axis == 0;
    if (alongpath_repeat && alongpath_spacing > 0.0f) {
        const int w = xaxis ? (int)((float)img->width * (1.0f + alongpath_spacing)) : img->width;
        const int h = xaxis ? img->height : (int)((float)img->height * (1.0f + alongpath_spacing));
        image *tex = img_allocfloat("tex", w, h);
        if (!tex) {
            img_free(img);
            return nullptr;
        }
        // Reversed, the gap goes before the copy along the axis it grew in.
        int ox = 0, oy = 0;
        if (alongpath_reverse) {
            if (xaxis)
                ox = std::max(0, w - img->width - 1);
            else
                oy = std::max(0, h - img->height - 1);
        }
        img_simplestamp(img, tex, img_stampoffset(ox, oy));
        img_free(img);
        img = tex;
    }
    if (xaxis) {
        char name[img_maxname];
        snprintf(name, sizeof(name), "%.250s.ori", img->name);
        image *ori = img_allocfloat(name, img->height, img->width);
        if (!ori) {
            img_free(img);
            return nullptr;
        }
        const float *s = (const float *)img->pixels;
        float *d = (float *)ori->pixels;
        for (int y = 0; y < img->height; y++)
            for (int x = 0; x < img->width; x++)
                d[(size_t)x * ori->width + (img->height - 1 - y)] = s[(size_t)y * img->width + x];
        img_free(img);
        img = ori;
    }
    return img;
}

void ap_end(image *result)
{
    layer_genrequest.result = result;
    project.generating[0].store(0, std::memory_order_release);
    layer_gendone.store(1, std::memory_order_release);
}

void ap_fail(ap_work &w, image *held)
{
    img_free(w.uv);
    img_free(held);
    cont_free(layer_genrequest.polylines);
    layer_genrequest.polylines = nullptr;
    layer_genrequest.result = nullptr;
    layer_genkind.store(0, std::memory_order_release);
    project.generating[0].store(0, std::memory_order_release);
}

} // namespace

void layer_rasteralongpaths(void *)
{
    project.generating[0].store(1, std::memory_order_release);
    layer_genrequestrecord &r = layer_genrequest;
    const double start = sys_seconds();
    ap_work w;
    const float x0 = r.centre[0] - r.size[0] / 2.0f, y0 = r.centre[1] + r.size[1] / 2.0f;
    const float factor = r.samples > 0.0f ? r.samples : 1.0f;
    const int W = (int)((float)r.width * factor), H = (int)((float)r.height * factor);
    w.uv = W > 0 && H > 0 ? img_alloc("alongpath", W, H, 4) : nullptr;
    const int slot = alongpath_layer;
    if (!w.uv || !r.polylines || slot < 0 || slot >= project_maxlayers || !project.layers[slot].type) {
        sys_log("layer_rasteralongpaths: nothing to map (%dx%d, layer %d)", W, H, slot);
        return ap_fail(w, nullptr);
    }
    sys_log("rasteralongpaths size: %dx%d", W, H);
    w.size[0] = r.size[0], w.size[1] = -r.size[1], w.size[2] = 1.0f;
    w.origin[0] = x0, w.origin[1] = y0, w.origin[2] = r.zorigin;
    w.clamp = alongpath_repeat ? 0 : 1;
    const float *layersize = project.layers[slot].size;
    const contour *c = r.polylines;
    std::vector<const float *> starts;
    const float *v = c->verts;
    for (uint32_t i = 0; i < c->numpolys; v += (size_t)c->vertcount[i] * 3, i++)
        starts.push_back(v);
    if (alongpath_mode == 1) {
        for (uint32_t i = 0; i < c->numpolys; i++) {
            if (c->vertcount[i] < 2)
                continue;
            sys_log("rasterizing uv coords for poly[%d].verts:%d...", (int)i, (int)c->vertcount[i]);
            ap_single(w, starts[i], (int)c->vertcount[i], (int)c->closed[i], layersize);
        }
    } else if (alongpath_mode == 2) {
        // An odd last polyline has no partner and is left out.
        for (uint32_t i = 0; i + 1 < c->numpolys; i += 2) {
            const int np = (int)c->vertcount[i], nq = (int)c->vertcount[i + 1];
            const float LP = ap_length(starts[i], np), LQ = ap_length(starts[i + 1], nq);
            w.zP = alongpath_measure(alongpath_byreps ? LP : 0.0f, layersize);
            w.zQ = alongpath_byreps ? alongpath_measure(LQ, layersize) : w.zP;
            w.s0P = -alongpath_position * (LP - w.zP.along);
            w.s0Q = -alongpath_position * (LQ - w.zQ.along);
            w.dcross = std::fabs((float)alongpath_swap - (alongpath_reverse ? 1.0f : 0.0f));
            sys_log("rasterizing uv coords for poly[%d].verts:%d / poly[%d].verts:%d...", (int)i, np, (int)i + 1, nq);
            alongpath_walk(starts[i], np, starts[i + 1], nq, ap_pairquad, &w);
        }
    }
    cont_free(r.polylines);
    r.polylines = nullptr;
    image *src = ap_source(slot);
    image *tex = src ? ap_prepare(src) : nullptr;
    img_free(src);
    if (!tex)
        return ap_fail(w, nullptr);
    sys_log("texturemapping uv coords buffer...");
    // The sampler never returns an edge pixel pure: coordinates clamped onto
    // the zero border still carry 0.0001 of the layer's edge. Such traces
    // are border, or the crop would keep the clamped tails beyond the
    // layer's ends.
    float top = 0.0f;
    for (int64_t i = 0; i < (int64_t)tex->width * tex->height; i++)
        top = std::fmax(top, ((const float *)tex->pixels)[i]);
    img_u16tofloat(w.uv, tex);
    img_free(tex);
    float *out = (float *)w.uv->pixels;
    for (int64_t i = 0; i < (int64_t)W * H; i++)
        if (out[i] <= top * 0.00011f)
            out[i] = 0.0f;
    image *result = w.uv;
    w.uv = nullptr;
    if (factor > 1.0f) {
        image *small = img_rescalescalar(result, r.width, r.height);
        img_free(result);
        if (!small)
            return ap_fail(w, nullptr);
        result = small;
    }
    int rect[4];
    image *crop = img_novelrect(result, 0.0f, rect);
    if (crop) {
        const float iw = (float)result->width, ih = (float)result->height;
        const float sx = r.size[0], sy = r.size[1];
        r.size[0] = (float)(rect[2] - rect[0]) / iw * sx;
        r.size[1] = (float)(rect[3] - rect[1]) / ih * sy;
        r.centre[0] = x0 + (float)(rect[0] + rect[2]) / 2.0f / iw * sx;
        r.centre[1] = y0 - (float)(rect[1] + rect[3]) / 2.0f / ih * sy;
        r.zorigin = 0.0f;
    } else {
        sys_log("layer_rasteralongpaths: no pixel covered");
    }
    img_free(result);
    sys_log("...generated depth along path (elapsed %.3fs)", sys_seconds() - start);
    ap_end(crop);
}
