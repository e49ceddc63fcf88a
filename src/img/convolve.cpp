// Convolution and dilation: the path choice, the CPU row bands with their
// vectorised row spans, and the GPU path (framebuffer, two temporary float
// textures, a full-viewport quad drawn in sections of about 0.02 s, read-back)
// with the GLSL of its two programs.
#include "img/convolve.h"

#include "img/bands.h"
#include "img/gpuop.h"
#include "img/maxplus.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <algorithm>

double img_cpuspeed = 0.0;
double img_gpuspeed = 0.0;
int img_convolveshader = -1;
int img_minkowskishader = -1;

// Uniform locations of one program, looked up once when it is loaded.
struct convo_uniforms {
    int image, kernel, isize, ksize, minval;
};
static convo_uniforms convo_sumuniforms = {-1, -1, -1, -1, -1};
static convo_uniforms convo_maxuniforms = {-1, -1, -1, -1, -1};

// Each fragment is one output pixel; the texture coordinate of pixel (x, y)
// is its centre ((x + 0.5) / width, (y + 0.5) / height).
const char img_fullscreenvertex[] = R"(#version 120
void main()
{
    gl_TexCoord[0] = vec4(gl_Vertex.xy * 0.5 + 0.5, 0.0, 1.0);
    gl_Position = gl_Vertex;
}
)";

// Kernel-weighted sum: the kernel is centred on the pixel and not flipped;
// for odd sides every sample falls on a pixel centre.
const char img_convolvefragment[] = R"(#version 120
uniform sampler2D image;
uniform sampler2D kernel;
uniform vec3 isize; // image width, height, added constant
uniform vec3 ksize; // kernel width, height, kernel scale
void main()
{
    vec2 at = gl_TexCoord[0].xy;
    float sum = 0.0;
    for (float y = 0.0; y < ksize.y; y += 1.0) {
        for (float x = 0.0; x < ksize.x; x += 1.0) {
            vec2 offset = vec2((x + 0.5 - ksize.x * 0.5) / isize.x, (y + 0.5 - ksize.y * 0.5) / isize.y);
            float value = texture2D(image, at + offset).r;
            float weight = texture2D(kernel, vec2((x + 0.5) / ksize.x, (y + 0.5) / ksize.y)).r * ksize.z;
            sum += value * weight;
        }
    }
    gl_FragColor = vec4(sum + isize.z, 0.0, 0.0, 1.0);
}
)";

// Grey-scale dilation: the largest value plus scaled kernel over the window,
// counting only values at or above minval.
const char img_minkowskifragment[] = R"(#version 120
uniform sampler2D image;
uniform sampler2D kernel;
uniform vec3 isize;
uniform vec3 ksize;
uniform float minval;
void main()
{
    vec2 at = gl_TexCoord[0].xy;
    float best = -99999.0;
    for (float y = 0.0; y < ksize.y; y += 1.0) {
        for (float x = 0.0; x < ksize.x; x += 1.0) {
            vec2 offset = vec2((x + 0.5 - ksize.x * 0.5) / isize.x, (y + 0.5 - ksize.y * 0.5) / isize.y);
            float value = texture2D(image, at + offset).r;
            float weight = texture2D(kernel, vec2((x + 0.5) / ksize.x, (y + 0.5) / ksize.y)).r;
            if (value >= minval)
                best = max(best, value + weight * ksize.z);
        }
    }
    gl_FragColor = vec4(best + isize.z, 0.0, 0.0, 1.0);
}
)";

static int convo_loadprogram(const char *name, const char *fragment, convo_uniforms &u)
{
    int slot = r_loadshader(name, img_fullscreenvertex, fragment);
    if (slot < 0)
        return -1;
    u.image = r_shaderuniformlocation(slot, "image");
    u.kernel = r_shaderuniformlocation(slot, "kernel");
    u.isize = r_shaderuniformlocation(slot, "isize");
    u.ksize = r_shaderuniformlocation(slot, "ksize");
    u.minval = fragment == img_minkowskifragment ? r_shaderuniformlocation(slot, "minval") : -1;
    return slot;
}

int img_loadshaders()
{
    img_convolveshader = convo_loadprogram("img_convolve", img_convolvefragment, convo_sumuniforms);
    img_minkowskishader = convo_loadprogram("img_minkowski", img_minkowskifragment, convo_maxuniforms);
    return img_convolveshader >= 0 && img_minkowskishader >= 0;
}

// ---------------------------------------------------------------- CPU path

// One band per idle worker (at least one), never more bands than rows,
// floor(h / n) rows each with the rest on the last; polled with zero sleeps.
static constexpr img_bandrule convo_bandrule = {img_bandsidle, 0, true, true, 0};

constexpr float convo_nothing = -99999.0f; // dilation's start value

// The part of a run of n pixels that the inner loops hand to the
// vectoriser: a whole number of vector widths, so that it needs no epilogue
// at any optimisation level. The rest goes through the same formula one by
// one. The loops stay out of line (noinline): inlined into the row loop,
// the compiler loses sight of that trip count and leaves them scalar at -O2.
static int convo_bulk(int n)
{
    return n & ~7;
}

// Columns [*in0, *in1) of an output row whose whole kernel window lies inside
// the row; the columns outside take the edge loops, which know where each
// kernel column leaves the image.
static void convo_interior(int width, int kwidth, int *in0, int *in1)
{
    int half = kwidth / 2;
    *in0 = std::min(half, width);
    *in1 = std::clamp(width - (kwidth - 1 - half), *in0, width);
}

// True when every value of the row is at or above minval (NaN is not), so
// the dilation spans may skip the per-tap test without changing a bit.
__attribute__((noinline)) static bool convo_admitsall(const float *src, int n, float minval)
{
    // Blocks of eight: a reduction of known length is vectorised at -O2.
    int below = 0;
    for (int x = 0; x < convo_bulk(n); x += 8)
        for (int t = 0; t < 8; t++)
            below |= !(src[x + t] >= minval);
    for (int x = convo_bulk(n); x < n; x++)
        below |= !(src[x] >= minval);
    return !below;
}

// One dilation tap: acc = max(acc, v + k) when v admits. Everything is
// computed and the test only selects: a conditional add could trap, which
// would keep the loops that use this scalar.
static inline float convo_admit(float acc, float v, float k, float minval)
{
    float best = std::max(acc, v + k);
    return v >= minval ? best : acc;
}

// One kernel column (scaled value k) over a run of output pixels; src is the
// source under the run. Kernel columns are applied in window order, so each
// pixel sees the same sequence of maxima as the per-pixel formula (which
// matters for ties between +0 and -0). The dilation spans are what small
// kernels spend their time in, so they are built for the wider vector units
// too and the best the processor has is picked at run time.
// Clang refuses noinline beside target_clones (its clones are never inlined).
// Under the thread checker there is one build: the clones' resolver runs at
// load time, before the checker's runtime is up, and would crash the start.
#if defined(__SANITIZE_THREAD__)
#define convo_clones
#elif defined(__clang__)
#define convo_clones __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define convo_clones __attribute__((noinline, target_clones("avx512f", "avx2", "default")))
#endif
convo_clones static void convo_maxspan(float *__restrict acc, const float *__restrict src, int n,
                                                    float k, float minval, bool admitall)
{
    const int bulk = convo_bulk(n);
    if (admitall) {
        for (int x = 0; x < bulk; x++)
            acc[x] = std::max(acc[x], src[x] + k);
    } else {
        for (int x = 0; x < bulk; x++)
            acc[x] = convo_admit(acc[x], src[x], k, minval);
    }
    for (int x = bulk; x < n; x++)
        acc[x] = convo_admit(acc[x], src[x], k, minval);
}

// Four kernel columns at once (scaled values k[0..3], src under the first):
// a quarter of the loads and stores of the accumulator, same order of taps.
convo_clones static void convo_maxspan4(float *__restrict acc, const float *__restrict src, int n,
                                                     const float *k, float minval, bool admitall)
{
    const float k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
    const int bulk = convo_bulk(n);
    if (admitall) {
        for (int x = 0; x < bulk; x++) {
            const float *v = src + x;
            float a = std::max(acc[x], v[0] + k0);
            a = std::max(a, v[1] + k1);
            a = std::max(a, v[2] + k2);
            acc[x] = std::max(a, v[3] + k3);
        }
    } else {
        for (int x = 0; x < bulk; x++) {
            const float *v = src + x;
            float a = convo_admit(acc[x], v[0], k0, minval);
            a = convo_admit(a, v[1], k1, minval);
            a = convo_admit(a, v[2], k2, minval);
            acc[x] = convo_admit(a, v[3], k3, minval);
        }
    }
    for (int x = bulk; x < n; x++) {
        float a = acc[x];
        for (int c = 0; c < 4; c++)
            a = convo_admit(a, src[x + c], k[c], minval);
        acc[x] = a;
    }
}

__attribute__((noinline)) static void convo_sumspan(float *__restrict acc, const float *__restrict src, int n, float k)
{
    for (int x = 0; x < convo_bulk(n); x++)
        acc[x] += src[x] * k;
    for (int x = convo_bulk(n); x < n; x++)
        acc[x] += src[x] * k;
}

// Four kernel columns at once, added in column order as one at a time would.
__attribute__((noinline)) static void convo_sumspan4(float *__restrict acc, const float *__restrict src, int n,
                                                     const float *k)
{
    const float k0 = k[0], k1 = k[1], k2 = k[2], k3 = k[3];
    const int bulk = convo_bulk(n);
    for (int x = 0; x < bulk; x++) {
        const float *v = src + x;
        float a = acc[x] + v[0] * k0;
        a += v[1] * k1;
        a += v[2] * k2;
        acc[x] = a + v[3] * k3;
    }
    for (int x = bulk; x < n; x++) {
        float a = acc[x];
        for (int c = 0; c < 4; c++)
            a += src[x + c] * k[c];
        acc[x] = a;
    }
}

// Dilation of output columns [x0, x1) by one kernel row: window positions
// outside the image are skipped, so each kernel column covers the run of
// columns where it lands inside, still applied in window order.
static void convo_maxedge(const convo_job &j, float *acc, const float *src, const float *krow, int x0, int x1)
{
    const int half = j.kwidth / 2;
    for (int i = 0; i < j.kwidth; i++) {
        int lo = std::max(x0, half - i), hi = std::min(x1, j.width + half - i);
        if (lo < hi)
            convo_maxspan(acc + lo, src + lo + i - half, hi - lo, krow[i] * j.scale, j.minval, false);
    }
}

// Weighted sum of output columns [x0, x1) by one kernel row: window
// positions outside the image repeat the edge pixel.
static void convo_sumedge(const convo_job &j, float *acc, const float *src, const float *krow, int x0, int x1)
{
    int half = j.kwidth / 2;
    for (int x = x0; x < x1; x++)
        for (int i = 0; i < j.kwidth; i++)
            acc[x] += src[std::clamp(x + i - half, 0, j.width - 1)] * krow[i];
}

static void convo_dilaterow(const convo_job &j, int y)
{
    const int w = j.width, half = j.kwidth / 2;
    float *acc = j.output + (size_t)y * w;
    std::fill(acc, acc + w, convo_nothing);
    int in0, in1;
    convo_interior(w, j.kwidth, &in0, &in1);
    for (int kj = 0; kj < j.kheight; kj++) {
        int sy = y + kj - j.kheight / 2;
        if (sy < 0 || sy >= j.height)
            continue;
        const float *src = j.image + (size_t)sy * w;
        const float *krow = j.kernel + (size_t)kj * j.kwidth;
        convo_maxedge(j, acc, src, krow, 0, in0);
        if (in1 > in0) {
            bool admitall = convo_admitsall(src, w, j.minval);
            int i = 0;
            for (; i + 4 <= j.kwidth; i += 4) {
                const float k[4] = {krow[i] * j.scale, krow[i + 1] * j.scale, krow[i + 2] * j.scale,
                                    krow[i + 3] * j.scale};
                convo_maxspan4(acc + in0, src + in0 + i - half, in1 - in0, k, j.minval, admitall);
            }
            for (; i < j.kwidth; i++)
                convo_maxspan(acc + in0, src + in0 + i - half, in1 - in0, krow[i] * j.scale, j.minval, admitall);
        }
        convo_maxedge(j, acc, src, krow, in1, w);
    }
    for (int x = 0; x < w; x++)
        acc[x] += j.offset;
}

static void convo_sumrow(const convo_job &j, int y)
{
    const int w = j.width, half = j.kwidth / 2;
    float *acc = j.output + (size_t)y * w;
    std::fill(acc, acc + w, 0.0f);
    int in0, in1;
    convo_interior(w, j.kwidth, &in0, &in1);
    for (int kj = 0; kj < j.kheight; kj++) {
        int sy = std::clamp(y + kj - j.kheight / 2, 0, j.height - 1);
        const float *src = j.image + (size_t)sy * w;
        const float *krow = j.kernel + (size_t)kj * j.kwidth;
        convo_sumedge(j, acc, src, krow, 0, in0);
        if (in1 > in0) {
            int i = 0;
            for (; i + 4 <= j.kwidth; i += 4)
                convo_sumspan4(acc + in0, src + in0 + i - half, in1 - in0, krow + i);
            for (; i < j.kwidth; i++)
                convo_sumspan(acc + in0, src + in0 + i - half, in1 - in0, krow[i]);
        }
        convo_sumedge(j, acc, src, krow, in1, w);
    }
    for (int x = 0; x < w; x++)
        acc[x] = acc[x] * j.scale + j.offset;
}

void job_convo(void *arg)
{
    convo_job *j = (convo_job *)arg;
    if (img_maxplusfits(*j)) {
        img_maxplusband(*j);
        img_banddone(j->done);
        return;
    }
    for (int y = j->row0; y < j->row1; y++) {
        if (j->mode == 0)
            convo_dilaterow(*j, y);
        else
            convo_sumrow(*j, y);
    }
    img_banddone(j->done);
}

// Both inputs and the output must be scalar fields, the output of the
// image's size and apart from both inputs (bands read rows others write).
static bool convo_checkargs(const char *caller, const image *out, const image *img, const image *kernel)
{
    if (!img_isscalar(out, caller) || !img_isscalar(img, caller) || !img_isscalar(kernel, caller))
        return false;
    if (out->width != img->width || out->height != img->height) {
        sys_log("%s: output %dx%d does not match image %dx%d", caller, out->width, out->height, img->width,
                img->height);
        return false;
    }
    if (out->pixels == img->pixels || out->pixels == kernel->pixels) {
        sys_log("%s: output \"%s\" is one of the inputs", caller, out->name);
        return false;
    }
    return true;
}

int img_scalarconvocpu(image *out, const image *img, const image *kernel, int mode, float scale, float minval,
                       float offset)
{
    if (!convo_checkargs("img_scalarconvocpu", out, img, kernel))
        return -1;
    double start = sys_seconds();
    const convo_job proto = {.image = (const float *)img->pixels,
                             .kernel = (const float *)kernel->pixels,
                             .output = (float *)out->pixels,
                             .scale = scale,
                             .minval = minval,
                             .offset = offset,
                             .row0 = 0,
                             .row1 = 0,
                             .width = img->width,
                             .height = img->height,
                             .kwidth = kernel->width,
                             .kheight = kernel->height,
                             .mode = mode,
                             .done = 0};
    img_bands<convo_job>(convo_bandrule, 0, img->height, "convo%02d:[%d-%d]", job_convo,
                         [&](const img_bandrange &) { return proto; });
    sys_log("...convolution complete (elapsed %.4fs)", sys_seconds() - start);
    return 0;
}

// ---------------------------------------------------------------- GPU path

// What one GPU convolution holds; everything is released before it returns.
struct convo_gpu {
    img_gputarget target;
    int input = -1, kernel = -1; // texture slots
};

static void convo_setuniforms(const convo_uniforms &u, const image *img, const image *kernel, float scale,
                              float minval, float offset)
{
    const float isize[3] = {(float)img->width, (float)img->height, offset};
    const float ksize[3] = {(float)kernel->width, (float)kernel->height, scale};
    r_shaderuniformint(u.image, 0);
    r_shaderuniformint(u.kernel, 1);
    r_shaderuniformvec3(u.isize, 1, isize);
    r_shaderuniformvec3(u.ksize, 1, ksize);
    if (u.minval >= 0)
        r_shaderuniformfloat(u.minval, minval);
}

// Horizontal sections of about 0.02 s each by the measured GPU speed, each
// finished before the next is sent.
static void convo_drawsections(const image *img, const image *kernel)
{
    double eta = (double)img->width * img->height / 1048576.0 * ((double)kernel->width * kernel->height) *
                 img_gpuspeed;
    double count = std::min(std::max(eta / 0.02, 1.0), (double)std::max(img->height, 1));
    int sections = (int)count;
    sys_log("convolution steps:%d eta:%fs...", sections, eta);
    float y0 = -1.0f;
    for (int b = 1; b <= sections; b++) {
        float y1 = 2.0f * (float)b / (float)sections - 1.0f;
        img_gpusection(y0, y1);
        sys_debuglog("...convo section drawn: %f->%f", y0, y1);
        y0 = y1;
    }
}

static void convo_freetextures(convo_gpu &g)
{
    r_unbindtexture(1);
    r_unbindtexture(0);
    r_freetexture(g.input);
    r_freetexture(g.kernel);
    g.input = g.kernel = -1;
}

// Runs the whole GPU computation on the current context; false, with
// everything released, when a resource could not be made.
static bool convo_gpurun(image *out, const image *img, const image *kernel, int mode, float scale, float minval,
                         float offset, double start)
{
    convo_gpu g;
    r_defaultstate();
    bool ok = img_gpuframebuffer(g.target, img->width, img->height, "img_scalarconvo",
                                 "img_scalarconvo: framebuffer fail!") != 0;
    if (ok) {
        r_bindshader(mode == 0 ? img_minkowskishader : img_convolveshader);
        convo_setuniforms(mode == 0 ? convo_maxuniforms : convo_sumuniforms, img, kernel, scale, minval, offset);
        g.input = img_gpuupload("input", img, 1, "failed to create convolution input texture! (%dx%d vs %dx%d)");
        g.kernel = img_gpuupload("kernel", kernel, 1, "failed to create convolution kernel texture! (%dx%d vs %dx%d)");
        ok = g.input >= 0 && g.kernel >= 0;
    }
    if (ok) {
        r_bindtexture(g.input, 0);
        r_bindtexture(g.kernel, 1);
        img_gpubindtarget(g.target);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_DEPTH_TEST);
        convo_drawsections(img, kernel);
        sys_log("...convolution complete (elapsed %.4fs)", sys_seconds() - start);
    }
    r_bindshader(-1);
    convo_freetextures(g);
    if (ok)
        ok = img_gpureadback(g.target, (float *)out->pixels, "img_scalarconvo") != 0;
    img_gpufreetarget(g.target);
    return ok;
}

int img_scalarconvogpu(image *out, const image *img, const image *kernel, int mode, float scale, float minval,
                       float offset)
{
    if (!convo_checkargs("img_scalarconvogpu", out, img, kernel))
        return -1;
    int shader = mode == 0 ? img_minkowskishader : img_convolveshader;
    bool ok = false;
    if (gl_framebuffers && shader >= 0) {
        double start = sys_seconds();
        bool worker = img_onworker();
        if (worker)
            sys_makecurrent(1);
        ok = convo_gpurun(out, img, kernel, mode, scale, minval, offset, start);
        if (worker)
            sys_makecurrent(0);
    }
    if (ok)
        return 1;
    // The read-back of a failed run holds nothing usable.
    sys_log("img_scalarconvogpu: no GPU resources, convolving on the CPU");
    img_scalarconvocpu(out, img, kernel, mode, scale, minval, offset);
    return 0;
}

// ---------------------------------------------------------------- choice

image *img_scalarconvo(const image *img, const image *kernel, int mode, float minval, float offset)
{
    if (!img_isscalar(img, "img_scalarconvo") || !img_isscalar(kernel, "img_scalarconvo"))
        return nullptr;
    char name[img_maxname];
    img_derivedname(name, img, img_namecnv, kernel->name);
    image *out = img_alloc(name, img->width, img->height, 4);
    if (!out) {
        sys_error("img_scalarconvo: failed to allocate pixel buffer");
        return nullptr;
    }
    double start = sys_seconds();
    bool gpu = img_gpufits(std::max({img->width, img->height, kernel->width, kernel->height}));
    sys_log("%s convolution img=(%d,%d) krnl=(%d,%d)", gpu ? "GPU" : "CPU", img->width, img->height,
            kernel->width, kernel->height);
    if (gpu)
        img_scalarconvogpu(out, img, kernel, mode, 1.0f, minval, offset);
    else
        img_scalarconvocpu(out, img, kernel, mode, 1.0f, minval, offset);
    sys_debuglog("%dx%d convolution complete (elapsed %.4fs)", img->width, img->height, sys_seconds() - start);
    return out;
}
