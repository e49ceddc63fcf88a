// Scalar resampling of a 4096 x 4096 field to half and to double size, in
// row bands on as many workers as the program would start on this machine.
#include "benchsetup.h"
#include "img/resample.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>

static bench_tables bench_setup(true);

static void bench_rescale(benchmark::State &state)
{
    const int side = 4096;
    int target = (int)state.range(0);
    image *src = bench_field("bench", side, 0.0f);
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
