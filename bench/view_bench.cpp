// The viewport's frame pass on the recording call table, counting only (no
// GL): a re-rendered frame of a full project (64 layers, 16 of them
// paths-layers of 500 curves each), an idle frame of it, and the same
// frames with no layers, so the cost the layers add shows beside the pass's
// own.
#include "../tests/view/viewrecorder.h"
#include "benchsetup.h"

#include "geom/path.h"
#include "project/layer.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "view/view.h"

#include <benchmark/benchmark.h>

#include <cstring>

static bench_tables bench_view_tables(false);

static void bench_emptyproject()
{
    for (int i = 0; i < project_maxlayers; i++)
        if (project.layers[i].type != layer_free)
            project_layerfree(i);
    const float size[3] = {12.0f, 8.0f, 1.0f};
    memcpy(project.size, size, sizeof(size));
    project.scale = 1.0f;
    project_selectedlayer = -1;
    project_layergroup = 0;
    project_rastertool = -1;
}

static void bench_fullproject()
{
    bench_emptyproject();
    for (int i = 0; i < project_maxlayers; i++) {
        bool paths = i % 4 == 0;
        int s = project_layeralloc(paths ? layer_paths : layer_raster);
        if (s < 0)
            return;
        project_layer &l = project.layers[s];
        const float pos[3] = {0.5f + (float)(i % 8) * 1.4f, 0.5f + (float)(i / 8) * 0.9f, 0.0f};
        const float lsize[3] = {1.2f, 0.8f, 0.5f};
        memcpy(l.pos, pos, sizeof(pos));
        memcpy(l.size, lsize, sizeof(lsize));
        l.rotation = (float)(i * 7 % 360);
        l.groups = 1;
        if (!paths)
            continue;
        path *p = path_new();
        for (int c = 0; c < 500; c++) {
            int d = path_newcurve(p);
            for (int k = 0; k < 3; k++) {
                const float pt[3] = {-0.4f + 0.001f * (float)c, -0.4f + 0.3f * (float)k, 0.0f};
                path_prependknot(p, d, pt);
            }
        }
        l.data.pth = p;
    }
}

static void bench_frame(benchmark::State &state, bool layers, int rebuilt)
{
    memcpy(cfg, cfg_defaults, cfg_size);
    vrec.reset();
    vrec.counting = true;
    vrec_ortho(vrec.projection, 1.5, 5.0, 6.0, 4.0);
    view_calls = &vrec_calls;
    if (layers)
        bench_fullproject();
    else
        bench_emptyproject();
    sys_drawable[0] = 1536;
    sys_drawable[1] = 1024;
    for (auto _ : state) {
        view_rebuilt = rebuilt;
        view_frame();
        benchmark::DoNotOptimize(vrec.primitivecalls);
    }
    state.counters["primitives/frame"] = benchmark::Counter((double)vrec.primitivecalls, benchmark::Counter::kAvgIterations);
    state.counters["paths/frame"] = benchmark::Counter((double)vrec.pathdraws, benchmark::Counter::kAvgIterations);
    bench_emptyproject();
    view_calls = &view_realcalls;
}

static void BM_ViewFrame_Rerendered_64Layers(benchmark::State &s) { bench_frame(s, true, 1); }
static void BM_ViewFrame_Idle_64Layers(benchmark::State &s) { bench_frame(s, true, 0); }
static void BM_ViewFrame_Rerendered_NoLayers(benchmark::State &s) { bench_frame(s, false, 1); }
static void BM_ViewFrame_Idle_NoLayers(benchmark::State &s) { bench_frame(s, false, 0); }
BENCHMARK(BM_ViewFrame_Rerendered_64Layers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewFrame_Idle_64Layers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewFrame_Rerendered_NoLayers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ViewFrame_Idle_NoLayers)->Unit(benchmark::kMicrosecond);
