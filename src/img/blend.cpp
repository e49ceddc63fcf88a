// Blending bodies and their row bands. The same-size path is one template
// per mode whose inner loop walks target and source with one index and no
// branches the compiler cannot turn into selects, so it vectorises and runs
// at memory speed; the resampling path takes one bilinear sample per pixel.
#include "img/blend.h"

#include "img/bands.h"
#include "img/resample.h"
#include "img/vector.h"
#include "sys/log.h"

#include <bit>
#include <cmath>
#include <cstdint>

// The mode's result for target t and scaled source v = s f. Modes 7 and 8
// write pick when they take the source: s on the same-size path, s f when
// resampled (with factor 1, as every rectangle blend uses, the two agree).
template <int mode>
static inline float blend_value(float t, float v, float f, float pick)
{
    if constexpr (mode == img_blendadditive)
        return t + v;
    else if constexpr (mode == img_blendsubtractive)
        return t - v;
    else if constexpr (mode == img_blendmultiply)
        return t * v;
    else if constexpr (mode == img_blendmaximum)
        return t < v ? v : t;
    else if constexpr (mode == img_blendminimum)
        return v < t ? v : t;
    else if constexpr (mode == img_blenddifference)
        return std::fabs(t - v);
    else if constexpr (mode == img_blendmix)
        return t * (1.0f - f) + v;
    else if constexpr (mode == img_blendlarger)
        return std::fabs(v) > std::fabs(t) ? pick : t;
    else
        return std::fabs(t) > std::fabs(v) ? pick : t;
}

// Blocks of a fixed width are vectorised even where the compiler does not
// vectorise loops of unknown length (-O2); the tail runs one by one.
template <int mode>
static void blend_row(float *__restrict t, const float *__restrict s, int n, float f)
{
    constexpr int block = 8;
    int i = 0;
    for (; i + block <= n; i += block)
        for (int k = 0; k < block; k++)
            t[i + k] = blend_value<mode>(t[i + k], s[i + k] * f, f, s[i + k]);
    for (; i < n; i++)
        t[i] = blend_value<mode>(t[i], s[i] * f, f, s[i]);
}

template <int mode>
static void blend_same(const blend_job *b)
{
    const float *src = (const float *)b->source->pixels;
    int n = b->col1 - b->col0;
    for (int y = b->row0; y < b->row1; y++) {
        size_t first = (size_t)y * b->width + b->col0;
        blend_row<mode>(b->target + first, src + first, n, b->factor);
    }
}

template <int mode>
static void blend_resampled(const blend_job *b)
{
    for (int y = b->row0; y < b->row1; y++) {
        float *row = b->target + (size_t)y * b->width;
        float sy = (float)y * b->hratio;
        for (int x = b->col0; x < b->col1; x++) {
            float v = img_samplescalar(b->source, (float)x * b->wratio, sy) * b->factor;
            row[x] = blend_value<mode>(row[x], v, b->factor, v);
        }
    }
}

// Length from a squared length x: x times the bit-trick inverse square root
// with one Newton step, within about 0.2% of the exact length.
static float blend_length(float x)
{
    float y0 = std::bit_cast<float>(0x5F375A86u - (std::bit_cast<uint32_t>(x) >> 1));
    float y1 = y0 * (1.5f - 0.5f * x * y0 * y0);
    return x * y1;
}

// A zero source leaves the target, a zero target takes the source; otherwise
// the unit directions are mixed in proportion to the lengths and the result
// takes the longer length.
static img_vec blend_vectors(img_vec t, img_vec s)
{
    int64_t s2 = (int64_t)s.x * s.x + (int64_t)s.y * s.y;
    if (s2 < 1)
        return t;
    int64_t t2 = (int64_t)t.x * t.x + (int64_t)t.y * t.y;
    if (t2 < 1)
        return s;
    float ls = blend_length((float)s2), lt = blend_length((float)t2);
    float w = ls / (lt + ls);
    float l = ls > lt ? ls : lt;
    return {img_veccomponent(((float)t.x / lt * (1.0f - w) + (float)s.x / ls * w) * l),
            img_veccomponent(((float)t.y / lt * (1.0f - w) + (float)s.y / ls * w) * l)};
}

static void blend_vectorsame(const blend_job *b)
{
    img_vec *target = (img_vec *)b->target;
    const img_vec *src = (const img_vec *)b->source->pixels;
    for (int y = b->row0; y < b->row1; y++)
        for (int x = b->col0; x < b->col1; x++) {
            size_t i = (size_t)y * b->width + x;
            target[i] = blend_vectors(target[i], src[i]);
        }
}

static void blend_vectorresampled(const blend_job *b)
{
    img_vec *target = (img_vec *)b->target;
    for (int y = b->row0; y < b->row1; y++) {
        float sy = (float)y * b->hratio;
        for (int x = b->col0; x < b->col1; x++) {
            size_t i = (size_t)y * b->width + x;
            img_vec s = img_vecunpack(img_samplecolor(b->source, (float)x * b->wratio, sy));
            target[i] = blend_vectors(target[i], s);
        }
    }
}

void job_blend(void *arg)
{
    blend_job *b = (blend_job *)arg;
    switch (b->mode) {
    case img_blendadditive: blend_same<img_blendadditive>(b); break;
    case img_blendsubtractive: blend_same<img_blendsubtractive>(b); break;
    case img_blendmultiply: blend_same<img_blendmultiply>(b); break;
    case img_blendmaximum: blend_same<img_blendmaximum>(b); break;
    case img_blendminimum: blend_same<img_blendminimum>(b); break;
    case img_blenddifference: blend_same<img_blenddifference>(b); break;
    case img_blendmix: blend_same<img_blendmix>(b); break;
    case img_blendlarger: blend_same<img_blendlarger>(b); break;
    case img_blendsmaller: blend_same<img_blendsmaller>(b); break;
    case img_blendvector: blend_vectorsame(b); break;
    default: break;
    }
    img_banddone(b->done);
}

void job_imgresample(void *arg)
{
    blend_job *b = (blend_job *)arg;
    switch (b->mode) {
    case img_blendadditive: blend_resampled<img_blendadditive>(b); break;
    case img_blendsubtractive: blend_resampled<img_blendsubtractive>(b); break;
    case img_blendmultiply: blend_resampled<img_blendmultiply>(b); break;
    case img_blendmaximum: blend_resampled<img_blendmaximum>(b); break;
    case img_blendminimum: blend_resampled<img_blendminimum>(b); break;
    case img_blenddifference: blend_resampled<img_blenddifference>(b); break;
    case img_blendmix: blend_resampled<img_blendmix>(b); break;
    case img_blendlarger: blend_resampled<img_blendlarger>(b); break;
    case img_blendsmaller: blend_resampled<img_blendsmaller>(b); break;
    case img_blendvector: blend_vectorresampled(b); break;
    default: break;
    }
    img_banddone(b->done);
}

// Both images live with 4-byte pixels of the mode's kind, and a source with
// pixels to sample.
static bool blend_check(const image *target, const image *source, int mode, const char *caller)
{
    bool kinds = mode == img_blendvector ? img_isvector(target, caller) && img_isvector(source, caller)
                                         : img_isscalar(target, caller) && img_isscalar(source, caller);
    if (!kinds)
        return false;
    if (source->width < 1 || source->height < 1) {
        sys_log("%s: source \"%s\" is empty (%dx%d)", caller, source->name, source->width, source->height);
        return false;
    }
    return true;
}

// Blends into columns [c0, c1) of rows [r0, r1), a rectangle inside the target.
static void blend_run(image *target, const image *source, int mode, float factor, int c0, int r0, int c1, int r1,
                      const char *nameformat)
{
    if (c1 <= c0 || r1 <= r0)
        return;
    bool same = source->width == target->width && source->height == target->height;
    blend_job proto = {(float *)target->pixels,
                       (float)source->width / (float)target->width,
                       (float)source->height / (float)target->height,
                       factor, mode, target->width, target->height, c0, c1, 0, 0, source, 0};
    img_bands<blend_job>(img_bandsresample, r0, r1, nameformat, same ? job_blend : job_imgresample,
                         [&](const img_bandrange &) { return proto; });
}

void img_scalarblend(image *target, const image *source, int mode, float factor)
{
    if (!blend_check(target, source, mode, "img_scalarblend"))
        return;
    blend_run(target, source, mode, factor, 0, 0, target->width, target->height, "bld%02d");
}

void img_blendrect(image *target, const image *source, int mode, const int *rect)
{
    if (!blend_check(target, source, mode, "img_blendrect"))
        return;
    // Clipped here, so a rectangle reaching past the target cannot write
    // outside its rows.
    int c0 = rect[0] > 0 ? rect[0] : 0, r0 = rect[1] > 0 ? rect[1] : 0;
    int c1 = rect[2] < target->width ? rect[2] : target->width;
    int r1 = rect[3] < target->height ? rect[3] : target->height;
    blend_run(target, source, mode, 1.0f, c0, r0, c1, r1, "blndrct%02d");
}
