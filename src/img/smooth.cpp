// Distance-field smoothing by vector propagation. Each transform seeds the
// pixels on one side of the edge (edge pixels a fraction of a pixel off),
// then sweeps forward and backward over the rows, every pixel adopting the
// seed its neighbours point to when that is nearer, until a sweep changes
// nothing. The inside and outside transforms add into one signed result.
#include "img/smooth.h"

#include "sys/log.h"
#include "sys/mem.h"

#include <algorithm>
#include <climits>
#include <cmath>

// The working arrays of one transform: distances (in the temporary image)
// and the integer offsets (dx, dy) from each pixel back to its seed.
struct smooth_field {
    float *dist;
    int32_t *vec;
    int width, height;
};

// Seeds with t the pixel's share of the seeded side: whole pixels at 0,
// edge pixels at 0.5 - t (negative past the half), the rest far away.
static void smooth_seed(const smooth_field &f, const float *src, bool inside)
{
    size_t n = (size_t)f.width * f.height;
    for (size_t i = 0; i < n; i++) {
        float t = inside ? 1.0f - src[i] : src[i];
        f.dist[i] = t >= 1.0f ? 0.0f : t > 0.0f ? 0.5f - t : img_smoothfar;
        f.vec[2 * i] = f.vec[2 * i + 1] = 0;
    }
}

// Pixel (x, y) tries the seed of its neighbour at (x + nx, y + ny); true when
// that seed is strictly nearer than the pixel's own distance.
static bool smooth_try(const smooth_field &f, int x, int y, int nx, int ny)
{
    int cx = x + nx, cy = y + ny;
    if (cx < 0 || cx >= f.width || cy < 0 || cy >= f.height)
        return false;
    size_t at = (size_t)y * f.width + x, from = (size_t)cy * f.width + cx;
    int vx = f.vec[2 * from] - nx, vy = f.vec[2 * from + 1] - ny;
    size_t seed = (size_t)(y - vy) * f.width + (x - vx);
    float d = f.dist[seed] + std::sqrt((float)(vx * vx + vy * vy));
    if (!(d < f.dist[at]))
        return false;
    f.dist[at] = d;
    f.vec[2 * at] = vx;
    f.vec[2 * at + 1] = vy;
    return true;
}

// Tries the neighbours (dx, dy pairs) of one pixel in order, when the
// pixel's distance passes the step's test.
static bool smooth_pixel(const smooth_field &f, int x, int y, bool rowend, const int (*nb)[2], int count)
{
    float d = f.dist[(size_t)y * f.width + x];
    if (rowend ? !(d > 0.0f) : d == 0.0f)
        return false;
    bool changed = false;
    for (int k = 0; k < count; k++)
        changed |= smooth_try(f, x, y, nb[k][0], nb[k][1]);
    return changed;
}

// One row of a sweep. dir is +1 forward (neighbours above, the row left to
// right, then a right-to-left scan) and -1 backward (everything mirrored).
static bool smooth_row(const smooth_field &f, int y, int dir)
{
    const int w = f.width;
    const int firstnb[2][2] = {{0, -dir}, {dir, -dir}};
    const int middlenb[4][2] = {{-dir, 0}, {-dir, -dir}, {0, -dir}, {dir, -dir}};
    const int lastnb[3][2] = {{-dir, 0}, {-dir, -dir}, {0, -dir}};
    const int backnb[1][2] = {{dir, 0}};
    int start = dir > 0 ? 0 : w - 1, end = dir > 0 ? w - 1 : 0;
    bool changed = smooth_pixel(f, start, y, true, firstnb, 2);
    for (int x = start + dir; x != end && w > 1; x += dir)
        changed |= smooth_pixel(f, x, y, false, middlenb, 4);
    if (w > 1)
        changed |= smooth_pixel(f, end, y, true, lastnb, 3);
    for (int x = end - dir; w > 1 && x != start - dir; x -= dir)
        changed |= smooth_pixel(f, x, y, false, backnb, 1);
    return changed;
}

static void smooth_propagate(const smooth_field &f)
{
    for (bool changed = true; changed;) {
        changed = false;
        for (int y = 1; y < f.height; y++)
            changed |= smooth_row(f, y, 1);
        for (int y = f.height - 2; y >= 0; y--)
            changed |= smooth_row(f, y, -1);
    }
}

image *img_scalardistsmooth(const image *img, float scale, float offset)
{
    if (!img_isscalar(img, "img_scalardistsmooth"))
        return nullptr;
    image *out = img_allocderived(img, img_namesmth, img->width, img->height, 4);
    if (!out) {
        sys_error("img_scalardistsmooth: failed to allocate image for returning");
        return nullptr;
    }
    image *tmp = img_alloc("smoothtmp", img->width, img->height, 4);
    if (!tmp) {
        sys_error("img_scalardistsmooth: failed to allocate temporary image");
        img_free(out);
        return nullptr;
    }
    size_t n = (size_t)img->width * img->height;
    int32_t *vec = n && n * 8 <= INT32_MAX ? (int32_t *)sys_malloc((int32_t)(n * 8)) : nullptr;
    if (n && !vec) {
        sys_error("img_scalardistsmooth: failed to allocate offset vectors");
        sys_free(vec);
        img_free(tmp);
        img_free(out);
        return nullptr;
    }
    const smooth_field f = {(float *)tmp->pixels, vec, img->width, img->height};
    const float *src = (const float *)img->pixels;
    float *result = (float *)out->pixels;
    for (int s = -1; s <= 1; s += 2) {
        smooth_seed(f, src, s < 0);
        smooth_propagate(f);
        for (size_t i = 0; i < n; i++)
            result[i] -= (float)s * std::max(f.dist[i], 0.0f);
    }
    for (size_t i = 0; i < n; i++)
        result[i] = result[i] * -scale + offset;
    sys_free(vec);
    img_free(tmp);
    return out;
}
