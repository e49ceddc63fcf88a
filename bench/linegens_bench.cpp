// Chevron, Spiral, Conformal carving and Dithered Stippling of a 2048 x
// 2048 relief (8 x 8 x 0.5 inch) with a 1/8 inch ball nose, the line
// generators in five levels: the seconds of a whole run each.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/chevron.h"
#include "cam/conformal.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/spiral.h"
#include "cam/stipple2.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cstring>

constexpr int bench_side = 2048;

static bench_tables bench_setup(true);

struct bench_gen {
    int type;
    camop_generator fn;
    float aux[3];
    float step, doc;
};
static const bench_gen bench_gens[] = {
    {2, camop_chevron, {30, 0.5f, 0.25f}, 10.0f, 0.1f},
    {3, camop_spiral, {0, 0, 0}, 10.0f, 0.1f},
    {9, camop_conformal, {30, 1, 2}, 10.0f, 0.1f},
    {11, camop_stipple2, {0.5f, 0.5f, 0.5f}, 0.02f, 0.1f}, // dot diameters 0.02 to 0.1 inch
};

static void bench_linegen(benchmark::State &state)
{
    bench_caminches();
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 0.5f, 0.0625f, 1.5f, 20.0f);
    bench_usecanvas(bench_field("relief", bench_side, 0.3f), 8, 0.5f);
    const bench_gen &b = bench_gens[state.range(0)];
    static camop op;
    double total = 0.0;
    for (auto _ : state) {
        op.type = b.type, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.dir = 2, op.entry = 1;
        op.step = b.step, op.flags = b.type == 11 ? 0 : camop_percentstep;
        op.z_min = 0.0f, op.z_max = 0.5f, op.z_doc = b.doc; // five levels for the line generators
        op.z_safe = 0.1f, op.stock = 0.0f, op.cont = nullptr, op.toolpath = -1;
        memcpy(op.aux, b.aux, sizeof(op.aux));
        op.generating = 1;
        op.time = (float)sys_seconds();
        const double t0 = sys_seconds();
        b.fn(&op);
        total += sys_seconds() - t0;
        state.PauseTiming();
        state.counters["paths"] = op.toolpath >= 0 ? (double)toolpaths[op.toolpath].num_paths : 0;
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    state.counters["seconds"] = total / state.iterations();
    bench_dropcanvas();
}
BENCHMARK(bench_linegen)->DenseRange(0, 3)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
