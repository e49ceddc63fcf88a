// Radial kernels made from a profile number and shape parameters (cutter
// profiles, leave-stock discs, blur kernels), the blur of a scalar field by
// convolution with a box or smooth kernel, and the masked blur whose radius a
// second field scales per pixel, in row bands or through the img_maskblur
// shader.
#pragma once
#include "img/image.h"

#include <cstdint>

// Profile numbers of img_scalarparametric; any other number is the rounded rim.
enum img_profile {
    img_profiletapered = 2,
    img_profilegauss = 3,
    img_profilebox = 4,
    img_profilesmooth = 5,
};

constexpr int img_falloffsize = 1024; // mask-blur falloff entries
constexpr float img_maskblurcap = 32.0f; // largest CPU mask-blur radius, pixels

// Shader slot of img_maskblur; -1 until img_loadmaskblurshader ran.
extern int img_maskblurshader;
// GLSL 1.20 fragment stage of img_maskblur (vertex stage: img_fullscreenvertex).
extern const char img_maskblurfragment[];

// One CPU band of the masked blur; lives in the caller's frame until its
// done flag is set.
struct maskblur_job {
    const float *image;
    const float *mask;
    float *output;
    const float *falloff; // img_falloffsize entries
    float xradius, yradius;
    int32_t width, height;
    int32_t row0, row1; // rows row0 .. row1 - 1
    int32_t done;
};

// Compiles img_maskblur into the shader table; 1 when it loaded, 0
// otherwise (the masked blur then stays on the CPU).
int img_loadmaskblurshader();

// New kernel "para%dx%d" of odd sides centred on its middle pixel: profile,
// height-to-width aspect, diameter, depth and the profile's a, b, c. Null
// (logged) for unusable sizes or when the image cannot be allocated.
image *img_scalarparametric(int profile, float aspect, float diameter, float depth, float a, float b, float c);
// The field convolved with a box (smooth 0) or normalised smooth cone of the
// radius: "%s.cnv[%s]", or null.
image *img_scalarblur(const image *img, float radius, int smooth);
// New image of the image's name and size, blurred with radii (pixels) scaled
// per pixel by the mask (0..1, the image's size); null on bad arguments or
// when the output cannot be allocated.
image *img_scalarmaskblur(const image *img, const image *mask, float xradius, float yradius);
// Fills the falloff table: entry k is the smoothstep of 1 - sqrt(k) / 32.
void img_fillfalloff(float *table);
// Band body: rows row0 .. row1 - 1, then the done flag.
void job_maskblur(void *job);
