// 2D profile milling of a 2048 x 2048 canvas (8 x 8 x 0.5 inch) holding 30
// raised frames (outlines with holes) with a 1/4 inch flat cutter: a width
// of cuts of four stepovers, three levels, tabs. Beside the seconds of a
// whole run, the seconds of its ring offsetting (distance field and the
// five traced offset levels, read from the log), and Clipper's ClipperOffset
// (libpolyclipping) offsetting the same outlines by the same distances.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/profiling.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"

#include <benchmark/benchmark.h>
#include <polyclipping/clipper.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

constexpr int bench_side = 2048;
constexpr float bench_inches = 8.0f;
constexpr int bench_cols = 6, bench_rows = 5;
constexpr float bench_outer = 0.9f, bench_hole = 0.4f, bench_pitch = 1.3f;
constexpr float bench_offset = 0.125f, bench_step = 0.05f, bench_width = 4 * bench_step;

static bench_tables bench_setup(true);

// Frame k's centre, in inches with y up.
static void bench_centre(int k, float *c)
{
    c[0] = 0.35f + bench_pitch * (k % bench_cols) + bench_outer / 2;
    c[1] = 0.6f + bench_pitch * (k / bench_cols) + bench_outer / 2;
}

static image *bench_frames()
{
    image *img = img_allocfloat("frames", bench_side, bench_side);
    float *p = (float *)img->pixels;
    const float px = bench_inches / bench_side;
    for (int j = 0; j < bench_side; j++)
        for (int i = 0; i < bench_side; i++) {
            const float x = (i + 0.5f) * px, y = bench_inches - (j + 0.5f) * px;
            float v = 0.0f;
            for (int k = 0; k < bench_cols * bench_rows && v == 0.0f; k++) {
                float c[2];
                bench_centre(k, c);
                const float dx = std::fabs(x - c[0]), dy = std::fabs(y - c[1]);
                if (std::fmax(dx, dy) < bench_outer / 2 && std::fmax(dx, dy) >= bench_hole / 2)
                    v = 1.0f;
            }
            p[(size_t)j * bench_side + i] = v;
        }
    return img;
}

static uint32_t bench_halves(uint32_t lo, uint32_t hi, float *out)
{
    uint32_t u = lo | hi << 16;
    std::memcpy(out, &u, sizeof(u));
    return u;
}

// Seconds between the first log lines holding from and to.
static double bench_between(const std::string &path, const char *from, const char *to)
{
    std::ifstream in(path);
    double a = -1, b = -1;
    for (std::string line; std::getline(in, line);) {
        if (a < 0 && line.find(from) != std::string::npos)
            a = std::atof(line.c_str());
        if (a >= 0 && line.find(to) != std::string::npos) {
            b = std::atof(line.c_str());
            break;
        }
    }
    return a >= 0 && b >= a ? b - a : 0.0;
}

static void bench_profiling(benchmark::State &state)
{
    bench_caminches();
    cam_settool(1, "flat 1/4", tool_cylinder, 1, 2, 0.25f, 0.5f, 0.0f, 1.5f, 20.0f);
    bench_usecanvas(bench_frames(), bench_inches, 0.5f);
    static camop op;
    double total = 0.0, offsetting = 0.0;
    const std::string logpath = "/tmp/kerfmill-profiling-bench.log";
    for (auto _ : state) {
        op.type = 8, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.speed = 12000, op.coolant = 1;
        op.dir = 0, op.entry = 1, op.flags = 0x4;
        op.step = bench_step, op.stock = bench_offset;
        op.z_min = 0.0f, op.z_max = 0.3f, op.z_doc = 0.1f, op.z_safe = 0.1f;
        op.aux[0] = 0.25f; // contour height
        // W = 0.2: (w / 65535)^2 x 8; tabs every 2 inch, 1/4 long, 0.1 high.
        bench_halves((uint32_t)std::lround(std::sqrt(bench_width / 8.0f) * 65535.0f), 5461, &op.aux[1]);
        bench_halves(16384, 13107, &op.aux[2]);
        op.cont = nullptr, op.toolpath = -1, op.model = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        total += bench_runlogged(camop_profiling, &op, logpath);
        offsetting += bench_between(logpath, "generating distance transform", "determining root node tree depths");
        state.PauseTiming();
        if (op.toolpath < 0)
            state.SkipWithError("the job failed");
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    remove(logpath.c_str());
    state.counters["seconds"] = total / state.iterations();
    state.counters["offsetting_s"] = offsetting / state.iterations();
    bench_dropcanvas();
}
BENCHMARK(bench_profiling)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();

// The same outlines (outer squares and their holes, in pixels) offset by
// ClipperOffset with round joins at Offset + d for the five levels.
static void bench_clipper(benchmark::State &state)
{
    const double px = bench_inches / bench_side;
    ClipperLib::Paths outlines;
    for (int k = 0; k < bench_cols * bench_rows; k++) {
        float c[2];
        bench_centre(k, c);
        for (float half : {bench_outer / 2, bench_hole / 2}) {
            const double sign = half == bench_hole / 2 ? -1.0 : 1.0; // holes turn the other way
            ClipperLib::Path p;
            const double xs[4] = {-1, 1, 1, -1}, ys[4] = {-1, -1, 1, 1};
            for (int v = 0; v < 4; v++) {
                const int at = sign > 0 ? v : 3 - v;
                p.push_back({(ClipperLib::cInt)std::lround((c[0] + xs[at] * half) / px * 16),
                             (ClipperLib::cInt)std::lround((c[1] + ys[at] * half) / px * 16)});
            }
            outlines.push_back(p);
        }
    }
    size_t vertices = 0;
    for (auto _ : state) {
        vertices = 0;
        for (int level = 0; level <= 4; level++) {
            ClipperLib::ClipperOffset o;
            o.ArcTolerance = 16 * 0.25; // a quarter pixel, in the 1/16 pixel grid
            o.AddPaths(outlines, ClipperLib::jtRound, ClipperLib::etClosedPolygon);
            ClipperLib::Paths out;
            o.Execute(out, (bench_offset + level * bench_step) / px * 16);
            for (const auto &p : out)
                vertices += p.size();
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["vertices"] = (double)vertices;
}
BENCHMARK(bench_clipper)->Unit(benchmark::kMillisecond)->UseRealTime();
