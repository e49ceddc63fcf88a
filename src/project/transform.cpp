// Layer and screen transforms. The layer mappings share the exact quarter
// turns of math_exactsincos with layer_transformpoint, so a layer turned by a
// quarter maps axis points onto axis points without sine residue. The screen
// mappings unproject through the view's GL matrices (r_unproject).
#include "project/transform.h"

#include "geom/plane.h"
#include "img/image.h"
#include "img/resample.h"
#include "project/layer.h"
#include "render/gl.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

image *selectionmap = nullptr;

static const project_layer *tf_layer(int slot, const char *caller)
{
    if (slot < 0 || slot >= project_maxlayers) {
        sys_log("%s: no layer slot %d", caller, slot);
        return nullptr;
    }
    return &project.layers[slot];
}

void layer_worldtolocal(float *out, const float *world, int slot)
{
    const project_layer *l = tf_layer(slot, "layer_worldtolocal");
    if (!l) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    double s, c;
    math_exactsincos(l->rotation, &s, &c);
    const double dx = (double)world[0] - l->pos[0], dy = (double)world[1] - l->pos[1];
    const double dz = (double)world[2] - l->pos[2];
    double fx = 1.0 / l->size[0], fy = 1.0 / l->size[1];
    if (l->flags & layer_mirrorx)
        fx = -fx;
    if (l->flags & layer_mirrory)
        fy = -fy;
    out[0] = (float)(fx * (c * dx - s * dy));
    out[1] = (float)(fy * (s * dx + c * dy));
    out[2] = (float)dz;
}

void layer_localtoworld(float *out, const float *local, int slot)
{
    const project_layer *l = tf_layer(slot, "layer_localtoworld");
    if (!l) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    layer_transformpoint(out, local, l);
}

// The two ends of the mouse ray: on the near and the far clip plane.
static void tf_mouseray(float mx, float my, float *near, float *far)
{
    const float w = (float)std::max(sys_drawable[0], 1), h = (float)std::max(sys_drawable[1], 1);
    const float nx = 2.0f * mx / w - 1.0f, ny = 1.0f - 2.0f * my / h;
    const float a[3] = {nx, ny, -1.0f}, b[3] = {nx, ny, 1.0f};
    r_unproject(near, a);
    r_unproject(far, b);
}

// Where the ray from p0 along v meets z = height; (0, 0, 0) along the plane.
static void tf_meetplane(float *out, const float *p0, const float *p1, float height)
{
    const float v[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    if (std::fabs(v[2]) < 0.0001f) {
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    const float t = (height - p0[2]) / v[2];
    for (int k = 0; k < 3; k++)
        out[k] = p0[k] + t * v[k];
}

void view_screentoplane(float *out, float mx, float my, float height)
{
    float p0[3], p1[3];
    tf_mouseray(mx, my, p0, p1);
    tf_meetplane(out, p0, p1, height);
}

void view_screentolayer(float *out, float mx, float my, int slot)
{
    float p0[3], p1[3], q0[3], q1[3];
    tf_mouseray(mx, my, p0, p1);
    layer_worldtolocal(q0, p0, slot);
    layer_worldtolocal(q1, p1, slot);
    tf_meetplane(out, q0, q1, 0.0f);
}

namespace {
// The mouse ray in field pixels (rows from the top) and unit heights.
struct tf_march {
    const image *field;
    float ax, ay, az, bx, by, bz;
    float x(float t) const { return (1 - t) * ax + t * bx; }
    float y(float t) const { return (1 - t) * ay + t * by; }
    float z(float t) const { return (1 - t) * az + t * bz; }
    float sample(float t) const { return img_samplescalar(field, x(t) - 0.5f, y(t) + 0.5f); }
};
} // namespace

// Is the ray at t under the surface (above it, measured from the top)?
static bool tf_under(const tf_march &m, float t, int flip)
{
    return flip ? m.sample(t) <= m.z(t) : m.z(t) <= m.sample(t);
}

void view_screentoheightfield(float *out, const image *field, float mx, float my, int flip)
{
    out[0] = out[1] = out[2] = 0.0f;
    if (!img_isscalar(field, "view_screentoheightfield"))
        return;
    const float w = (float)field->width, h = (float)field->height;
    const float kx = w / project.size[0], ky = h / project.size[1], kz = 1.0f / project.size[2];
    float a[3], b[3];
    view_screentoplane(a, mx, my, project.size[2]);
    view_screentoplane(b, mx, my, 0.0f);
    tf_march m = {field, a[0] * kx, h - a[1] * ky - 1, a[2] * kz, b[0] * kx, h - b[1] * ky - 1, b[2] * kz};
    if (flip) {
        m.az = 1 - m.az;
        m.bz = 1 - m.bz;
    }
    float t = -1.0f;
    for (int i = 0; i < 81 && t < 0; i++)
        if (tf_under(m, 0.0125f * i, flip))
            t = 0.0125f * i;
    if (t < 0) {
        out[0] = m.bx / kx;
        out[1] = (h - m.by - 1) / ky;
        out[2] = (flip ? 1 - m.bz : m.bz) / kz;
        return;
    }
    // Halving steps about the stop: back when under the surface, on when over.
    t -= 0.00625f;
    for (float step = 0.003125f; step > 0.00001f; step *= 0.5f) {
        bool under = flip ? m.z(t) > m.sample(t) : m.sample(t) > m.z(t);
        t += under ? -step : step;
    }
    out[0] = m.x(t) / kx;
    out[1] = (h - m.y(t) - 1) / ky;
    out[2] = (flip ? 1 - m.z(t) : m.z(t)) / kz;
}

// Where the whole (uncropped) image lies: its centre in world units and its
// footprint, for a crop that hides part of it.
static void tf_uncropped(const project_layer &l, double *origin, double *footprint)
{
    const float *k = l.crop;
    const double cw = (double)k[2] - k[0], ch = (double)k[3] - k[1];
    origin[0] = l.pos[0];
    origin[1] = l.pos[1];
    footprint[0] = l.size[0];
    footprint[1] = l.size[1];
    if (!(cw * ch < 0.9999) || !(cw > 0) || !(ch > 0))
        return;
    double s, c;
    math_exactsincos(l.rotation, &s, &c);
    const double mx = l.flags & layer_mirrorx ? -1.0 : 1.0, my = l.flags & layer_mirrory ? -1.0 : 1.0;
    const double X[2] = {c * l.size[0] / cw * mx, -s * l.size[0] / cw * mx};
    const double Y[2] = {s * l.size[1] / ch * my, c * l.size[1] / ch * my};
    sys_log("basis vectors  X:%f,%f  Y:%f,%f", X[0], X[1], Y[0], Y[1]);
    const double o[2] = {0.5 - (k[0] + k[2]) / 2.0, 0.5 - (k[1] + k[3]) / 2.0};
    sys_log("original uncropped origin offset: %f,%f", o[0], o[1]);
    origin[0] += o[0] * X[0] + o[1] * Y[0];
    origin[1] += o[0] * X[1] + o[1] * Y[1];
    sys_log("original layer position = %f,%f", origin[0], origin[1]);
    footprint[0] = l.size[0] / cw;
    footprint[1] = l.size[1] / ch;
}

// The selection weight of every pixel of the layer's image: each pixel's
// place in the selection map, turned and mirrored as the layer is.
static void tf_selected(const project_layer &l, const image *map, const image *img, float *selected)
{
    double origin[2], footprint[2];
    tf_uncropped(l, origin, footprint);
    const double ws = map->width, hs = map->height, wi = img->width, hi = img->height;
    const double ox = origin[0] / project.size[0] * ws, oy = (1.0 - origin[1] / project.size[1]) * hs;
    const double fw = footprint[0] / project.size[0] * ws, fh = footprint[1] / project.size[1] * hs;
    double a = std::fmod((double)l.rotation, 360.0);
    if (a < 0)
        a += 360.0;
    double s, c;
    math_exactsincos(a, &s, &c);
    // A mirrored layer shows its columns (rows) the other way round.
    const double mx = l.flags & layer_mirrorx ? -1.0 : 1.0, my = l.flags & layer_mirrory ? -1.0 : 1.0;
    const double X[2] = {c * fw / wi * mx, s * fw / wi * mx}, Y[2] = {-s * fh / hi * my, c * fh / hi * my};
    const double start[2] = {ox - (wi * X[0] + hi * Y[0]) / 2, oy - (wi * X[1] + hi * Y[1]) / 2};
    for (int j = 0; j < img->height; j++)
        for (int i = 0; i < img->width; i++) {
            const double px = start[0] + i * X[0] + j * Y[0], py = start[1] + i * X[1] + j * Y[1];
            float &sel = selected[(size_t)j * img->width + i];
            sel = px >= 0 && px < ws - 1 && py >= 0 && py < hs - 1 ? img_samplescalar(map, (float)px, (float)py) : 0;
        }
}

void layer_applyselection(int layer, const image *edited)
{
    const project_layer *l = tf_layer(layer, "layer_applyselection");
    if (!l || !selectionmap)
        return;
    image *img = l->data.img;
    if (l->type != layer_raster || !img_isscalar(img, "layer_applyselection") ||
        !img_isscalar(edited, "layer_applyselection") || !img_isscalar(selectionmap, "layer_applyselection"))
        return;
    if (edited->width != img->width || edited->height != img->height) {
        sys_log("layer_applyselection: edited image %dx%d does not match the layer's %dx%d", edited->width,
                edited->height, img->width, img->height);
        return;
    }
    const size_t n = (size_t)img->width * img->height;
    float *selected = n < (size_t)INT32_MAX / 4 ? (float *)sys_calloc((int32_t)n, sizeof(float)) : nullptr;
    if (!selected) {
        sys_log("layer_applyselection: failed to allocate the selection weights");
        return;
    }
    tf_selected(*l, selectionmap, img, selected);
    float *p = (float *)img->pixels;
    const float *e = (const float *)edited->pixels;
    for (size_t k = 0; k < n; k++)
        p[k] = (float)((double)selected[k] * e[k] + (1.0 - selected[k]) * p[k]);
    sys_free(selected);
}
