// The simulation on a large toolpath: a Parallel-style toolpath of
// 1,000,000 cut moves (1,000 linked rows of 1,000 points over a wavy
// relief) on the default 12 x 12 x 0.5 inch canvas, played with a 1/8" ball
// into the default 1024-pixel depth-map, as one full build and as the four
// step images; beside them one dilation of the whole map by the same
// profile, the yardstick the simulation's cost is judged against.
#include "benchsetup.h"
#include "cam/cam.h"
#include "cam/compile.h"
#include "cam/profile.h"
#include "cam/simulate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "img/convolve.h"
#include "project/canvas.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {
constexpr int bench_rows = 1000, bench_points = 1000;
const float bench_size[3] = {12.0f, 12.0f, 0.5f}, bench_frac[3] = {0, 0, 1};

// No worker pool: the simulation and the yardstick both run on one thread,
// so the ratio compares work, not scheduling.
bench_tables bench_setup(false);

// Compiles the toolpath once and sets up the canvas, the tool, operation
// record 0 and project entry 0 for every benchmark.
struct bench_scene {
    double length = 0;
    bench_scene()
    {
        image *ref = img_allocfloat("canvas", 64, 64);
        img_setrefimage(ref, bench_size, bench_frac, 1.0f);
        img_free(ref);
        for (int i = 0; i < 3; i++) {
            project.size[i] = bench_size[i];
            project.originoffset[i] = -bench_frac[i] * bench_size[i];
        }
        project.aspect = 1.0f;
        project.units = 1, project.scale = 1.0f;
        sim_width = sim_height = 1024;
        cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
        const int slot = toolpath_new();
        std::vector<float> v(3 * bench_points);
        for (int r = 0; r < bench_rows; r++) {
            const float y = 0.1f + 11.8f * r / (bench_rows - 1);
            for (int k = 0; k < bench_points; k++) {
                const float x = 0.1f + 11.8f * (r % 2 ? bench_points - 1 - k : k) / (bench_points - 1);
                v[3 * k] = x, v[3 * k + 1] = y;
                v[3 * k + 2] = -0.05f - 0.15f * (1.0f + std::sin(x * 1.3f) * std::cos(y * 0.9f));
            }
            const int p = toolpath_appendverts(slot, r ? PATH_LINK : 0, bench_points, v.data(), 0, 1);
            toolpath_pushsorted(slot, (uint32_t)p, 1);
        }
        toolpath_compile(slot, 0.1f);
        length = toolpaths[slot].feeds;
        cam_ops[0].type = 1, cam_ops[0].tool = 1, cam_ops[0].toolpath = slot, cam_ops[0].generating = 0;
        project.ops[0].camop = 0, project.ops[0].include = 1;
    }
};
bench_scene &bench_getscene()
{
    static bench_scene scene;
    return scene;
}

void bench_freesteps()
{
    projop &e = project.ops[0];
    for (projsimstep &s : e.steps) {
        img_free(s.img);
        s = projsimstep{};
    }
    e.simulation = nullptr;
}
} // namespace

static void bench_fullbuild(benchmark::State &state)
{
    const double length = bench_getscene().length;
    bench_freesteps();
    for (auto _ : state) {
        img_free(project_canvas.simulation);
        project_canvas.simulation = nullptr;
        // Entry 0 played to its end without step images: rasterised whole.
        sim_state.op = 0, sim_state.fraction = 1.0, sim_state.playback = 1, sim_state.remaining = length + 1.0;
        sim_state.path = 0, sim_state.move = 0, sim_state.position = 0.0;
        project_gensimulation(nullptr);
        benchmark::DoNotOptimize(project_canvas.simulation);
    }
    const toolpath &tp = toolpaths[cam_ops[0].toolpath];
    double points = 0;
    for (uint32_t m = 0; m < tp.num_moves; m++)
        points += tp.moves[m].count;
    state.counters["points"] = points;
}
BENCHMARK(bench_fullbuild)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

static void bench_stepimages(benchmark::State &state)
{
    bench_getscene();
    for (auto _ : state) {
        sim_jobcount = 1;
        project.ops[0].simbusy = 1;
        job_projgenopsimimage(&project.ops[0]);
    }
    bench_freesteps();
}
BENCHMARK(bench_stepimages)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

static void bench_wholedilation(benchmark::State &state)
{
    bench_getscene();
    const float canvas[3] = {bench_size[0], bench_size[1], bench_size[2]};
    image *k = cam_gentoolprofile(0, canvas, 1024, 0.35f);
    image *map = bench_field("map", 1024, 0.0f);
    for (auto _ : state) {
        image *out = img_scalarconvo(map, k, 0, -99999.0f, 0.0f);
        benchmark::DoNotOptimize(out);
        img_free(out);
    }
    img_free(map);
    img_free(k);
}
BENCHMARK(bench_wholedilation)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
