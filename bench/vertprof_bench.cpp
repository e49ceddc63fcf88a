// Fillet Carving round a 10 x 10 inch square (a 40-inch perimeter) on a
// 2048 x 2048 canvas of 12 x 12 inch, 1/8 inch ball, stepover 0.02 inch,
// fillet height 0.1 inch: the seconds of a whole run, and of tracing the
// offset outline from the region's distance field alone, to set beside
// bench/vertprof_shapely.py's buffer of the same square by 1.05 r.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/generate.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "cam/vertprof.h"
#include "geom/contour.h"
#include "img/adjust.h"
#include "img/smooth.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>

constexpr int bench_side = 2048;
constexpr float bench_inches = 12.0f;

static bench_tables bench_setup(true);

static image *bench_square()
{
    image *img = img_allocfloat("square", bench_side, bench_side);
    float *f = (float *)img->pixels;
    const float p = bench_inches / bench_side;
    for (int j = 0; j < bench_side; j++)
        for (int i = 0; i < bench_side; i++) {
            const float x = (i + 0.5f) * p - 6, y = (bench_side - j - 0.5f) * p - 6;
            const float d = std::max(std::fabs(x), std::fabs(y)) - 5;
            f[(size_t)j * bench_side + i] = std::clamp(0.5f - d / p, 0.0f, 1.0f);
        }
    return img;
}

static void bench_vertprof(benchmark::State &state)
{
    if (cam_mutex < 0)
        cam_mutex = sys_createmutex();
    project.units = 1;
    cam_settooldefaults();
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 0.5f, 0.0625f, 1.5f, 20.0f);
    cam_maxdot = 0.99846f;
    cam_minlen = 0.001f;
    cam_maxlen = 0.25f;
    image *square = bench_square();
    float size[3] = {bench_inches, bench_inches, 0.5f}, frac[3] = {0, 0, 1};
    img_setrefimage(square, size, frac, 1.0f);
    static camop op;
    double total = 0.0;
    for (auto _ : state) {
        op.dir = 0, op.entry = 0, op.flags = 0, op.stock = 0.0f, op.z_min = 0.0f, op.cont = nullptr;
        op.type = 17, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.step = 0.02f;
        op.aux[0] = 0.25f, op.z_max = 0.1f, op.z_doc = 0.1f, op.z_safe = 0.1f;
        op.toolpath = -1, op.generating = 1;
        op.time = (float)sys_seconds();
        const double t0 = sys_seconds();
        cam_vertprof(&op);
        total += sys_seconds() - t0;
        state.PauseTiming();
        state.counters["cuts"] = toolpaths[op.toolpath].num_paths;
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    state.counters["seconds"] = total / state.iterations();

    // The offset outline alone, from the field the generator makes.
    const float r = 0.0625f;
    float origin[3] = {0, 0, 0.5f};
    image *mask = img_scalarath(square, 0.5f, 1);
    image *padded = cam_padimage(mask, size, origin, frac, r, 0);
    const float p = size[0] / (float)padded->width;
    double t0 = sys_seconds();
    image *d = img_scalardistsmooth(padded, -p, 0.0f);
    state.counters["field_s"] = sys_seconds() - t0;
    const float scale[3] = {size[0], -size[1], size[2]}, offset[3] = {-origin[0], size[1] - origin[1], -origin[2]};
    t0 = sys_seconds();
    contour *k = cont_fromimage(d, -1.05f * r, scale, offset, 0.985f, 2 * p, 6 * p, 0);
    state.counters["offset_s"] = sys_seconds() - t0;
    cont_free(k);
    img_free(d);
    img_free(padded);
    img_free(mask);
    img_free(square);
    bench_dropcanvas();
}
BENCHMARK(bench_vertprof)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
