// Parallel carving of a 2048 x 2048 relief (8 x 8 x 0.5 inch) with a 1/8
// inch ball nose at a 10 % stepover: one level, and four roughing levels of
// 1/8 inch. Beside the seconds of a whole run, the share of the cut
// surface's dilation, read from its "convolution complete" log line.
#include "cambench.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/parallel.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/project.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

constexpr int bench_side = 2048;

static bench_tables bench_setup(true);

// Points the log at a fresh file for one run, then sums the seconds of its
// dilation lines.
struct bench_log {
    std::string path = "/tmp/kerfmill-parallel-bench.log";
    int saved = sys_logfile;
    bench_log() { sys_logfile = file_open(path.c_str(), "wt"); }
    double dilation()
    {
        file_close(sys_logfile);
        sys_logfile = saved;
        std::ifstream in(path);
        double total = 0.0;
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find("...convolution complete (elapsed ");
            if (at != std::string::npos)
                total += std::atof(line.c_str() + at + 33);
        }
        remove(path.c_str());
        return total;
    }
};

static void bench_parallel(benchmark::State &state)
{
    bench_caminches();
    cam_settool(1, "ball 1/8", tool_cylinder, 1, 2, 0.125f, 0.5f, 0.0625f, 1.5f, 20.0f);
    bench_usecanvas(bench_field("relief", bench_side, 0.3f), 8, 0.5f);
    static camop op;
    double dilation = 0.0, total = 0.0;
    for (auto _ : state) {
        op.type = 1, op.tool = 1, op.feed = 60, op.engagefeed = 20, op.dir = 2, op.entry = 1;
        op.step = 10.0f, op.flags = camop_percentstep;
        op.z_min = 0.0f, op.z_max = 0.5f, op.z_doc = state.range(0) == 1 ? 0.5f : 0.125f;
        op.z_safe = 0.1f, op.stock = 0.0f, op.cont = nullptr, op.toolpath = -1;
        op.generating = 1;
        op.time = (float)sys_seconds();
        bench_log log;
        const double t0 = sys_seconds();
        camop_parallel(&op);
        total += sys_seconds() - t0;
        dilation += log.dilation();
        state.PauseTiming();
        toolpath_free(op.toolpath);
        state.ResumeTiming();
    }
    state.counters["seconds"] = total / state.iterations();
    state.counters["dilation_s"] = dilation / state.iterations();
    state.counters["dilation_share"] = total > 0 ? dilation / total : 0.0;
    bench_dropcanvas();
}
BENCHMARK(bench_parallel)->Arg(1)->Arg(4)->Unit(benchmark::kSecond)->Iterations(2)->UseRealTime();
