// The convolution speed measurement of the image start.
#include "img/convobench.h"

#include "img/convolve.h"
#include "img/gpushaders.h"
#include "img/image.h"
#include "render/gl.h"
#include "render/shader.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"

#include <cstdlib>
#include <cstring>

constexpr double convo_enough = 0.05; // seconds of one run that end the measurement
constexpr int convo_step = 16;
// What a skipped measurement assumes for both paths, seconds per 2^20
// operations: equal speeds keep the configured GPU path.
constexpr double convo_nominalspeed = 0.001;
// A clock that never advances (or a routine that returns at once) would
// otherwise grow the fields without end.
constexpr int convo_largest = 1024;

// Average seconds of three runs at side n, logged; 0 for the one untimed
// warm-up run; -1 without images.
static double convo_timeside(img_convoroutine routine, int n, int warmup)
{
    image *a = img_alloc("a", n, n, 4);
    image *b = img_alloc("b", n, n, 4);
    double average = -1.0;
    if (a && b && warmup) {
        routine(a, b, b, 0, 1.0f, 0.0f, 0.0f);
        average = 0.0;
    } else if (a && b) {
        double start = sys_clock();
        for (int run = 0; run < 3; run++)
            routine(a, b, b, 0, 1.0f, 0.0f, 0.0f);
        average = (sys_clock() - start) / 3.0;
        sys_log("...%.4fs average elapsed (%dpx)", average, n);
    }
    img_free(a);
    img_free(b);
    return average;
}

double img_measureconvo(img_convoroutine routine)
{
    // The first run of a path pays one-time costs (a GPU driver compiles
    // and uploads on first use) that would otherwise count as its speed.
    if (convo_timeside(routine, convo_step, 1) < 0.0)
        return -1.0;
    for (int n = convo_step;; n += convo_step) {
        double average = convo_timeside(routine, n, 0);
        if (average < 0.0)
            return -1.0;
        if (average > convo_enough || n >= convo_largest) {
            double n2 = (double)n * n;
            return average / (n2 * n2 / 1048576.0);
        }
    }
}

void img_choosegpuconvo(double cpuspeed, double gpuspeed)
{
    if (gpuspeed < 0.0 || gpuspeed > cpuspeed)
        cfg_seti(cfg_gpuconvo, 0);
}

// The measurement costs start-up a second or more on a slow or loaded
// machine; test runs that start the program many times switch it off.
static int convo_skipped()
{
    const char *skip = getenv("KERFMILL_SKIP_CONVO_TIMING");
    return skip && strcmp(skip, "1") == 0;
}

void img_benchmarkconvo()
{
    int skipped = convo_skipped();
    if (skipped)
        sys_log("convolution timing skipped (KERFMILL_SKIP_CONVO_TIMING)");
    img_cpuspeed = skipped ? convo_nominalspeed : img_measureconvo(img_scalarconvocpu);
    sys_log("CPU image processing speed = %.4fms/Mpx", img_cpuspeed * 1000.0);
    if (!gl_framebuffers) {
        sys_log("framebuffer objects not supported");
        cfg_seti(cfg_gpuconvo, 0);
        return;
    }
    img_loadimageshaders();
    r_bindshader(-1);
    img_gpuspeed = skipped ? convo_nominalspeed : img_measureconvo(img_scalarconvogpu);
    sys_log("GPU image processing speed = %.4fms/Mpx", img_gpuspeed * 1000.0);
    img_choosegpuconvo(img_cpuspeed, img_gpuspeed);
}
