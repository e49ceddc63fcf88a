// Medial-Axis Carving of 2048 x 2048 lettering (8 x 8 x 0.5 inch: T, O, L
// and stars of 1 inch, strokes of 0.1 inch) with a 1/2 inch 60 degree V-bit
// over three levels. Beside the seconds of a whole run, the seconds spent in
// con_medialaxis (its log lines at each level) and their share.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/medialaxis.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

constexpr int bench_side = 2048;
constexpr float bench_inches = 8.0f;

static bench_tables bench_setup(true);

// Glyph g (T, O, L, star) of height 1 with its lower left corner at the
// origin: is (x, y) inside?
static bool bench_glyph(int g, float x, float y)
{
    const float s = 0.1f;
    if (x < 0 || y < 0 || x > 1 || y > 1)
        return false;
    switch (g % 4) {
    case 0:
        return y > 1 - s || std::fabs(x - 0.5f) < s / 2;
    case 1: {
        const float r = std::hypot(x - 0.5f, y - 0.5f);
        return r < 0.5f && r > 0.5f - s;
    }
    case 2:
        return x < s || y < s;
    default: {
        const float dx = x - 0.5f, dy = y - 0.5f, r = std::hypot(dx, dy), a = std::atan2(dy, dx);
        const float k = std::fmod(a + 10 * (float)M_PI, 2 * (float)M_PI / 5) - (float)M_PI / 5;
        return r < 0.18f + 0.32f * (1 - std::fabs(k) / ((float)M_PI / 5));
    }
    }
}

static image *bench_lettering()
{
    image *img = img_allocfloat("lettering", bench_side, bench_side);
    float *p = (float *)img->pixels;
    const float px = bench_inches / bench_side;
    for (int j = 0; j < bench_side; j++)
        for (int i = 0; i < bench_side; i++) {
            const float x = (i + 0.5f) * px, y = bench_inches - (j + 0.5f) * px;
            // Four rows of five glyphs, 1.4 inch apart.
            const int col = (int)((x - 0.5f) / 1.4f), row = (int)((y - 1.0f) / 1.6f);
            const bool in = x > 0.5f && y > 1.0f && col < 5 && row < 4 &&
                            bench_glyph(col + row, x - 0.5f - col * 1.4f, y - 1.0f - row * 1.6f);
            p[(size_t)j * bench_side + i] = in ? 1.0f : 0.0f;
        }
    return img;
}

// Seconds from each log line holding from to the next holding to, summed.
static double bench_spans(const std::string &path, const char *from, const char *to)
{
    std::ifstream in(path);
    double start = -1, total = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find(from) != std::string::npos)
            start = std::atof(line.c_str());
        else if (start >= 0 && line.find(to) != std::string::npos) {
            total += std::atof(line.c_str()) - start;
            start = -1;
        }
    }
    return total;
}

static void bench_medialaxis(benchmark::State &state)
{
    bench_caminches();
    cam_settool(1, "vee 60", tool_vbit, 1, 2, 0.5f, 0.0f, 60.0f, 1.5f, 20.0f);
    bench_usecanvas(bench_lettering(), bench_inches, 0.5f);
    static camop op;
    double total = 0.0, axis = 0.0;
    const std::string logpath = "/tmp/kerfmill-medialaxis-bench.log";
    for (auto _ : state) {
        op.type = 6, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.speed = 12000, op.coolant = 1;
        op.dir = 0, op.entry = 0, op.flags = 0, op.step = 0.05f, op.stock = 0.0f;
        op.z_min = 0.0f, op.z_max = 0.15f, op.z_doc = 0.05f, op.z_safe = 0.1f;
        op.aux[0] = 0.25f, op.aux[1] = 0.0f, op.aux[2] = 0.0f;
        op.cont = nullptr, op.toolpath = -1, op.model = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        total += bench_runlogged(camop_medialaxis, &op, logpath);
        axis += bench_spans(logpath, "calculating medial-axis for contours", "calculating cutpath depths");
        state.PauseTiming();
        if (op.toolpath < 0)
            state.SkipWithError("the job failed");
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    remove(logpath.c_str());
    state.counters["seconds"] = total / state.iterations();
    state.counters["medialaxis_s"] = axis / state.iterations();
    state.counters["medialaxis_share"] = total > 0 ? axis / total : 0.0;
    bench_dropcanvas();
}
BENCHMARK(bench_medialaxis)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
