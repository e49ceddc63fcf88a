// The layer display texture and the canvas slice geometry. Refresh jobs are
// served strictly one after another in the order they were queued: the
// starter hands each a ticket and a job waits until the tickets before it
// have ended, so any number of queued jobs all finish and the texture left
// is the last one asked for. The upload borrows the workers' GL context
// between frames (sys_makecurrent), after the viewport has let go of the
// previous texture.
#include "project/layertex.h"

#include "img/convolve.h"
#include "img/image.h"
#include "img/resample.h"
#include "project/project.h"
#include "project/undo.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/text.h"
#include "render/texture.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>

std::atomic<int32_t> layer_texrefreshes{0};
std::atomic<int32_t> layer_activetexture{-1};
int32_t layer_shading = 1;
int32_t layer_shadefullres = 0;
int32_t layer_texturefilter = 1;

// Tickets: the next one handed out and the one whose job may run now.
static std::atomic<uint32_t> tex_nextticket{0};
static std::atomic<uint32_t> tex_serving{0};
static std::mutex tex_startlock;

constexpr int tex_slotbits = 8; // a layer slot fits below the ticket

int layer_refreshtexture(int slot)
{
    if (slot < 0 || slot >= project_maxlayers) {
        sys_log("layer_refreshtexture: no layer slot %d", slot);
        return -1;
    }
    const project_layer &l = project.layers[slot];
    if (l.size[0] == 0.0f || l.size[1] == 0.0f) {
        sys_log("cancelled zero-sized layer texture update");
        return -1;
    }
    sys_log("refreshing layer texture...");
    // The ticket and the queue position are taken together, so a ticket is
    // never handed to a job that was not queued.
    std::lock_guard<std::mutex> g(tex_startlock);
    if (!job_refreshtexture)
        return -1;
    uint32_t ticket = tex_nextticket.load();
    layer_texrefreshes.fetch_add(1);
    uintptr_t arg = (uintptr_t)ticket << tex_slotbits | (uintptr_t)slot;
    int job = sys_threadjob("layerrefreshtex", job_refreshtexture, (void *)arg);
    if (job < 0) {
        layer_texrefreshes.fetch_sub(1);
        return -1;
    }
    tex_nextticket.store(ticket + 1);
    return job;
}

// ------------------------------------------------------------ shading

// sqrt by halving the float's exponent in its bits: within about 6 % of the
// root, and cheap enough for every pixel of a large layer.
static float tex_sqrtbits(float v)
{
    int32_t bits;
    memcpy(&bits, &v, sizeof(bits));
    bits = ((bits - 0x800000) >> 1) + 0x20000000;
    float r;
    memcpy(&r, &bits, sizeof(r));
    return r;
}

static image *tex_prewitt(const image *src, const float (&rows)[3][3])
{
    image *k = img_alloc("prw", 3, 3, 4, &rows[0][0]);
    if (!k)
        return nullptr;
    image *g = img_scalarconvo(src, k, 1, -99999.0f, 0.0f);
    img_free(k);
    return g;
}

image *layer_shadefield(const image *src, int tw, int th)
{
    if (!img_isscalar(src, "layer_shadefield") || tw < 1 || th < 1)
        return nullptr;
    image *work = src->width > tw || src->height > th ? img_rescalescalar(src, tw, th) : img_copy(src);
    if (!work)
        return nullptr;
    sys_debuglog("apply prewitt...");
    static const float gxrows[3][3] = {{1, 0, -1}, {1, 0, -1}, {1, 0, -1}};
    static const float gyrows[3][3] = {{1, 1, 1}, {0, 0, 0}, {-1, -1, -1}};
    image *gx = tex_prewitt(work, gxrows), *gy = tex_prewitt(work, gyrows);
    if (!gx || !gy) {
        img_free(gx);
        img_free(gy);
        img_free(work);
        return nullptr;
    }
    float *x = (float *)gx->pixels;
    const float *y = (const float *)gy->pixels, *v = (const float *)work->pixels;
    size_t n = (size_t)gx->width * gx->height;
    for (size_t i = 0; i < n; i++)
        x[i] = 5.0f * tex_sqrtbits(x[i] * x[i] + y[i] * y[i]) + 0.3f * v[i];
    sys_debuglog("...blended with layer");
    img_free(gy);
    img_free(work);
    return gx;
}

static const float tex_black[3] = {0.0f, 0.0f, 0.0f};
static const float tex_white[3] = {1.0f, 1.0f, 1.0f};

image *layer_shadeimage(const image *src, int slot)
{
    if (!img_isscalar(src, "layer_shadeimage"))
        return nullptr;
    const project_layer &l = project.layers[slot];
    image *field;
    if (layer_shading) {
        sys_debuglog("layer[%d].size = %fx%f", slot, l.size[0], l.size[1]);
        double f = layer_shadefullres ? 1.0 : 0.5, ppi = project.ppi;
        double tw = std::trunc(l.size[0] * project.scale * ppi * f);
        double th = std::trunc(project.scale * l.size[1] * ppi * f);
        // At least a pixel: a layer smaller than that on screen still shows.
        tw = std::isfinite(tw) ? std::clamp(tw, 1.0, 65536.0) : 1.0;
        th = std::isfinite(th) ? std::clamp(th, 1.0, 65536.0) : 1.0;
        field = layer_shadefield(src, (int)tw, (int)th);
    } else {
        field = img_copy(src);
        if (field) {
            float *p = (float *)field->pixels;
            for (size_t i = 0; i < (size_t)field->width * field->height; i++)
                p[i] *= p[i];
        }
    }
    if (!field)
        return nullptr;
    image *colour = img_colorize(field, tex_black, tex_white);
    sys_debuglog("...colorized layer");
    img_free(field);
    return colour;
}

// ------------------------------------------------------------ the job

// Ends the job's turn on every path out of it: the next ticket may run and
// the job is no longer counted.
struct tex_turn {
    ~tex_turn()
    {
        tex_serving.fetch_add(1, std::memory_order_release);
        layer_texrefreshes.fetch_sub(1);
    }
};

// The layer's content as a scalar field; owned is set when the caller must
// free it. Null for a layer without raster content.
static const image *tex_source(int slot, bool &owned)
{
    const project_layer &l = project.layers[slot];
    owned = false;
    if (l.type == layer_raster)
        return l.data.img;
    if (l.type != layer_text)
        return nullptr;
    sys_log("layerrefreshtexture: text_getimage[%d]...", l.data.text);
    image *text = text_getimage(l.data.text, 1);
    sys_log("...layerrefreshtexture: text_getimage[%d]", l.data.text);
    owned = true;
    return text ? img_scalarize(text, 1.0f, 0.0f) : nullptr;
}

// Uploads the colour image once the viewport has released the previous
// texture; nothing when the program quits first.
static void tex_upload(const image *colour)
{
    while (layer_activetexture.load(std::memory_order_acquire) >= 0)
        if (sys_quit.load())
            return;
        else
            SDL_Delay(50);
    if (!sys_makecurrent(1))
        sys_log("sys_makecurrent: %s", SDL_GetError());
    char name[32];
    snprintf(name, sizeof(name), "activelayer%04X",
             (unsigned)((int64_t)std::trunc(969969.0 * sys_time.load()) & 0xFFFF));
    int tex = img_texture(name, colour, 0, layer_texturefilter, 1);
    // The main thread draws with it from its own context next frame.
    glFinish();
    if (!sys_makecurrent(0))
        sys_log("sys_makecurrent: %s", SDL_GetError());
    layer_activetexture.store(tex, std::memory_order_release);
}

void job_layerrefreshtex(void *arg)
{
    uintptr_t a = (uintptr_t)arg;
    int slot = (int)(a & ((1u << tex_slotbits) - 1));
    uint32_t ticket = (uint32_t)(a >> tex_slotbits);
    // Every earlier job ends its turn on all of its paths, so this wait ends.
    while (tex_serving.load(std::memory_order_acquire) != ticket)
        SDL_Delay(1);
    tex_turn turn;
    if (slot >= project_maxlayers)
        return;
    double start = sys_seconds();
    bool owned;
    const image *src = tex_source(slot, owned);
    if (!src)
        return;
    image *colour = layer_shadeimage(src, slot);
    if (owned)
        img_free((image *)src);
    sys_log("job_refreshtexture processing done (elapse:%f)", sys_seconds() - start);
    if (!colour)
        return;
    tex_upload(colour);
    img_free(colour);
}

// ------------------------------------------------------------ slices

// One vertex of a slice: position, texture coordinate over the canvas and
// the 16-bit height in the first colour channel.
static void slice_vertex(const float *p, const float *size, uint16_t height16)
{
    r_currentvertex.r = (uint8_t)(height16 & 0xFF);
    r_currentvertex.g = (uint8_t)(height16 >> 8);
    r_currentvertex.b = 0;
    r_currentvertex.a = 0;
    r_texcoord(p[0] / size[0], 1.0f - p[1] / size[1]);
    r_vertex(p[0], p[1], p[2]);
}

// The four corners of the plane across axis at position t (0..1).
static void slice_corners(int axis, float t, const float *size, float (*c)[3])
{
    const int u = axis == 0 ? 1 : 0, v = axis == 2 ? 1 : 2;
    const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int k = 0; k < 4; k++) {
        c[k][axis] = t * size[axis];
        c[k][u] = uv[k][0] * size[u];
        c[k][v] = uv[k][1] * size[v];
    }
}

// A depth-map's slices (flip) carry the depth under the top instead of the
// height: the shader keeps a depth-map's slice where the slice is at or past
// the cut, so a slice at the top must read depth 0 and the bottom one 1,
// which it always keeps as the floor of a cut through.
static void slice_quad(const float (*c)[3], const float *size, int flip)
{
    static const int order[6] = {0, 1, 2, 2, 3, 0};
    for (int k : order) {
        double h = std::clamp((double)c[k][2] / size[2], 0.0, 1.0);
        if (flip)
            h = 1.0 - h;
        slice_vertex(c[k], size, (uint16_t)std::lround(h * 65535.0));
    }
}

static void slice_endcap(const float (*c)[3], const float *size, int flip)
{
    static const int order[6] = {0, 1, 2, 2, 3, 0};
    static const float tex[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    uint16_t value = flip ? 255 : 0;
    for (int k : order) {
        r_currentvertex.r = r_currentvertex.b = (uint8_t)(value & 0xFF);
        r_currentvertex.g = r_currentvertex.a = (uint8_t)(value >> 8);
        r_texcoord(tex[k][0], tex[k][1]);
        r_vertex(c[k][0], c[k][1], c[k][2]);
    }
}

void project_canvasslices(int n, int flip, int direction)
{
    if (direction < 0 || direction > 5) {
        sys_log("project_canvasslices: no direction %d", direction);
        return;
    }
    const float *size = project.size;
    if (!(size[0] > 0.0f && size[1] > 0.0f && size[2] > 0.0f)) {
        sys_log("project_canvasslices: canvas %fx%fx%f has no volume", size[0], size[1], size[2]);
        return;
    }
    int axis = direction % 3;
    // Directions 3..5 start at the far face; flip starts at the other one.
    bool reverse = (direction >= 3) != (flip != 0);
    r_begin(r_triangles);
    for (int i = 0; i <= n; i++) {
        float f = n > 0 ? std::clamp((float)i / (float)n, 0.0f, 1.0f) : 0.0f;
        float c[4][3];
        slice_corners(axis, reverse ? 1.0f - f : f, size, c);
        slice_quad(c, size, flip);
    }
    if (axis != 2) {
        float c[4][3];
        slice_corners(axis, reverse ? 0.0f : 1.0f, size, c);
        slice_endcap(c, size, flip);
    }
    r_end();
}
