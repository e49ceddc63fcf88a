// Blending a 4096 x 4096 layer into the canvas in each layer mode (0 to 5),
// into a canvas of the same size and into a smaller one (resampled), in row
// bands on as many workers as the program would start on this machine. The
// rate counts canvas bytes blended; the same-size path moves three times that
// (source read, canvas read and write). A plain banded copy of the same
// canvas gives the memory speed to compare with.
#include "benchsetup.h"
#include "img/bands.h"
#include "img/blend.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>
#include <cstring>

static bench_tables bench_setup(true);

constexpr int bench_layerside = 4096;
constexpr int bench_smallcanvas = 3000; // the resampled case's canvas side

static void bench_rate(benchmark::State &state, const image *canvas)
{
    double bytes = (double)canvas->width * canvas->height * sizeof(float);
    state.counters["workers"] = sys_numthreads;
    state.counters["MB/s"] =
        benchmark::Counter(bytes * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

// Arguments: layer blend mode, canvas side.
static void bench_blend(benchmark::State &state)
{
    int mode = (int)state.range(0), side = (int)state.range(1);
    image *layer = bench_field("layer", bench_layerside, 0.0f);
    image *fresh = bench_field("canvas", side, 1.0f);
    image *canvas = img_copy(fresh);
    size_t bytes = (size_t)side * side * sizeof(float);
    for (auto _ : state) {
        // Blending the same canvas over and over would drive multiply into
        // denormals; each round starts from the fresh canvas, untimed.
        state.PauseTiming();
        memcpy(canvas->pixels, fresh->pixels, bytes);
        state.ResumeTiming();
        img_scalarblend(canvas, layer, mode, 0.5f);
        benchmark::ClobberMemory();
    }
    bench_rate(state, canvas);
    img_free(canvas);
    img_free(fresh);
    img_free(layer);
}
BENCHMARK(bench_blend)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {bench_layerside, bench_smallcanvas}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

struct bench_copyband {
    const float *src;
    float *dst;
    int width;
    int row0, row1;
    int done;
};

static void job_benchcopy(void *arg)
{
    bench_copyband *b = (bench_copyband *)arg;
    size_t first = (size_t)b->row0 * b->width, count = (size_t)(b->row1 - b->row0) * b->width;
    memcpy(b->dst + first, b->src + first, count * sizeof(float));
    img_banddone(b->done);
}

// The same bands copying the layer over the canvas: one read and one write
// per pixel, the floor any same-size blend can reach.
static void bench_copy(benchmark::State &state)
{
    image *layer = bench_field("layer", bench_layerside, 0.0f);
    image *canvas = bench_field("canvas", bench_layerside, 1.0f);
    for (auto _ : state) {
        img_bands<bench_copyband>(img_bandsresample, 0, bench_layerside, "copy%02d", job_benchcopy,
                                  [&](const img_bandrange &) {
                                      return bench_copyband{(const float *)layer->pixels, (float *)canvas->pixels,
                                                            bench_layerside, 0, 0, 0};
                                  });
        benchmark::ClobberMemory();
    }
    bench_rate(state, canvas);
    img_free(canvas);
    img_free(layer);
}
BENCHMARK(bench_copy)->Unit(benchmark::kMillisecond)->UseRealTime();
