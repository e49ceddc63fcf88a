// Cutter profiles, leave stock and margins. A profile is a dilation kernel:
// the dilation adds it to the canvas and keeps the maximum, so each pixel
// holds minus the tool's height above its tip there, and pixels beyond the
// cutter hold minus the tool's whole length, low enough never to be the
// maximum. (The rounded-rim kernel gives its last argument beyond the rim as
// it is, so the profiles pass it negated; a positive value there would lift
// the whole surface by the tool's length and no cut would ever be made.)
#include "cam/profile.h"

#include "cam/generate.h"
#include "cam/tool.h"
#include "img/adjust.h"
#include "img/blend.h"
#include "img/blur.h"
#include "img/convolve.h"
#include "img/image.h"
#include "img/stamp.h"
#include "sys/log.h"

#include <algorithm>
#include <cmath>
#include <cstring>

constexpr int profile_rim = 1; // the rounded-rim kernel of img_scalarparametric
constexpr float profile_pi = 3.14159265358979f;

namespace {
// Horizontal lengths to pixels and vertical ones to canvas-depth heights.
struct profile_scale {
    float ppu, depth;
    float px(float v) const { return v * ppu; }
    float z(float v) const { return v / depth; }
};
} // namespace

static image *profile_blank()
{
    return img_allocfloat("blanktool", 1, 1);
}

// Corner radius in pixels, half a pixel wider away from zero: a negative
// radius (inverted, router-style rounding) keeps its sign.
static float profile_corner(const profile_scale &s, float r)
{
    return r < 0.0f ? s.px(r) - 0.5f : s.px(r) + 0.5f;
}

// A ball of radius r under a cone of the taper angle that touches it: the
// cone's flat tip, lowered to the height where the two meet, with the ball
// raised into it.
static image *profile_taperball(const profile_scale &s, float r, float degrees, float m, float total)
{
    const float a = degrees * profile_pi / 180.0f;
    const float h = r * (1.0f - std::sin(a)), mm = m - h;
    image *cone = img_scalarparametric(img_profiletapered, 1.0f, s.px(2.0f * r * std::cos(a)) + 0.5f,
                                       s.px(mm) + 0.5f, degrees, s.z(mm), s.z(total));
    if (!cone)
        return nullptr;
    image *shifted = img_scalarclamp(cone, 1.0f, -s.z(h));
    img_free(cone);
    image *ball = img_scalarparametric(profile_rim, 1.0f, s.px(2.0f * r) + 0.5f, s.px(r), s.px(r) + 0.5f, s.z(r),
                                       -s.z(total));
    image *canvas = shifted && ball ? img_allocfloat("ball", shifted->width, shifted->height) : nullptr;
    if (!canvas) {
        img_free(shifted);
        img_free(ball);
        return nullptr;
    }
    std::fill_n((float *)canvas->pixels, (size_t)canvas->width * canvas->height, -s.z(total));
    // Both kernels have odd sides about their middle pixel: centred by whole
    // pixels, the ball keeps its exact values.
    img_simplestamp(ball, canvas, img_stampoffset((canvas->width - ball->width) / 2,
                                                  (canvas->height - ball->height) / 2));
    img_free(ball);
    img_scalarblend(shifted, canvas, img_blendmaximum, 1.0f);
    img_free(canvas);
    return shifted;
}

image *cam_gentoolprofile(int n, const float *size, int width, float maxdepth)
{
    if (n < 0 || n >= cam_maxtools) {
        sys_log("cam_gentoolprofile: no tool index %d", n);
        return nullptr;
    }
    const tool &t = cam_tools[n];
    const float f = cam_unitsfactor(t.units, img_refscale);
    const float m = std::fmin(maxdepth, t.flutelength * f);
    sys_debuglog("cam_gentoolprofile tool[%d] size:%f,%f width:%d maxdepth:%f", n, size[0], size[2], width, m);
    const profile_scale s = {(float)width / size[0], size[2]};
    const float d = t.flutediameter * f, total = t.length * f;
    switch (t.type) {
    case tool_none:
        return profile_blank();
    case tool_cylinder: {
        const float r = t.aux * f;
        return img_scalarparametric(profile_rim, 1.0f, s.px(d) + 0.5f, s.px(t.flutelength * f),
                                    profile_corner(s, r), s.z(std::fabs(r)), -s.z(total));
    }
    case tool_tapered:
        return img_scalarparametric(img_profiletapered, 1.0f, s.px(d) + 0.5f, s.px(m), t.aux, s.z(m), s.z(total));
    case tool_vbit:
        return img_scalarparametric(img_profiletapered, 1.0f, 0.0f, s.px(m) + 0.5f, t.aux * 0.5f, s.z(m),
                                    s.z(total));
    case tool_taperball:
        return profile_taperball(s, d, t.aux, m, total);
    }
    sys_log("cam_gentoolprofile: tool[%d] has unknown type %d", n, t.type);
    return nullptr;
}

image *cam_leavestock(const image *img, const float *size, float stock)
{
    if (!img_isscalar(img, "cam_leavestock"))
        return nullptr;
    const float r = (float)img->width / size[0] * stock, s = stock / size[2];
    image *k = img_scalarparametric(profile_rim, 1.0f, 2.0f * r, r, r, s, -64.0f * s);
    if (!k)
        return nullptr;
    // Lifted by the stock, the sphere's top sits on the canvas: the grown
    // surface lies the stock above the canvas where it is flat.
    float *px = (float *)k->pixels;
    for (size_t i = 0; i < (size_t)k->width * k->height; i++)
        px[i] += s;
    image *out = img_scalarconvo(img, k, 0, -99999.0f, 0.0f);
    img_free(k);
    return out;
}

static void profile_setfrac(const float *size, const float *origin, float *frac)
{
    frac[0] = origin[0] / size[0];
    frac[1] = origin[1] / size[1];
}

// Mode 2's margins: every pixel outside the copied block takes the nearest
// pixel of the block (corners the corner pixel, bands the edge row or column).
static void profile_clampedges(image *out, int px, int py, int w, int h)
{
    float *p = (float *)out->pixels;
    const int ow = out->width;
    for (int y = 0; y < out->height; y++) {
        const int sy = std::clamp(y, py, py + h - 1);
        for (int x = 0; x < ow; x++) {
            const int sx = std::clamp(x, px, px + w - 1);
            if (sx != x || sy != y)
                p[(size_t)y * ow + x] = p[(size_t)sy * ow + sx];
        }
    }
}

image *cam_padimage(const image *img, float *size, float *origin, float *frac, float pad, int mode)
{
    if (!img_isscalar(img, "cam_padimage"))
        return nullptr;
    const float ppx = img->width / size[0], ppy = img->height / size[1];
    const int px = (int)std::ceil(pad * ppx), py = (int)std::ceil(pad * ppy);
    if (px < 0 || py < 0) {
        sys_log("cam_padimage: pad %f is negative", pad);
        return nullptr;
    }
    image *out = img_allocfloat("campad", img->width + 2 * px, img->height + 2 * py);
    if (!out)
        return nullptr;
    std::fill_n((float *)out->pixels, (size_t)out->width * out->height, mode == 1 ? 256.0f : 0.0f);
    img_simplestamp(img, out, img_stampoffset(px, py));
    if (mode == 2)
        profile_clampedges(out, px, py, img->width, img->height);
    origin[0] += px / ppx;
    size[0] += 2 * px / ppx;
    origin[1] += py / ppy;
    size[1] += 2 * py / ppy;
    profile_setfrac(size, origin, frac);
    return out;
}

image *cam_borderimage(const image *img, float *size, float *origin, float *frac, int raised)
{
    if (!img_isscalar(img, "cam_borderimage"))
        return nullptr;
    image *out = img_allocfloat("cambrdr", img->width + 2, img->height + 2);
    if (!out)
        return nullptr;
    std::fill_n((float *)out->pixels, (size_t)out->width * out->height, raised ? 256.0f : 0.0f);
    img_simplestamp(img, out, img_stampoffset(1, 1));
    const float sx = size[0] / img->width, sy = size[1] / img->height;
    size[0] += 2 * sx;
    size[1] += 2 * sy;
    origin[0] += sx;
    origin[1] += sy;
    profile_setfrac(size, origin, frac);
    return out;
}

image *cam_cropborder(const image *img, float *size, float *origin, float *frac, float border)
{
    if (!img || !img->pixels || img->width <= 0 || img->height <= 0) {
        sys_log("cam_cropborder: no image");
        return nullptr;
    }
    const float sx = size[0] / img->width, sy = size[1] / img->height;
    const double bxd = std::ceil(border / sx), byd = std::ceil(border / sy);
    if (!(bxd >= 0 && byd >= 0 && 2 * bxd < img->width && 2 * byd < img->height)) {
        sys_log("cam_cropborder: a border of %f leaves nothing of %dx%d", border, img->width, img->height);
        return nullptr;
    }
    const int bx = (int)bxd, by = (int)byd;
    char name[img_maxname];
    img_derivedname(name, img, img_namedr);
    image *out = img_alloc(name, img->width - 2 * bx, img->height - 2 * by, img->bytesperpixel);
    if (!out)
        return nullptr;
    const size_t bpp = img->bytesperpixel, row = (size_t)out->width * bpp;
    for (int y = 0; y < out->height; y++)
        memcpy(out->pixels + y * row, img->pixels + ((size_t)(y + by) * img->width + bx) * bpp, row);
    size[0] -= 2 * bx * sx;
    size[1] -= 2 * by * sy;
    origin[0] -= bx * sx;
    origin[1] -= by * sy;
    profile_setfrac(size, origin, frac);
    return out;
}
