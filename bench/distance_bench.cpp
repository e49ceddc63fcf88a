// Distance field of a 4096 x 4096 mask to a polygon of 10,000 segments
// (through the cell grid), and radius-16 blurs of a 4096 x 4096 field (the
// smooth blur through convolution and the masked blur under a full mask),
// in row bands on as many workers as the program would start here.
#include "benchsetup.h"
#include "img/blur.h"
#include "img/distance.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <vector>

static bench_tables bench_setup(true);

constexpr int bench_side = 4096;
constexpr int bench_segments = 10000;

// A wavy closed outline around the field's middle in world units of one
// per pixel, its first point repeated at the end.
static std::vector<float> bench_polygon()
{
    std::vector<float> pts;
    for (int i = 0; i <= bench_segments; i++) {
        double a = 2 * M_PI * (i % bench_segments) / bench_segments;
        double r = bench_side * (0.36 + 0.08 * std::sin(12 * a) + 0.03 * std::sin(97 * a));
        pts.push_back((float)(bench_side / 2 + r * std::cos(a)));
        pts.push_back((float)(bench_side / 2 + r * std::sin(a)));
        pts.push_back(0.0f);
    }
    return pts;
}

// Everything masked in: the distance is measured at every pixel.
static void bench_distance(benchmark::State &state)
{
    std::vector<float> pts = bench_polygon();
    const int32_t counts[1] = {bench_segments + 1};
    const float size[3] = {bench_side, bench_side, 0}, origin[3] = {0, 0, 0};
    image *field = img_allocfloat("bench", bench_side, bench_side);
    for (auto _ : state) {
        state.PauseTiming();
        float *px = (float *)field->pixels;
        for (size_t i = 0; i < (size_t)bench_side * bench_side; i++)
            px[i] = 1.0f;
        state.ResumeTiming();
        img_scalarmaskeddistpolys(field, -1, 1, size, origin, 1, counts, pts.data(), 1);
        benchmark::DoNotOptimize(field->pixels);
    }
    state.counters["workers"] = sys_numthreads;
    img_free(field);
}
BENCHMARK(bench_distance)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

static void bench_blur(benchmark::State &state)
{
    image *src = bench_field("bench", bench_side, 0.0f);
    for (auto _ : state) {
        image *out = img_scalarblur(src, 16, 1);
        benchmark::DoNotOptimize(out->pixels);
        img_free(out);
    }
    state.counters["workers"] = sys_numthreads;
    img_free(src);
}
BENCHMARK(bench_blur)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

static void bench_maskblur(benchmark::State &state)
{
    image *src = bench_field("bench", bench_side, 0.0f);
    image *mask = img_allocfloat("mask", bench_side, bench_side);
    float *m = (float *)mask->pixels;
    for (size_t i = 0; i < (size_t)bench_side * bench_side; i++)
        m[i] = 1.0f;
    for (auto _ : state) {
        image *out = img_scalarmaskblur(src, mask, 16, 16);
        benchmark::DoNotOptimize(out->pixels);
        img_free(out);
    }
    state.counters["workers"] = sys_numthreads;
    img_free(mask);
    img_free(src);
}
BENCHMARK(bench_maskblur)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
