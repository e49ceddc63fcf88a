// Layer depth generation. The full map and the rectangle share one
// preparation of the raster (crop, preview, tilt, removed bottom) and one
// stamp, so a rectangle rebuilt after a brush edit holds exactly what the
// next full composition puts there: the Z fill outside the footprint, tilt
// flipped for mirrors and subtracted for inverted layers, no clamping before
// the heights, the smoothing radius in full-resolution canvas pixels.
#include "project/layerdepth.h"

#include "img/blur.h"
#include "img/adjust.h"
#include "img/image.h"
#include "img/levels.h"
#include "img/resample.h"
#include "img/stamp.h"
#include "img/tile.h"
#include "project/layer.h"
#include "project/modeldepth.h"
#include "project/project.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

constexpr float layer_nodatalow = -99999.0f;
constexpr float layer_nodatahigh = 99999.0f;
constexpr float layer_stampall = -9999.0f;
constexpr float layer_rasterbottom = 1e-6f;
constexpr float layer_textbottom = 0.0001f;
constexpr float layer_tilttest = 0.0001f;

// The canvas quality's reduction of a composition's pixel size.
static float layer_quality()
{
    float q = cfg_getf(cfg_canvasquality);
    return (1.0f - q) * 0.1f + q;
}

static float layer_jobquality()
{
    return jobmode == 1 ? layer_quality() : 1.0f;
}

// Map pixels per full-resolution canvas pixel for a map w pixels wide (at
// most 1): the smoothing radius is given in full-resolution pixels, so the
// whole map and a rectangle of the installed canvas blur alike.
static float layer_mapscale(int w)
{
    double full = (double)project.size[0] * project.scale * project.ppi;
    double k = (double)w / full;
    return k > 0.0 && k < 1.0 ? (float)k : 1.0f;
}

// The layer's frame in pixels of a w x h target: centre (rows from the top),
// extent (negative when mirrored), base height and range, the crop in the
// image's own fractions (rows from the top) and whether it crops.
struct layer_frame {
    float centre[3];
    float extent[3];
    float crop[4];
};

static void layer_setframe(const project_layer *l, int w, int h, layer_frame &f)
{
    const float *cs = project.size;
    f.centre[0] = l->pos[0] / cs[0] * (float)w;
    f.centre[1] = (1.0f - l->pos[1] / cs[1]) * (float)h;
    f.extent[0] = l->size[0] / cs[0] * (float)w;
    f.extent[1] = l->size[1] / cs[1] * (float)h;
    float z = l->pos[2] / cs[2], dz = l->size[2] / cs[2];
    if (l->blend == 1) // "Subtractive"
        z = (1.0f - z) - dz;
    f.centre[2] = z;
    f.extent[2] = dz;
    memcpy(f.crop, l->crop, sizeof(f.crop));
    if (l->flags & layer_mirrorx) {
        f.extent[0] = -f.extent[0];
        f.crop[0] = 1.0f - l->crop[2];
        f.crop[2] = 1.0f - l->crop[0];
    }
    if (l->flags & layer_mirrory) {
        f.extent[1] = -f.extent[1];
    } else {
        f.crop[1] = 1.0f - l->crop[3];
        f.crop[3] = 1.0f - l->crop[1];
    }
}

static bool layer_cropped(const float *crop)
{
    return (crop[2] - crop[0]) * (crop[3] - crop[1]) < 1.0f;
}

// Replaces *img by next when next exists (freeing the old one); false when
// next is null, *img then unchanged.
static bool layer_replace(image *&img, image *next)
{
    if (!next)
        return false;
    img_free(img);
    img = next;
    return true;
}

// Hooks for the expand/contract and draft-angle previews (tools 4 and 5),
// the brush strokes and the selection mix of the raster editor: nothing is
// changed until that editor supplies them.
static void layer_previewinflate(const project_layer *, image *&, layer_frame &) {}
static void layer_brushstrokes(const project_layer *, image *&, int, int) {}
static void layer_selectionmix(image *, const image *, int, int) {}

// The active raster-edit tool's preview on the working image, for the
// selected layer only: editing one layer leaves the others' maps alone.
static void layer_preview(int slot, image *&img, layer_frame &f, float q, float &tiltk)
{
    if (slot != project_selectedlayer)
        return;
    const project_layer *l = &project.layers[slot];
    float ppu = (float)project.ppi * project.scale;
    switch (project_rastertool) {
    case 3:
        layer_replace(img, img_levels(img, rasteredit_levelsmode,
                                      l->flags & layer_removebottom ? layer_rasterbottom : layer_nodatalow,
                                      &rasteredit_levels, rasteredit_levelspoints));
        break;
    case 6:
        layer_replace(img, img_scalartile2d(img, (int)rasteredit_tilecount, (int)rasteredit_tilerows,
                                            rasteredit_tilefill[0], rasteredit_tilefill[1]));
        break;
    case 7:
        if (layer_replace(img, img_scalartilecircular(img, (int)rasteredit_tilecount,
                                                      rasteredit_tileradius * ppu * q * 0.5f, 1.0f,
                                                      rasteredit_ringphase))) {
            f.extent[0] = std::copysign(2.0f * (float)img->width, f.extent[0]);
            f.extent[1] = std::copysign(2.0f * (float)img->height, f.extent[1]);
            tiltk = 1.0f / (q * ppu * 0.5f) / l->size[2];
        }
        break;
    case 8:
        layer_replace(img, img_scalarquantize(img, (int)std::lround(rasteredit_quantlevels), rasteredit_quanthq));
        break;
    default:
        break;
    }
}

// Tilt and removed bottom on the working image, in raw 0..1 values: an
// inverted layer stamps 1 - v, so its tilt is subtracted. Removed pixels
// become the low no-data mark, which every stamp threshold skips.
static void layer_tiltbottom(const project_layer *l, image *img, float tiltk, int removebottom)
{
    float ax = l->tilt[0], ay = l->tilt[1];
    bool tilted = std::min(std::fabs(ax), 45.0f) + std::min(std::fabs(ay), 45.0f) > layer_tilttest;
    bool invert = (l->flags & layer_invert) != 0;
    if (!tilted && !removebottom)
        return;
    image *t = nullptr;
    if (tilted) {
        if (l->flags & layer_mirrory)
            ax = -ax;
        if (l->flags & layer_mirrorx)
            ay = -ay;
        if (l->blend == 1)
            ax = -ax, ay = -ay;
        t = img_scalartilt(img->width, img->height, ax, ay, tiltk);
        if (!t)
            sys_log("layer_gendepth: no tilt plane for \"%s\", tilt left out", img->name);
    }
    float *d = (float *)img->pixels;
    const float *tp = t ? (const float *)t->pixels : nullptr;
    size_t n = (size_t)img->width * img->height;
    for (size_t i = 0; i < n; i++) {
        float v = d[i], tv = tp ? tp[i] : 0.0f;
        if (removebottom && (invert ? 1.0f - v : v) < layer_rasterbottom)
            d[i] = layer_nodatalow;
        else
            d[i] = invert ? v - tv : v + tv;
    }
    img_free(t);
}

// The working raster of a raster-layer: cropped, at most the footprint's
// size when shrink is set, previewed, tilted. Null (logged) on failure.
static image *layer_prepareraster(int slot, layer_frame &f, float q, bool shrink)
{
    const project_layer *l = &project.layers[slot];
    image *img = layer_cropped(f.crop) ? img_croprect(l->data.img, f.crop) : img_copy(l->data.img);
    if (!img)
        return nullptr;
    float ppu = (float)project.ppi * project.scale;
    float third = jobmode == 1 && (project_rastertool == 4 || project_rastertool == 5) ? 1.0f / 3.0f : 1.0f;
    if (shrink) {
        // At least one pixel each way: a footprint under a pixel still stamps.
        double ws = (double)l->size[0] * ppu * q * third, hs = (double)ppu * l->size[1] * q * third;
        int w = (int)std::clamp(ws, 1.0, 1e9), h = (int)std::clamp(hs, 1.0, 1e9);
        sys_log("layer[%d] canvas-space dimensions: %dx%d", slot, w, h);
        if ((double)w * h < (double)img->width * img->height)
            layer_replace(img, img_rescalescalar(img, w, h));
    }
    float tiltk = l->size[0] / (float)img->width / l->size[2];
    layer_preview(slot, img, f, q, tiltk);
    layer_tiltbottom(l, img, tiltk, (l->flags & layer_removebottom) != 0);
    if (slot == project_selectedlayer && (project_rastertool == 4 || project_rastertool == 5))
        layer_previewinflate(l, img, f);
    return img;
}

// The stamp threshold: everything, or with the bottom removed whatever
// lies above the canvas bottom (the removed marks lie far below).
static float layer_stampthreshold(const project_layer *l)
{
    if (!(l->flags & layer_removebottom) || (l->flags & layer_invert))
        return layer_stampall;
    float t = -l->pos[2] / l->size[2];
    return std::isfinite(t) ? t : layer_stampall;
}

// Stamps the prepared raster into map, whose pixel (0, 0) is the target's
// (ox, oy). shrink: the full map's reduction of rasters denser than it.
static void layer_stampraster(int slot, image *map, layer_frame f, float ox, float oy, float q, bool shrink)
{
    const project_layer *l = &project.layers[slot];
    image *img = layer_prepareraster(slot, f, q, shrink);
    if (!img)
        return;
    float pos[3] = {f.centre[0] - ox, f.centre[1] - oy, f.centre[2]};
    img_superstamp(img, map, pos, f.extent, l->rotation, layer_stampthreshold(l), (l->flags & layer_invert) != 0);
    img_free(img);
}

// The text's image as a scalar field, sizing a layer of no size from it.
static void layer_stamptext(int slot, image *map, const layer_frame &frame, float q)
{
    project_layer *l = &project.layers[slot];
    sys_log("textdepth: getimage[%d]...", slot);
    image *text = text_getimage(l->data.text, 1);
    sys_log("textdepth: ...getimage[%d]", slot);
    if (!text) {
        sys_log("layer_gendepth: no text image for layer[%d], Z fill kept", slot);
        return;
    }
    layer_frame f = frame;
    if (l->size[0] == 0.0f && l->size[1] == 0.0f) {
        float ppi = (float)project.ppi * ((jobmode & ~4u) == 1 ? q : 1.0f);
        l->size[0] = (float)(text->width + 1) / (project.scale * ppi);
        l->size[1] = (float)(text->height + 1) / (project.scale * ppi);
        sys_log("initialized null layer size to %fx%f", l->size[0], l->size[1]);
        layer_setframe(l, map->width, map->height, f);
    }
    image *img = img_scalarize(text, 1.0f, 0.0f);
    if (img && layer_cropped(f.crop))
        layer_replace(img, img_croprect(img, f.crop));
    if (!img)
        return;
    float t = l->flags & layer_removebottom ? layer_textbottom : layer_stampall;
    img_superstamp(img, map, f.centre, f.extent, l->rotation, t, (l->flags & layer_invert) != 0);
    img_free(img);
    img_clampunit(map->width * map->height, (float *)map->pixels);
}

static image *layer_filledmap(int slot, int w, int h, const char *format)
{
    char name[32];
    snprintf(name, sizeof(name), format, slot);
    image *map = img_allocfloat(name, w, h);
    if (!map)
        return nullptr;
    float *p = (float *)map->pixels;
    std::fill(p, p + (size_t)w * h, project.layers[slot].zfill);
    return map;
}

// The map blurred by radius pixels, under its own name; unchanged when the
// blur fails.
static void layer_smooth(image *&map, float radius)
{
    char name[img_maxname];
    memcpy(name, map->name, sizeof(name));
    if (layer_replace(map, img_scalarblur(map, radius, 1)))
        memcpy(map->name, name, sizeof(name));
}

image *layer_gendepth(int slot, int width, int height)
{
    if (slot < 0 || slot >= project_maxlayers) {
        sys_log("layer_gendepth: bad layer slot %d", slot);
        return nullptr;
    }
    double start = sys_seconds();
    project_layer *l = &project.layers[slot];
    if (l->type == layer_paths)
        return nullptr;
    if (l->type == layer_raster && !l->data.img) {
        sys_error("layer_generatedepth: null data for layer[%d]", slot);
        return nullptr;
    }
    image *map = layer_filledmap(slot, width, height, "laydepth%02d");
    if (!map)
        return nullptr;
    float q = layer_jobquality();
    layer_frame f;
    layer_setframe(l, width, height, f);
    switch (l->type) {
    case layer_model:
        if (l->data.mesh == -1) {
            sys_error("layer_gendepth: null model data for layer[%d]", slot);
            return map;
        }
        mdl_gendepth(slot, map);
        break;
    case layer_text:
        if (l->data.text == -1) {
            sys_error("layer_gendepth: null text data for layer[%d]", slot);
            return map;
        }
        layer_stamptext(slot, map, f, q);
        break;
    case layer_raster:
        layer_stampraster(slot, map, f, 0.0f, 0.0f, q, true);
        break;
    default:
        return map;
    }
    if (l->smooth)
        layer_smooth(map, layer_mapscale(width) * (float)l->smooth);
    sys_log("layergendepth[%d] @(%.1f %.1f %.1f) x(%.3f %.3f %.3f) r(%.2f %.2f %.2f)", slot, f.centre[0],
            f.centre[1], f.centre[2], f.extent[0], f.extent[1], f.extent[2], l->tilt[0], l->tilt[1], l->rotation);
    sys_debuglog("layer_gendepth[%d] (elapsed %.3fs)", slot, sys_seconds() - start);
    return map;
}

void layer_generatedepth(int slot, const int32_t *rect)
{
    if (slot < 0 || slot >= project_maxlayers || !rect) {
        sys_log("layer_generatedepth: bad layer slot %d", slot);
        return;
    }
    double start = sys_seconds();
    project_layer *l = &project.layers[slot];
    int w = rect[2] - rect[0], h = rect[3] - rect[1];
    if (l->type == layer_free)
        return;
    // Only a raster-layer's cache is rebuilt here; any other stale layer
    // keeps its flag so that the next full composition regenerates it.
    if (w < 1 || h < 1 || l->type != layer_raster)
        return;
    if (!l->data.img) {
        sys_error("layer_generatedepth: null data for layer[%d]", slot);
        return;
    }
    image *cached = l->depth;
    if (!cached) {
        sys_log("layer_generatedepth: layer[%d] has no cached depth map", slot);
        return;
    }
    sys_debuglog("layergendepthrect layer[%02d] %dx%d", slot, w, h);
    // The smoothing reaches r pixels: stamp a rectangle grown by that much
    // (within the canvas) and keep only its inner part.
    float q = layer_quality();
    float radius = l->smooth ? layer_mapscale(cached->width) * (float)l->smooth : 0.0f;
    int b = l->smooth ? (int)std::ceil(radius) + 2 : 0;
    int cw = cached->width, ch = cached->height;
    int x0 = std::max(0, rect[0] - b), y0 = std::max(0, rect[1] - b);
    int x1 = std::min(cw, rect[2] + b), y1 = std::min(ch, rect[3] + b);
    if (x1 <= x0 || y1 <= y0)
        return;
    image *part = layer_filledmap(slot, x1 - x0, y1 - y0, "rect%02d");
    if (!part)
        return;
    layer_frame f;
    layer_setframe(l, cw, ch, f);
    layer_stampraster(slot, part, f, (float)x0, (float)y0, q, false);
    image *before = nullptr; // the pre-stroke content, for the selection mix
    if (project_rastertool == 2)
        layer_brushstrokes(l, part, x0, y0);
    if (l->smooth)
        layer_smooth(part, radius);
    layer_selectionmix(part, before, x0, y0);
    // Only the asked rectangle (clipped to the canvas) goes back.
    int rx0 = std::max(0, rect[0]), ry0 = std::max(0, rect[1]);
    int rx1 = std::min(cw, rect[2]), ry1 = std::min(ch, rect[3]);
    if (!b) {
        img_simplestamp(part, cached, img_stampoffset(x0, y0));
    } else {
        const float *src = (const float *)part->pixels;
        float *dst = (float *)cached->pixels;
        for (int y = ry0; y < ry1; y++)
            memcpy(dst + (size_t)y * cw + rx0, src + (size_t)(y - y0) * part->width + (rx0 - x0),
                   sizeof(float) * (size_t)(rx1 - rx0));
    }
    img_free(part);
    sys_log("updated layer[%02d] depth @(%d,%d)(%d,%d) (elapsed %.4fs)", slot, rect[0], rect[1], rect[2], rect[3],
            sys_seconds() - start);
    std::atomic_ref<uint32_t>(l->stale).store(0, std::memory_order_release);
}
