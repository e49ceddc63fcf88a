// JPEG encoding of a 4096 x 4096 photo-like RGB image at quality 90: our
// encoder beside libjpeg-turbo's, both baseline with every component sampled
// 1 x 1 and the standard Huffman tables, so they do the same work.
#include "img/jpeg.h"

#include "../tests/img/jpegref.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

constexpr int bench_side = 4096;
constexpr int bench_quality = 90;

// Broad shapes, hard edges and grain, like a photograph of a carved panel.
static const std::vector<uint8_t> &bench_photo()
{
    static std::vector<uint8_t> px = [] {
        std::vector<uint8_t> p((size_t)bench_side * bench_side * 3);
        uint32_t seed = 12345;
        for (int y = 0; y < bench_side; y++)
            for (int x = 0; x < bench_side; x++)
                for (int c = 0; c < 3; c++) {
                    seed = seed * 1664525u + 1013904223u;
                    double v = 110 + 60 * std::sin(x * 0.007 + c) * std::cos(y * 0.005) +
                               ((x / 130 + y / 90) % 2) * 40 + (double)(seed >> 28) - 8;
                    p[((size_t)y * bench_side + x) * 3 + c] = (uint8_t)std::clamp(v, 0.0, 255.0);
                }
        return p;
    }();
    return px;
}

static void bench_report(benchmark::State &state, size_t size)
{
    state.SetBytesProcessed((int64_t)state.iterations() * bench_side * bench_side * 3);
    state.counters["jpeg_bytes"] = (double)size;
}

static void bench_ours(benchmark::State &state)
{
    const std::vector<uint8_t> &px = bench_photo();
    std::vector<uint8_t> out((size_t)img_jpegbound(bench_side, bench_side));
    int32_t size = 0;
    for (auto _ : state) {
        size = img_writejpeg(px.data(), bench_side, bench_side, 3, out.data(), (int32_t)out.size(), bench_quality);
        benchmark::DoNotOptimize(out.data());
    }
    bench_report(state, (size_t)size);
}

static void bench_libjpegturbo(benchmark::State &state)
{
    const std::vector<uint8_t> &px = bench_photo();
    size_t size = 0;
    for (auto _ : state) {
        std::vector<uint8_t> out = jpegref_encode(px.data(), bench_side, bench_side, bench_quality);
        benchmark::DoNotOptimize(out.data());
        size = out.size();
    }
    bench_report(state, size);
}

BENCHMARK(bench_ours)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(bench_libjpegturbo)->Unit(benchmark::kMillisecond)->MinTime(2.0);
