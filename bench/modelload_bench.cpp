// Model import speed: a 1,000,000-triangle binary STL heightfield (1000 x 500
// cells, 501,501 shared vertices, 50,000,084 bytes) through model_load,
// vertex merging included; and the same file loaded into a model-layer the
// way the Add Layer dialog does it (model_load, the render model, the undo
// blob), so the two times of one run give the layer's overhead. Run the
// second under xvfb-run with LIBGL_ALWAYS_SOFTWARE=1. The file is written once to
// /tmp/kerfmill-heightfield.stl and kept, so bench/modelload_numpy.py and
// admesh can be timed on the same bytes:
//   /usr/bin/python3 bench/modelload_numpy.py /tmp/kerfmill-heightfield.stl
//   hyperfine 'admesh --no-check /tmp/kerfmill-heightfield.stl'
#include "benchgl.h"
#include "benchsetup.h"
#include "geom/model.h"
#include "mainwindow/import/loaders.h"
#include "mainwindow/import/modelload.h"
#include "platform/seam.h"
#include "project/layer.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/event.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/mem.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bench_tables bench_setup(false);

constexpr int bench_cellsx = 1000, bench_cellsy = 500;
constexpr const char *bench_file = "/tmp/kerfmill-heightfield.stl";

float bench_height(int x, int y)
{
    return (float)(2.0 * std::sin(0.013 * x) * std::cos(0.021 * y) + 0.5 * std::sin(0.003 * (x + 2.0 * y)));
}

// Two triangles a cell, each record 50 bytes: normal, three corners,
// attribute.
void bench_writestl()
{
    FILE *f = fopen(bench_file, "wb");
    if (!f)
        return;
    char header[80] = "binary heightfield for the model import benchmark";
    fwrite(header, 1, 80, f);
    uint32_t count = 2u * bench_cellsx * bench_cellsy;
    fwrite(&count, 4, 1, f);
    std::vector<uint8_t> row(50u * 2 * bench_cellsx);
    for (int y = 0; y < bench_cellsy; y++) {
        uint8_t *at = row.data();
        for (int x = 0; x < bench_cellsx; x++) {
            float p[4][3] = {{(float)x, (float)y, bench_height(x, y)},
                             {(float)x + 1, (float)y, bench_height(x + 1, y)},
                             {(float)x + 1, (float)y + 1, bench_height(x + 1, y + 1)},
                             {(float)x, (float)y + 1, bench_height(x, y + 1)}};
            const int tris[2][3] = {{0, 1, 2}, {0, 2, 3}};
            for (const auto &t : tris) {
                float rec[12] = {0, 0, 1};
                for (int v = 0; v < 3; v++)
                    memcpy(rec + 3 + 3 * v, p[t[v]], 12);
                memcpy(at, rec, 48);
                at[48] = at[49] = 0;
                at += 50;
            }
        }
        fwrite(row.data(), 1, row.size(), f);
    }
    fclose(f);
}

void bench_havestl()
{
    FILE *f = fopen(bench_file, "rb");
    if (f)
        fclose(f);
    else
        bench_writestl();
}

void BM_ModelLoadBinaryStl(benchmark::State &state)
{
    bench_havestl();
    int64_t bytes = 84 + 50LL * 2 * bench_cellsx * bench_cellsy;
    for (auto _ : state) {
        int slot = model_load(bench_file);
        if (slot < 0 || models[slot].num_faces != 2u * bench_cellsx * bench_cellsy) {
            state.SkipWithError("model_load failed");
            break;
        }
        state.counters["verts"] = models[slot].num_verts;
        mdl_free(slot);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ModelLoadBinaryStl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The whole model loader on an empty 12 x 12 inch project, its open dialog
// answered by the seam; the layer and its event are dropped between runs.
void BM_ModelLayerLoad(benchmark::State &state)
{
    if (!bench_startgl("model layer bench")) {
        state.SkipWithError("no GL context");
        return;
    }
    bench_havestl();
    memcpy(cfg, cfg_defaults, cfg_size);
    setenv("KERFMILL_DIALOG_PATHS", bench_file, 1);
    plat_seamreset();
    if (!event_alloc()) {
        state.SkipWithError("no event ring");
        return;
    }
    project.size[0] = project.size[1] = 12.0f, project.size[2] = 0.5f;
    project.aspect = 1.0f, project.ppi = 120, project.scale = 1.0f;
    for (auto _ : state) {
        if (!layer_loadmodel() || project.layers[0].type != layer_model) {
            state.SkipWithError("layer_loadmodel failed");
            break;
        }
        state.counters["blob MB"] = (double)event_bytes / 1048576.0;
        state.PauseTiming();
        project_layerfree(0);
        event_clear();
        state.ResumeTiming();
    }
    event_free();
}
BENCHMARK(BM_ModelLayerLoad)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace
