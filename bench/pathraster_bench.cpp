// Shapes From Paths (each shape) of about 200 closed curves (outlined block
// lettering) on a 2048 x 2048 layer, with its distance step alone; Standard
// Stippling of a 2048 x 2048 photo-like canvas (about 50,000 dots, full
// advection); and the medial axis of the lettering traced from a 2048 x 2048
// canvas, with the memory its spatial cells held. bench/pathraster_scipy.py
// times the SciPy and scikit-image counterparts of the same inputs.
#include "benchsetup.h"
#include "cam/cam.h"
#include "cam/generate.h"
#include "cam/stipple.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "geom/contour.h"
#include "geom/medial.h"
#include "geom/path.h"
#include "geom/pathsel.h"
#include "img/distance.h"
#include "project/genraster.h"
#include "project/layer.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

static bench_tables bench_setup(true);

constexpr int bench_side = 2048;

// Block letters: a 10 x 10 grid of "O"-like glyphs (an outline and its
// counter, 200 closed curves in all) in a 0..1 square, each a rounded box
// of 24 points.
static std::vector<std::vector<float>> bench_glyphs()
{
    std::vector<std::vector<float>> out;
    for (int gy = 0; gy < 10; gy++)
        for (int gx = 0; gx < 10; gx++) {
            const double cx = (gx + 0.5) / 10, cy = (gy + 0.5) / 10;
            for (double r : {0.035, 0.018}) {
                std::vector<float> ring;
                for (int i = 0; i <= 24; i++) {
                    const double a = 2 * M_PI * (i % 24) / 24 * (r > 0.02 ? -1 : 1);
                    const double k = 1.0 / std::pow(std::pow(std::fabs(std::cos(a)), 4) +
                                                        std::pow(std::fabs(std::sin(a)), 4), 0.25);
                    ring.insert(ring.end(), {(float)(cx + r * k * std::cos(a)), (float)(cy + 1.3 * r * k * std::sin(a)),
                                             0.0f});
                }
                out.push_back(ring);
            }
        }
    return out;
}

// The glyphs as a selected paths-layer over a 20.48-unit canvas at 100
// pixels per unit.
static void bench_project()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    project.size[0] = project.size[1] = 20.48f;
    project.size[2] = 1;
    project.scale = 1;
    project.ppi = 100;
    p_selcurves.count = -1;
    int slot = project_layeralloc(layer_paths);
    project_layer &l = project.layers[slot];
    l.pos[0] = l.pos[1] = 10.24f;
    l.size[0] = l.size[1] = 20.0f;
    l.size[2] = 0.25f;
    l.data.pth = path_new();
    for (const auto &ring : bench_glyphs()) {
        int c = path_newcurve(l.data.pth);
        for (size_t i = 0; i < ring.size(); i += 3) {
            const float p[3] = {ring[i] - 0.5f, ring[i + 1] - 0.5f, 0};
            path_prependknot(l.data.pth, c, p);
        }
        l.data.pth->curves[c].closed = 1;
    }
    project_selectedlayer = slot;
    layer_gensettings = {0, 1, 0, 0.1f, 1.0f, 0.2f, 0.2f, 0.2f};
}

static void bench_shape(benchmark::State &state)
{
    bench_project();
    const int shape = (int)state.range(0);
    for (auto _ : state) {
        project_genrasterpathslayer(shape, 45, 0, 0);
        while (layer_genkind && !layer_gendone)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        state.PauseTiming();
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
        layer_gendone = 0;
        layer_genkind = 0;
        state.ResumeTiming();
    }
    state.counters["workers"] = sys_numthreads;
}
BENCHMARK(bench_shape)->DenseRange(1, 5)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// The distance step of the shapes alone: every pixel inside the glyphs
// measured to the glyph outlines.
static void bench_shapedistance(benchmark::State &state)
{
    std::vector<std::vector<float>> glyphs = bench_glyphs();
    std::vector<float> pts;
    std::vector<int32_t> counts;
    for (auto &g : glyphs) {
        for (size_t i = 0; i < g.size(); i += 3)
            pts.insert(pts.end(), {g[i] * bench_side, g[i + 1] * bench_side, 0.0f});
        counts.push_back((int32_t)(g.size() / 3));
    }
    const float size[3] = {bench_side, bench_side, 1}, origin[3] = {0, 0, 0};
    image *field = img_allocfloat("bench", bench_side, bench_side);
    for (auto _ : state) {
        state.PauseTiming();
        std::fill((float *)field->pixels, (float *)field->pixels + (size_t)bench_side * bench_side, 1.0f);
        state.ResumeTiming();
        img_scalarmaskeddistpolys(field, 0, 1, size, origin, (int)counts.size(), counts.data(), pts.data(), 1);
        benchmark::DoNotOptimize(field->pixels);
    }
    img_free(field);
}
BENCHMARK(bench_shapedistance)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// A photo-like canvas: soft blobs and ripples.
static double bench_photo(double u, double v)
{
    const double b = std::exp(-((u - 0.35) * (u - 0.35) + (v - 0.4) * (v - 0.4)) * 12.0);
    return std::clamp(0.3 + 0.5 * b + 0.15 * std::sin(17 * u) * std::cos(13 * v), 0.0, 1.0);
}

static void bench_stipple(benchmark::State &state)
{
    if (cam_mutex < 0)
        cam_mutex = sys_createmutex();
    image *img = img_allocfloat("photo", bench_side, bench_side);
    float *p = (float *)img->pixels;
    for (int j = 0; j < bench_side; j++)
        for (int i = 0; i < bench_side; i++)
            p[(size_t)j * bench_side + i] = (float)bench_photo((i + 0.5) / bench_side, (j + 0.5) / bench_side);
    const float size[3] = {20.48f, 20.48f, 0.5f}, frac[3] = {0, 0, 1};
    img_setrefimage(img, size, frac, 1.0f);
    img_free(img);
    cam_settool(1, "V 60", tool_vbit, 1, 2, 0.25f, 0.0f, 60.0f, 1.5f, 20.0f);
    camop op{};
    for (auto _ : state) {
        op.type = 5, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.z_doc = 1, op.z_max = 0.25f;
        op.z_safe = 0.1f, op.step = 0.1f, op.aux[0] = 1.0f, op.aux[1] = 0.02f, op.aux[2] = 0.08f;
        op.toolpath = -1;
        op.generating = 1;
        camop_stipple(&op);
        state.counters["dots"] = op.toolpath >= 0 ? toolpaths[op.toolpath].num_paths : 0;
        toolpath_free(op.toolpath);
    }
}
BENCHMARK(bench_stipple)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// The lettering traced from a 2048 x 2048 canvas (block letters of strokes
// 40 pixels wide), its medial axis at a cap of 30 pixels.
static void bench_medial(benchmark::State &state)
{
    image *f = img_allocfloat("letters", bench_side, bench_side);
    float *p = (float *)f->pixels;
    auto box = [&](int x0, int y0, int x1, int y1, float v) {
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++)
                p[(size_t)y * bench_side + x] = v;
    };
    for (int gy = 0; gy < 8; gy++)
        for (int gx = 0; gx < 8; gx++) {
            const int x = 40 + gx * 250, y = 40 + gy * 250;
            if ((gx + gy) % 2) {
                box(x, y, x + 200, y + 40, 1), box(x + 80, y, x + 120, y + 200, 1); // T
            } else {
                box(x, y, x + 200, y + 200, 1), box(x + 40, y + 40, x + 160, y + 160, 0); // O
            }
        }
    const float scale[3] = {bench_side, bench_side, 0}, offset[3] = {0, 0, 0};
    contour *c = cont_fromimage(f, 0.5f, scale, offset, 0.9995f, 0.5f, 8.0f, 0);
    img_free(f);
    for (auto _ : state) {
        contour *axis = con_medialaxis(c, 30.0f, 0.9995f, 0.5f, 8.0f);
        benchmark::DoNotOptimize(axis);
        cont_free(axis);
    }
    // The cells' entries as the axis registers them: the same grid rule
    // (cells at least 2 x 30 wide, at most 4096), summed by capacity.
    con_cells g{};
    g.nx = g.ny = 34; // 2048 / 60, within 4096 cells
    g.ox = g.oy = -1.5f;
    g.cw = g.ch = (bench_side + 3.0f) / 34;
    std::vector<con_cell> cells((size_t)g.nx * g.ny);
    g.cells = cells.data();
    size_t first = 0;
    for (uint32_t k = 0; k < c->numpolys; first += c->vertcount[k], k++)
        for (uint32_t i = 0; i + 1 < c->vertcount[k]; i++)
            con_addsegtocells(&g, c, (int)k, (int)(first + i));
    double bytes = cells.size() * sizeof(con_cell);
    for (con_cell &cell : cells) {
        bytes += cell.capacity * sizeof(con_cellentry);
        sys_free(cell.entries);
    }
    state.counters["cellMiB"] = bytes / 1048576.0;
    state.counters["segments"] = c->numverts;
    cont_free(c);
}
BENCHMARK(bench_medial)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
