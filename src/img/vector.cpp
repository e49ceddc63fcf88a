// Vector images: sampling, resampling and displacement. Components are
// integers throughout: a sample is truncated toward zero, and the shrinking
// sums are truncated after every addition, so contributions of less than one
// unit are lost. The brushes work with large component values, where this
// does not show.
#include "img/vector.h"

#include "img/bands.h"
#include "img/resample.h"
#include "sys/log.h"

#include <climits>
#include <cmath>

int16_t img_veccomponent(float v)
{
    if (!(v > -32768.0f))
        return v != v ? 0 : INT16_MIN;
    return v >= 32767.0f ? INT16_MAX : (int16_t)v;
}

bool img_isvector(const image *img, const char *caller)
{
    if (!img || !img->pixels) {
        sys_log("%s: no image", caller);
        return false;
    }
    if (img->bytesperpixel != 4) {
        sys_log("%s: \"%s\" has %d bytes per pixel, not a vector image", caller, img->name, img->bytesperpixel);
        return false;
    }
    return true;
}

uint32_t img_samplecolor(const image *img, float x, float y)
{
    int w = img->width;
    img_samplecell c = img_cellof(w, img->height, x, y);
    float fx = c.fx, fy = c.fy;
    const img_vec *p = (const img_vec *)img->pixels;
    const img_vec *r0 = p + (size_t)c.y0 * w, *r1 = p + (size_t)c.y1 * w;
    float w00 = (1.0f - fx) * (1.0f - fy), w10 = fx * (1.0f - fy), w01 = (1.0f - fx) * fy, w11 = fx * fy;
    int x0 = c.x0, x1 = c.x1;
    float vx = r0[x0].x * w00 + r0[x1].x * w10 + r1[x0].x * w01 + r1[x1].x * w11;
    float vy = r0[x0].y * w00 + r0[x1].y * w10 + r1[x0].y * w01 + r1[x1].y * w11;
    // A weighted mean of 16-bit values stays within 16 bits.
    return img_vecpack({(int16_t)vx, (int16_t)vy});
}

void img_rescalecolorrows(void *arg)
{
    img_bilinearband *b = (img_bilinearband *)arg;
    img_vec *dst = (img_vec *)b->dst;
    for (int y = b->row0; y < b->row1; y++) {
        img_vec *row = dst + (size_t)(y - b->row0) * b->dstwidth;
        float fy = (float)y * b->ystep;
        for (int x = 0; x < b->dstwidth; x++)
            row[x] = img_vecunpack(img_samplecolor(b->src, (float)x * b->xstep, fy));
    }
    img_banddone(b->done);
}

void job_downscalevector(void *arg)
{
    img_areaband *b = (img_areaband *)arg;
    const img_vec *src = (const img_vec *)b->src;
    img_vec *dst = (img_vec *)b->dst;
    float sx = (float)b->srcwidth / (float)b->dstwidth, sy = (float)b->srcheight / (float)b->dstheight;
    for (int y = b->row0; y < b->row1; y++) {
        img_span ys = img_spanof(y, sy, b->keepheight, b->srcheight);
        for (int x = 0; x < b->dstwidth; x++) {
            img_span xs = img_spanof(x, sx, b->keepwidth, b->srcwidth);
            // 64 bits: a large shrink of long vectors overflows 32.
            int64_t sumx = 0, sumy = 0;
            float wsum = 0.0f;
            for (int i = ys.i0; i < ys.i1; i++) {
                float wy = img_spanweight(ys, i);
                const img_vec *row = src + (size_t)i * b->srcwidth;
                for (int j = xs.i0; j < xs.i1; j++) {
                    float w = img_spanweight(xs, j) * wy;
                    wsum += w;
                    sumx = (int64_t)((float)sumx + row[j].x * w);
                    sumy = (int64_t)((float)sumy + row[j].y * w);
                }
            }
            dst[(size_t)y * b->dstwidth + x] = {img_veccomponent((float)sumx / wsum),
                                                img_veccomponent((float)sumy / wsum)};
        }
    }
    img_banddone(b->done);
}


image *img_rescalevector(const image *img, int width, int height)
{
    if (!img_isvector(img, "img_rescalevector") || !img_checksizes(img, width, height, "img_rescalevector"))
        return nullptr;
    if (width >= img->width && height >= img->height) {
        sys_debuglog("img_rescalevector: upscaling \"%s\" %d,%d to %d,%d", img->name, img->width, img->height,
                     width, height);
        image *out = img_allocderived(img, img_nameupv, width, height, 4);
        if (!out)
            return nullptr;
        float xstep = (float)img->width / (float)width, ystep = (float)img->height / (float)height;
        img_vec *dst = (img_vec *)out->pixels;
        img_bands<img_bilinearband>(img_bandsresample, 0, height, "upv%02d", img_rescalecolorrows,
                                    [&](const img_bandrange &r) {
                                        return img_bilinearband{img, (float *)(dst + (size_t)r.row0 * width),
                                                                xstep, ystep, width, height, 0, 0, 0};
                                    });
        return out;
    }
    image *out = img_allocderived(img, img_namednv, width, height, 4);
    if (!out)
        return nullptr;
    sys_debuglog("img_downscalevector: downscaling \"%s\" %d,%d to %d,%d", img->name, img->width, img->height,
                 width, height);
    img_areaband proto = {img->pixels, out->pixels, width, height, 1, img->width, img->height,
                          0, 0, img->width <= width, img->height <= height, 0};
    img_bands<img_areaband>(img_bandsresample, 0, height, "downscale", job_downscalevector,
                            [&](const img_bandrange &) { return proto; });
    return out;
}

// Mean of the field along the segment from (x, y) to (x, y) + (dx, dy), end
// excluded, in steps of 0.2 pixel; a displacement shorter than about a third
// of a pixel leaves the pixel as it is.
static float img_smear(const image *src, float x, float y, float dx, float dy)
{
    float l2 = dx * dx + dy * dy;
    if ((double)l2 < 0.1)
        return img_samplescalar(src, x, y);
    float step = (float)(0.2 / std::sqrt((double)l2));
    float t = 0.0f, sum = 0.0f;
    int count = 0;
    do {
        sum += img_samplescalar(src, x + dx * t, y + dy * t);
        t += step;
        count++;
    } while (t < 1.0f);
    return sum / (float)count;
}

void job_vecdisplace(void *arg)
{
    img_displaceband *b = (img_displaceband *)arg;
    int w = b->src->width;
    for (int y = b->row0; y < b->row1; y++) {
        float *row = b->dst + (size_t)(y - b->row0) * w;
        const img_vec *vec = b->vec + (size_t)(y - b->row0) * w;
        for (int x = 0; x < w; x++) {
            float dx = vec[x].x * b->xscale, dy = vec[x].y * b->yscale;
            row[x] = b->mode == 0 ? img_samplescalar(b->src, (float)x + dx, (float)y + dy)
                                  : img_smear(b->src, (float)x, (float)y, dx, dy);
        }
    }
    img_banddone(b->done);
}

// The longest displacement accepted: the smear takes five samples per pixel
// of length, so an unbounded scale would never finish.
constexpr float img_maxdisplace = 1.0e6f;

image *img_vecdisplace(const image *img, const image *vectors, float xscale, float yscale, int mode)
{
    if (!img_isscalar(img, "img_vecdisplace") || !img_isvector(vectors, "img_vecdisplace"))
        return nullptr;
    if (vectors->width != img->width || vectors->height != img->height) {
        sys_log("img_vecdisplace: vectors \"%s\" are %dx%d, the field \"%s\" is %dx%d", vectors->name,
                vectors->width, vectors->height, img->name, img->width, img->height);
        return nullptr;
    }
    if (!(std::fabs(xscale) <= img_maxdisplace) || !(std::fabs(yscale) <= img_maxdisplace)) {
        sys_log("img_vecdisplace: displacement scale %g,%g out of range", xscale, yscale);
        return nullptr;
    }
    image *out = img_allocderived(img, img_namevd, img->width, img->height, 4);
    if (!out)
        return nullptr;
    float kx = xscale / 32767.0f, ky = yscale / 32767.0f;
    float *dst = (float *)out->pixels;
    const img_vec *vec = (const img_vec *)vectors->pixels;
    int w = img->width;
    img_bands<img_displaceband>(img_bandsresample, 0, img->height, "vecdisplace", job_vecdisplace,
                                [&](const img_bandrange &r) {
                                    size_t first = (size_t)r.row0 * w;
                                    return img_displaceband{img, dst + first, vec + first, 0, 0, kx, ky, mode, 0};
                                });
    return out;
}
