// G-code output: 1,000,000 feed moves through cnc_linear and the shipped
// GRBL (mm) post into a file, beside a plain snprintf loop that writes the
// same program text. Bytes per second of program written.
#include "cam/cnc.h"
#include "sys/config.h"
#include "sys/file.h"

#include "benchsetup.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

constexpr int bench_moves = 1000000;

// A zig-zag raster: every move changes X and, every 100 moves, Y as well.
static void bench_point(int i, float pos[3])
{
    int row = i / 100, col = i % 100;
    pos[0] = (row % 2 ? 99 - col : col) * 0.25f + 0.0005f * (i % 7);
    pos[1] = row * 0.125f;
    pos[2] = -1.5f;
}

static void BM_CncLinear(benchmark::State &state)
{
    bench_tables tables(false);
    cnc_init();
    std::string here = __FILE__;
    std::string post = here.substr(0, here.rfind('/')) + "/../data/posts/GRBL (mm).txt";
    cfg_settext(cfg_postpath, post.c_str());
    if (!cnc_loadpost()) {
        state.SkipWithError("the post did not load");
        return;
    }
    int64_t bytes = 0;
    for (auto _ : state) {
        cnc_begin("bench", 2);
        for (int i = 0; i < bench_moves; i++) {
            float pos[3];
            bench_point(i, pos);
            cnc_linear(pos, 1000);
        }
        bytes += cnc_end("/tmp/kerfmill-cnc-bench.nc");
    }
    remove("/tmp/kerfmill-cnc-bench.nc");
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_CncLinear)->Unit(benchmark::kMillisecond);

// The same blocks with snprintf into a growing buffer, written at the end.
static void BM_Snprintf(benchmark::State &state)
{
    int64_t bytes = 0;
    for (auto _ : state) {
        std::string text;
        text.reserve(32768);
        char line[128];
        float last[2] = {-1, -1};
        for (int i = 0; i < bench_moves; i++) {
            float pos[3];
            bench_point(i, pos);
            int n = pos[1] != last[1] ? snprintf(line, sizeof(line), "X%.3f Y%.3f\n", pos[0], pos[1])
                                      : snprintf(line, sizeof(line), "X%.3f\n", pos[0]);
            last[0] = pos[0];
            last[1] = pos[1];
            text.append(line, n);
        }
        FILE *f = fopen("/tmp/kerfmill-snprintf-bench.nc", "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        bytes += (int64_t)text.size();
    }
    remove("/tmp/kerfmill-snprintf-bench.nc");
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Snprintf)->Unit(benchmark::kMillisecond);
