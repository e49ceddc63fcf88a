// Convolution and grey-scale dilation of a scalar field by a kernel image:
// mode 0 takes the maximum of value plus kernel over the window, any other
// mode the kernel-weighted sum. Runs in row bands on the workers or, through
// the shaders img_minkowski and img_convolve, on the GPU; start-up measures
// both and leaves the choice to cfg_gpuconvo.
#pragma once
#include "img/image.h"

#include <cstdint>

// Seconds per 2^20 pixel-by-kernel-element products on each path, measured
// at start-up; 0 until measured. The GPU figure sizes the drawn sections.
extern double img_cpuspeed;
extern double img_gpuspeed;

// Shader slots of the two programs; -1 until img_loadshaders ran.
extern int img_convolveshader;
extern int img_minkowskishader;

// GLSL 1.20 sources: the shared full-screen vertex stage and the two
// fragment stages.
extern const char img_fullscreenvertex[];
extern const char img_convolvefragment[];
extern const char img_minkowskifragment[];

// One CPU band; lives in the caller's frame until its done flag is set.
struct convo_job {
    const float *image;
    const float *kernel;
    float *output;
    float scale;
    float minval;
    float offset;
    int32_t row0, row1; // output rows row0 .. row1 - 1
    int32_t width, height;
    int32_t kwidth, kheight;
    int32_t mode;
    int32_t done;
};

// Compiles and links both programs into the shader table; 1 when both
// loaded, 0 otherwise (the failed slot stays -1 and the GPU path is not
// taken).
int img_loadshaders();

// New image "%s.cnv[%s]" of the image's size, computed on the path the
// configuration and the GL limits allow, with scale 1.0; null when either
// input is not a scalar field or the output cannot be allocated.
image *img_scalarconvo(const image *img, const image *kernel, int mode, float minval, float offset);
// The GPU path into out, which has the image's size. Returns 1 when the GPU
// computed it; 0 when the framebuffer, a texture or a shader could not be
// had, in which case the CPU path has filled out instead; -1 on bad
// arguments (out untouched).
int img_scalarconvogpu(image *out, const image *img, const image *kernel, int mode, float scale, float minval,
                       float offset);
// The CPU path into out; 0, or -1 on bad arguments (out untouched).
int img_scalarconvocpu(image *out, const image *img, const image *kernel, int mode, float scale, float minval,
                       float offset);
// Band body: computes rows row0 .. row1 - 1 and sets the done flag.
void job_convo(void *job);
