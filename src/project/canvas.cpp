// Canvas composition. The full job fills a field with the canvas fill value,
// blends every visible layer's depth map into it in slot order and clamps;
// the rectangle job does the same over the edited rectangle from the cached
// maps. Both hand their image to the main thread through a pending pointer
// and never touch the installed canvas. The fill, selection mix and clamp
// passes run in row bands like the blends.
#include "project/canvas.h"

#include "cam/genflags.h"
#include "img/bands.h"
#include "img/blend.h"
#include "img/resample.h"
#include "project/layer.h"
#include "project/layerdepth.h"
#include "project/project.h"
#include "project/transform.h"
#include "render/draw.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "sys/waits.h"

#include <cmath>
#include <cstdio>
#include <cstring>

project_canvasjobrecord project_canvasjob;
project_canvasrecord project_canvas;
std::atomic<uint32_t> jobmode{0};
std::atomic<uint32_t> jobrebuild{0};
image *(*canvas_gendepth)(int slot, int width, int height) = layer_gendepth;
// A save of a large project or a layer generator may take minutes.
double canvas_waitlimit = 300.0;

const canvas_modeinfo canvas_modetable[canvas_modes] = {
    {"none", false, false, false},
    {"CANVAS_VIEW", true, false, true},
    {"CANVAS_OPERATION", false, false, false},
    {"CANVAS_TRACE", false, false, false},
    {"CANVAS_TOLAYER", false, false, false},
    {"CANVAS_ONELAYER", true, true, false},
};

static const canvas_modeinfo &canvas_info(uint32_t mode)
{
    return canvas_modetable[mode < canvas_modes ? mode : 0];
}

// The stale flag is set by edits on the main thread and cleared by the jobs.
static uint32_t canvas_stale(project_layer *l)
{
    return std::atomic_ref<uint32_t>(l->stale).load(std::memory_order_acquire);
}

static void canvas_clearstale(project_layer *l)
{
    std::atomic_ref<uint32_t>(l->stale).store(0, std::memory_order_release);
}

// Adds delta to the count of compositions in progress; the new count.
static int canvas_addinprogress(int delta)
{
    sys_mutexguard g(project_mutex);
    return project_canvasjob.inprogress += delta;
}

// One row band of the fill, selection mix or clamp pass.
enum canvas_passop { canvas_fillpass, canvas_mixpass, canvas_clamppass };

struct canvas_band {
    float *pixels;      // the field, whole
    const float *other; // mix: the cached map
    const float *weight; // mix: the selection
    float value;        // fill value
    int width;
    int op;
    int row0, row1;
    int done;
};

static void job_canvasband(void *arg)
{
    canvas_band *b = (canvas_band *)arg;
    size_t i0 = (size_t)b->row0 * b->width, i1 = (size_t)b->row1 * b->width;
    float *p = b->pixels;
    switch (b->op) {
    case canvas_fillpass:
        std::fill(p + i0, p + i1, b->value);
        break;
    case canvas_mixpass:
        for (size_t k = i0; k < i1; k++) {
            float s = b->weight[k];
            p[k] = s * p[k] + (1.0f - s) * b->other[k];
        }
        break;
    default:
        img_clampunit((int)(i1 - i0), p + i0);
        break;
    }
    img_banddone(b->done);
}

static constexpr img_bandrule canvas_bandrule = {img_bandsplusone, 0, true, false, 0};

static void canvas_pass(image *img, int op, float value, const image *other = nullptr, const image *weight = nullptr)
{
    canvas_band proto = {(float *)img->pixels,
                         other ? (const float *)other->pixels : nullptr,
                         weight ? (const float *)weight->pixels : nullptr,
                         value, img->width, op, 0, 0, 0};
    img_bands<canvas_band>(canvas_bandrule, 0, img->height, "canvaspass%d[%d-%d]", job_canvasband,
                           [&](const img_bandrange &) { return proto; });
}

void project_updatecanvas(uint32_t rebuildmodels, uint32_t mode, uint32_t group)
{
    project_canvasjobrecord &c = project_canvasjob;
    if (c.updating.load())
        sys_log("!!! project_updatecanvas() while already updating !!!");
    c.rebuildmodels = rebuildmodels;
    c.mode = mode;
    c.group = group;
    c.requested.store(1, std::memory_order_release);
    project_countgroups();
}

void project_countgroups()
{
    uint32_t *count = project_canvasjob.groupcount;
    memset(count, 0, sizeof(project_canvasjob.groupcount));
    for (const project_layer &l : project.layers)
        for (int g = 0; g < project_maxgroups; g++)
            count[g] += (l.groups >> g) & 1u;
}

int project_canvassize(uint32_t mode, int32_t *width, int32_t *height)
{
    const float *size = project.size;
    float scale = project.scale;
    float w, h;
    if (canvas_info(mode).quality) {
        project.ppi = project.ppi <= canvas_minppi ? canvas_minppi
                      : project.ppi >= canvas_maxppi ? canvas_maxppi
                                                      : project.ppi;
        cfg_seti(cfg_ppi, project.ppi);
        float Q = cfg_getf(cfg_canvasquality);
        float q = (1.0f - Q) * 0.1f + Q;
        float ppi = (float)project.ppi;
        w = size[0] * ppi * scale * q;
        h = ppi * size[1] * scale * q;
        sys_log("canvas:%dx%d size:%fx%f ppi:%d scale:%f quality:%f", (int)w, (int)h, size[0], size[1],
                project.ppi, scale, q);
    } else {
        float ppi = (float)project.ppi;
        w = size[0] * ppi * scale;
        h = size[1] * ppi * scale;
        sys_log("generating %dx%d = size:%fx%f ppi:%d scale:%f quality:%f", (int)w, (int)h, size[0], size[1],
                project.ppi, scale, 0.0);
    }
    // NaN, negative and huge sizes all fail here before any conversion to int.
    if (!(w >= 1.0f && h >= 1.0f) || (double)(int64_t)w * (double)(int64_t)h > canvas_maxpixels ||
        w > 2e9f || h > 2e9f) {
        sys_log("oversized canvas heightmap = %dx%d", w < 2e9f && w >= 0 ? (int)w : -1,
                h < 2e9f && h >= 0 ? (int)h : -1);
        return 0;
    }
    *width = (int32_t)w;
    *height = (int32_t)h;
    if (canvas_info(mode).quality) {
        project.pixelwidth = *width;
        project.pixelheight = *height;
    }
    return 1;
}

// A composition that produces nothing: busy cleared, the count given back,
// and for a full one the main thread told (1 refused with the box, 2 a
// failure already logged), which then clears the job's mode.
static void canvas_giveup(uint32_t mode, uint32_t report)
{
    if (mode == canvas_operation)
        cam_canvasfailed.store(1);
    project_canvasjob.updating.store(0, std::memory_order_release);
    canvas_addinprogress(-1);
    if (report)
        project_canvasjob.refused.store(report, std::memory_order_release);
}

static bool canvas_busywork()
{
    return project.generating[0] || project.generating[1] || project_savebusy;
}

static image *canvas_filled(const char *name, int w, int h)
{
    image *img = img_allocfloat(name, w, h);
    if (img)
        canvas_pass(img, canvas_fillpass, project.zfill);
    return img;
}

static bool canvas_takes(const project_layer &l, uint32_t group)
{
    return l.type != layer_free && l.type != layer_paths && !(l.flags & layer_hidden) &&
           (l.groups >> (group % 32)) & 1u;
}

// The depth map of one layer for a w x h composition: the cache when it is
// current, else a new map that in mode 1 becomes the cache. owned tells the
// caller to free what it got.
static image *canvas_layermap(int slot, uint32_t mode, int w, int h, const image *selection, bool &owned)
{
    project_layer *l = &project.layers[slot];
    owned = false;
    image *cache = l->depth;
    sys_debuglog("layer[%d] stale:%u", slot, canvas_stale(l));
    if (project.size[2] == project_canvasjob.lastzsize && cache && !canvas_stale(l) && cache->width == w &&
        cache->height == h) {
        sys_debuglog("layer[%d] using cached depthmap", slot);
        return cache;
    }
    image *map = canvas_gendepth(slot, w, h);
    if (!map)
        return nullptr;
    int tool = project_rastertool;
    if (!canvas_info(mode).caches) {
        owned = true;
        return map;
    }
    if (!selection || !cache || tool == 7 || tool < 2) {
        img_free(cache);
        l->depth = map;
        canvas_clearstale(l);
        sys_debuglog("layer[%d] updated cached depthmap", slot);
        return map;
    }
    // An edit through a selection previews on the selected part only; the
    // cache keeps the depth from before the edit.
    if (cache->width != w || cache->height != h) {
        sys_log("rescaling layerdepth: %dx%d -> %dx%d", cache->width, cache->height, w, h);
        image *scaled = img_rescalescalar(cache, w, h);
        if (!scaled) {
            owned = true;
            return map;
        }
        img_free(cache);
        l->depth = cache = scaled;
    }
    if (selection->width == w && selection->height == h)
        canvas_pass(map, canvas_mixpass, 0.0f, cache, selection);
    else
        sys_log("job_updatecanvas: selection %dx%d is not the canvas's %dx%d, mix left out", selection->width,
                selection->height, w, h);
    owned = true;
    return map;
}

void job_updatecanvas(void *arg)
{
    project_canvasjobrecord &c = project_canvasjob;
    uint32_t group = (uint32_t)(uintptr_t)arg;
    auto clear = [&c] {
        return !c.pendingcanvas.load(std::memory_order_acquire) && !c.pendingrect.load(std::memory_order_acquire) &&
               !canvas_busywork();
    };
    if (!clear())
        sys_log("!!!!!! job_updatecanvas: %d updates already in progress !!!!!!!", canvas_addinprogress(0));
    const bool ready = sys_waituntil(clear, canvas_waitlimit, "job_updatecanvas");
    int count = canvas_addinprogress(1);
    uint32_t mode = jobmode.load();
    if (!ready) {
        canvas_giveup(mode, 2);
        return;
    }
    // What the generators compare with their queuing time: the layers are
    // read from here on.
    const double composed = sys_seconds();
    sys_log("job_updatecanvas... (mode:%u cnt:%d)", mode, count);
    const image *selection = selectionmap;
    if (canvas_info(mode).quality) {
        const float *s = project.size;
        float dx = s[0] - c.lastsize[0], dy = s[1] - c.lastsize[1], dz = s[2] - c.lastsize[2];
        if (dx * dx + dy * dy + dz * dz > 0.0001f)
            jobrebuild.store(1);
        memcpy(c.lastsize, s, sizeof(c.lastsize));
    }
    int32_t w = 0, h = 0;
    if (!project_canvassize(mode, &w, &h)) {
        canvas_giveup(mode, 1);
        return;
    }
    c.starttime = sys_seconds();
    image *canvas = canvas_filled("newcanvas", w, h);
    if (!canvas) {
        sys_log("job_updatecanvas: no %dx%d canvas, nothing composed", w, h);
        canvas_giveup(mode, 2);
        return;
    }
    for (int slot = 0; slot < project_maxlayers; slot++) {
        project_layer *l = &project.layers[slot];
        if (canvas_info(mode).onelayer ? slot != project_selectedlayer : !canvas_takes(*l, group))
            continue;
        bool owned = false;
        image *map = canvas_layermap(slot, mode, w, h, selection, owned);
        if (!map)
            continue;
        img_scalarblend(canvas, map, canvas_info(mode).onelayer ? img_blendmix : l->blend, 1.0f);
        sys_debuglog("...blended layer[%d] (%3.3fs elapsed)", slot, sys_seconds() - c.starttime);
        if (owned)
            img_free(map);
    }
    canvas_pass(canvas, canvas_clamppass, 0.0f);
    c.lastzsize = project.size[2];
    c.composedgroup = group;
    c.composed = composed;
    c.pendingcanvas.store(canvas, std::memory_order_release);
    c.updating.store(0, std::memory_order_release);
    sys_log("...job_updatecanvas done (elapsed %.3fs)", sys_seconds() - c.starttime);
}

// Copies [x0, x1) x [y0, y1) of src, inside it, into a new "%s.dr" image.
static image *canvas_copyrect(const image *src, const int32_t *r)
{
    char name[img_maxname];
    snprintf(name, sizeof(name), "%.250s.dr", src->name);
    int w = r[2] - r[0], h = r[3] - r[1];
    size_t bpp = (size_t)src->bytesperpixel;
    image *dst = img_alloc(name, w, h, src->bytesperpixel);
    if (!dst)
        return nullptr;
    for (int y = 0; y < h; y++)
        memcpy(dst->pixels + (size_t)y * w * bpp, src->pixels + ((size_t)(r[1] + y) * src->width + r[0]) * bpp,
               (size_t)w * bpp);
    return dst;
}

// Waits (bounded) for the installer and any running composition, then
// claims the busy flag; false when the wait gave up or the program quits.
static bool canvas_claimrect()
{
    project_canvasjobrecord &c = project_canvasjob;
    return sys_waituntil(
        [&c] {
            if (c.pendingcanvas.load(std::memory_order_acquire) || c.pendingrect.load(std::memory_order_acquire) ||
                project_savebusy)
                return false;
            uint32_t clear = 0;
            return c.updating.compare_exchange_strong(clear, 1);
        },
        canvas_waitlimit, "job_updatecanvasrect");
}

// Makes the layer's cache fit to be read over r: a cache of another size
// than the canvas is generated again whole, a stale raster cache inside r.
static void canvas_freshcache(int slot, const int32_t *r, int cw, int ch)
{
    project_layer *l = &project.layers[slot];
    if (l->depth && (l->depth->width != cw || l->depth->height != ch)) {
        image *map = canvas_gendepth(slot, cw, ch);
        img_free(l->depth);
        l->depth = map;
        if (map)
            canvas_clearstale(l);
        return;
    }
    if (canvas_stale(l)) {
        int32_t copy[4] = {r[0], r[1], r[2], r[3]};
        layer_generatedepth(slot, copy);
    }
}

void job_updatecanvasrect(void *arg)
{
    project_canvasjobrecord &c = project_canvasjob;
    if (!arg) {
        sys_log("job_updatecanvasrect: no rectangle given");
        return;
    }
    const canvas_rectrequest request = *(const canvas_rectrequest *)arg;
    delete (canvas_rectrequest *)arg;
    const int32_t *r = request.rect;
    int w = r[2] - r[0], h = r[3] - r[1];
    sys_debuglog("update canvas rect = %dx%d", w, h);
    if (w < 1 || h < 1)
        return;
    if (!canvas_claimrect())
        return;
    canvas_addinprogress(1);
    sys_debuglog("job_updatecanvasrect...");
    c.starttime = sys_seconds();
    int cw = project.pixelwidth, ch = project.pixelheight;
    if (r[0] < 0 || r[1] < 0 || r[2] > cw || r[3] > ch) {
        sys_log("job_updatecanvasrect: rect (%d,%d)-(%d,%d) outside the %dx%d canvas", r[0], r[1], r[2], r[3], cw,
                ch);
        canvas_giveup(canvas_none, 0);
        return;
    }
    image *out = canvas_filled("newcanvasrect", w, h);
    if (!out) {
        sys_log("job_updatecanvasrect: no %dx%d rectangle, nothing composed", w, h);
        canvas_giveup(canvas_none, 0);
        return;
    }
    uint32_t group = (uint32_t)project_layergroup;
    for (int slot = 0; slot < project_maxlayers; slot++) {
        project_layer *l = &project.layers[slot];
        if (!canvas_takes(*l, group))
            continue;
        canvas_freshcache(slot, r, cw, ch);
        if (!l->depth)
            continue;
        image *part = canvas_copyrect(l->depth, r);
        if (!part)
            continue;
        img_scalarblend(out, part, l->blend, 1.0f);
        img_free(part);
        sys_debuglog("...blended layer[%d] rect[%dx%d] (elapsed %.3fs)", slot, w, h, sys_seconds() - c.starttime);
    }
    canvas_pass(out, canvas_clamppass, 0.0f);
    memcpy(c.rect, r, sizeof(c.rect));
    c.pendingrect.store(out, std::memory_order_release);
    if (request.rebuild)
        jobrebuild.store(1);
    c.updating.store(0, std::memory_order_release);
    sys_log("...job_updatecanvasrect done (elapsed %.3fs)", sys_seconds() - c.starttime);
}

static void canvas_freemodels(int32_t *models)
{
    for (int i = 0; i < 6; i++)
        if (models[i] != -1) {
            r_modelfree(models[i]);
            models[i] = -1;
        }
}

int project_freecanvas(int canvas, int mesh, int models, int simulation)
{
    (void)mesh; // the display mesh belongs to the viewport, which frees it with its mesh table
    if (!sys_waitunlocked([] { return !project.generating[0] && !project.generating[1]; }, canvas_freelimit,
                          "project_freecanvas")) {
        sys_log("project_freecanvas: a layer generator still runs, the canvas is kept");
        return 0;
    }
    project_canvasrecord &pc = project_canvas;
    if (canvas && pc.img) {
        img_free(pc.img);
        pc.img = nullptr;
        sys_log("freed canvas image");
    }
    if (canvas && pc.depthtexture != -1) {
        r_freetexture(pc.depthtexture);
        pc.depthtexture = -1;
    }
    if (models) {
        sys_log("removing canvas models...");
        canvas_freemodels(pc.models);
        sys_log("...removed canvas models");
    }
    if (!simulation)
        return 1;
    if (pc.simulation) {
        img_free(pc.simulation);
        pc.simulation = nullptr;
        sys_log("freed simulation image");
    }
    if (pc.simproxy) {
        img_free(pc.simproxy);
        pc.simproxy = nullptr;
        sys_log("freed simulation proxy image");
    }
    sys_log("removing simulation models...");
    canvas_freemodels(pc.simmodels);
    sys_log("...removed simulation models");
    if (pc.simtexture != -1) {
        sys_log("removing simulation depth texture...");
        r_freetexture(pc.simtexture);
        pc.simtexture = -1;
        sys_log("...removed simulation depth texture");
    }
    if (pc.simproxytexture != -1) {
        sys_log("removing simulation proxy texture...");
        r_freetexture(pc.simproxytexture);
        pc.simproxytexture = -1;
        sys_log("...removed simulation proxy texture");
    }
    return 1;
}

void project_freeopmodels()
{
    for (projop &op : project.ops)
        for (int32_t *m : {&op.contmodel, &op.meshmodel, &op.pathmodel})
            if (*m != -1) {
                r_modelfree(*m);
                *m = -1;
            }
}
