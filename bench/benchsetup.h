// Benchmark set-up shared by the image benchmarks: the file table with the
// log sent to /dev/null (so the benchmark's own report stays readable), the
// memory and image locks and, when asked, a worker pool of one worker per
// processor, all for the whole run; and the smooth test field they work on.
#pragma once
#include "img/image.h"
#include "sys/file.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <SDL.h>

#include <cmath>

struct bench_tables {
    explicit bench_tables(bool pool)
    {
        file_tablealloc();
        sys_logfile = file_open("/dev/null", "wt");
        sys_threadsinit();
        sys_memmutex = sys_createmutex();
        img_mutex = sys_createmutex();
        if (pool)
            sys_threadsstart(sys_workersfor(SDL_GetCPUCount()));
    }
    // A benchmark may have started a pool of its own.
    ~bench_tables()
    {
        if (sys_numthreads)
            sys_threadsquit();
        sys_threadsdone();
    }
};

// A smooth field with some detail, so the samples are not all alike; phase
// shifts it along x, so two fields can differ.
static inline image *bench_field(const char *name, int side, float phase)
{
    image *img = img_allocfloat(name, side, side);
    float *p = (float *)img->pixels;
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++)
            p[(size_t)y * side + x] = 0.5f + 0.25f * std::sin(x * 0.01f + phase) * std::cos(y * 0.013f);
    return img;
}
