// Sweep Paths with two rails into a 2048 x 2048 layer (worked at twice that
// and scaled down): two wavy rails across a 20-unit paths-layer, three
// arched profiles at their start, middle and end, smooth and linear.
#include "benchsetup.h"
#include "geom/path.h"
#include "geom/pathedit.h"
#include "project/genraster.h"
#include "project/layer.h"
#include "project/pathsweep.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

static bench_tables bench_setup(true);

constexpr int bench_side = 2048;

// A rail across the layer (local -0.45..0.45 in x) at y0, waving twice.
static int bench_rail(path *p, float y0)
{
    std::vector<float> v;
    for (int i = 0; i < 64; i++) {
        const float x = -0.45f + 0.9f * (float)i / 63.0f;
        v.insert(v.end(), {x, y0 + 0.08f * std::sin(4.0f * (float)M_PI * x), 0.0f});
    }
    return addcurvepoly(p, 64, v.data(), 0, 0.0f);
}

// An arch over a chord of 0.3 along x, peak at a third of its chord.
static int bench_profile(path *p, float y, float peak)
{
    std::vector<float> v;
    for (int k = 0; k <= 16; k++) {
        const float t = (float)k / 16.0f;
        v.insert(v.end(), {-0.15f + 0.3f * t, y + peak * std::sin((float)M_PI * t), 0.0f});
    }
    return addcurvepoly(p, 17, v.data(), 0, 0.0f);
}

static int bench_layer()
{
    static int slot = -1;
    if (slot >= 0)
        return slot;
    project.size[0] = project.size[1] = 20.48f;
    project.size[2] = 1.0f;
    project.scale = 1.0f;
    project.ppi = 100;
    slot = project_layeralloc(layer_paths);
    project_layer &l = project.layers[slot];
    l.pos[0] = l.pos[1] = 10.24f;
    l.size[0] = l.size[1] = 20.0f;
    l.size[2] = 1.0f;
    l.data.pth = path_new();
    path *p = l.data.pth;
    pathsweep_numrails = 2;
    pathsweep_rails[0] = bench_rail(p, -0.15f);
    pathsweep_rails[1] = bench_rail(p, 0.15f);
    pathsweep_numprofiles = 3;
    const float peaks[3] = {0.05f, 0.1f, 0.07f};
    for (int k = 0; k < 3; k++) {
        pathsweep_profiles[k] = bench_profile(p, 0.3f + 0.05f * (float)k, peaks[k]);
        pathsweep_positions[0][k] = pathsweep_positions[1][k] = 0.5f * (float)k;
    }
    return slot;
}

static void bench_request(int slot)
{
    layer_genrequest = {};
    layer_genrequest.layer = slot;
    layer_genrequest.centre[0] = layer_genrequest.centre[1] = 10.24f;
    layer_genrequest.size[0] = layer_genrequest.size[1] = 20.48f;
    layer_genrequest.size[2] = 1.0f;
    layer_genrequest.width = layer_genrequest.height = bench_side;
    layer_genrequest.samples = 2.0f;
    layer_genkind = 6;
    layer_gendone = 0;
}

static void bench_sweep(benchmark::State &state)
{
    const int slot = bench_layer();
    pathsweep_smooth = (int32_t)state.range(0);
    int width = 0, height = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench_request(slot);
        state.ResumeTiming();
        job_genpathsweep(nullptr);
        state.PauseTiming();
        if (!layer_gendone || !layer_genrequest.result) {
            state.SkipWithError("no layer generated");
            break;
        }
        width = layer_genrequest.result->width, height = layer_genrequest.result->height;
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        layer_genkind = 0;
        layer_gendone = 0;
        state.ResumeTiming();
    }
    state.counters["width"] = width;
    state.counters["height"] = height;
    state.counters["workers"] = sys_numthreads;
}
BENCHMARK(bench_sweep)->Arg(1)->Arg(0)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();
