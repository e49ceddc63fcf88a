// Distance fades and inflation. The fade runs in row bands through the ramp
// profile. The inflation runs on the GPU in sections sized toward 0.025 s
// each, borrowing the workers' context only per section so that frames and
// other GPU jobs run in between, or in row bands on the CPU, to which the
// GPU path also falls back when its resources cannot be made.
#include "img/fade.h"

#include "geom/profile.h"
#include "img/bands.h"
#include "img/convolve.h"
#include "img/gpuop.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <algorithm>
#include <cmath>
#include <cstring>

int img_inflateshader = -1;

// Uniform locations of img_inflate, looked up once when it is loaded.
static int inflate_uimage = -1, inflate_uisize = -1, inflate_umaxrad = -1;

// Per output pixel: the largest r^2 - d^2 over the offsets inside maxrad,
// r being the sampled value in pixels capped at maxrad.
const char img_inflatefragment[] = R"(#version 120
uniform sampler2D image;
uniform vec3 isize; // width, height, height scale
uniform float maxrad;
void main()
{
    vec2 at = gl_TexCoord[0].xy;
    float limit = maxrad * maxrad;
    float best = -99999.0;
    for (float y = -maxrad; y <= maxrad; y += 1.0) {
        for (float x = -maxrad; x <= maxrad; x += 1.0) {
            float d2 = x * x + y * y;
            if (d2 < limit) {
                float r = min(texture2D(image, at + vec2(x, y) / isize.xy).r * isize.z, maxrad);
                best = max(best, r * r - d2);
            }
        }
    }
    gl_FragColor = vec4(sqrt(max(best, 0.0)) / isize.z, 0.0, 0.0, 1.0);
}
)";

int img_loadinflateshader()
{
    const r_uniformref uniforms[] = {
        {&inflate_uimage, "image"}, {&inflate_uisize, "isize"}, {&inflate_umaxrad, "maxrad"}};
    img_inflateshader = r_loadshaderuniforms("img_inflate", img_fullscreenvertex, img_inflatefragment, uniforms);
    return img_inflateshader >= 0;
}

// Both operations: one band per idle worker (at least one, at most one per
// row), ceil(h / n) rows each, polled with 1 ms sleeps.
static constexpr img_bandrule fade_bandrule = {img_bandsidle, 0, true, false, 1};

// ---------------------------------------------------------------- fade

void job_distfade(void *arg)
{
    distfade_job *j = (distfade_job *)arg;
    size_t first = (size_t)j->row0 * j->width;
    int count = (j->row1 - j->row0) * j->width;
    float *a = j->a + first;
    const float *b = j->b + first;
    for (int i = 0; i < count; i++) {
        // The local radius factor shrinks the fade radius; none left fades to 0.
        float f = 1.0f - b[i] * j->radiusmod;
        float v = a[i];
        if (f <= 0.0f) {
            a[i] = 0.0f;
            continue;
        }
        if (f < 1.0f)
            v /= f;
        v = 1.0f - v * j->invradius;
        a[i] = v > 0.0f ? v : 0.0f;
    }
    arc_fit(count, a, j->bottomradius, j->topradius, j->rampwidth, j->rampheight);
    for (int i = 0; i < count; i++) {
        float g = a[i] * (1.0f - b[i] * j->gainmod) * j->gain;
        a[i] = g > 0.0f ? g : 0.0f;
    }
    img_banddone(j->done);
}

int img_scalardistfade(image *a, const image *b, float rampheight, float bottomradius, float topradius,
                       float rampwidth, float radius, float gain, float radiusmod, float gainmod)
{
    if (!img_isscalar(a, "img_scalardistfade") || !img_isscalar(b, "img_scalardistfade"))
        return -1;
    if (a->width != b->width || a->height != b->height) {
        sys_log("img_scalardistfade: modulation %dx%d does not match %dx%d", b->width, b->height, a->width,
                a->height);
        return -1;
    }
    if (!(radius > 0.0f && std::isfinite(radius))) {
        sys_log("img_scalardistfade: bad fade radius %f", radius);
        return -1;
    }
    distfade_job proto{};
    proto.a = (float *)a->pixels;
    proto.b = (const float *)b->pixels;
    proto.bottomradius = bottomradius;
    proto.topradius = topradius;
    proto.rampwidth = rampwidth;
    proto.invradius = 1.0f / radius;
    proto.gain = gain;
    proto.rampheight = rampheight;
    proto.radiusmod = radiusmod;
    proto.gainmod = gainmod;
    proto.width = a->width;
    img_bands<distfade_job>(fade_bandrule, 0, a->height, "shapefuncdistfade", job_distfade,
                            [&](const img_bandrange &) { return proto; });
    return 0;
}

// ---------------------------------------------------------------- inflation, CPU

// The largest dx >= 0 with dx^2 < limit, -1 when even 0 is not below it.
static int inflate_reach(float limit)
{
    if (!(limit > 0.0f))
        return -1;
    int m = (int)std::sqrt(limit);
    while ((float)(m + 1) * (m + 1) < limit)
        m++;
    while (m >= 0 && (float)m * m >= limit)
        m--;
    return m;
}

void job_inflatedist(void *arg)
{
    inflate_job *j = (inflate_job *)arg;
    const int w = j->width, h = j->height;
    const float hs = j->heightscale, limit = j->maxradius * j->maxradius;
    // Offsets past the field's size reach nothing.
    const int r = (int)std::min(std::ceil(j->maxradius), (float)std::max(w, h));
    for (int y = j->row0; y < j->row1; y++) {
        for (int x = 0; x < w; x++) {
            float best = -999999.0f;
            for (int dy = -std::min(r, y); dy <= std::min(r, h - 1 - y); dy++) {
                float dy2 = (float)(dy * dy);
                int m = inflate_reach(limit - dy2);
                const float *src = j->source + (size_t)(y + dy) * w + x;
                for (int dx = std::max(-m, -x); dx <= std::min(m, w - 1 - x); dx++) {
                    float v = src[dx] * hs;
                    best = std::max(best, v * v - ((float)(dx * dx) + dy2));
                }
            }
            j->destination[(size_t)y * w + x] = best < 0.0f ? 0.0f : std::sqrt(best) / hs;
        }
    }
    img_banddone(j->done);
}

static int inflate_cpu(image *field, float maxradius, float heightscale)
{
    double start = sys_seconds();
    const int w = field->width, h = field->height;
    sys_debuglog("CPU distance inflation img=(%d,%d)", w, h);
    float *destination = (float *)sys_calloc(w, h * 4);
    if (!destination && w > 0 && h > 0) {
        sys_log("img_scalarinflatedist: no buffer for %dx%d pixels", w, h);
        return -1;
    }
    inflate_job proto{};
    proto.width = w;
    proto.height = h;
    proto.source = (const float *)field->pixels;
    proto.destination = destination;
    proto.maxradius = maxradius;
    proto.heightscale = heightscale;
    int band = 0;
    img_bands<inflate_job>(fade_bandrule, 0, h, "inflatedist", job_inflatedist, [&](const img_bandrange &r) {
        sys_debuglog("starting smoothstepdistfade job[%d] = %d->%d", band++, r.row0, r.row1);
        return proto;
    });
    if (destination)
        memcpy(field->pixels, destination, (size_t)w * h * 4);
    sys_free(destination);
    sys_log("...CPU distance inflation complete (elapsed %.4fs)", sys_seconds() - start);
    return 0;
}

// ---------------------------------------------------------------- inflation, GPU

struct inflate_gpu {
    img_gputarget target;
    int input = -1; // texture slot
    float isize[3];
    float maxradius;
};

// Everything the sections draw with, bound again before each section on a
// worker, since other GPU jobs may use the workers' context in between.
static void inflate_bind(const inflate_gpu &g)
{
    r_defaultstate();
    img_gpubindtarget(g.target);
    glDisable(GL_DEPTH_TEST);
    r_bindtexture(g.input, 0);
    r_bindshader(img_inflateshader);
    r_shaderuniformint(inflate_uimage, 0);
    r_shaderuniformvec3(inflate_uisize, 1, g.isize);
    r_shaderuniformfloat(inflate_umaxrad, g.maxradius);
}

static bool inflate_setup(inflate_gpu &g, const image *field)
{
    if (!img_gpuframebuffer(g.target, field->width, field->height, "img_scalarinflatedist", "framebuffer fail!"))
        return false;
    g.input = img_gpuupload("input", field, 1, "failed to create GPU-inflate input texture! (%dx%d vs %dx%d)");
    if (g.input < 0)
        return false;
    inflate_bind(g);
    glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

// Sections from the first row on, each sized from the time of the one
// before toward 0.025 s (smoothed 0.8 / 0.2), with a yield after each.
static void inflate_sections(const inflate_gpu &g, bool worker, double start)
{
    const int h = g.target.height;
    double step = 1.0, previous = 1.0;
    for (int done = 0; done < h;) {
        step = std::min(0.8 * step + 0.2 * (step * 0.025 / previous), (double)h);
        int rows = std::max(1, (int)step);
        float y0 = 2.0f * (float)done / (float)h - 1.0f;
        float y1 = std::min(2.0f * (float)(done + rows) / (float)h - 1.0f, 1.0f);
        if (worker) {
            sys_makecurrent(1);
            inflate_bind(g);
        }
        double t0 = sys_seconds();
        img_gpusection(y0, y1);
        previous = std::max(sys_seconds() - t0, 1e-6);
        if (worker)
            sys_makecurrent(0);
        done += rows;
        sys_debuglog("...inflated section: Y%f->Y%f step:%d (elapsed %.4fs)", y0, y1, rows, sys_seconds() - start);
        SDL_Delay(0);
    }
}

static void inflate_teardown(inflate_gpu &g)
{
    r_bindshader(-1);
    r_unbindtexture(0);
    r_freetexture(g.input);
    g.input = -1;
    img_gpufreetarget(g.target);
}

// 1 when the GPU inflated the field, 0 when its resources could not be made
// (the field is then untouched).
static int inflate_gpurun(image *field, float maxradius, float heightscale)
{
    if (img_inflateshader < 0)
        return 0;
    double start = sys_seconds();
    sys_debuglog("GPU distance inflation img=(%d,%d)", field->width, field->height);
    inflate_gpu g;
    g.isize[0] = (float)field->width;
    g.isize[1] = (float)field->height;
    g.isize[2] = heightscale;
    g.maxradius = maxradius;
    bool worker = img_onworker();
    if (worker)
        sys_makecurrent(1);
    bool ok = inflate_setup(g, field);
    if (worker)
        sys_makecurrent(0);
    if (ok)
        inflate_sections(g, worker, start);
    if (worker)
        sys_makecurrent(1);
    if (ok) {
        img_gpubindtarget(g.target);
        ok = img_gpureadback(g.target, (float *)field->pixels, "img_scalarinflatedist") != 0;
    }
    inflate_teardown(g);
    if (worker)
        sys_makecurrent(0);
    if (ok)
        sys_log("...GPU distance inflation complete");
    return ok;
}

int img_scalarinflatedist(image *field, float maxradius, float heightscale)
{
    if (!img_isscalar(field, "img_scalarinflatedist"))
        return -1;
    if (!(maxradius >= 0.0f && std::isfinite(maxradius) && heightscale > 0.0f && std::isfinite(heightscale))) {
        sys_log("img_scalarinflatedist: bad radius %f or height scale %f", maxradius, heightscale);
        return -1;
    }
    if (img_gpufits(std::max(field->width, field->height))) {
        if (inflate_gpurun(field, maxradius, heightscale))
            return 0;
        sys_log("img_scalarinflatedist: no GPU resources, inflating on the CPU");
    }
    return inflate_cpu(field, maxradius, heightscale);
}
