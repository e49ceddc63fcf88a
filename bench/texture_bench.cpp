// Decorative carving: tessellated carving (Hexagons 20 x 20, six cuts, a
// 1/8" ball) and labyrinth carving (1/16" stepover) on a 2048 x 2048 relief,
// maze growth on 4096 x 4096 cells, and the tile pattern of 4096 x 4096
// drawn four pixels a step beside one pixel a step. Seconds per run.
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/labyrinth.h"
#include "cam/maze.h"
#include "cam/tessellate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"

#include "benchsetup.h"

#include <benchmark/benchmark.h>

#include <cstring>

// The pattern drawn over one image made and touched beforehand: the first
// touch of 64 MB would otherwise cost more than either loop.
static void bench_tile(benchmark::State &state, int wide)
{
    bench_tables tables(false);
    image *tile = tess_drawtile(tess_hexagons, 4096, 4096, 20, 20, 3.0f, 1);
    for (auto _ : state) {
        tess_drawpattern(tile, tess_hexagons, 20, 20, 3.0f, wide);
        benchmark::DoNotOptimize(tile->pixels);
    }
    img_free(tile);
}
static void BM_TileFourPixels(benchmark::State &state)
{
    bench_tile(state, 1);
}
static void BM_TilePerPixel(benchmark::State &state)
{
    bench_tile(state, 0);
}
BENCHMARK(BM_TileFourPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TilePerPixel)->Unit(benchmark::kMillisecond);

static void BM_MazeGenerate(benchmark::State &state)
{
    bench_tables tables(false);
    for (auto _ : state) {
        maze m;
        maze_generate(&m, 4096, 4096, 4.0f, 0x1);
        benchmark::DoNotOptimize(m.cells);
        maze_free(&m);
    }
}
BENCHMARK(BM_MazeGenerate)->Unit(benchmark::kSecond);

// An 8" square relief of 2048 x 2048 with a 1/8" ball as tool 1.
static void bench_canvas(camop &op)
{
    if (cam_mutex < 0)
        cam_mutex = sys_createmutex();
    project.units = 1;
    project.scale = 1.0f;
    cam_settooldefaults();
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0625f, 1.5f, 20.0f);
    engage_slope = 0.36397023f;
    image *field = bench_field("relief", 2048, 0.0f);
    const float size[3] = {8, 8, 1}, frac[3] = {0, 0, 1};
    img_setrefimage(field, size, frac, 1.0f);
    img_free(field);
    op.coolant = 1, op.tool = 1, op.engagefeed = 20, op.feed = 60, op.speed = 12000;
    op.entry = 1, op.z_doc = 0.25f, op.z_max = 0.5f, op.z_safe = 0.1f;
    op.model = -1, op.toolpath = -1;
}

static void bench_run(benchmark::State &state, camop &op, camop_generator gen)
{
    for (auto _ : state) {
        op.generating = 1;
        gen(&op);
        if (op.toolpath < 0) {
            state.SkipWithError("no toolpath");
            break;
        }
        state.counters["paths"] = toolpaths[op.toolpath].num_paths;
        toolpath_free(op.toolpath);
    }
}

static void BM_Tessellate(benchmark::State &state)
{
    bench_tables tables(true);
    camop op{};
    bench_canvas(op);
    op.type = 13;
    const uint32_t a0 = tess_hexagons | 6u << 16, a1 = 20u | 20u << 16;
    memcpy(&op.aux[0], &a0, 4);
    memcpy(&op.aux[1], &a1, 4);
    bench_run(state, op, cam_tessellate);
}
BENCHMARK(BM_Tessellate)->Unit(benchmark::kSecond)->Iterations(1);

static void BM_Labyrinth(benchmark::State &state)
{
    bench_tables tables(true);
    camop op{};
    bench_canvas(op);
    op.type = 4, op.step = 0.0625f, op.aux[1] = 4.0f;
    bench_run(state, op, camop_labyrinthjob);
}
BENCHMARK(BM_Labyrinth)->Unit(benchmark::kSecond)->Iterations(1);
