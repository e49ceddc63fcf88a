// Primal encoding and decoding of a 4096 x 4096 heightfield, smooth (0) and
// textured (1), with the payload's size beside a plain deflate (zlib,
// highest level) of the same floats. Throughput counts the field's float
// bytes.
#include "img/chunk.h"
#include "img/primal.h"

#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/msg.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <vector>

constexpr int bench_side = 4096;

// The log goes to /dev/null so the benchmark's own report stays readable.
struct bench_log {
    bench_log()
    {
        file_tablealloc();
        sys_logfile = file_open("/dev/null", "wt");
    }
};
static bench_log bench_quietlog;

// A carved-relief heightfield: broad domes and ridges, and with argument 1
// also a fine tool-mark texture that drives the trees to full depth.
static image *bench_field(int textured)
{
    static image *fields[2] = {};
    if (!fields[textured]) {
        image *f = img_allocfloat("bench", bench_side, bench_side);
        float *p = (float *)f->pixels;
        for (int y = 0; y < bench_side; y++)
            for (int x = 0; x < bench_side; x++) {
                float u = (float)x / bench_side, v = (float)y / bench_side;
                float dome = 0.5f + 0.3f * std::sin(u * 6.0f) * std::cos(v * 5.0f);
                float ridge = 0.1f * std::fabs(std::sin((u + v) * 40.0f));
                float grain = textured ? 0.01f * std::sin(x * 0.9f) * std::sin(y * 1.1f) : 0.0f;
                p[(size_t)y * bench_side + x] = dome + ridge + grain;
            }
        fields[textured] = f;
    }
    return fields[textured];
}

static void bench_rate(benchmark::State &state)
{
    state.SetBytesProcessed((int64_t)state.iterations() * bench_side * bench_side * 4);
}

static void bench_encode(benchmark::State &state)
{
    image *f = bench_field((int)state.range(0));
    int32_t size = 0;
    for (auto _ : state) {
        uint8_t *payload = primal_encode(f, &size);
        benchmark::DoNotOptimize(payload);
        sys_free(payload);
    }
    bench_rate(state);
    state.counters["payload_bytes"] = size;
}

static void bench_decode(benchmark::State &state)
{
    image *f = bench_field((int)state.range(0));
    int32_t size = 0;
    uint8_t *payload = primal_encode(f, &size);
    for (auto _ : state) {
        msg_readfrom(payload, size);
        image *img = img_read(img_prml);
        benchmark::DoNotOptimize(img->pixels);
        img_free(img);
    }
    sys_free(payload);
    bench_rate(state);
    state.counters["payload_bytes"] = size;
}

static void bench_deflatefloats(benchmark::State &state)
{
    image *f = bench_field((int)state.range(0));
    uLong raw = (uLong)bench_side * bench_side * 4;
    std::vector<uint8_t> out(compressBound(raw));
    uLongf size = 0;
    for (auto _ : state) {
        size = (uLongf)out.size();
        compress2(out.data(), &size, f->pixels, raw, Z_BEST_COMPRESSION);
        benchmark::DoNotOptimize(out.data());
    }
    bench_rate(state);
    state.counters["deflate_bytes"] = (double)size;
}

BENCHMARK(bench_encode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(bench_decode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(bench_deflatefloats)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
