// Scalar-field adjustments. The anti-aliased threshold is the building block
// of smooth quantisation: each level's threshold is blended in with weight
// 1 / levels. The anti-aliasing filter works on absolute height steps (0.1),
// since the fields are heights, not perceived brightness.
#include "img/adjust.h"

#include "img/blend.h"
#include "img/resample.h"
#include "sys/log.h"

#include <cmath>

image *img_scalarclamp(const image *img, float scale, float offset)
{
    if (!img_isscalar(img, "img_scalarclamp"))
        return nullptr;
    image *out = img_allocderived(img, img_namemodb, img->width, img->height, 4);
    if (!out) {
        sys_error("img_scalarclamp: failed to allocate image for returning");
        return nullptr;
    }
    const float *src = (const float *)img->pixels;
    float *dst = (float *)out->pixels;
    size_t count = (size_t)img->width * img->height;
    for (size_t i = 0; i < count; i++)
        dst[i] = src[i] * scale + offset;
    return out;
}

image *img_scalarautolevel(const image *img)
{
    if (!img_isscalar(img, "img_scalarautolevel"))
        return nullptr;
    const float *p = (const float *)img->pixels;
    size_t count = (size_t)img->width * img->height;
    float lo = 99999.0f, hi = -99999.0f;
    for (size_t i = 0; i < count; i++) {
        lo = p[i] < lo ? p[i] : lo;
        hi = p[i] > hi ? p[i] : hi;
    }
    float range = hi - lo;
    if (range > 0.0001f) {
        sys_log("scalarautolevel min:%f max:%f", lo, hi);
        float k = 1.0f / range;
        return img_scalarclamp(img, k, -lo * k);
    }
    image *copy = img_copy(img);
    if (!copy)
        sys_error("img_scalarautolevel: failed to allocate image for returning");
    return copy;
}

// The anti-aliased threshold of one pixel, from its 3 x 3 window clipped to
// the field. Values equal to the level count on neither side.
static float img_athpixel(const float *p, int w, int h, int x, int y, float level, int centre)
{
    int nb = 0, na = 0;
    float sb = 0.0f, sa = 0.0f;
    for (int j = (y > 0 ? y - 1 : 0); j <= (y < h - 1 ? y + 1 : h - 1); j++) {
        for (int i = (x > 0 ? x - 1 : 0); i <= (x < w - 1 ? x + 1 : w - 1); i++) {
            float v = p[(size_t)j * w + i];
            if (v < level) {
                nb++;
                sb += v;
            } else if (v > level) {
                na++;
                sa += v;
            }
        }
    }
    if (nb == 0)
        return 1.0f;
    if (na == 0)
        return 0.0f;
    float d = sa / (float)na - sb / (float)nb;
    float v = p[(size_t)y * w + x] - level;
    float r = (double)d > 0.00001 ? v / d : v;
    return r + (centre ? 0.5f : 0.0f);
}

image *img_scalarath(const image *img, float level, int centre)
{
    if (!img_isscalar(img, "img_scalarath"))
        return nullptr;
    image *out = img_allocderived(img, img_nameath, img->width, img->height, img->bytesperpixel);
    if (!out)
        return nullptr;
    const float *p = (const float *)img->pixels;
    float *dst = (float *)out->pixels;
    int w = img->width, h = img->height;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            dst[(size_t)y * w + x] = img_athpixel(p, w, h, x, y, level, centre);
    return out;
}

static image *img_quantizehard(const image *img, int levels)
{
    image *out = img_copy(img);
    if (!out)
        return nullptr;
    float s = (float)(1.0 / levels);
    float *p = (float *)out->pixels;
    size_t count = (size_t)img->width * img->height;
    for (size_t i = 0; i < count; i++)
        p[i] = std::floor(p[i] / s + 0.5f) * s;
    return out;
}

static image *img_quantizesmooth(const image *img, int levels)
{
    image *out = img_allocderived(img, img_nameqnt, img->width, img->height, 4);
    if (!out)
        return nullptr;
    for (int i = 0; i < levels; i++) {
        image *t = img_scalarath(img, (float)((i + 0.5) / levels), 0);
        if (!t) {
            img_free(out);
            return nullptr;
        }
        img_clampunit(t->width * t->height, (float *)t->pixels);
        img_scalarblend(out, t, img_blendadditive, 1.0f / (float)levels);
        img_free(t);
    }
    return out;
}

image *img_scalarquantize(const image *img, int levels, int smooth)
{
    if (!img_isscalar(img, "img_scalarquantize"))
        return nullptr;
    if (levels <= 0) {
        sys_log("img_scalarquantize: %d levels, need at least 1", levels);
        return nullptr;
    }
    return smooth ? img_quantizesmooth(img, levels) : img_quantizehard(img, levels);
}

// The 3 x 3 neighbourhood of an interior pixel.
struct img_fxaawindow {
    float m, n, s, w, e, nw, ne, sw, se;
};

static img_fxaawindow img_fxaaread(const float *p, int width, int x, int y)
{
    const float *up = p + (size_t)(y - 1) * width, *row = up + width, *down = row + width;
    return {row[x], up[x], down[x], row[x - 1], row[x + 1], up[x - 1], up[x + 1], down[x - 1], down[x + 1]};
}

// Steps from (x, y) by (dx, dy), at most 64 times, until the sample differs
// from the local mean a by at least q; returns the steps taken and leaves
// the last difference in e.
static int img_fxaasearch(const image *img, float x, float y, float dx, float dy, float a, float q, float &e)
{
    int steps = 0;
    do {
        steps++;
        x += dx;
        y += dy;
        e = img_samplescalar(img, x, y) - a;
    } while (steps < 64 && !(std::fabs(e) >= q));
    return steps;
}

// The sub-pixel offset used when the edge ends give none: how far the pixel
// stands out from its weighted neighbourhood, relative to the local range.
static float img_fxaasubpixel(const img_fxaawindow &c, float range)
{
    double mean = (2.0 * ((double)c.n + c.s + c.w + c.e) + c.nw + c.ne + c.sw + c.se) / 12.0;
    double r = std::fabs(mean - c.m) / range;
    if (!(r > 0.0))
        return 0.0f;
    if (r >= 1.0)
        return 0.5f;
    double k = r * r * (2.0 * r - 3.0);
    return (float)(k * k * 0.5);
}

static float img_fxaapixel(const image *img, int x, int y)
{
    img_fxaawindow c = img_fxaaread((const float *)img->pixels, img->width, x, y);
    float hi = std::fmax(std::fmax(std::fmax(c.m, c.n), std::fmax(c.s, c.w)), c.e);
    float lo = std::fmin(std::fmin(std::fmin(c.m, c.n), std::fmin(c.s, c.w)), c.e);
    float range = hi - lo;
    if ((double)range < 0.1)
        return c.m;
    float across = std::fabs(c.nw + c.sw - 2.0f * c.w) + 2.0f * std::fabs(c.n + c.s - 2.0f * c.m) +
                   std::fabs(c.ne + c.se - 2.0f * c.e);
    float along = std::fabs(c.nw + c.ne - 2.0f * c.n) + 2.0f * std::fabs(c.w + c.e - 2.0f * c.m) +
                  std::fabs(c.sw + c.se - 2.0f * c.s);
    bool horizontal = across > along;
    float p = horizontal ? c.n : c.w, q = horizontal ? c.s : c.e;
    float gp = std::fabs(p - c.m), gq = std::fabs(q - c.m);
    bool back = gp > gq;
    float d = back ? -1.0f : 1.0f, o = back ? -0.5f : 0.5f, g = back ? gp : gq;
    float a = ((back ? p : q) + c.m) * 0.5f;
    float threshold = (float)(0.1 * (double)g);
    float x0 = (float)x + (horizontal ? 0.0f : o), y0 = (float)y + (horizontal ? o : 0.0f);
    float stepx = horizontal ? 1.0f : 0.0f, stepy = horizontal ? 0.0f : 1.0f;
    float e1, e2;
    float dn = (float)img_fxaasearch(img, x0, y0, -stepx, -stepy, a, threshold, e1);
    float dp = (float)img_fxaasearch(img, x0, y0, stepx, stepy, a, threshold, e2);
    // The nearer end of the edge decides, and only when the pixel lies on the
    // other side of the mean from what that end found.
    bool edge = dp > dn ? e1 * (c.m - a) < 0.0f && dn > 0.0f : e2 * (c.m - a) < 0.0f && dp > 0.0f;
    float nearer = dp > dn ? dn : dp;
    float offset = edge ? 0.5f - nearer / (dp + dn) : img_fxaasubpixel(c, range);
    return horizontal ? img_samplescalar(img, (float)x, (float)y + offset * d)
                      : img_samplescalar(img, (float)x + offset * d, (float)y);
}

image *img_scalarfxaa(const image *img)
{
    if (!img_isscalar(img, "img_scalarfxaa"))
        return nullptr;
    image *out = img_allocderived(img, img_namefxa, img->width, img->height, 4);
    if (!out) {
        sys_error("img_scalarfxaa: failed to allocate output image buffer");
        return nullptr;
    }
    const float *src = (const float *)img->pixels;
    float *dst = (float *)out->pixels;
    int w = img->width, h = img->height;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            size_t i = (size_t)y * w + x;
            bool border = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            dst[i] = border ? src[i] : img_fxaapixel(img, x, y);
        }
    }
    return out;
}
