// Trochoidal milling of a 2048 x 2048 canvas (12 x 12 inches): lettering
// ("KERF" above "BOARD", whose counters are islands) and shapes with
// islands (a plate with round islands, a disc with a square island, a
// ring), cut with a 1/4" end mill at a 10 % stepover in three levels of
// 0.1". Type 15 clears them all at one depth; type 14 cuts a relief where
// the plate and the shapes are 0.15" deep and the lettering 0.3". Beside
// the seconds of a run, the time read from its log for the distance fields,
// the outlines, the medial axes and cam_startcuts, and the loops.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "cam/trochoidal.h"
#include "project/project.h"
#include "sys/config.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

constexpr int bench_side = 2048;
constexpr float bench_inches = 12.0f;

static bench_tables bench_setup(true);

// Strokes of a letter in a 1 x 1.4 box: polylines of (x, y) pairs.
using bench_strokes = std::vector<std::vector<float>>;

static std::vector<float> bench_arc(float cx, float cy, float rx, float ry, float a0, float a1)
{
    std::vector<float> v;
    for (int k = 0; k <= 16; k++) {
        const float a = (a0 + (a1 - a0) * k / 16.0f) * 3.14159265f / 180.0f;
        v.push_back(cx + rx * std::cos(a));
        v.push_back(cy + ry * std::sin(a));
    }
    return v;
}

static bench_strokes bench_letter(char c)
{
    switch (c) {
    case 'K': return {{0, 0, 0, 1.4f}, {1, 1.4f, 0, 0.6f, 1, 0}};
    case 'E': return {{1, 1.4f, 0, 1.4f, 0, 0, 1, 0}, {0, 0.7f, 0.8f, 0.7f}};
    case 'R': {
        bench_strokes s = {{0, 0, 0, 1.4f, 0.5f, 1.4f}, {0.5f, 0.7f, 0, 0.7f}, {0.45f, 0.7f, 1, 0}};
        s.push_back(bench_arc(0.5f, 1.05f, 0.45f, 0.35f, 90, -90));
        return s;
    }
    case 'F': return {{1, 1.4f, 0, 1.4f, 0, 0}, {0, 0.7f, 0.8f, 0.7f}};
    case 'B': {
        bench_strokes s = {{0.5f, 0, 0, 0, 0, 1.4f, 0.5f, 1.4f}, {0, 0.7f, 0.5f, 0.7f}};
        s.push_back(bench_arc(0.5f, 1.05f, 0.42f, 0.35f, 90, -90));
        s.push_back(bench_arc(0.5f, 0.35f, 0.5f, 0.35f, 90, -90));
        return s;
    }
    case 'O': return {bench_arc(0.5f, 0.7f, 0.5f, 0.7f, 0, 360)};
    case 'A': return {{0, 0, 0.5f, 1.4f, 1, 0}, {0.2f, 0.5f, 0.8f, 0.5f}};
    case 'D': {
        bench_strokes s = {{0.4f, 0, 0, 0, 0, 1.4f, 0.4f, 1.4f}};
        s.push_back(bench_arc(0.4f, 0.7f, 0.6f, 0.7f, 90, -90));
        return s;
    }
    }
    return {};
}

// The canvas as heights 0 (the top) down to 1 (its depth), pixel row 0 at
// the far edge; each pocket is given the depth it is cut to.
struct bench_canvas {
    std::vector<float> depth = std::vector<float>((size_t)bench_side * bench_side, 0.0f);
    float px = bench_inches / bench_side;
    // Every pixel within w of the segment a-b goes to at least d.
    void capsule(float ax, float ay, float bx, float by, float w, float d)
    {
        const int i0 = std::max(0, (int)((std::fmin(ax, bx) - w) / px)),
                  i1 = std::min(bench_side - 1, (int)((std::fmax(ax, bx) + w) / px));
        const int j0 = std::max(0, (int)((bench_inches - std::fmax(ay, by) - w) / px)),
                  j1 = std::min(bench_side - 1, (int)((bench_inches - std::fmin(ay, by) + w) / px));
        const float dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
        for (int j = j0; j <= j1; j++)
            for (int i = i0; i <= i1; i++) {
                const float x = (i + 0.5f) * px, y = bench_inches - (j + 0.5f) * px;
                float t = l2 > 0 ? ((x - ax) * dx + (y - ay) * dy) / l2 : 0.0f;
                t = std::fmin(1.0f, std::fmax(0.0f, t));
                const float ex = ax + t * dx - x, ey = ay + t * dy - y;
                float &v = depth[(size_t)j * bench_side + i];
                if (ex * ex + ey * ey <= w * w)
                    v = std::fmax(v, d);
            }
    }
    // A region given by a test over the box (x0, y0)-(x1, y1) set to d.
    template <class F> void region(float x0, float y0, float x1, float y1, float d, F inside)
    {
        for (int j = (int)((bench_inches - y1) / px); j <= (int)((bench_inches - y0) / px); j++)
            for (int i = (int)(x0 / px); i <= (int)(x1 / px); i++) {
                const float x = (i + 0.5f) * px, y = bench_inches - (j + 0.5f) * px;
                if (i >= 0 && j >= 0 && i < bench_side && j < bench_side && inside(x, y))
                    depth[(size_t)j * bench_side + i] = d;
            }
    }
    void text(const char *s, float x, float y, float height, float d)
    {
        const float scale = height / 1.4f, w = 0.22f;
        for (; *s; s++, x += 1.6f * scale)
            for (const std::vector<float> &p : bench_letter(*s))
                for (size_t k = 0; k + 3 < p.size(); k += 2)
                    capsule(x + p[k] * scale, y + p[k + 1] * scale, x + p[k + 2] * scale, y + p[k + 3] * scale, w, d);
    }
};

// shallow: the depth of the plate and the shapes; deep: the lettering's.
static image *bench_layout(float shallow, float deep)
{
    bench_canvas c;
    // A plate with five round islands.
    c.region(0.6f, 0.6f, 6.4f, 3.6f, shallow, [](float x, float y) {
        for (int i = 0; i < 5; i++)
            if (std::hypot(x - (1.4f + 1.1f * i), y - 2.1f) < 0.3f)
                return false;
        return true;
    });
    // A disc with a square island, and a ring.
    c.region(7.0f, 0.5f, 10.4f, 3.9f, shallow, [](float x, float y) {
        return std::hypot(x - 8.7f, y - 2.2f) < 1.7f && !(std::fabs(x - 8.7f) < 0.5f && std::fabs(y - 2.2f) < 0.5f);
    });
    c.region(9.4f, 4.0f, 11.8f, 6.4f, shallow, [](float x, float y) {
        const float d = std::hypot(x - 10.6f, y - 5.2f);
        return d < 1.15f && d > 0.55f;
    });
    c.text("KERF", 0.8f, 8.6f, 2.6f, deep);
    c.text("BOARD", 0.6f, 4.6f, 2.4f, deep);
    image *img = img_allocfloat("lettering", bench_side, bench_side);
    float *p = (float *)img->pixels;
    for (size_t i = 0; i < c.depth.size(); i++)
        p[i] = 1.0f - c.depth[i]; // heights: 1 at the top
    return img;
}

// Stage times read from the run's log: each interval between two stamped
// lines goes to the stage whose line ends it. The distance fields include
// the thresholds between them; the 2.5D cut surface (the cutter's dilation)
// is counted apart.
struct bench_stages {
    double surface = 0, distance = 0, outlines = 0, axis = 0, startcuts = 0;
    long loops = 0;
};

static bool bench_has(const std::string &line, const char *text)
{
    return line.find(text) != std::string::npos;
}

static bench_stages bench_readlog(const std::string &path)
{
    bench_stages s;
    std::ifstream in(path);
    double last = -1;
    bool cutting = false, convolving = false;
    for (std::string line; std::getline(in, line);) {
        const double t = std::atof(line.c_str());
        const double dt = last < 0 ? 0.0 : t - last;
        last = t;
        if (cutting) {
            s.startcuts += dt;
            if (bench_has(line, " loops in ")) {
                s.loops += std::atol(line.c_str() + line.find("...") + 3);
                cutting = false;
            }
        } else if (convolving) {
            s.surface += dt;
        } else if (bench_has(line, "medial-axis cells") || bench_has(line, "medial axis contour")) {
            s.axis += dt;
        } else if (bench_has(line, "distance transformed") || bench_has(line, "thresholded")) {
            s.distance += dt;
        } else if (bench_has(line, "MAX RADIUS") || bench_has(line, "optimized ")) {
            s.outlines += dt;
        }
        // The dilation logs lines of its own; it ends at the first slice.
        convolving = (convolving || bench_has(line, "convolving with tool")) && !bench_has(line, "pathsurf");
        cutting = cutting || bench_has(line, "spiralrad:");
    }
    return s;
}

static void bench_trochoid(benchmark::State &state, int type)
{
    bench_caminches();
    cfg_setf(cfg_trochoidstep, 10.0f);
    cam_settool(1, "flat 1/4", tool_cylinder, 1, 2, 0.25f, 1.0f, 0.0f, 2.0f, 20.0f);
    // Heights in inches below the top: 2D pockets all 0.3 deep; the relief's
    // plate and shapes 0.15, its lettering 0.3.
    image *canvas = type == 15 ? bench_layout(0.3f, 0.3f) : bench_layout(0.15f, 0.3f);
    bench_usecanvas(canvas, bench_inches, 1.0f);
    static camop op;
    bench_stages sum;
    double total = 0.0;
    const std::string path = "/tmp/kerfmill-trochoid-bench.log";
    for (auto _ : state) {
        op.type = type, op.tool = 1, op.feed = 40, op.engagefeed = 10, op.entry = 2, op.dir = 1;
        op.step = 10.0f, op.flags = camop_percentstep;
        op.z_min = 0.0f, op.z_max = 0.3f, op.z_doc = 0.1f, op.z_safe = 0.2f, op.stock = 0.0f;
        op.aux[0] = 0.85f, op.aux[1] = op.aux[2] = 0.0f; // the 2D threshold: between the top and the floors
        op.cont = nullptr, op.toolpath = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        total += bench_runlogged(type == 15 ? cam_trochpock : cam_trochoidal, &op, path);
        const bench_stages s = bench_readlog(path);
        remove(path.c_str());
        sum.surface += s.surface, sum.distance += s.distance, sum.outlines += s.outlines;
        sum.axis += s.axis, sum.startcuts += s.startcuts, sum.loops = s.loops;
        state.PauseTiming();
        state.counters["paths"] = op.toolpath >= 0 ? (double)toolpaths[op.toolpath].num_paths : 0;
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    const double n = (double)state.iterations();
    state.counters["seconds"] = total / n;
    state.counters["surface_s"] = sum.surface / n;
    state.counters["distance_s"] = sum.distance / n;
    state.counters["outlines_s"] = sum.outlines / n;
    state.counters["medialaxis_s"] = sum.axis / n;
    state.counters["startcuts_s"] = sum.startcuts / n;
    state.counters["loops"] = (double)sum.loops;
    bench_dropcanvas();
}

// A slice of 5,184 pits: a 72 x 72 grid of round pits 0.12" across, 0.3"
// deep, cut by a 1/32" end mill. Each level's slice holds every pit as a
// pocket of its own, which the pocket table and the traversal stack must
// hold; the counters give the pockets of the fullest slice and the run.
static void bench_trochoidalpits(benchmark::State &state)
{
    bench_caminches();
    cfg_setf(cfg_trochoidstep, 10.0f);
    cam_settool(1, "flat 1/32", tool_cylinder, 1, 2, 0.03125f, 0.5f, 0.0f, 1.5f, 20.0f);
    bench_canvas c;
    const float pitch = bench_inches / 72.0f;
    for (int j = 0; j < 72; j++)
        for (int i = 0; i < 72; i++) {
            const float x = (i + 0.5f) * pitch, y = (j + 0.5f) * pitch;
            c.capsule(x, y, x, y, 0.06f, 0.3f);
        }
    image *img = img_allocfloat("pits", bench_side, bench_side);
    float *p = (float *)img->pixels;
    for (size_t i = 0; i < c.depth.size(); i++)
        p[i] = 1.0f - c.depth[i];
    bench_usecanvas(img, bench_inches, 1.0f);
    static camop op;
    double total = 0.0;
    long pockets = 0;
    const std::string path = "/tmp/kerfmill-trochoid-pits-bench.log";
    for (auto _ : state) {
        op.type = 14, op.tool = 1, op.feed = 40, op.engagefeed = 10, op.entry = 2, op.dir = 1;
        op.step = 10.0f, op.flags = camop_percentstep;
        op.z_min = 0.0f, op.z_max = 0.3f, op.z_doc = 0.1f, op.z_safe = 0.2f, op.stock = 0.0f;
        op.aux[0] = op.aux[1] = op.aux[2] = 0.0f, op.cont = nullptr, op.toolpath = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        total += bench_runlogged(cam_trochoidal, &op, path);
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            if (bench_has(line, "created ") && bench_has(line, " nodes @Z"))
                pockets = std::max(pockets, std::atol(line.c_str() + line.find("created ") + 8));
        remove(path.c_str());
        state.PauseTiming();
        state.counters["paths"] = op.toolpath >= 0 ? (double)toolpaths[op.toolpath].num_paths : 0;
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    state.counters["seconds"] = total / (double)state.iterations();
    state.counters["slice_pockets"] = (double)pockets;
    bench_dropcanvas();
}
BENCHMARK(bench_trochoidalpits)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

static void bench_trochpock(benchmark::State &state)
{
    bench_trochoid(state, 15);
}
static void bench_trochoidal(benchmark::State &state)
{
    bench_trochoid(state, 14);
}
BENCHMARK(bench_trochpock)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK(bench_trochoidal)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
