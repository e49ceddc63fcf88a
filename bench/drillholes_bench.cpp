// Drilling on a 2048 x 2048 canvas (8 x 8 inch) holding 1,000 holes of the
// bit's size among 1,000 ellipses of the same area, which pass the area
// test and fail the roundness test. Beside the seconds of a whole run, the
// enclosing circles of every traced outline alone, whose polylines are left
// in /tmp/kerfmill-drill-polys.txt for bench/drillholes_shapely.py to time
// GEOS's minimum bounding circle on the same points.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/drillholes.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/circle.h"
#include "geom/contour.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

constexpr int bench_side = 2048;
constexpr float bench_inches = 8.0f, bench_bit = 0.125f;

static bench_tables bench_setup(true);

// 45 x 45 cells of 0.175 inch, alternately a hole and an ellipse (2:1, the
// hole's area); anti-aliased.
static image *bench_canvas()
{
    image *img = img_allocfloat("drillcanvas", bench_side, bench_side);
    float *f = (float *)img->pixels;
    std::fill(f, f + bench_side * bench_side, 1.0f);
    const float p = bench_inches / bench_side, r = bench_bit / 2, cell = 0.175f;
    const float a = r * 1.41421356f, b = r / 1.41421356f;
    for (int n = 0; n < 2000; n++) {
        const float cx = (n % 45 + 0.6f) * cell, cy = (n / 45 + 0.6f) * cell;
        const bool hole = n % 2 == 0;
        const int i0 = std::max(0, (int)((cx - a) / p) - 2), i1 = std::min(bench_side, (int)((cx + a) / p) + 3);
        const int j0 = std::max(0, (int)(bench_side - (cy + a) / p) - 2);
        const int j1 = std::min(bench_side, (int)(bench_side - (cy - a) / p) + 3);
        for (int j = j0; j < j1; j++)
            for (int i = i0; i < i1; i++) {
                const float x = (i + 0.5f) * p - cx, y = (bench_side - j - 0.5f) * p - cy;
                const float d = hole ? std::hypot(x, y) - r : (std::hypot(x / a, y / b) - 1.0f) * b;
                float &v = f[(size_t)j * bench_side + i];
                v = std::min(v, std::clamp(d / p + 0.5f, 0.0f, 1.0f));
            }
    }
    return img;
}

static void bench_drill(benchmark::State &state)
{
    if (cam_mutex < 0)
        cam_mutex = sys_createmutex();
    project.units = 1;
    cam_settooldefaults();
    cam_settool(1, "drill 1/8", tool_cylinder, 1, 2, bench_bit, 0.5f, 0.0f, 1.5f, 20.0f);
    image *canvas = bench_canvas();
    const float size[3] = {bench_inches, bench_inches, 0.5f}, frac[3] = {0, 0, 1};
    img_setrefimage(canvas, size, frac, 1.0f);
    static camop op;
    double total = 0.0;
    for (auto _ : state) {
        op.dir = 0, op.entry = 0, op.flags = 0, op.stock = 0.0f, op.z_min = 0.0f, op.cont = nullptr;
        op.type = 16, op.tool = 1, op.feed = 30, op.engagefeed = 20;
        op.aux[0] = 0.25f, op.aux[1] = 0.05f, op.z_max = 0.3f, op.z_doc = 0.1f, op.z_safe = 0.1f, op.stock = 0.02f;
        op.toolpath = -1, op.generating = 1;
        op.time = (float)sys_seconds();
        const double t0 = sys_seconds();
        cam_drillholes(&op);
        total += sys_seconds() - t0;
        state.PauseTiming();
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    state.counters["seconds"] = total / state.iterations();
    state.counters["holes"] = drill_numholes;

    // The circle tests alone on the same traced outlines.
    const float scale[3] = {size[0], -size[1], size[2]}, offset[3] = {0, size[1], -size[2]};
    const float p = bench_inches / bench_side;
    contour *k = cont_fromimage(img_refimage.load(), 0.5f, scale, offset, 0.99f, p, 5 * p, 0);
    img_free(canvas);
    const double t0 = sys_seconds();
    uint32_t at = 0;
    float c[3];
    for (uint32_t i = 0; i < k->numpolys; at += k->vertcount[i], i++)
        circle_enclose(k->verts + 3 * (size_t)at, (int)k->vertcount[i] - 1, c);
    state.counters["circles_s"] = sys_seconds() - t0;
    state.counters["outlines"] = k->numpolys;
    if (FILE *f = fopen("/tmp/kerfmill-drill-polys.txt", "w")) {
        at = 0;
        for (uint32_t i = 0; i < k->numpolys; at += k->vertcount[i], i++) {
            for (uint32_t v = 0; v + 1 < k->vertcount[i]; v++)
                fprintf(f, "%.6f %.6f ", k->verts[3 * (at + v)], k->verts[3 * (at + v) + 1]);
            fputc('\n', f);
        }
        fclose(f);
    }
    cont_free(k);
    bench_dropcanvas();
}
BENCHMARK(bench_drill)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
