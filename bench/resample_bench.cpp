// Scalar resampling of a 4096 x 4096 field to half and to double size, in
// row bands on as many workers as the program would start on this machine.
#include "img/resample.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>

// The worker pool and the table's locks for the whole run; the log goes to
// /dev/null so the benchmark's own report stays readable.
struct bench_pool {
    bench_pool()
    {
        file_tablealloc();
        sys_logfile = file_open("/dev/null", "wt");
        sys_threadsinit();
        sys_memmutex = sys_createmutex();
        img_mutex = sys_createmutex();
        sys_threadsstart(sys_workersfor(SDL_GetCPUCount()));
    }
    ~bench_pool()
    {
        sys_threadsquit();
        sys_threadsdone();
    }
};
static bench_pool bench_workers;

// A smooth field with some detail, so the samples are not all alike.
static image *bench_field(int side)
{
    image *img = img_allocfloat("bench", side, side);
    float *p = (float *)img->pixels;
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++)
            p[(size_t)y * side + x] = 0.5f + 0.25f * std::sin(x * 0.01f) * std::cos(y * 0.013f);
    return img;
}

static void bench_rescale(benchmark::State &state)
{
    const int side = 4096;
    int target = (int)state.range(0);
    image *src = bench_field(side);
    for (auto _ : state) {
        image *out = img_rescalescalar(src, target, target);
        benchmark::DoNotOptimize(out->pixels);
        img_free(out);
    }
    state.counters["workers"] = sys_numthreads;
    state.counters["Mpx/s"] = benchmark::Counter((double)target * target * state.iterations() / 1e6,
                                                 benchmark::Counter::kIsRate);
    img_free(src);
}
BENCHMARK(bench_rescale)->Arg(2048)->Arg(8192)->Unit(benchmark::kMillisecond)->UseRealTime();
