// Stamping. The super stamps sample the source once per target pixel, so a
// source holding more than one pixel per target pixel would alias; it is
// shrunk to the footprint first (area-weighted) and then sampled one to one.
// Quarter turns use exact matrices so that a turned stamp keeps its pixels.
#include "img/stamp.h"

#include "img/bands.h"
#include "img/resample.h"
#include "img/vector.h"
#include "sys/log.h"

#include <climits>
#include <cmath>
#include <cstring>

// One band per idle worker (at least 1, never more than rows); the caller
// takes the last band itself.
constexpr img_bandrule img_bandssimplestamp = {img_bandsidle, 0, true, false, 1};

void job_simplestamp(void *arg)
{
    img_simplestampband *b = (img_simplestampband *)arg;
    const float *src = (const float *)b->src->pixels;
    float *dst = (float *)b->dst->pixels;
    size_t run = (size_t)(b->col1 - b->col0) * sizeof(float);
    for (int y = b->row0; y < b->row1; y++)
        memcpy(dst + (size_t)(y + b->oy) * b->dst->width + (b->col0 + b->ox),
               src + (size_t)y * b->src->width + b->col0, run);
    img_banddone(b->done);
}

void img_simplestamp(const image *source, image *target, int64_t offset)
{
    if (!img_isscalar(source, "img_simplestamp") || !img_isscalar(target, "img_simplestamp"))
        return;
    int ox = (int32_t)(uint32_t)offset, oy = (int32_t)(offset >> 32);
    // The clip in source coordinates, in 64 bits so no offset can overflow it.
    int64_t w = source->width, h = source->height, tw = target->width, th = target->height;
    int64_t x0 = ox < 0 ? -(int64_t)ox : 0, x1 = w + ox > tw ? tw - ox : w;
    int64_t y0 = oy < 0 ? -(int64_t)oy : 0, y1 = h + oy > th ? th - oy : h;
    if (y1 <= y0 || x1 <= x0)
        return;
    img_simplestampband proto = {source, target, ox, oy, (int)x0, (int)x1, 0, 0, 0};
    img_bands<img_simplestampband>(img_bandssimplestamp, (int)y0, (int)y1, "simplestamp", job_simplestamp,
                                   [&](const img_bandrange &) { return proto; });
}

void img_stampmatrix(float angle, float kx, float ky, float cx, float cy, float *m)
{
    float a = std::fmod(angle, 360.0f);
    if (a < 0.0f)
        a += 360.0f;
    float m00, m01, m10, m11;
    if (std::fabs(a) < 0.0001f) {
        m00 = kx, m01 = 0.0f, m10 = 0.0f, m11 = ky;
    } else if (std::fabs(a - 90.0f) < 0.0001f) {
        m00 = 0.0f, m01 = -ky, m10 = kx, m11 = 0.0f;
    } else if (std::fabs(a - 180.0f) < 0.0001f) {
        m00 = -kx, m01 = 0.0f, m10 = 0.0f, m11 = -ky;
    } else if (std::fabs(a - 270.0f) < 0.0001f) {
        m00 = 0.0f, m01 = ky, m10 = -kx, m11 = 0.0f;
    } else {
        const long double pi = 3.14159265358979323846264338327950288L;
        float r1 = (float)(pi * -(long double)a / 180.0L);
        float r2 = (float)(pi * (90.0L - (long double)a) / 180.0L);
        m00 = kx * (float)std::cos((double)r1);
        m01 = ky * (float)std::sin((double)r1);
        m10 = kx * (float)std::cos((double)r2);
        m11 = ky * (float)std::sin((double)r2);
    }
    const float out[9] = {m00, m01, 0.0f, m10, m11, 0.0f, cx, cy, 0.0f};
    memcpy(m, out, sizeof(out));
}

// A footprint side of at least one pixel, sign kept: a smaller (or zero, or
// NaN) side would make the source step infinite and the shrunk copy empty.
static float img_stampside(float side)
{
    if (std::fabs(side) >= 1.0f)
        return side;
    return side < 0.0f ? -1.0f : 1.0f;
}

// The pixel count of a footprint side for the shrunk copy; far too large a
// side is held at INT_MAX, which the image table then refuses.
static int img_stamppixels(float side)
{
    double s = std::fabs((double)side);
    return s < (double)INT_MAX ? (int)s : INT_MAX;
}

// What both super stamps share: the clamped footprint, the working source
// (the source itself or its copy shrunk to the footprint) and the matrix.
struct img_stampsetup {
    const image *work;
    image *shrunk; // the working source when it was made here, else null
    float size[3];
    float matrix[9];
};

static bool img_stampprepare(const image *source, const float *size, float angle, bool vectors,
                             img_stampsetup &s)
{
    double start = sys_seconds();
    float sw = img_stampside(size[0]), sh = img_stampside(size[1]);
    s.size[0] = sw;
    s.size[1] = sh;
    s.size[2] = size[2];
    s.work = source;
    s.shrunk = nullptr;
    float kx = (float)source->width / sw, ky = (float)source->height / sh;
    if (std::fabs(kx) > 1.0f || std::fabs(ky) > 1.0f) {
        int w = img_stamppixels(sw), h = img_stamppixels(sh);
        image *shrunk = vectors ? img_rescalevector(source, w, h) : img_rescalescalar(source, w, h);
        if (!shrunk) {
            sys_log("%s: cannot shrink \"%s\" to %dx%d, nothing stamped",
                    vectors ? "img_vecsuperstamp" : "img_superstamp", source->name, w, h);
            return false;
        }
        if (vectors)
            sys_debuglog("downscaled source images (%.4fs)", sys_seconds() - start);
        else
            sys_debuglog("superstamp: downscaled srcimg (%.4fs)", sys_seconds() - start);
        s.work = s.shrunk = shrunk;
        kx = sw < 0.0f ? -1.0f : 1.0f;
        ky = sh < 0.0f ? -1.0f : 1.0f;
    }
    float cx = (float)(s.work->width * 0.5), cy = (float)(s.work->height * 0.5);
    img_stampmatrix(angle, kx, ky, cx, cy, s.matrix);
    return true;
}

// The source position of target pixel (x, y); false outside the working source.
static inline bool img_stampsource(const float *m, const float *pos, const image *src, int x, int y, float &sx,
                                   float &sy)
{
    float dx = (float)x - pos[0], dy = (float)y - pos[1];
    sx = dx * m[0] + dy * m[3] + m[6];
    sy = dx * m[1] + dy * m[4] + m[7];
    return sx >= 0.0f && sy >= 0.0f && sx < (float)src->width && sy < (float)src->height;
}

void job_superstamp(void *arg)
{
    img_superstampband *b = (img_superstampband *)arg;
    float sd = b->size[2], pz = b->position[2];
    for (int y = b->row0; y < b->row1; y++) {
        float *row = b->dst + (size_t)(y - b->row0) * b->width;
        for (int x = 0; x < b->width; x++) {
            float sx, sy;
            if (!img_stampsource(b->matrix, b->position, b->src, x, y, sx, sy))
                continue;
            float s = img_samplescalar(b->src, sx, sy);
            if (!(s >= b->threshold))
                continue;
            row[x] = b->invert ? (float)((1.0 - (double)s) * sd + pz) : s * sd + pz;
        }
    }
    img_banddone(b->done);
}

void img_superstamp(const image *source, image *target, const float *position, const float *size, float angle,
                    float threshold, int invert)
{
    if (!img_isscalar(source, "img_superstamp") || !img_isscalar(target, "img_superstamp"))
        return;
    img_stampsetup s;
    if (!img_stampprepare(source, size, angle, false, s))
        return;
    float *dst = (float *)target->pixels;
    int tw = target->width;
    img_bands<img_superstampband>(img_bandsresample, 0, target->height, "superstamp", job_superstamp,
                                  [&](const img_bandrange &r) {
                                      img_superstampband b = {0, 0, tw, target->height, threshold, invert, 0,
                                                              {}, {}, {}, dst + (size_t)r.row0 * tw, s.work};
                                      memcpy(b.matrix, s.matrix, sizeof(b.matrix));
                                      memcpy(b.size, s.size, sizeof(b.size));
                                      memcpy(b.position, position, sizeof(b.position));
                                      return b;
                                  });
    img_free(s.shrunk);
}

void job_vecsuperstamp(void *arg)
{
    img_vecstampband *b = (img_vecstampband *)arg;
    float sd = b->size[2], pz = b->position[2];
    for (int y = b->row0; y < b->row1; y++) {
        img_vec *row = (img_vec *)b->dst + (size_t)(y - b->row0) * b->width;
        for (int x = 0; x < b->width; x++) {
            float sx, sy;
            if (!img_stampsource(b->matrix, b->position, b->src, x, y, sx, sy))
                continue;
            img_vec c = img_vecunpack(img_samplecolor(b->src, sx, sy));
            row[x] = {img_veccomponent(c.x * sd + pz), img_veccomponent(c.y * sd + pz)};
        }
    }
    img_banddone(b->done);
}

void img_vecsuperstamp(const image *source, image *target, const float *position, const float *size,
                       float angle)
{
    if (!img_isvector(source, "img_vecsuperstamp") || !img_isvector(target, "img_vecsuperstamp"))
        return;
    img_stampsetup s;
    if (!img_stampprepare(source, size, angle, true, s))
        return;
    img_vec *dst = (img_vec *)target->pixels;
    int tw = target->width;
    img_bands<img_vecstampband>(img_bandsresample, 0, target->height, "vecsuperstamp", job_vecsuperstamp,
                                [&](const img_bandrange &r) {
                                    img_vecstampband b = {s.work, dst + (size_t)r.row0 * tw, 0, 0, tw,
                                                          target->height, {}, {}, {}, 0};
                                    memcpy(b.matrix, s.matrix, sizeof(b.matrix));
                                    memcpy(b.size, s.size, sizeof(b.size));
                                    memcpy(b.position, position, sizeof(b.position));
                                    return b;
                                });
    img_free(s.shrunk);
}
