// Raster editing on a 4096 x 4096 raster-layer: one "brushstrokes" job for
// a piece of 100 points (the viewport feeds one every 1/30 s while the
// brush moves), and the shaded display texture's processing (Prewitt
// shading at half size and colouring; the GL upload is left out). Both on
// one worker per processor.
#include "benchsetup.h"
#include "project/brush.h"
#include "project/layer.h"
#include "project/layertex.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

static bench_tables bench_setup(true);

constexpr int bench_side = 4096;

// Layer 0: 40.96 x 40.96 units at 100 pixels a unit, so the stroke image
// is as large as the raster.
static void bench_layer()
{
    static bool made = [] {
        project_brush = (uint8_t *)sys_calloc(1, project_brushbytes);
        project.scale = 1.0f;
        project.ppi = 100;
        project.size[0] = project.size[1] = 50.0f;
        project.size[2] = 1.0f;
        project_layer &l = project.layers[0];
        memset(&l, 0, sizeof(l));
        l.type = layer_raster;
        l.size[0] = l.size[1] = 40.96f;
        l.size[2] = 1.0f;
        l.crop[2] = l.crop[3] = 1.0f;
        l.data.img = bench_field("layer", bench_side, 0.0f);
        brush_layer = 0;
        brush_settings.size = 1.0f;
        brush_settings.value = 0.2f;
        brush_settings.innerradius = 0.3f;
        brush_settings.outerradius = 0.2f;
        brush_mode = 2;
        return l.data.img != nullptr && project_brush != nullptr;
    }();
    (void)made;
}

// 100 points along a gentle arc of about 3 units, starting at phase.
static void bench_piece(float phase)
{
    for (int i = 0; i < 100; i++) {
        float t = (float)i / 99.0f;
        const float p[3] = {-0.2f + 0.07f * t + 0.01f * phase, 0.05f * std::sin(3.0f * t + phase), 0.0f};
        if (i == 0)
            brush_beginstroke(p);
        else
            brush_addpoint(p);
    }
}

static void BM_BrushStrokes(benchmark::State &state)
{
    bench_layer();
    float phase = 0.0f;
    bench_piece(phase);
    layer_strokedist((void *)(intptr_t)brush_strokecount.load()); // the stroke image is made once
    for (auto _ : state) {
        state.PauseTiming();
        phase += 0.1f;
        bench_piece(phase);
        brush_busy.store(1);
        state.ResumeTiming();
        layer_strokedist((void *)(intptr_t)brush_strokecount.load());
    }
}
BENCHMARK(BM_BrushStrokes)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_ShadedRefresh(benchmark::State &state)
{
    bench_layer();
    layer_shading = 1;
    layer_shadefullres = state.range(0);
    for (auto _ : state) {
        image *c = layer_shadeimage(project.layers[0].data.img, 0);
        benchmark::DoNotOptimize(c);
        img_free(c);
    }
}
BENCHMARK(BM_ShadedRefresh)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
