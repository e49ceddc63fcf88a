// Depth maps of layers: a model-layer of a 200,000-triangle mesh rendered at
// 2048 x 2048 through a hidden window's GL context (llvmpipe under Xvfb),
// and a rotated 4096 x 4096 raster-layer stamped into a 4096 x 4096 map on
// one worker per processor. Run under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1.
#include "benchgl.h"
#include "benchsetup.h"
#include "geom/meshshader.h"
#include "geom/model.h"
#include "project/layer.h"
#include "project/layerdepth.h"
#include "project/modeldepth.h"
#include "project/project.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/texture.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>
#include <cstring>

static bench_tables bench_setup(true);

// The GL context and the mesh programs; false when any of it fails.
static bool bench_startdepth()
{
    static bool ok = bench_startgl("depth bench") && model_init() == 1;
    return ok;
}

// A UV sphere of rings x segments x 2 triangles in a new model slot.
static int bench_sphere(int rings, int segs)
{
    int slot = mdl_alloc();
    if (slot < 0 || !mdl_reserve((uint32_t)(rings * segs * 6), (uint32_t)(rings * segs * 2)))
        return -1;
    auto pt = [&](int i, int j) {
        double th = M_PI * i / rings, ph = 2.0 * M_PI * j / segs;
        float p[3] = {(float)(std::sin(th) * std::cos(ph)), (float)(std::sin(th) * std::sin(ph)),
                      (float)std::cos(th)};
        return (uint32_t)mdl_vert(p);
    };
    for (int i = 0; i < rings; i++)
        for (int j = 0; j < segs; j++) {
            uint32_t a = pt(i, j), b = pt(i + 1, j), c = pt(i + 1, j + 1), d = pt(i, j + 1);
            mdl_face(a, b, c);
            mdl_face(a, c, d);
        }
    return slot;
}

static void bench_layer(int type)
{
    memset(&project.layers[0], 0, sizeof(project_layer));
    project_layer &l = project.layers[0];
    l.type = type;
    l.pos[0] = 4.0f, l.pos[1] = 4.0f, l.pos[2] = 0.0f;
    l.size[0] = 7.0f, l.size[1] = 7.0f, l.size[2] = 1.0f;
    l.crop[2] = l.crop[3] = 1.0f;
    l.rotation = 30.0f;
    project.size[0] = project.size[1] = 8.0f, project.size[2] = 1.0f;
    project.ppi = 512, project.scale = 1.0f;
}

static void BM_modeldepth(benchmark::State &state)
{
    if (!bench_startdepth()) {
        state.SkipWithError("no GL context");
        return;
    }
    int mesh = bench_sphere(250, 400); // 200,000 triangles
    bench_layer(layer_model);
    project.layers[0].data.mesh = mesh;
    image *map = img_allocfloat("laydepth00", 2048, 2048);
    for (auto _ : state)
        mdl_gendepth(0, map);
    img_free(map);
    mdl_free(mesh);
}
BENCHMARK(BM_modeldepth)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_rasterdepth(benchmark::State &state)
{
    image *raster = bench_field("raster", 4096, 0.0f);
    bench_layer(layer_raster);
    project.layers[0].data.img = raster;
    for (auto _ : state) {
        image *map = layer_gendepth(0, 4096, 4096);
        benchmark::DoNotOptimize(map);
        img_free(map);
    }
    img_free(raster);
}
BENCHMARK(BM_rasterdepth)->Unit(benchmark::kMillisecond)->UseRealTime();
