// Benchmark set-up shared by the generator benchmarks: the CAM globals of
// an inch project and a canvas made from a field.
#pragma once
#include "benchsetup.h"
#include "cam/cam.h"
#include "cam/engage.h"
#include "cam/generate.h"
#include "cam/tool.h"
#include "img/image.h"
#include "project/project.h"
#include "sys/thread.h"

#include <string>

// The CAM mutex, an inch project with the default tool table, ramps at the
// tools' 20 degrees and simplification at 50 %; the benchmark sets tool 1.
static inline void bench_caminches()
{
    if (cam_mutex < 0)
        cam_mutex = sys_createmutex();
    project.units = 1;
    cam_settooldefaults();
    engage_slope = 0.36397023f; // ramps at the tool's 20 degrees
    cam_maxdot = 0.99846f;      // simplify 50 %
    cam_minlen = 0.001f;
    cam_maxlen = 0.25f;
}

// field (freed here) as the canvas, side x side x depth inches, its top at
// z = 0.
static inline void bench_usecanvas(image *field, float side, float depth)
{
    const float size[3] = {side, side, depth}, frac[3] = {0, 0, 1};
    img_setrefimage(field, size, frac, 1.0f);
    img_free(field);
}

// Drops the canvas bench_usecanvas set.
static inline void bench_dropcanvas()
{
    const float none[3] = {1, 1, 1};
    img_setrefimage(nullptr, none, none, 1.0f);
}

// Runs generator gen on op with the log written to the file at logpath (for
// the benchmark to read its stages from), the log restored after: the
// seconds of the run.
static inline double bench_runlogged(camop_generator gen, camop *op, const std::string &logpath)
{
    const int saved = sys_logfile;
    sys_logfile = file_open(logpath.c_str(), "wt");
    const double t0 = sys_seconds();
    gen(op);
    const double seconds = sys_seconds() - t0;
    file_close(sys_logfile);
    sys_logfile = saved;
    return seconds;
}
