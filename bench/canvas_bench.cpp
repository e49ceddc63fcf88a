// The full canvas composition of eight cached 4096 x 4096 layers (all six
// blend modes) on every worker, and one 512 x 512 rectangle job on the same
// canvas, the latency a brush stroke waits for. The rate counts the bytes
// the passes move: the fill writes the canvas once, each blend reads layer
// and canvas and writes the canvas, the clamp reads and writes it: 27 canvas
// sizes. The same banded copy as the blend benchmark (a read and a write per
// pixel) is measured beside it as the memory's rate.
#include "benchsetup.h"
#include "img/bands.h"
#include "project/canvas.h"
#include "project/project.h"
#include "sys/config.h"

#include <benchmark/benchmark.h>

#include <cstring>

static bench_tables bench_setup(true);

constexpr int bench_side = 4096;
constexpr int bench_layers = 8;
constexpr double bench_passes = 1 + 3 * bench_layers + 2;

// The project: a 4096 x 4096 canvas at quality 1, eight cached layers.
static void bench_project()
{
    if (project_mutex < 0)
        project_mutex = sys_createmutex();
    // 4096 x 5 x 0.2 rounds just above 4096, so the canvas is exactly the
    // caches' size and they are blended, not generated again.
    project.size[0] = project.size[1] = (float)bench_side;
    project.size[2] = 1.0f;
    project.ppi = 5;
    project.scale = 0.2f;
    project.zfill = 0.5f;
    cfg_setf(cfg_canvasquality, 1.0f);
    memcpy(project_canvasjob.lastsize, project.size, sizeof(project.size));
    project_canvasjob.lastzsize = project.size[2];
    for (int i = 0; i < bench_layers; i++) {
        project_layer &l = project.layers[i];
        if (l.depth)
            continue;
        l.type = layer_raster;
        l.blend = i % 6;
        l.groups = 1;
        l.stale = 0;
        l.depth = bench_field("cached", bench_side, 0.3f * (float)i);
    }
}

static void bench_moved(benchmark::State &state, double canvases)
{
    double bytes = (double)bench_side * bench_side * sizeof(float) * canvases;
    state.counters["workers"] = sys_numthreads;
    state.counters["moved MB/s"] = benchmark::Counter(bytes * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

static void bench_fullcanvas(benchmark::State &state)
{
    bench_project();
    for (auto _ : state) {
        jobmode = 1;
        project_canvasjob.updating = 1;
        job_updatecanvas(nullptr);
        img_free(project_canvasjob.pendingcanvas.exchange(nullptr));
        sys_mutexguard g(project_mutex);
        project_canvasjob.inprogress = 0;
    }
    jobmode = 0;
    bench_moved(state, bench_passes);
}
BENCHMARK(bench_fullcanvas)->Unit(benchmark::kMillisecond)->UseRealTime();

static void bench_brushrect(benchmark::State &state)
{
    bench_project();
    project.pixelwidth = project.pixelheight = bench_side;
    const int32_t rect[4] = {1700, 1900, 2212, 2412};
    memcpy(project_canvasjob.rect, rect, sizeof(rect));
    for (auto _ : state) {
        job_updatecanvasrect(nullptr);
        img_free(project_canvasjob.pendingrect.exchange(nullptr));
        sys_mutexguard g(project_mutex);
        project_canvasjob.inprogress = 0;
    }
}
BENCHMARK(bench_brushrect)->Unit(benchmark::kMillisecond)->UseRealTime();

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

static void bench_copy(benchmark::State &state)
{
    image *layer = bench_field("layer", bench_side, 0.0f);
    image *canvas = bench_field("canvas", bench_side, 1.0f);
    for (auto _ : state) {
        img_bands<bench_copyband>(img_bandsresample, 0, bench_side, "copy%02d", job_benchcopy,
                                  [&](const img_bandrange &) {
                                      return bench_copyband{(const float *)layer->pixels, (float *)canvas->pixels,
                                                            bench_side, 0, 0, 0};
                                  });
        benchmark::ClobberMemory();
    }
    bench_moved(state, 2);
    img_free(canvas);
    img_free(layer);
}
BENCHMARK(bench_copy)->Unit(benchmark::kMillisecond)->UseRealTime();
