// Start-up measurement of scalar-field convolution on the processor and on
// the graphics card. Each path convolves growing square fields with
// themselves until one run takes more than 0.05 s, so the cost of the
// measurement stays bounded however fast the machine is; the two speeds
// decide whether convolutions go to the GPU and size its sections.
#pragma once

struct image;

using img_convoroutine = int (*)(image *out, const image *img, const image *kernel, int mode, float scale,
                                 float minval, float offset);

// Seconds per 2^20 pixel operations of one routine (an n x n field against
// an n x n kernel is n^4 operations), logging each size's average; -1 when
// the images could not be had. One untimed size goes first, so one-time
// costs of the path do not count.
double img_measureconvo(img_convoroutine routine);
// Keeps the configured GPU path only when the GPU was measured and no
// slower than the processor.
void img_choosegpuconvo(double cpuspeed, double gpuspeed);
// The whole measurement of the image start: the processor first; with
// framebuffer objects the six image shaders, then the GPU. Sets
// img_cpuspeed and img_gpuspeed. With KERFMILL_SKIP_CONVO_TIMING=1 nothing
// is timed: both speeds take one nominal figure and the shaders still load.
void img_benchmarkconvo();
