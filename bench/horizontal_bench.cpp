// 2.5D offset milling and horizontal finishing of a 2048 x 2048 relief
// (8 x 8 x 0.5 inch: domes, a plateau with raised lettering, fine noise)
// with a 1/8 inch flat end mill at a 40 % stepover over 10 levels, then
// finishing (stepover 0) over the same levels. Beside the seconds of a
// whole run, its time split by the log line that closes each stretch:
// dilation, level masks, distance fields (bridges included), contouring,
// the ring tree and the output (cuts, entries, compilation).
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/horizontal.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"
#include "sys/config.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

constexpr int bench_side = 2048;

static bench_tables bench_setup(true);

// Block letters "KM" as strokes in canvas units (0..1).
static bool bench_letter(double u, double v)
{
    auto bar = [&](double x0, double y0, double x1, double y1, double w) {
        const double dx = x1 - x0, dy = y1 - y0;
        const double t = std::clamp(((u - x0) * dx + (v - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        const double ex = u - (x0 + t * dx), ey = v - (y0 + t * dy);
        return ex * ex + ey * ey < w * w;
    };
    const double w = 0.012;
    return bar(0.58, 0.62, 0.58, 0.82, w) || bar(0.58, 0.72, 0.68, 0.62, w) || bar(0.58, 0.72, 0.68, 0.82, w) ||
           bar(0.72, 0.82, 0.72, 0.62, w) || bar(0.72, 0.62, 0.77, 0.72, w) || bar(0.77, 0.72, 0.82, 0.62, w) ||
           bar(0.82, 0.62, 0.82, 0.82, w);
}

static image *bench_relief()
{
    image *img = img_allocfloat("relief", bench_side, bench_side);
    float *p = (float *)img->pixels;
    uint32_t seed = 12345;
    for (int y = 0; y < bench_side; y++)
        for (int x = 0; x < bench_side; x++) {
            const double u = (x + 0.5) / bench_side, v = (y + 0.5) / bench_side;
            double h = 0.1;
            const double domes[3][3] = {{0.25, 0.3, 0.18}, {0.3, 0.72, 0.14}, {0.7, 0.28, 0.2}};
            for (const auto &d : domes) {
                const double r2 = (u - d[0]) * (u - d[0]) + (v - d[1]) * (v - d[1]);
                if (r2 < d[2] * d[2])
                    h = std::max(h, 0.1 + 0.8 * std::sqrt(d[2] * d[2] - r2) / d[2]);
            }
            if (u > 0.54 && u < 0.86 && v > 0.58 && v < 0.86)
                h = std::max(h, bench_letter(u, v) ? 0.75 : 0.55);
            seed = seed * 1664525u + 1013904223u;
            h += 0.004 * ((seed >> 8) / 16777216.0 - 0.5);
            p[(size_t)y * bench_side + x] = (float)std::clamp(h, 0.0, 1.0);
        }
    return img;
}

// Points the log at a fresh file for one run, then adds each stretch
// between two lines to the share named by the line that ends it.
struct bench_log {
    std::string path = "/tmp/kerfmill-horizontal-bench.log";
    int saved = sys_logfile;
    bench_log() { sys_logfile = file_open(path.c_str(), "wt"); }
    void split(double *shares)
    {
        file_close(sys_logfile);
        sys_logfile = saved;
        std::ifstream in(path);
        double prev = -1.0;
        bool output = false;
        for (std::string line; std::getline(in, line);) {
            const double t = std::atof(line.c_str());
            const double span = prev < 0 ? 0.0 : t - prev;
            prev = t;
            auto has = [&](const char *s) { return line.find(s) != std::string::npos; };
            if (has("...convolution complete (elapsed "))
                shares[0] += std::atof(line.c_str() + line.find("(elapsed ") + 9);
            else if (has("link distance:"))
                output = true, shares[3] += span;
            else if (output)
                shares[4] += span;
            else if (has("thresholded"))
                shares[5] += span;
            else if (has("distances") || has("bridges"))
                shares[1] += span;
            else if (has("...contoured") || has("contouring") || has("vertices") || has("traced") ||
                     has("allocated buffers") || has("verts = ") || has("reduced ") || has(" polylines, "))
                shares[2] += span;
            else if (!has("convolving") && !has("downscaled"))
                shares[3] += span;
        }
        // KERFMILL_BENCH_KEEPLOG keeps the run's log for a closer look.
        if (!std::getenv("KERFMILL_BENCH_KEEPLOG"))
            remove(path.c_str());
    }
};

static void bench_horizontal(benchmark::State &state)
{
    bench_caminches();
    cam_settool(1, "flat 1/8", tool_cylinder, 1, 2, 0.125f, 1.0f, 0.0f, 1.5f, 20.0f);
    // Per-ring lines mark where the ring tree's work ends.
    cfg_seti(cfg_debuginfo, 1);
    bench_usecanvas(bench_relief(), 8, 0.5f);
    static camop op;
    double shares[6] = {0, 0, 0, 0, 0, 0}, total = 0.0;
    for (auto _ : state) {
        op.type = 7, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.dir = 0, op.entry = 1;
        op.step = state.range(0) ? 40.0f : 0.0f, op.flags = camop_percentstep | camop_linkcuts;
        op.z_min = 0.0f, op.z_max = 0.45f, op.z_doc = 0.045f;
        op.z_safe = 0.1f, op.stock = 0.0f, op.cont = nullptr, op.toolpath = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        bench_log log;
        const double t0 = sys_seconds();
        camop_horizontaljob(&op);
        total += sys_seconds() - t0;
        log.split(shares);
        state.PauseTiming();
        if (op.toolpath >= 0)
            state.counters["paths"] = toolpaths[op.toolpath].num_paths;
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    const char *names[6] = {"dilation_s", "distance_s", "contour_s", "tree_s", "output_s", "mask_s"};
    for (int k = 0; k < 6; k++)
        state.counters[names[k]] = shares[k] / (double)state.iterations();
    state.counters["run_s"] = total / (double)state.iterations();
}
BENCHMARK(bench_horizontal)->Arg(1)->Arg(0)->ArgName("offsets")->Unit(benchmark::kSecond)->Iterations(1);
