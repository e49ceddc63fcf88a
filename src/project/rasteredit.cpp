// The raster-layer edit pipeline. One call runs a whole edit on the main
// thread: the old layer blob, the edited raster R from the image operations
// (which spread over the workers), R put into the layer, the new blob and
// its "layer data" event. Every failure inside an edit leaves R null, so the
// layer keeps its raster and the event records equal states; no result that
// holds a NaN or an infinity ever reaches the layer.
#include "project/rasteredit.h"

#include "img/adjust.h"
#include "img/blend.h"
#include "img/blur.h"
#include "img/convolve.h"
#include "img/image.h"
#include "img/levels.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "img/tile.h"
#include "project/brush.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"
#include "project/transform.h"
#include "project/undo.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/waits.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

float rasteredit_hradius = 0.1f;
float rasteredit_zradius = 0.0f;
float rasteredit_vertical = 0.0f;
float rasteredit_draftangle = 45.0f;
std::atomic<int32_t> layer_gentex{0};

bool rasteredit_finite(const image *img)
{
    const float *p = (const float *)img->pixels;
    size_t n = (size_t)img->width * img->height;
    for (size_t i = 0; i < n; i++)
        if (!std::isfinite(p[i]))
            return false;
    return true;
}

// What one edit works from and leaves behind.
struct rasteredit_state {
    int slot;
    project_layer *layer;
    image *img; // the layer's image E
    float floor;
    bool removebottom;
    int bx = 0, by = 0; // border the edit added to each side
    double start;
};

static float rasteredit_radians(float degrees)
{
    return degrees * (float)M_PI / 180.0f;
}

static void rasteredit_foreach(image *img, auto fn)
{
    float *p = (float *)img->pixels;
    size_t n = (size_t)img->width * img->height;
    for (size_t i = 0; i < n; i++)
        p[i] = fn(p[i], i);
}

// The tilt plane of a w x h raster of the layer, or null when the layer is
// flat (a plane of zeros changes nothing).
static image *rasteredit_tilt(const project_layer *l, int w, int h)
{
    if (l->tilt[0] == 0.0f && l->tilt[1] == 0.0f)
        return nullptr;
    return img_scalartilt(w, h, l->tilt[0], l->tilt[1], l->size[0] / (float)w / l->size[2]);
}

// Adds (sign 1) or takes away (sign -1) the tilt plane; a plane of another
// size is a fault of the caller and is left out, logged.
static void rasteredit_applytilt(image *img, const image *t, float sign)
{
    if (!t)
        return;
    if (t->width != img->width || t->height != img->height) {
        sys_log("layer_processraster: tilt %dx%d does not fit %dx%d", t->width, t->height, img->width, img->height);
        return;
    }
    const float *tp = (const float *)t->pixels;
    rasteredit_foreach(img, [&](float v, size_t i) { return v + sign * tp[i]; });
}

static bool rasteredit_cropped(const project_layer *l, float limit)
{
    return (l->crop[2] - l->crop[0]) * (l->crop[3] - l->crop[1]) < limit;
}

// The crop rectangle in the image's own fractions, rows from the top.
static void rasteredit_croprect(const project_layer *l, float *rect)
{
    rect[0] = l->crop[0];
    rect[1] = 1.0f - l->crop[3];
    rect[2] = l->crop[2];
    rect[3] = 1.0f - l->crop[1];
}

// Empties pixels under the floor of a "Remove Bottom" layer.
static void rasteredit_markempty(image *img, bool removebottom)
{
    if (removebottom)
        rasteredit_foreach(img, [](float v, size_t) { return v < rasteredit_floor ? rasteredit_empty : v; });
}

// A copy of img inside a frame of bx, by pixels of empty value on each side.
static image *rasteredit_border(image *img, int bx, int by, const char *name)
{
    if (bx == 0 || by == 0)
        return img;
    image *big = img_allocfloat(name, img->width + 2 * bx, img->height + 2 * by);
    if (!big) {
        img_free(img);
        return nullptr;
    }
    rasteredit_foreach(big, [](float, size_t) { return rasteredit_empty; });
    img_simplestamp(img, big, img_stampoffset(bx, by));
    img_free(img);
    return big;
}

// The layer's raster with its empty pixels marked, inside a frame of bx, by
// pixels that the edit may grow into; the frame is noted for the crop back.
static image *rasteredit_framedcopy(rasteredit_state &s, int bx, int by, const char *name)
{
    image *img = img_copy(s.img);
    if (!img)
        return nullptr;
    rasteredit_markempty(img, s.removebottom);
    img = rasteredit_border(img, bx, by, name);
    if (img && bx && by)
        s.bx = bx, s.by = by;
    return img;
}

// ------------------------------------------------------------ edit 3

static image *rasteredit_adjustlevels(rasteredit_state &s)
{
    const project_layer *l = s.layer;
    bool cropped = rasteredit_cropped(l, 0.9999f);
    float rect[4];
    rasteredit_croprect(l, rect);
    image *work = cropped ? img_croprect(s.img, rect) : img_copy(s.img);
    if (!work)
        return nullptr;
    image *t = rasteredit_tilt(l, work->width, work->height);
    if (s.removebottom) {
        const float *tp = t ? (const float *)t->pixels : nullptr;
        rasteredit_foreach(work, [&](float v, size_t i) {
            return v >= rasteredit_floor ? v + (tp ? tp[i] : 0.0f) : rasteredit_empty;
        });
    } else {
        rasteredit_applytilt(work, t, 1.0f);
    }
    image *r = img_levels(work, rasteredit_levelsmode, s.floor, &rasteredit_levels, rasteredit_levelspoints);
    if (r && s.removebottom) {
        const float *tp = t ? (const float *)t->pixels : nullptr;
        rasteredit_foreach(r, [&](float v, size_t i) {
            return v == rasteredit_empty ? 0.0f : v - (tp ? tp[i] : 0.0f);
        });
    } else if (r) {
        rasteredit_applytilt(r, t, -1.0f);
    }
    img_free(t);
    img_free(work);
    if (r && cropped) {
        image *whole = img_copy(s.img);
        if (whole)
            img_simplestamp(r, whole,
                            img_stampoffset((int)std::floor(rect[0] * (float)s.img->width),
                                            (int)std::floor(rect[1] * (float)s.img->height)));
        img_free(r);
        r = whole;
    }
    if (r)
        sys_log("raster-layer adjust levels done (elapsed %.3fs)", sys_seconds() - s.start);
    return r;
}

// ------------------------------------------------------------ edits 4 and 5

// The layer's extent divided by the crop's share along each axis.
static void rasteredit_uncropped(const project_layer *l, float *sx, float *sy)
{
    *sx = l->size[0];
    *sy = l->size[1];
    if (rasteredit_cropped(l, 1.0f)) {
        *sx /= l->crop[2] - l->crop[0];
        *sy /= l->crop[3] - l->crop[1];
    }
}

// The dilation of the bordered, tilted image by the kernel, tilt taken away
// after; frees the image and the kernel.
static image *rasteredit_dilate(image *img, image *k, const image *t, bool invert)
{
    if (!img || !k) {
        img_free(img);
        img_free(k);
        return nullptr;
    }
    rasteredit_applytilt(img, t, 1.0f);
    if (invert)
        rasteredit_foreach(img, [](float v, size_t) { return 1.0f - v; });
    image *r = img_scalarconvo(img, k, 0, rasteredit_dilatemin, 0.0f);
    img_free(img);
    img_free(k);
    if (!r)
        return nullptr;
    if (invert)
        rasteredit_foreach(r, [](float v, size_t) { return 1.0f - v; });
    rasteredit_applytilt(r, t, -1.0f);
    return r;
}

// A border of p project units in pixels of the layer's raster, or -1 when it
// is not a usable size.
static int rasteredit_borderpixels(float p, float size, int pixels)
{
    double b = (double)p / size * pixels;
    return std::isfinite(b) && b >= 0.0 && b < 65536.0 ? (int)b : -1;
}

// The dilation of the layer's bordered image with the layer's tilt, and its
// highest value in *peak (when not null); null (logged) when no height of the layer is left
// above the empty value. Frees the image and the kernel.
static image *rasteredit_dilatepeak(rasteredit_state &s, image *img, image *k, bool invert, const char *edit,
                                    float *peak)
{
    image *t = rasteredit_tilt(s.layer, img->width, img->height);
    image *res = rasteredit_dilate(img, k, t, invert);
    img_free(t);
    if (!res)
        return nullptr;
    float m = -9999999.0f;
    rasteredit_foreach(res, [&](float v, size_t) { return m = std::max(m, v), v; });
    if (m <= rasteredit_dilatemin) {
        sys_log("layer_processraster: layer[%d] holds no heights to %s", s.slot, edit);
        img_free(res);
        return nullptr;
    }
    if (peak)
        *peak = m;
    return res;
}

static image *rasteredit_expand(rasteredit_state &s)
{
    project_layer *l = s.layer;
    float r = rasteredit_hradius, zr = rasteredit_zradius;
    int w = s.img->width, h = s.img->height;
    float sx, sy;
    rasteredit_uncropped(l, &sx, &sy);
    float ppux = (float)w / sx, aspect = (float)h * sx / (sy * (float)w), sz = l->size[2];
    float diameter = 2.0f * std::fabs(r) * ppux;
    float p = std::max(r, 0.0f);
    int bx = rasteredit_borderpixels(p, l->size[0], w), by = rasteredit_borderpixels(p, l->size[1], h);
    if (!(diameter >= 1.0f) || !std::isfinite(diameter) || !(sz > 0.0f) || !std::isfinite(zr) || bx < 0 ||
        by < 0 || !(aspect > 0.0f)) {
        sys_log("layer_processraster: no expand/contract by %f (%f pixels) on layer[%d]", r, diameter, s.slot);
        return nullptr;
    }
    image *img = rasteredit_framedcopy(s, bx, by, "reflate");
    if (!img)
        return nullptr;
    // Beyond the disc the kernel must take nothing: its outside value is the
    // empty one, so the dilation never reaches past the radius.
    image *k = img_scalarparametric(1, aspect, diameter, 0.0f, zr * ppux, zr / sz, rasteredit_empty);
    if (k && rasteredit_vertical != 0.0f)
        rasteredit_foreach(k, [&](float v, size_t) { return v + std::fabs(r) / sz; });
    float m;
    image *res = rasteredit_dilatepeak(s, img, k, r < 0.0f, "expand", &m);
    if (!res)
        return nullptr;
    float z0 = l->pos[2] / sz;
    // A blank layer at height 0 has nothing to scale by: its heights stay.
    if (m + z0 > 0.0f) {
        float k1 = 1.0f / (m + z0);
        rasteredit_foreach(res, [&](float v, size_t) { return v * k1 + z0 * k1; });
        l->pos[2] = 0.0f;
        l->size[2] = sz / k1;
    } else {
        sys_log("layer_processraster: nothing above the base of layer[%d], heights kept", s.slot);
    }
    if (p > 0.0f) {
        l->size[0] += 2.0f * p;
        l->size[1] += 2.0f * p;
    }
    sys_log("raster-layer expand/contract done (elapsed %.3fs)", sys_seconds() - s.start);
    return res;
}

static image *rasteredit_draft(rasteredit_state &s)
{
    project_layer *l = s.layer;
    float theta = rasteredit_draftangle;
    int w = s.img->width, h = s.img->height;
    float sx, sy;
    rasteredit_uncropped(l, &sx, &sy);
    float aspect = (float)h * sx / (sy * (float)w);
    float d = std::max(std::fabs(std::tan(rasteredit_radians(l->tilt[1]))) * l->size[0],
                       std::fabs(std::tan(rasteredit_radians(l->tilt[0]))) * l->size[1]) +
              l->pos[2] + l->size[2];
    float q = std::tan(rasteredit_radians(theta)) * d, c = (float)w / sx;
    int bx = rasteredit_borderpixels(q, l->size[0], w), by = rasteredit_borderpixels(q, l->size[1], h);
    float top = l->pos[2] + l->size[2];
    if (!(theta >= 0.0f && theta < 90.0f) || !(d > 0.0f) || !std::isfinite(q) || !(l->size[2] > 0.0f) ||
        !(top > 0.0f) || bx < 0 || by < 0 || !(aspect > 0.0f)) {
        sys_log("layer_processraster: no draft angle of %f degrees on layer[%d]", theta, s.slot);
        return nullptr;
    }
    image *img = rasteredit_framedcopy(s, bx, by, "draft");
    if (!img)
        return nullptr;
    image *k = img_scalarparametric(2, aspect, 0.0f, c * d, theta, d / l->size[2], rasteredit_full);
    sys_log("depth:%f radius:%f scale:%f radpix:%f kernel:%d", d, q, c, c * q, k ? k->width : 0);
    image *res = rasteredit_dilatepeak(s, img, k, false, "draft", nullptr);
    if (!res)
        return nullptr;
    float pz = l->pos[2], sz = l->size[2];
    rasteredit_foreach(res, [&](float v, size_t) { return v * sz / top + pz / top; });
    l->size[2] = sz + pz;
    if (l->blend != 1)
        l->pos[2] = 0.0f;
    l->size[0] += 2.0f * q;
    l->size[1] += 2.0f * q;
    sys_log("raster-layer draft angle done (elapsed %.3fs)", sys_seconds() - s.start);
    return res;
}

// ------------------------------------------------------------ edits 6 to 8

// The image to tile: the crop's part (the crop then becomes the whole
// raster) doubled in size.
static image *rasteredit_tilesource(rasteredit_state &s)
{
    project_layer *l = s.layer;
    image *img;
    if (rasteredit_cropped(l, 1.0f)) {
        float rect[4];
        rasteredit_croprect(l, rect);
        img = img_croprect(s.img, rect);
        const float whole[4] = {0.0f, 0.0f, 1.0f, 1.0f};
        memcpy(l->crop, whole, sizeof(whole));
    } else {
        img = img_copy(s.img);
    }
    if (!img)
        return nullptr;
    image *big = img_rescalescalar(img, 2 * img->width, 2 * img->height);
    img_free(img);
    return big;
}

static image *rasteredit_tile2d(rasteredit_state &s)
{
    const project_layer *l = s.layer;
    image *img = rasteredit_tilesource(s);
    if (!img)
        return nullptr;
    image *r = img_scalartile2d(img, (int)rasteredit_tilecount, (int)rasteredit_tilerows, rasteredit_tilefill[0],
                                rasteredit_tilefill[1]);
    img_free(img);
    if (!r)
        return nullptr;
    double ppu = (double)project.scale * project.ppi;
    int tx = (int)(l->size[0] * ppu), ty = (int)(l->size[1] * ppu);
    if ((r->width > tx || r->height > ty) && tx > 0 && ty > 0) {
        image *small = img_rescalescalar(r, tx, ty);
        img_free(r);
        r = small;
    }
    if (r)
        sys_log("raster-layer 2d-tiling done (elapsed %.3fs)", sys_seconds() - s.start);
    return r;
}

static image *rasteredit_tilecircular(rasteredit_state &s)
{
    project_layer *l = s.layer;
    float ppu = (float)project.ppi * project.scale;
    if (!(ppu > 0.0f)) {
        sys_log("layer_processraster: no resolution for circular tiling");
        return nullptr;
    }
    image *img = rasteredit_tilesource(s);
    if (!img)
        return nullptr;
    image *r = img_scalartilecircular(img, (int)rasteredit_tilecount, rasteredit_tileradius * ppu, 1.0f,
                                      rasteredit_ringphase);
    img_free(img);
    if (!r)
        return nullptr;
    l->size[0] = (float)r->width / ppu;
    l->size[1] = (float)r->height / ppu;
    sys_log("raster-layer circular-tiling done (elapsed %.3fs)", sys_seconds() - s.start);
    return r;
}

static image *rasteredit_quantize(rasteredit_state &s)
{
    image *r = img_scalarquantize(s.img, (int)rasteredit_quantlevels, rasteredit_quanthq);
    if (r)
        sys_log("raster-layer quantization done (elapsed %0.3fs)", sys_seconds() - s.start);
    return r;
}

static image *rasteredit_compute(rasteredit_state &s)
{
    switch (project_rastertool) {
    case 3:
        return rasteredit_adjustlevels(s);
    case 4:
        return rasteredit_expand(s);
    case 5:
        return rasteredit_draft(s);
    case 6:
        return rasteredit_tile2d(s);
    case 7:
        return rasteredit_tilecircular(s);
    case 8:
        return rasteredit_quantize(s);
    default:
        return nullptr;
    }
}

// ------------------------------------------------------------ result

// Puts R into the layer, whole or through the raster selection; frees R.
// False when R could not be fitted to the layer, which keeps its raster.
static bool rasteredit_install(rasteredit_state &s, image *r)
{
    project_layer *l = s.layer;
    image *e = s.img;
    if (!selectionmap || project_rastertool == 7) {
        img_free(e);
        l->data.img = r;
        return true;
    }
    bool fitted = true;
    if (r->width == e->width && r->height == e->height) {
        layer_applyselection(s.slot, r);
    } else if (s.bx) {
        sys_log("bording original raster content...");
        image *big = img_allocfloat(e->name, e->width + 2 * s.bx, e->height + 2 * s.by);
        fitted = big != nullptr;
        if (big) {
            img_simplestamp(e, big, img_stampoffset(s.bx, s.by));
            img_free(e);
            l->data.img = big;
            layer_applyselection(s.slot, r);
        }
    } else if (e->width < r->width) {
        sys_log("downscaling edited raster content...");
        image *small = img_rescalescalar(r, e->width, e->height);
        fitted = small != nullptr;
        if (small)
            layer_applyselection(s.slot, small);
        img_free(small);
    } else {
        sys_log("abandoning edit...");
        sys_error("selected raster edit size mismatch! %dx%d != %dx%d (edit:%d)", e->width, e->height, r->width,
                  r->height, project_rastertool);
        fitted = false;
    }
    img_free(r);
    return fitted;
}

// Waits out a composition, a running brush job and another edit, at most
// 10 s and with the frame mutex let go (their depth maps may need the GPU);
// false when one still runs then or the program quits (the edit is not
// made). A finished brush batch is not waited for: only the viewport takes
// it, on this same thread, so waiting for it here would never end.
static bool rasteredit_wait()
{
    return sys_waitunlocked(
        [] {
            return !project_canvasjob.updating.load() && !brush_busy.load(std::memory_order_acquire) &&
                   !layer_gentex.load();
        },
        10.0, "layer_processraster");
}

void layer_processraster()
{
    int slot = project_selectedlayer;
    if (slot < 0 || slot >= project_maxlayers || project.layers[slot].type != layer_raster ||
        !img_isscalar(project.layers[slot].data.img, "layer_processraster")) {
        sys_log("layer_processraster: no raster-layer selected (%d)", slot);
        return;
    }
    if (!rasteredit_wait()) {
        sys_log("layer_processraster: the canvas is still being composed, the edit is not made");
        sys_status("...busy: try again when the canvas is composed");
        return;
    }
    layer_gentex.store(1);
    project_layer *l = &project.layers[slot];
    int32_t oldsize = 0, newsize = 0;
    uint8_t *old = layer_blob(slot, &oldsize);
    bool removebottom = (l->flags & layer_removebottom) != 0;
    rasteredit_state s{slot, l, l->data.img, removebottom ? rasteredit_floor : rasteredit_empty, removebottom, 0, 0,
                       sys_seconds()};
    project_layer before = *l;
    // A layer without extent has no pixels per unit: every edit would divide
    // by zero, so it is left as it is.
    bool sized = l->size[0] > 0.0f && l->size[1] > 0.0f && l->size[2] > 0.0f;
    if (!sized)
        sys_log("layer_processraster: layer[%d] of size %fx%fx%f cannot be edited", slot, l->size[0], l->size[1],
                l->size[2]);
    image *r = sized ? rasteredit_compute(s) : nullptr;
    if (r && !rasteredit_finite(r)) {
        sys_log("layer_processraster: edit %d gave heights that are not numbers, layer[%d] kept", project_rastertool,
                slot);
        img_free(r);
        r = nullptr;
    }
    bool changed = r && rasteredit_install(s, r);
    if (!changed) {
        // The raster stays, so the frame goes back with it.
        l->pos[2] = before.pos[2];
        memcpy(l->size, before.size, sizeof(l->size));
        memcpy(l->crop, before.crop, sizeof(l->crop));
    } else {
        l->stale = 1;
        layer_refreshtexture(slot);
    }
    layer_loadeditor(l);
    uint8_t *now = layer_blob(slot, &newsize);
    if (old && now)
        event_queue(event_layerdata, slot, (uint32_t)oldsize, old, (uint32_t)newsize, now);
    else
        sys_log("layer_processraster: no undo record for layer[%d]", slot);
    sys_free(old);
    sys_free(now);
    layer_gentex.store(0);
    project_updatecanvas(0, canvas_view, (uint32_t)project_layergroup);
}
