// Tiling and tilting. Both tilings map every output pixel back to a source
// position through the one bilinear sampler; pixels in the gaps between
// copies stay 0.
#include "img/tile.h"

#include "img/resample.h"
#include "sys/log.h"

#include <cmath>
#include <cstdio>

constexpr double tile_maxside = 65536.0; // side limit of a circular tiling

image *img_scalartile2d(const image *img, int columns, int rows, float fillx, float filly)
{
    if (!img_isscalar(img, "img_scalartile2d"))
        return nullptr;
    if (columns < 1 || rows < 1) {
        sys_log("img_scalartile2d: no tiles %dx%d", columns, rows);
        return nullptr;
    }
    const int w = img->width, h = img->height;
    float cw = (float)w / (float)columns, ch = (float)h / (float)rows;
    float ax = fillx <= 0.01f ? 0.01f : fillx >= 1.0f ? 1.0f : fillx;
    float ay = filly <= 0.01f ? 0.01f : filly >= 1.0f ? 1.0f : filly;
    // Output positions are compressed so that the gaps fall only between
    // tiles, never after the last one.
    float kx = (float)(w - cw * (1.0 - ax)) / (float)w;
    float ky = (float)(h - ch * (1.0 - ay)) / (float)h;
    image *out = img_allocderived(img, img_namerp2d, w, h, 4);
    if (!out)
        return nullptr;
    sys_log("tiling %dx%d at %dx%d %fx%f", w, h, columns, rows, ax, ay);
    float *px = (float *)out->pixels;
    for (int y = 0; y < h; y++) {
        float v = std::fmod((float)y * ky, ch);
        v += v < 0.0f ? ch : 0.0f;
        float tv = v / (ch * ay);
        for (int x = 0; x < w; x++) {
            float u = std::fmod((float)x * kx, cw);
            u += u < 0.0f ? cw : 0.0f;
            float tu = u / (cw * ax);
            if (tu < 1.0f && tv < 1.0f)
                px[(size_t)y * w + x] = img_samplescalar(img, (float)w * tu, (float)h * tv);
        }
    }
    return out;
}

// Source position of ring pixel (i, j), j growing upwards from the centre;
// false in the gaps and off the ring.
struct tile_ring {
    float radius, width; // R and the filled ring width t x fill
    float count, fill, phase;
    bool flipped;
    bool at(int i, int j, float *u, float *v) const
    {
        float a = std::atan2((float)j, (float)i) / (float)M_PI * 0.5f;
        float turn = flipped ? a + 0.5f : 0.5f - a;
        float s = std::fmod(turn * count - phase, 1.0f);
        s += s < 0.0f ? 1.0f : 0.0f;
        if (s >= fill)
            return false;
        float dist = std::sqrt((float)i * i + (float)j * j);
        float r = (dist - (radius - width / 2.0f)) / width;
        // The source's first row lies on the outer rim, or flipped on the inner.
        if (!flipped)
            r = 1.0f - r;
        *u = s;
        *v = r;
        return r >= 0.0f && r < 1.0f;
    }
};

image *img_scalartilecircular(const image *img, int count, float radius, float fill, float phase)
{
    if (!img_isscalar(img, "img_scalartilecircular"))
        return nullptr;
    if (count < 1 || img->width < 1 || !std::isfinite(radius) || !std::isfinite(fill) || !std::isfinite(phase)) {
        sys_log("img_scalartilecircular: bad ring of %d copies, radius %f, fill %f", count, radius, fill);
        return nullptr;
    }
    const int w = img->width, h = img->height;
    float big = std::fabs(radius);
    float t = (float)(2.0L * (long double)M_PI * big * ((long double)h / w) / count);
    double side = std::ceil((double)(float)(2.0 * (t / 2.0 + big)));
    if (side > tile_maxside) {
        sys_log("img_scalartilecircular: ring of %.0f pixels is too large", side);
        return nullptr;
    }
    const int s = (int)side, half = s / 2;
    image *out = img_allocderived(img, img_namerpcl, s, s, 4);
    if (!out)
        return nullptr;
    const tile_ring ring = {big, t * fill, (float)count, fill, phase, radius < 0.0f};
    float *px = (float *)out->pixels;
    for (int j = half; j > half - s; j--) {
        for (int i = -half; i < s - half; i++) {
            float u, v;
            if (ring.at(i, j, &u, &v))
                px[(size_t)(half - j) * s + (i + half)] = img_samplescalar(img, w * (u / fill), v * h);
        }
    }
    return out;
}

image *img_scalartilt(int width, int height, float anglex, float angley, float scale)
{
    // The name carries the angles as integers, which they must fit.
    if (!(std::fabs(anglex) < 1e9f && std::fabs(angley) < 1e9f)) {
        sys_log("img_scalartilt: bad angles %f, %f", anglex, angley);
        return nullptr;
    }
    float rx = (float)(M_PIl * anglex / 180.0L), ry = (float)(M_PIl * angley / 180.0L);
    float tx = (float)std::tan((double)ry) * scale, ty = (float)std::tan((double)rx) * scale;
    char name[img_maxname];
    snprintf(name, sizeof(name), "tilt%d_%d", (int)anglex, (int)angley);
    image *out = img_alloc(name, width, height, 4);
    if (!out)
        return nullptr;
    float *px = (float *)out->pixels;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            px[(size_t)y * width + x] = ((float)x - width * 0.5f) * tx + ((float)y - height * 0.5f) * ty;
    return out;
}
