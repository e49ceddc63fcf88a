// Contouring a 4096 x 4096 field at one level: the bare trace (every point
// kept, no smoothing) and the CAM callers' finishing (three smoothing passes
// and thinning). bench/contour_skimage.py times scikit-image's find_contours
// on the same field for comparison.
#include "benchsetup.h"
#include "img/contour.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <cmath>

constexpr int bench_side = 4096;
constexpr float bench_level = 0.1f;

static bench_tables bench_setup(false);

// Rolling hills with a slope across them, computed in double and stored as
// float; contour_skimage.py builds the same values with numpy.
static image *bench_field()
{
    image *img = img_allocfloat("hills", bench_side, bench_side);
    float *p = (float *)img->pixels;
    for (int y = 0; y < bench_side; y++)
        for (int x = 0; x < bench_side; x++)
            p[(size_t)y * bench_side + x] =
                (float)(std::sin(0.021 * x) * std::cos(0.017 * y) + 0.5 * std::sin(0.0043 * (x + 2.0 * y)));
    return img;
}

static void bench_contour(benchmark::State &state)
{
    const bool finish = state.range(0) != 0;
    const float scale[3] = {100.0f, 100.0f, 1.0f}, offset[3] = {0.0f, 0.0f, 0.0f};
    image *img = bench_field();
    uint32_t polys = 0, verts = 0;
    for (auto _ : state) {
        contour *c = finish ? img_contour(img, bench_level, scale, offset, 0.9975f, 0.01f, 1.0f, 3)
                            : img_contour(img, bench_level, scale, offset, 2.0f, 0.0f, 1e9f, 0);
        polys = c->numpolys;
        verts = c->numverts;
        cont_free(c);
    }
    state.counters["polylines"] = polys;
    state.counters["points"] = verts;
    img_free(img);
}
BENCHMARK(bench_contour)->ArgName("finished")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
