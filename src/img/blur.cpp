// Parametric kernels, the blur through convolution, and the masked blur:
// its CPU bands with the falloff table and the 32-pixel radius cap, and its
// GPU path (image, mask and a smooth-cone kernel as textures, drawn in
// sections of about 0.01 s) with the GLSL of img_maskblur.
#include "img/blur.h"

#include "geom/profile.h"
#include "img/bands.h"
#include "img/convolve.h"
#include "img/gpuop.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

int img_maskblurshader = -1;

// Uniform locations of img_maskblur, looked up once when it is loaded.
static int maskblur_uimage = -1, maskblur_umask = -1, maskblur_ukernel = -1, maskblur_usizerad = -1;

// Per output pixel: the mask scales the radii; kernel weights come from the
// smooth-cone texture stretched over the scaled radii, image samples repeat
// the edge. A masked-out pixel keeps only its own value.
const char img_maskblurfragment[] = R"(#version 120
uniform sampler2D image;
uniform sampler2D mask;
uniform sampler2D kernel;
uniform vec4 sizerad; // width, height, x radius, y radius
void main()
{
    vec2 at = gl_TexCoord[0].xy;
    vec2 p = at * sizerad.xy;
    float rad = texture2D(mask, at).r;
    float xrad = max(rad * sizerad.z, 0.5);
    float yrad = max(rad * sizerad.w, 0.5);
    float cx = ceil(sizerad.z);
    float cy = ceil(sizerad.w);
    float n = 0.0;
    float sum = 0.0;
    for (float ky = -cy; ky <= cy; ky += 1.0) {
        for (float kx = -cx; kx <= cx; kx += 1.0) {
            vec2 kat = clamp(vec2(kx * 0.5 / xrad + 0.5, ky * 0.5 / yrad + 0.5), 0.0, 1.0);
            float k = texture2D(kernel, kat).r;
            if (rad < 0.001 && (kx != 0.0 || ky != 0.0))
                k = 0.0;
            n += k;
            sum += k * texture2D(image, (p + vec2(kx, ky)) / sizerad.xy).r;
        }
    }
    gl_FragColor = vec4(sum / n, 0.0, 0.0, 1.0);
}
)";

int img_loadmaskblurshader()
{
    const r_uniformref uniforms[] = {{&maskblur_uimage, "image"},
                                     {&maskblur_umask, "mask"},
                                     {&maskblur_ukernel, "kernel"},
                                     {&maskblur_usizerad, "sizerad"}};
    img_maskblurshader = r_loadshaderuniforms("img_maskblur", img_fullscreenvertex, img_maskblurfragment, uniforms);
    return img_maskblurshader >= 0;
}

// ---------------------------------------------------------------- kernels

constexpr double blur_maxhalf = 32767.0; // half side limit of a kernel

static float blur_smoothstep(float t)
{
    return t <= 0.0f ? 0.0f : t >= 1.0f ? 1.0f : t * t * (3.0f - 2.0f * t);
}

// Value of every profile but the Gaussian at distance d from the middle; w is
// the taper width, count the kernel's pixels.
static float blur_profilevalue(int profile, float d, float r, float w, const float *abc, int count)
{
    const float a = abc[0], b = abc[1], c = abc[2];
    switch (profile) {
    case img_profiletapered: {
        float t = d - (r - w);
        if (t < 0.0f)
            return 0.0f;
        // A taper of no width is a step straight to the full depth.
        return t <= w ? (w > 0.0f ? -(t / w) * b : -b) : -c;
    }
    case img_profilebox:
        return b / (float)count;
    case img_profilesmooth: {
        // A zero radius leaves only the middle pixel, which is full height.
        float t = r > 0.0f ? 1.0f - d / r : 1.0f;
        return std::pow(blur_smoothstep(t), a) * b;
    }
    default:
        return math_steppos(d, r, a, b, c);
    }
}

// The Gaussian scaled so that the kernel sums to b; a zero width puts all
// of b on the middle pixel.
static void blur_gaussian(image *k, int hw, int hh, float r, float aspect, float a, float b)
{
    float *px = (float *)k->pixels;
    float s = r * a * 0.5f;
    if (!(s > 0.0f)) {
        px[(size_t)hh * k->width + hw] = b;
        return;
    }
    double sum = 0.0;
    for (int j = -hh; j <= hh; j++) {
        for (int i = -hw; i <= hw; i++) {
            float u = i / s, v = j / (aspect * s);
            float value = std::exp(-0.5f * (u * u + v * v)) / (2.0f * s * s);
            px[(size_t)(j + hh) * k->width + (i + hw)] = value;
            sum += value;
        }
    }
    float scale = (float)(b / sum);
    for (int n = 0; n < k->width * k->height; n++)
        px[n] *= scale;
}

image *img_scalarparametric(int profile, float aspect, float diameter, float depth, float a, float b, float c)
{
    float taper = std::tan(a * (float)M_PI / 180.0f) * depth;
    float r = diameter * 0.5f + (profile == img_profiletapered ? taper : 0.0f);
    double hwd = std::ceil((double)r), hhd = std::ceil((double)aspect * r);
    if (!(r >= 0.0f && aspect > 0.0f && hwd <= blur_maxhalf && hhd <= blur_maxhalf)) {
        sys_log("img_scalarparametric: no kernel for radius %f aspect %f", r, aspect);
        return nullptr;
    }
    int hw = (int)hwd, hh = (int)hhd, width = 2 * hw + 1, height = 2 * hh + 1;
    char name[img_maxname];
    snprintf(name, sizeof(name), "para%dx%d", width, height);
    image *k = img_alloc(name, width, height, 4);
    if (!k) {
        sys_error("img_scalarparametric: failed to allocate pixel buffer");
        return nullptr;
    }
    sys_debuglog("scalarparametric: radius=%f (%dx%d / %dx%d)", r, hw, hh, width, height);
    if (profile == img_profilegauss) {
        blur_gaussian(k, hw, hh, r, aspect, a, b);
        return k;
    }
    const float abc[3] = {a, b, c};
    float *px = (float *)k->pixels;
    for (int j = -hh; j <= hh; j++) {
        for (int i = -hw; i <= hw; i++) {
            float jj = j / aspect;
            float d = std::sqrt((float)(i * i) + jj * jj);
            px[(size_t)(j + hh) * width + (i + hw)] = blur_profilevalue(profile, d, r, taper, abc, width * height);
        }
    }
    return k;
}

// ---------------------------------------------------------------- blur

image *img_scalarblur(const image *img, float radius, int smooth)
{
    if (!img_isscalar(img, "img_scalarblur"))
        return nullptr;
    if (!(radius >= 0.0f && std::isfinite(radius))) {
        sys_log("img_scalarblur: bad radius %f", radius);
        return nullptr;
    }
    sys_debuglog("generating %f radius blur kernel...", radius);
    image *k = smooth ? img_scalarparametric(img_profilesmooth, 1.0f, 2.0f * radius, 0.0f, 1.0f, 1.0f, 0.0f)
                      : img_scalarparametric(img_profilebox, 1.0f, 2.0f * radius, 0.0f, 0.0f, 1.0f, 0.0f);
    if (!k)
        return nullptr;
    if (smooth) {
        float *px = (float *)k->pixels;
        int n = k->width * k->height;
        double sum = 0.0;
        for (int i = 0; i < n; i++)
            sum += std::fabs(px[i]);
        for (int i = 0; i < n; i++)
            px[i] = (float)(px[i] / sum);
    }
    image *out = img_scalarconvo(img, k, 1, -99999.8984375f, 0.0f);
    img_free(k);
    return out;
}

// ---------------------------------------------------------------- masked blur, CPU

// One band per idle worker (at least one), floor(h / n) rows each with the
// rest on the last, polled with 1 ms sleeps.
static constexpr img_bandrule maskblur_bandrule = {img_bandsidle, 0, false, true, 1};

constexpr int maskblur_taps = 2 * (int)img_maskblurcap + 1; // taps per axis at the cap

void img_fillfalloff(float *table)
{
    for (int k = 0; k < img_falloffsize; k++) {
        float f = std::sqrt((float)k) / 32.0f;
        table[k] = blur_smoothstep(1.0f - f);
    }
}

// A scaled radius: the mask's share of the full radius, 0 .. 32 (NaN and
// negative masks give no blur).
static float maskblur_radius(float radius, float m)
{
    float r = radius * m;
    return r > 0.0f ? std::min(r, img_maskblurcap) : 0.0f;
}

// Squared tap distances along one axis in units where the radius is 31. An
// axis whose scaled radius is 0 has the single offset 0 at distance 0.
static int maskblur_axis(float r, float *sq)
{
    int h = (int)std::ceil(r);
    for (int i = -h; i <= h; i++) {
        float s = r > 0.0f ? (float)(i * 31) / r : 0.0f;
        sq[i + h] = s * s;
    }
    return h;
}

// The weights of one pair of scaled radii, kept while neighbouring pixels
// share them (a uniform mask builds them once per band).
struct maskblur_weights {
    float rx = -1.0f, ry = -1.0f;
    int hx = 0, hy = 0;
    float sum = 0.0f;
    float w[maskblur_taps * maskblur_taps];
};

static void maskblur_build(maskblur_weights &mw, const float *falloff, float rx, float ry)
{
    float ax[maskblur_taps], ay[maskblur_taps];
    mw.rx = rx;
    mw.ry = ry;
    mw.hx = maskblur_axis(rx, ax);
    mw.hy = maskblur_axis(ry, ay);
    int nx = 2 * mw.hx + 1, ny = 2 * mw.hy + 1;
    mw.sum = 0.0f;
    for (int j = 0; j < ny; j++) {
        for (int i = 0; i < nx; i++) {
            float s = ax[i] + ay[j];
            int k = s < (float)(img_falloffsize - 1) ? (int)s : img_falloffsize - 1;
            mw.w[j * nx + i] = falloff[k];
            mw.sum += falloff[k];
        }
    }
}

// Positions outside the image and negative (or NaN) values add nothing to
// the value sum, while their weight still counts. Each column of taps keeps
// its own sum over the rows, so the tap loop has no running total and
// vectorises; the columns are added at the end.
static float maskblur_pixel(const maskblur_job &j, const maskblur_weights &mw, int x, int y)
{
    int nx = 2 * mw.hx + 1;
    int i0 = std::max(-mw.hx, -x), i1 = std::min(mw.hx, j.width - 1 - x);
    int n = i1 - i0 + 1;
    float columns[maskblur_taps] = {};
    for (int dy = -mw.hy; dy <= mw.hy; dy++) {
        int sy = y + dy;
        if (sy < 0 || sy >= j.height)
            continue;
        const float *src = j.image + (size_t)sy * j.width + x + i0;
        const float *w = mw.w + (dy + mw.hy) * nx + mw.hx + i0;
        for (int i = 0; i < n; i++) {
            float v = src[i];
            columns[i] += w[i] * (v >= 0.0f ? v : 0.0f);
        }
    }
    float sum = 0.0f;
    for (int i = 0; i < n; i++)
        sum += columns[i];
    return sum / mw.sum;
}

void job_maskblur(void *arg)
{
    maskblur_job *j = (maskblur_job *)arg;
    maskblur_weights mw;
    for (int y = j->row0; y < j->row1; y++) {
        for (int x = 0; x < j->width; x++) {
            size_t at = (size_t)y * j->width + x;
            float m = j->mask[at];
            float rx = maskblur_radius(j->xradius, m), ry = maskblur_radius(j->yradius, m);
            if (rx + ry < 0.01f) {
                j->output[at] = j->image[at];
                continue;
            }
            if (rx != mw.rx || ry != mw.ry)
                maskblur_build(mw, j->falloff, rx, ry);
            j->output[at] = maskblur_pixel(*j, mw, x, y);
        }
    }
    img_banddone(j->done);
}

static void maskblur_cpu(image *out, const image *img, const image *mask, float xradius, float yradius)
{
    float falloff[img_falloffsize];
    img_fillfalloff(falloff);
    const maskblur_job proto = {.image = (const float *)img->pixels,
                                .mask = (const float *)mask->pixels,
                                .output = (float *)out->pixels,
                                .falloff = falloff,
                                .xradius = std::min(xradius, img_maskblurcap),
                                .yradius = std::min(yradius, img_maskblurcap),
                                .width = img->width,
                                .height = img->height,
                                .row0 = 0,
                                .row1 = 0,
                                .done = 0};
    img_bands<maskblur_job>(maskblur_bandrule, 0, img->height, "maskblur%d:[%d-%d]", job_maskblur,
                            [&](const img_bandrange &) { return proto; });
}

// ---------------------------------------------------------------- masked blur, GPU

// Textures of one GPU masked blur, all freed before it returns.
struct maskblur_gpu {
    img_gputarget target;
    int image = -1, mask = -1, kernel = -1;
};

static void maskblur_setuniforms(const image *img, float xradius, float yradius)
{
    const float sizerad[4] = {(float)img->width, (float)img->height, xradius, yradius};
    r_shaderuniformint(maskblur_uimage, 0);
    r_shaderuniformint(maskblur_umask, 1);
    r_shaderuniformint(maskblur_ukernel, 2);
    glUniform4fv(maskblur_usizerad, 1, sizerad);
    r_checkerror("img_scalarmaskblur.uniform sizerad");
}

// The smooth cone of radius 2.5 x radius whose texture weights the taps;
// the image is freed as soon as it is uploaded.
static int maskblur_uploadkernel(float xradius, float yradius)
{
    image *k = img_scalarparametric(img_profilesmooth, yradius / xradius, 5.0f * xradius, 0.0f, 1.0f, 1.0f, 0.0f);
    if (!k)
        return -1;
    int slot = img_gpuupload("kernel", k, 1, "failed to create kernel texture! (%dx%d)");
    img_free(k);
    return slot;
}

// Sections of about 0.01 s by the measured GPU speed, each finished before
// the next.
static void maskblur_drawsections(int height, double mpx)
{
    double eta = mpx * img_gpuspeed + 0.025;
    int sections = (int)std::min(std::max(eta / 0.01, 1.0), (double)std::max(height, 1));
    sys_log("maskedblur slices:%d ETA:%fs", sections, eta);
    float y0 = -1.0f;
    for (int b = 1; b <= sections; b++) {
        float y1 = 2.0f * (float)b / (float)sections - 1.0f;
        img_gpusection(y0, y1);
        y0 = y1;
    }
}

static void maskblur_freetextures(maskblur_gpu &g)
{
    for (int unit = 2; unit >= 0; unit--)
        r_unbindtexture(unit);
    r_freetexture(g.image);
    r_freetexture(g.mask);
    r_freetexture(g.kernel);
    g.image = g.mask = g.kernel = -1;
}

// The whole GPU computation on the current context; false, with everything
// released, when a resource could not be made.
static bool maskblur_gpurun(image *out, const image *img, const image *mask, float xradius, float yradius, double mpx)
{
    maskblur_gpu g;
    r_defaultstate();
    bool ok = img_gpuframebuffer(g.target, img->width, img->height, "img_scalarmaskblur",
                                 "img_scalarconvo: framebuffer fail!") != 0;
    if (ok) {
        r_bindshader(img_maskblurshader);
        maskblur_setuniforms(img, xradius, yradius);
        g.image = img_gpuupload("image", img, 0, "failed to create input texture! (%dx%d)");
        g.mask = img_gpuupload("mask", mask, 0, "failed to create mask texture! (%dx%d)");
        g.kernel = maskblur_uploadkernel(xradius, yradius);
        ok = g.image >= 0 && g.mask >= 0 && g.kernel >= 0;
    }
    if (ok) {
        r_bindtexture(g.image, 0);
        r_bindtexture(g.mask, 1);
        r_bindtexture(g.kernel, 2);
        img_gpubindtarget(g.target);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_DEPTH_TEST);
        maskblur_drawsections(img->height, mpx);
    }
    r_bindshader(-1);
    maskblur_freetextures(g);
    if (ok)
        ok = img_gpureadback(g.target, (float *)out->pixels, "img_scalarmaskblur") != 0;
    img_gpufreetarget(g.target);
    return ok;
}

// 1 when the GPU computed out, 0 when it could not (out then untouched).
static int maskblur_gpu(image *out, const image *img, const image *mask, float xradius, float yradius, double mpx)
{
    if (img_maskblurshader < 0)
        return 0;
    bool worker = img_onworker();
    if (worker)
        sys_makecurrent(1);
    bool ok = maskblur_gpurun(out, img, mask, xradius, yradius, mpx);
    if (worker)
        sys_makecurrent(0);
    return ok;
}

// ---------------------------------------------------------------- masked blur, choice

static bool maskblur_checkargs(const image *img, const image *mask, float xradius, float yradius)
{
    if (!img_isscalar(img, "img_scalarmaskblur") || !img_isscalar(mask, "img_scalarmaskblur"))
        return false;
    if (mask->width != img->width || mask->height != img->height) {
        sys_log("img_scalarmaskblur: mask %dx%d does not match image %dx%d", mask->width, mask->height,
                img->width, img->height);
        return false;
    }
    if (!(xradius >= 0.0f && yradius >= 0.0f && std::isfinite(xradius) && std::isfinite(yradius))) {
        sys_log("img_scalarmaskblur: bad radii %f, %f", xradius, yradius);
        return false;
    }
    return true;
}

image *img_scalarmaskblur(const image *img, const image *mask, float xradius, float yradius)
{
    if (!maskblur_checkargs(img, mask, xradius, yradius))
        return nullptr;
    image *out = img_alloc(img->name, img->width, img->height, 4);
    if (!out) {
        sys_error("img_scalarconvo: failed to allocate pixel buffer");
        return nullptr;
    }
    double start = sys_seconds();
    double mpx = (double)xradius * yradius * img->width * img->height / 1048576.0;
    // Radii past any texture size are held at a size no GL offers.
    int rad = (int)std::min(std::ceil(std::max(xradius, yradius)), 1e9f);
    bool gpu = img_gpufits(std::max({img->width, img->height, rad})) && mpx >= 1.0;
    sys_log("%s image masked blur img=(%d,%d) rad=(%f,%f) Mpx=%f", gpu ? "GPU" : "CPU", img->width, img->height,
            xradius, yradius, mpx);
    if (!gpu || !maskblur_gpu(out, img, mask, xradius, yradius, mpx)) {
        if (gpu)
            sys_log("img_scalarmaskblur: no GPU resources, blurring on the CPU");
        maskblur_cpu(out, img, mask, xradius, yradius);
    }
    sys_debuglog("%dx%d masked blur complete (%.4fs)", img->width, img->height, sys_seconds() - start);
    return out;
}
