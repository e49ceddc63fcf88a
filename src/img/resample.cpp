// Resampling and pixel-kind conversion. Scalar resampling clamps at the
// field's edges; colour enlarging wraps (textures repeat). Shrinking weighs
// every source pixel by how much of it the destination pixel covers, so a
// one-pass shrink by any factor keeps the mean height.
#include "img/resample.h"

#include "img/bands.h"
#include "sys/log.h"

#include <cmath>

float img_samplescalar(const image *img, float x, float y)
{
    int w = img->width;
    img_samplecell c = img_cellof(w, img->height, x, y);
    float fx = c.fx, fy = c.fy;
    const float *p = (const float *)img->pixels;
    const float *r0 = p + (size_t)c.y0 * w, *r1 = p + (size_t)c.y1 * w;
    return r0[c.x0] * (1.0f - fx) * (1.0f - fy) + r0[c.x1] * fx * (1.0f - fy) + r1[c.x0] * (1.0f - fx) * fy +
           r1[c.x1] * fx * fy;
}

void job_downscalescalar(void *arg)
{
    img_areaband *b = (img_areaband *)arg;
    const float *src = (const float *)b->src;
    float *dst = (float *)b->dst;
    float sx = (float)b->srcwidth / (float)b->dstwidth, sy = (float)b->srcheight / (float)b->dstheight;
    for (int y = b->row0; y < b->row1; y++) {
        img_span ys = img_spanof(y, sy, b->keepheight, b->srcheight);
        for (int x = 0; x < b->dstwidth; x++) {
            img_span xs = img_spanof(x, sx, b->keepwidth, b->srcwidth);
            float sum = 0.0f, wsum = 0.0f;
            for (int i = ys.i0; i < ys.i1; i++) {
                float wy = img_spanweight(ys, i);
                const float *row = src + (size_t)i * b->srcwidth;
                for (int j = xs.i0; j < xs.i1; j++) {
                    float w = img_spanweight(xs, j) * wy;
                    wsum += w;
                    sum += row[j] * w;
                }
            }
            dst[(size_t)y * b->dstwidth + x] = sum / wsum;
        }
    }
    img_banddone(b->done);
}

void job_downscalecolor(void *arg)
{
    img_areaband *b = (img_areaband *)arg;
    const uint8_t *src = (const uint8_t *)b->src;
    uint8_t *dst = (uint8_t *)b->dst;
    int c = b->channels;
    float sx = (float)b->srcwidth / (float)b->dstwidth, sy = (float)b->srcheight / (float)b->dstheight;
    for (int y = b->row0; y < b->row1; y++) {
        img_span ys = img_spanof(y, sy, b->keepheight, b->srcheight);
        for (int x = 0; x < b->dstwidth; x++) {
            img_span xs = img_spanof(x, sx, b->keepwidth, b->srcwidth);
            float sum[4] = {0, 0, 0, 0}, wsum = 0.0f;
            for (int i = ys.i0; i < ys.i1; i++) {
                float wy = img_spanweight(ys, i);
                const uint8_t *row = src + (size_t)i * b->srcwidth * c;
                for (int j = xs.i0; j < xs.i1; j++) {
                    float w = img_spanweight(xs, j) * wy;
                    wsum += w;
                    for (int k = 0; k < c; k++)
                        sum[k] += (float)row[(size_t)j * c + k] * w;
                }
            }
            uint8_t *out = dst + ((size_t)y * b->dstwidth + x) * c;
            for (int k = 0; k < c; k++)
                out[k] = (uint8_t)(int)(sum[k] / wsum + 0.5f);
        }
    }
    img_banddone(b->done);
}

void job_upscalescalar(void *arg)
{
    img_bilinearband *b = (img_bilinearband *)arg;
    for (int y = b->row0; y < b->row1; y++) {
        float *row = b->dst + (size_t)(y - b->row0) * b->dstwidth;
        float fy = (float)y * b->ystep;
        for (int x = 0; x < b->dstwidth; x++)
            row[x] = img_samplescalar(b->src, (float)x * b->xstep, fy);
    }
    img_banddone(b->done);
}

bool img_checksizes(const image *img, int width, int height, const char *caller)
{
    if (img->width >= 1 && img->height >= 1 && width >= 1 && height >= 1)
        return true;
    sys_log("%s: cannot resample \"%s\" from %dx%d to %dx%d", caller, img->name, img->width, img->height,
            width, height);
    return false;
}

// Shrinks img into out (allocated at the new size) in area bands.
static void img_shrink(const image *img, image *out, int channels, const char *nameformat, job_function body)
{
    img_areaband proto = {img->pixels, out->pixels, out->width, out->height, channels, img->width, img->height,
                          0, 0, img->width <= out->width, img->height <= out->height, 0};
    img_bands<img_areaband>(img_bandsresample, 0, out->height, nameformat, body,
                            [&](const img_bandrange &) { return proto; });
}

image *img_rescalescalar(const image *img, int width, int height)
{
    if (!img_isscalar(img, "img_rescalescalar") || !img_checksizes(img, width, height, "img_rescalescalar"))
        return nullptr;
    bool enlarge = width >= img->width && height >= img->height;
    image *out = img_allocderived(img, enlarge ? img_nameups : img_namedns, width, height, 4);
    if (!out)
        return nullptr;
    if (!enlarge) {
        img_shrink(img, out, 1, "dsc%02d", job_downscalescalar);
        return out;
    }
    float xstep = (float)img->width / (float)width, ystep = (float)img->height / (float)height;
    float *dst = (float *)out->pixels;
    img_bands<img_bilinearband>(img_bandsresample, 0, height, "ups%02d", job_upscalescalar,
                                [&](const img_bandrange &r) {
                                    return img_bilinearband{img, dst + (size_t)r.row0 * width, xstep, ystep,
                                                            width, height, 0, 0, 0};
                                });
    return out;
}

// One channel of a wrapping bilinear colour sample, rounded and clamped to a byte.
static uint8_t img_colorbyte(float v)
{
    float r = v + 0.5f;
    return r <= 0.0f ? 0 : r >= 255.0f ? 255 : (uint8_t)r;
}

// Bilinear enlarge on the calling thread; neighbours past the last column
// or row wrap to the first.
static void img_enlargecolor(const image *img, image *out)
{
    int sw = img->width, sh = img->height, c = img->bytesperpixel;
    float sx = (float)sw / (float)out->width, sy = (float)sh / (float)out->height;
    for (int y = 0; y < out->height; y++) {
        float fy = (float)y * sy, ay = fy - std::floor(fy);
        const uint8_t *r0 = img->pixels + (size_t)((int)fy % sh) * sw * c;
        const uint8_t *r1 = img->pixels + (size_t)((int)(fy + 1.0f) % sh) * sw * c;
        uint8_t *dst = out->pixels + (size_t)y * out->width * c;
        for (int x = 0; x < out->width; x++) {
            float fx = (float)x * sx, ax = fx - std::floor(fx);
            size_t x0 = (size_t)((int)fx % sw) * c, x1 = (size_t)((int)(fx + 1.0f) % sw) * c;
            for (int k = 0; k < c; k++) {
                float v = (1.0f - ay) * ((1.0f - ax) * r0[x0 + k] + ax * r0[x1 + k]) +
                          ay * ((1.0f - ax) * r1[x0 + k] + ax * r1[x1 + k]);
                dst[(size_t)x * c + k] = img_colorbyte(v);
            }
        }
    }
}

image *img_rescalecolor(const image *img, int width, int height)
{
    if (!img || !img->pixels || !img_checksizes(img, width, height, "img_rescalecolor"))
        return nullptr;
    if (img->bytesperpixel > 4) {
        sys_log("img_rescalecolor: \"%s\" has %d bytes per pixel, at most 4 are colour", img->name,
                img->bytesperpixel);
        return nullptr;
    }
    if (width >= img->width && height >= img->height) {
        image *out = img_alloc(img->name, width, height, img->bytesperpixel);
        if (out)
            img_enlargecolor(img, out);
        return out;
    }
    image *out = img_allocderived(img, img_namednc, width, height, img->bytesperpixel);
    if (!out)
        return nullptr;
    sys_debuglog("img_rescalecolor: scaling %d,%d to %d,%d", img->width, img->height, width, height);
    img_shrink(img, out, img->bytesperpixel, "downscale", job_downscalecolor);
    return out;
}

image *img_scalarize(const image *img, float scale, float offset)
{
    if (!img || !img->pixels)
        return nullptr;
    image *out = img_allocderived(img, img_namescl, img->width, img->height, 4);
    if (!out) {
        sys_error("img_scalarize: failed to allocate pixel buffer");
        return nullptr;
    }
    int c = img->bytesperpixel;
    float k = scale / (float)(c * 255);
    size_t count = (size_t)img->width * img->height;
    float *dst = (float *)out->pixels;
    for (size_t i = 0; i < count; i++) {
        float sum = 0.0f;
        for (int j = 0; j < c; j++)
            sum += (float)img->pixels[i * c + j];
        dst[i] = (float)((double)sum * k + offset);
    }
    return out;
}

// A colour component in 0..1 as a byte, truncated, not rounded.
static uint8_t img_unitbyte(float c)
{
    float v = c * 255.0f;
    return v <= 0.0f ? 0 : v >= 255.0f ? 255 : (uint8_t)v;
}

void job_colorize(void *arg)
{
    img_colorizeband *b = (img_colorizeband *)arg;
    const float *src = (const float *)b->src->pixels;
    for (int y = b->row0; y < b->row1; y++) {
        for (int x = 0; x < b->width; x++) {
            size_t i = (size_t)y * b->width + x;
            float v = src[i];
            uint8_t *out = b->dst->pixels + i * 3;
            for (int k = 0; k < 3; k++) {
                // NaN fails the first test and takes the low colour.
                float c = !(v > 0.0f) ? b->low[k]
                        : v >= 1.0f   ? b->high[k]
                                      : b->low[k] * (1.0f - v) + b->high[k] * v;
                out[k] = img_unitbyte(c);
            }
        }
    }
    img_banddone(b->done);
}

image *img_colorize(const image *img, const float *low, const float *high)
{
    if (!img_isscalar(img, "img_colorize"))
        return nullptr;
    image *out = img_allocderived(img, img_namec8, img->width, img->height, 3);
    if (!out) {
        sys_error("img_colorize: failed to allocate pixel buffer");
        return nullptr;
    }
    img_colorizeband proto = {0, 0, img->width, low, high, img, out, 0};
    img_bands<img_colorizeband>(img_bandsresample, 0, img->height, "colorize", job_colorize,
                                [&](const img_bandrange &) { return proto; });
    return out;
}

// The unit normal of one interior pixel from its central differences. The
// radicand is clamped at 0, so a slope steeper than the z factor allows
// gives a horizontal normal instead of NaN; a z factor that is not finite
// gives the flat normal.
static void img_normalat(const float *p, int w, int x, float k, float *n)
{
    float dx = p[x - 1] - p[x + 1];
    float dy = p[x - w] - p[x + w];
    double r = 1.0 - (double)dx * dx + (double)dy * dy;
    float z = (float)(std::sqrt(r > 0.0 ? r : 0.0) * k);
    double len = std::sqrt((double)dx * dx + (double)dy * dy + (double)z * z);
    if (!(len > 0.0) || !std::isfinite(len)) {
        n[0] = 0.0f;
        n[1] = 0.0f;
        n[2] = 1.0f;
        return;
    }
    float inv = (float)(1.0 / len);
    n[0] = dx * inv;
    n[1] = dy * inv;
    n[2] = z * inv;
}

void job_scalartonormals(void *arg)
{
    img_normalsband *b = (img_normalsband *)arg;
    int w = b->src->width;
    for (int y = b->row0; y < b->row1; y++) {
        const float *row = (const float *)b->src->pixels + (size_t)y * w;
        float *out = (float *)b->dst->pixels + (size_t)y * w * 3;
        for (int x = 1; x < w - 1; x++)
            img_normalat(row, w, x, b->zfactor, out + (size_t)x * 3);
    }
    img_banddone(b->done);
}

image *img_scalarnormals(const image *img, float scale)
{
    if (!img_isscalar(img, "img_scalarnormals"))
        return nullptr;
    image *out = img_allocderived(img, img_namenm, img->width, img->height, 12);
    if (!out) {
        sys_error("img_scalarnormals: failed to allocate pixel buffer");
        return nullptr;
    }
    float *n = (float *)out->pixels;
    size_t count = (size_t)img->width * img->height;
    for (size_t i = 0; i < count; i++) {
        n[i * 3] = 0.0f;
        n[i * 3 + 1] = 0.0f;
        n[i * 3 + 2] = 1.0f;
    }
    img_normalsband proto = {img, out, 0, 0, (float)(2.0 / scale), 0};
    // Only interior rows have both neighbours; the border keeps (0, 0, 1).
    img_bands<img_normalsband>(img_bandsresample, 1, img->height - 1, "scalartonormals", job_scalartonormals,
                               [&](const img_bandrange &) { return proto; });
    return out;
}
