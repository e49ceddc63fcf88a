// Contouring a 4096 x 4096 field at one level: the bare trace (every point
// kept, no smoothing) and the CAM callers' finishing (three smoothing passes
// and thinning). bench/contour_skimage.py times scikit-image's find_contours
// on the same field for comparison. Then what the CAM generators do with
// contours: bridging an outline to 200 holes, and draping the contours of
// the field on a shifted copy of it within one depth window.
#include "benchsetup.h"
#include "geom/contour.h"
#include "geom/drape.h"
#include "img/contour.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

constexpr int bench_side = 4096;
constexpr float bench_level = 0.1f;

static bench_tables bench_setup(false);

// Rolling hills with a slope across them, computed in double and stored as
// float; contour_skimage.py builds the same values with numpy.
static image *bench_field(int shift = 0)
{
    image *img = img_allocfloat("hills", bench_side, bench_side);
    float *p = (float *)img->pixels;
    for (int y = 0; y < bench_side; y++)
        for (int x = 0; x < bench_side; x++) {
            const double u = x + shift;
            p[(size_t)y * bench_side + x] =
                (float)(std::sin(0.021 * u) * std::cos(0.017 * y) + 0.5 * std::sin(0.0043 * (u + 2.0 * y)));
        }
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

// A ring of n points about (cx, cy), closed; clockwise (y up, positive
// area: an outline) when cw, else a hole.
static void bench_ring(contour *c, float cx, float cy, float r, int n, bool cw)
{
    std::vector<float> v;
    for (int k = 0; k <= n; k++) {
        const double a = 2 * M_PI * (k % n) / n * (cw ? -1 : 1);
        v.insert(v.end(), {cx + r * (float)std::cos(a), cy + r * (float)std::sin(a), 0.0f});
    }
    cont_addpoly(c, v.data(), (uint32_t)n + 1, 1, -1, "bench_ring");
}

// One outline of 256 points round 200 holes of 64 points in a 20 x 10 grid.
// The holes' radii differ a little: of several polylines with the same area
// only one takes part in bridging.
static void bench_bridgepolys(benchmark::State &state)
{
    contour *src = cont_new();
    bench_ring(src, 0, 0, 150, 256, true);
    for (int k = 0; k < 200; k++)
        bench_ring(src, -95.0f + 10.0f * (k % 20), -45.0f + 10.0f * (k / 20), 3.0f + 0.004f * k, 64, false);
    uint32_t bridges = 0;
    for (auto _ : state) {
        contour *b = con_bridgepolys(src);
        bridges = b ? b->numpolys : 0;
        if (b)
            cont_free(b);
    }
    state.counters["bridges"] = bridges;
    cont_free(src);
}
BENCHMARK(bench_bridgepolys)->Unit(benchmark::kMillisecond)->UseRealTime();

// The contours of the field at 0.1 (bare trace) draped on the field moved
// 150 pixels along x (about half a wave of its main ripple, so the contours
// climb and fall across it), heights -0.25 .. 0.75 kept, thinned as the CAM
// generators thin.
static void bench_simplify(benchmark::State &state)
{
    const float scale[3] = {100.0f, 100.0f, 1.0f}, offset[3] = {0.0f, 0.0f, 0.0f};
    image *img = bench_field(), *surface = bench_field(150);
    contour *c = img_contour(img, bench_level, scale, offset, 2.0f, 0.0f, 1e9f, 0);
    uint32_t polys = 0, verts = 0;
    for (auto _ : state) {
        contour *d = con_simplify(surface, c, scale, offset, -0.25f, 0.75f, 0.9975f, 0.01f, 1.0f);
        polys = d ? d->numpolys : 0;
        verts = d ? d->numverts : 0;
        if (d)
            cont_free(d);
    }
    state.counters["source points"] = c->numverts;
    state.counters["pieces"] = polys;
    state.counters["points"] = verts;
    cont_free(c);
    img_free(img);
    img_free(surface);
}
BENCHMARK(bench_simplify)->Unit(benchmark::kMillisecond)->UseRealTime();
