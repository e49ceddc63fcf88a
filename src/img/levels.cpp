// Levels curves and colour conversions. The curve modes are the ones the
// levels panel draws, so what the user sees in the graph is what the heights
// get: segments between control points, straight, smoothstepped, or Bezier
// curves whose control values come from the neighbouring points.
#include "img/levels.h"

#include "img/blend.h"
#include "sys/log.h"

#include <cmath>

// One tangent per point for the cubic mode: the mean of the secants on both
// sides; the end points are flat unless they sit at the edge of 0..1.
static void levels_tangents(const float (*pt)[2], int n, float *tangent)
{
    float secant[levels_maxpoints] = {}; // secant[i] runs into point i
    for (int i = 1; i < n; i++) {
        float dx = pt[i][0] - pt[i - 1][0];
        dx = dx > 0.01f ? dx : 0.01f;
        secant[i] = (pt[i][1] - pt[i - 1][1]) / dx;
    }
    for (int i = 1; i < n - 1; i++)
        tangent[i] = (secant[i] + secant[i + 1]) / 2.0f;
    tangent[0] = pt[0][0] < 0.01f ? secant[1] : 0.0f;
    tangent[n - 1] = pt[n - 1][0] > 0.99f ? secant[n - 1] : 0.0f;
}

// The quadratic Bezier's control value for segment i: the segment's mid
// value pulled toward the values the neighbouring segments point at.
static float levels_quadcontrol(const float (*pt)[2], int n, int i, float dx)
{
    float y0 = pt[i][1], y1 = pt[i + 1][1];
    float m = (y0 + y1) / 2.0f;
    float a = i == 0 ? m : 1.5f * y0 - 0.5f * pt[i - 1][1];
    float b = i == n - 2 ? m : 1.5f * y1 - 0.5f * pt[i + 2][1];
    float c = (a + b) / 2.0f;
    return m + 2.0f * dx * (c - m);
}

static float levels_cubic(float y0, float c1, float c2, float y1, float t)
{
    float a = y0 + (c1 - y0) * t, b = c1 + (c2 - c1) * t, c = c2 + (y1 - c2) * t;
    float d = a + (b - a) * t, e = b + (c - b) * t;
    return d + (e - d) * t;
}

// Value v on segment i. A segment of no width (two points at one input)
// gives its first point's output instead of dividing by zero.
static float levels_segment(const float (*pt)[2], int n, int i, int mode, const float *tangent, float v)
{
    float y0 = pt[i][1], y1 = pt[i + 1][1];
    float dx = pt[i + 1][0] - pt[i][0];
    float t = dx > 0.0f ? (v - pt[i][0]) / dx : 0.0f;
    switch (mode) {
    case 0:
        return (1.0f - t) * y0 + t * y1;
    case 1: {
        float u = t * t * (3.0f - 2.0f * t);
        return (1.0f - u) * y0 + u * y1;
    }
    case 2: {
        float p = levels_quadcontrol(pt, n, i, dx);
        return (1.0f - t) * (1.0f - t) * y0 + 2.0f * t * (1.0f - t) * p + t * t * y1;
    }
    case 3: {
        float c1 = (float)(y0 + 0.333 * (double)dx * tangent[i]);
        float c2 = (float)(y1 - 0.333 * (double)dx * tangent[i + 1]);
        return levels_cubic(y0, c1, c2, y1, t);
    }
    default:
        return v;
    }
}

static float levels_map(const float (*pt)[2], int n, int mode, const float *tangent, float threshold, float v)
{
    if (v < threshold)
        return v;
    if (v < pt[0][0])
        return pt[0][1];
    if (v > pt[n - 1][0])
        return pt[n - 1][1];
    for (int i = 0; i + 1 < n; i++)
        if (pt[i][0] <= v && v <= pt[i + 1][0])
            return levels_segment(pt, n, i, mode, tangent, v);
    return v;
}

image *img_levels(const image *img, int mode, float threshold, const levels_curve *curve, int n)
{
    if (!img_isscalar(img, "img_levels"))
        return nullptr;
    if (!curve || n < 1 || n > levels_maxpoints) {
        sys_log("img_levels: %d curve points, a curve holds 1 to %d", n, levels_maxpoints);
        return nullptr;
    }
    image *out = img_copy(img);
    if (!out)
        return nullptr;
    double start = sys_seconds();
    // The curved modes need a neighbour on each side of some segment.
    int use = n < 3 && mode > 1 ? 0 : mode;
    float tangent[levels_maxpoints] = {};
    if (use == 3)
        levels_tangents(curve->points, n, tangent);
    float *p = (float *)out->pixels;
    size_t count = (size_t)out->width * out->height;
    for (size_t i = 0; i < count; i++)
        p[i] = levels_map(curve->points, n, use, tangent, threshold, p[i]);
    sys_debuglog("image levels complete mode:%d (%.4fs)", mode, sys_seconds() - start);
    return out;
}

// A rectangle edge in target pixels from a 0..1 fraction: starts round down,
// ends round up; fractions outside 0..1 (or NaN) are held to the image.
static int levels_rectedge(float f, int side, bool end)
{
    if (!(f > 0.0f))
        return 0;
    if (f >= 1.0f)
        return side;
    float v = f * (float)side;
    return end ? (int)std::ceil(v) : (int)v;
}

void img_samplerect(image *target, const image *source, int mode, const float *rect)
{
    if (!target || !target->pixels) {
        sys_log("img_samplerect: no target");
        return;
    }
    int w = target->width, h = target->height;
    int r[4] = {levels_rectedge(rect[0], w, false), levels_rectedge(rect[1], h, false),
                levels_rectedge(rect[2], w, true), levels_rectedge(rect[3], h, true)};
    img_blendrect(target, source, mode, r);
}

void img_hsvtorgb(float *rgb, const float *hsv)
{
    float k = hsv[1] * hsv[2];
    float h = std::fmod(hsv[0] * 6.0f, 6.0f);
    h = h < 0.0f ? h + 6.0f : h;
    // A hue a hair below 0 rounds up to a full turn, which is 0 again.
    h = h >= 6.0f ? 0.0f : h;
    float x = k * (1.0f - std::fabs(std::fmod(h, 2.0f) - 1.0f));
    float m = hsv[2] - k;
    float r = 0.0f, g = 0.0f, b = 0.0f;
    switch (h >= 0.0f && h < 6.0f ? (int)h : -1) {
    case 0: r = k, g = x; break;
    case 1: r = x, g = k; break;
    case 2: g = k, b = x; break;
    case 3: g = x, b = k; break;
    case 4: r = x, b = k; break;
    case 5: r = k, b = x; break;
    default: break;
    }
    rgb[0] = r + m;
    rgb[1] = g + m;
    rgb[2] = b + m;
}

void img_rgbtohsv(float *hsv, const float *rgb)
{
    float r = rgb[0], g = rgb[1], b = rgb[2];
    float hi = std::fmax(r, std::fmax(g, b)), lo = std::fmin(r, std::fmin(g, b));
    float delta = hi - lo;
    if (!(delta > 0.0f)) {
        hsv[0] = 0.0f;
        hsv[1] = 0.0f;
        hsv[2] = hi;
        return;
    }
    float hue = hi == r ? std::fmod((g - b) / delta, 6.0f) / 6.0f
              : hi == g ? ((b - r) / delta + 2.0f) / 6.0f
                        : ((r - g) / delta + 4.0f) / 6.0f;
    hsv[0] = hue < 0.0f ? hue + 1.0f : hue;
    hsv[1] = hi > 0.0f ? delta / hi : 0.0f;
    hsv[2] = hi;
}
