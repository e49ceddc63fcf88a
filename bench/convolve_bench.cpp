// CPU dilation (mode 0) of a 2048 x 2048 field by a 33 x 33 ball kernel, in
// row bands on 1, 2 and 4 workers and on as many as the program would start,
// reported as kernel taps per second per worker; beside it the plain
// per-pixel loop on a strip of rows, for the gain of the vectorised spans.
// Then the cutter profiles on a 4096 x 4096 relief on every worker, each by
// the plain taps and by the row decomposition side by side.
#include "benchsetup.h"
#include "cam/profile.h"
#include "cam/tool.h"
#include "img/convolve.h"
#include "img/maxplus.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

constexpr int bench_side = 2048;
constexpr int bench_ball = 33;

static bench_tables bench_setup(false); // each benchmark starts its own pool

static void bench_workers(int count)
{
    if (sys_numthreads == count)
        return;
    if (sys_numthreads)
        sys_threadsquit();
    sys_threadsstart(count);
}

// A ball cutter: the hemisphere's height inside the disc, far below outside.
static image *bench_ballkernel()
{
    image *k = img_allocfloat("ball", bench_ball, bench_ball);
    float *p = (float *)k->pixels;
    const float r = bench_ball / 2.0f;
    for (int y = 0; y < bench_ball; y++) {
        for (int x = 0; x < bench_ball; x++) {
            float dx = x - bench_ball / 2, dy = y - bench_ball / 2, d2 = r * r - dx * dx - dy * dy;
            p[y * bench_ball + x] = d2 >= 0.0f ? std::sqrt(d2) / bench_side - r / bench_side : -1.0f;
        }
    }
    return k;
}

static void bench_dilate(benchmark::State &state)
{
    int workers = state.range(0) ? (int)state.range(0) : sys_workersfor(SDL_GetCPUCount());
    bench_workers(workers);
    image *img = bench_field("bench", bench_side, 0.0f), *k = bench_ballkernel();
    image *out = img_allocfloat("out", bench_side, bench_side);
    for (auto _ : state) {
        img_scalarconvocpu(out, img, k, 0, 1.0f, -99999.0f, 0.0f);
        benchmark::DoNotOptimize(out->pixels);
    }
    const double taps = (double)bench_side * bench_side * bench_ball * bench_ball;
    state.counters["workers"] = workers;
    state.counters["Gtaps/s/worker"] =
        benchmark::Counter(taps * state.iterations() / workers / 1e9, benchmark::Counter::kIsRate);
    img_free(out);
    img_free(k);
    img_free(img);
}
BENCHMARK(bench_dilate)->Arg(1)->Arg(2)->Arg(4)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The per-pixel formula with nothing hoisted, on the first rows only.
static void bench_dilateplain(benchmark::State &state)
{
    const int rows = 32;
    image *img = bench_field("bench", bench_side, 0.0f), *k = bench_ballkernel();
    image *out = img_allocfloat("out", bench_side, rows);
    const float *src = (const float *)img->pixels, *kv = (const float *)k->pixels;
    float *dst = (float *)out->pixels;
    for (auto _ : state) {
        for (int y = 0; y < rows; y++) {
            for (int x = 0; x < bench_side; x++) {
                float best = -99999.0f;
                for (int j = 0; j < bench_ball; j++) {
                    for (int i = 0; i < bench_ball; i++) {
                        int sx = x + i - bench_ball / 2, sy = y + j - bench_ball / 2;
                        if (sx >= 0 && sx < bench_side && sy >= 0 && sy < bench_side &&
                            src[(size_t)sy * bench_side + sx] >= -99999.0f)
                            best = std::max(best, src[(size_t)sy * bench_side + sx] + kv[j * bench_ball + i]);
                    }
                }
                dst[(size_t)y * bench_side + x] = best;
            }
        }
        benchmark::DoNotOptimize(dst);
    }
    const double taps = (double)bench_side * rows * bench_ball * bench_ball;
    state.counters["Gtaps/s/worker"] = benchmark::Counter(taps * state.iterations() / 1e9, benchmark::Counter::kIsRate);
    img_free(out);
    img_free(k);
    img_free(img);
}
BENCHMARK(bench_dilateplain)->Unit(benchmark::kMillisecond)->UseRealTime();

// Cutter profiles as the generators make them, at one pixel per unit (so
// radii are in pixels) and heights over a canvas 256 units deep.
struct bench_cutter {
    const char *name;
    int type;
    float flutediameter, aux, maxdepth;
};
constexpr int bench_relief = 4096;
constexpr bench_cutter bench_cutters[] = {
    {"ball r8", tool_cylinder, 16, 8, 400},        {"ball r16", tool_cylinder, 32, 16, 400},
    {"ball r32", tool_cylinder, 64, 32, 400},      {"ball r62", tool_cylinder, 124, 62, 400},
    {"ball r125", tool_cylinder, 250, 125, 400},   {"flat r62", tool_cylinder, 124, 0, 400},
    {"V90 r62", tool_vbit, 0, 90, 62},             {"taperball r62", tool_taperball, 20, 10, 257},
    {"ball r4", tool_cylinder, 8, 4, 400},         {"ball r6", tool_cylinder, 12, 6, 400},
};

static image *bench_cutterkernel(const bench_cutter &c)
{
    tool &t = cam_tools[0];
    t = tool{};
    t.type = c.type;
    t.units = 1;
    t.flutediameter = c.flutediameter;
    t.flutelength = 1000.0f;
    t.length = 2000.0f;
    t.aux = c.aux;
    img_refscale = 1.0f; // tool lengths in the canvas units
    const float size[3] = {(float)bench_relief, (float)bench_relief, 256.0f};
    return cam_gentoolprofile(0, size, bench_relief, c.maxdepth);
}

// Argument 0: the cutter; argument 1: 0 the plain taps, 1 the decomposition.
static void bench_cutterdilate(benchmark::State &state)
{
    const bench_cutter &c = bench_cutters[state.range(0)];
    bench_workers(sys_workersfor(SDL_GetCPUCount()));
    image *img = bench_field("relief", bench_relief, 0.0f), *k = bench_cutterkernel(c);
    image *out = img_allocfloat("out", bench_relief, bench_relief);
    const int saved = img_maxplusmin;
    img_maxplusmin = state.range(1) ? 1 : INT_MAX;
    for (auto _ : state) {
        img_scalarconvocpu(out, img, k, 0, 1.0f, -99999.0f, 0.0f);
        benchmark::DoNotOptimize(out->pixels);
    }
    img_maxplusmin = saved;
    state.SetLabel(std::string(c.name) + (state.range(1) ? " fast" : " taps") + " " + std::to_string(k->width) +
                   "x" + std::to_string(k->height));
    img_free(out);
    img_free(k);
    img_free(img);
}
BENCHMARK(bench_cutterdilate)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
