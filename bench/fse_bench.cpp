// The project body's entropy coder on a 50 MB body of pack16 rasters: our
// FSE beside libzstd's FSE functions (the same block layout) each way, and
// a whole project_write and project_load of the same rasters. libzstd's
// FSE lives only in its static archive, without an installed header; the
// declarations are those of its 1.5.4 release.
#include "benchsetup.h"
#include "img/chunk.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "render/text.h"
#include "sys/config.h"
#include "sys/fse.h"
#include "sys/msg.h"

#include <benchmark/benchmark.h>
#include <zstd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
size_t HIST_count(unsigned *count, unsigned *maxSymbolValuePtr, const void *src, size_t srcSize);
unsigned FSE_optimalTableLog(unsigned maxTableLog, size_t srcSize, unsigned maxSymbolValue);
size_t FSE_normalizeCount(short *normalizedCounter, unsigned tableLog, const unsigned *count, size_t srcSize,
                          unsigned maxSymbolValue, unsigned useLowProbCount);
size_t FSE_writeNCount(void *buffer, size_t bufferSize, const short *normalizedCounter, unsigned maxSymbolValue,
                       unsigned tableLog);
size_t FSE_buildCTable_wksp(unsigned *ct, const short *normalizedCounter, unsigned maxSymbolValue, unsigned tableLog,
                            void *workSpace, size_t wkspSize);
size_t FSE_compress_usingCTable(void *dst, size_t dstCapacity, const void *src, size_t srcSize, const unsigned *ct);
size_t FSE_decompress_wksp_bmi2(void *dst, size_t dstCapacity, const void *cSrc, size_t cSrcSize, unsigned maxLog,
                                void *workSpace, size_t wkspSize, int bmi2);
}

namespace {

constexpr int bench_side = 2560; // four layers of 2560 x 2560: a 52 MB body
constexpr int bench_layers = 4;

bench_tables bench_setup(false);

// Carved-relief-like heights: broad waves, ridges and a little grain.
image *bench_relief(int layer)
{
    image *img = bench_field("relief", bench_side, 0.7f * layer);
    float *p = (float *)img->pixels;
    std::mt19937 rng(layer);
    std::uniform_real_distribution<float> grain(-0.002f, 0.002f);
    for (int y = 0; y < bench_side; y++)
        for (int x = 0; x < bench_side; x++)
            p[(size_t)y * bench_side + x] += 0.1f * (float)(((x / 97 + y / 61) & 1)) + grain(rng);
    return img;
}

const std::vector<uint8_t> &bench_body()
{
    static std::vector<uint8_t> body = [] {
        msg_stream m;
        msg_alloc(&m, 64 * 1048576);
        for (int i = 0; i < bench_layers; i++) {
            image *img = bench_relief(i);
            img_write(&m, img);
            img_free(img);
        }
        std::vector<uint8_t> b(m.buffer, m.buffer + m.position);
        sys_free(m.buffer);
        return b;
    }();
    return body;
}

// libzstd's single-call coding, composed of its parts, into out (sized
// by the caller); the coded size.
size_t zstd_code(const std::vector<uint8_t> &src, std::vector<uint8_t> &out)
{
    unsigned count[256], maxsym = 255;
    HIST_count(count, &maxsym, src.data(), src.size());
    unsigned log = FSE_optimalTableLog(11, src.size(), maxsym);
    short norm[256];
    FSE_normalizeCount(norm, log, count, src.size(), maxsym, 1);
    size_t header = FSE_writeNCount(out.data(), out.size(), norm, maxsym, log);
    static std::vector<unsigned> ct(1 + (1 << 11) + 256 * 2), wksp(16384);
    FSE_buildCTable_wksp(ct.data(), norm, maxsym, log, wksp.data(), wksp.size() * 4);
    size_t body = FSE_compress_usingCTable(out.data() + header, out.size() - header, src.data(), src.size(), ct.data());
    return header + body;
}

void BM_FseCompress(benchmark::State &state)
{
    const std::vector<uint8_t> &src = bench_body();
    std::vector<uint8_t> out(src.size() * 2);
    size_t r = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(r = FSE_compress(out.data(), out.size(), src.data(), src.size()));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)src.size());
    state.counters["ratio"] = (double)src.size() / (double)r;
}

void BM_ZstdFseCompress(benchmark::State &state)
{
    const std::vector<uint8_t> &src = bench_body();
    std::vector<uint8_t> out(src.size() * 2);
    size_t r = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(r = zstd_code(src, out));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)src.size());
    state.counters["ratio"] = (double)src.size() / (double)r;
}

void BM_FseDecompress(benchmark::State &state)
{
    const std::vector<uint8_t> &src = bench_body();
    std::vector<uint8_t> code(src.size() * 2), out(src.size());
    code.resize(FSE_compress(code.data(), code.size(), src.data(), src.size()));
    for (auto _ : state)
        benchmark::DoNotOptimize(FSE_decompress(out.data(), out.size(), code.data(), code.size()));
    if (out != src)
        state.SkipWithError("decoded bytes differ");
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)src.size());
}

void BM_ZstdFseDecompress(benchmark::State &state)
{
    const std::vector<uint8_t> &src = bench_body();
    std::vector<uint8_t> code(src.size() * 2), out(src.size());
    code.resize(zstd_code(src, code));
    std::vector<unsigned> wksp(32768);
    int bmi2 = __builtin_cpu_supports("bmi2");
    for (auto _ : state)
        benchmark::DoNotOptimize(FSE_decompress_wksp_bmi2(out.data(), out.size(), code.data(), code.size(), 12,
                                                          wksp.data(), wksp.size() * 4, bmi2));
    if (out != src)
        state.SkipWithError("decoded bytes differ");
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)src.size());
}

// A project of the same four rasters, saved and loaded whole.
void bench_project()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    memcpy(cfg, cfg_defaults, cfg_size);
    project_reset();
    for (int i = 0; i < bench_layers; i++) {
        int slot = project_layeralloc(layer_raster);
        project.layers[slot].data.img = bench_relief(i);
    }
}

const std::string bench_path = "/tmp/kerfmill-fse-bench.kfm";

void BM_ProjectWrite(benchmark::State &state)
{
    bench_project();
    for (auto _ : state)
        benchmark::DoNotOptimize(project_write(bench_path.c_str(), nullptr));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bench_body().size());
}

void BM_ProjectLoad(benchmark::State &state)
{
    bench_project();
    project_write(bench_path.c_str(), nullptr);
    for (auto _ : state)
        benchmark::DoNotOptimize(project_load(bench_path.c_str(), 1));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)bench_body().size());
}

} // namespace

BENCHMARK(BM_FseCompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZstdFseCompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FseDecompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ZstdFseDecompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProjectWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProjectLoad)->Unit(benchmark::kMillisecond)->UseRealTime();
