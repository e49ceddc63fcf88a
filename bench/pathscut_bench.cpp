// Paths Carving of a 500-curve paths-layer over a 2048 x 2048 relief (8 x 8
// x 0.5 inch), draped on the canvas widened by a 1/8 inch ball's profile,
// in 4 levels of 1/8 inch: the seconds of a whole run.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/pathscut.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/path.h"
#include "project/layer.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

constexpr int bench_side = 2048;

static bench_tables bench_setup(true);

// 500 cubic curves across the layer, every tenth closed through a third knot.
static int bench_layer()
{
    const int slot = project_layeralloc(layer_paths);
    project_layer &l = project.layers[slot];
    l.pos[0] = l.pos[1] = 4;
    l.size[0] = l.size[1] = 8, l.size[2] = 1;
    l.data.pth = path_new();
    std::mt19937 rng(500);
    std::uniform_real_distribution<float> u(-0.45f, 0.45f);
    for (int n = 0; n < 500; n++) {
        const int c = path_newcurve(l.data.pth);
        const int knots = n % 10 == 0 ? 4 : 2;
        float first[3] = {u(rng), u(rng), 0};
        for (int k = 0; k < knots; k++) {
            float p[3] = {u(rng), u(rng), 0};
            if (k == 0 || k == knots - 1)
                std::memcpy(p, first, sizeof(p));
            if (k == knots - 1 && knots == 2)
                p[0] = u(rng), p[1] = u(rng);
            const int kn = path_prependknot(l.data.pth, c, p);
            for (int a = 0; a < 2; a++) {
                l.data.pth->knots[kn].h1[a] = p[a] + 0.1f * u(rng);
                l.data.pth->knots[kn].h2[a] = p[a] + 0.1f * u(rng);
            }
        }
        l.data.pth->curves[c].closed = knots == 4;
    }
    return slot;
}

static void bench_pathscut(benchmark::State &state)
{
    project.scale = 1.0f;
    project.size[0] = project.size[1] = 8, project.size[2] = 0.5f;
    bench_caminches();
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 0.5f, 0.0625f, 1.5f, 20.0f);
    bench_usecanvas(bench_field("relief", bench_side, 0.3f), 8, 0.5f);
    const int slot = bench_layer();
    const uint32_t uid = project.layers[slot].uid, options = pathscut_surface | pathscut_cutter;
    static camop op;
    double total = 0.0;
    for (auto _ : state) {
        op.dir = 0, op.entry = 0, op.flags = 0, op.stock = 0.0f, op.z_min = 0.0f, op.cont = nullptr;
        op.type = 12, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.entry = 1, op.dir = 2;
        std::memcpy(&op.aux[0], &uid, sizeof(uid));
        std::memcpy(&op.aux[1], &options, sizeof(options));
        op.z_max = 0.5f, op.z_doc = 0.125f, op.z_safe = 0.1f;
        op.toolpath = -1, op.generating = 1;
        op.time = (float)sys_seconds();
        const double t0 = sys_seconds();
        cam_pathscut(&op);
        total += sys_seconds() - t0;
        state.PauseTiming();
        state.counters["paths"] = toolpaths[op.toolpath].num_paths;
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    state.counters["seconds"] = total / state.iterations();
    project_layerfree(slot);
    bench_dropcanvas();
}
BENCHMARK(bench_pathscut)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
