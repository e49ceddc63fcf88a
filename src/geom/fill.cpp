// Fill of a contour's polylines: each polyline is filled alone into a scratch
// field and folded into the result by absolute difference, which makes the
// rings even-odd across polylines while each keeps its anti-aliased edge.
// Only the part of the scratch field the last polyline touched is cleared.
#include "geom/fill.h"

#include "geom/contour.h"
#include "img/blend.h"
#include "img/image.h"
#include "img/rasterize.h"
#include "sys/log.h"

#include <algorithm>
#include <cstring>

// Clears the pixel box {x0, y0, x1, y1} (ends excluded) of a scalar field.
static void fill_clearbox(image *img, const int *box)
{
    float *px = (float *)img->pixels;
    for (int y = box[1]; y < box[3]; y++)
        memset(px + (size_t)y * img->width + box[0], 0, sizeof(float) * (size_t)(box[2] - box[0]));
}

static void fill_clampbox(int *box, int width, int height)
{
    box[0] = std::clamp(box[0], 0, width);
    box[1] = std::clamp(box[1], 0, height);
    box[2] = std::clamp(box[2], box[0], width);
    box[3] = std::clamp(box[3], box[1], height);
}

image *con_fill(const contour *c, const float *corner, const float *size, int width, int height, int samples)
{
    const double start = sys_seconds();
    sys_log("allocating %dx%d buffers...", width, height);
    if (!c) {
        sys_log("con_fill: no polylines");
        return nullptr;
    }
    image *out = img_allocfloat("confill", width, height);
    image *tmp = out ? img_allocfloat("tmp", width, height) : nullptr;
    if (!tmp) {
        sys_log("con_fill: no %dx%d images", width, height);
        img_free(out);
        return nullptr;
    }
    sys_log("filling %u polylines...", c->numpolys);
    int box[4] = {0, 0, 0, 0};
    size_t first = 0;
    for (uint32_t i = 0; i < c->numpolys; i++) {
        const int count = (int)c->vertcount[i];
        fill_clearbox(tmp, box);
        const double t0 = sys_seconds();
        if (img_scalarfillpoly(tmp, size, corner, count, c->verts + 3 * first, samples, box) < 0) {
            sys_log("con_fill: poly[%u] could not be filled", i);
            img_free(tmp);
            img_free(out);
            return nullptr;
        }
        fill_clampbox(box, width, height);
        img_blendrect(out, tmp, img_blenddifference, box);
        sys_log(" ...filled poly[%u] verts:%d (%dx%d elapsed %.2fs)", i, count, box[2] - box[0], box[3] - box[1],
                sys_seconds() - t0);
        first += (size_t)count;
    }
    img_free(tmp);
    sys_log("...filled %u polylines, %zu verts (elapsed %.2fs)", c->numpolys, first, sys_seconds() - start);
    return out;
}
