// Distance fields turned into height profiles in place: the fade of a
// distance through a fade radius and the rounded ramp profile, modulated by
// a second field (brush strokes), and the inflation that keeps the upper
// envelope of spheres whose radii are the pixels' values (generated raster
// layers), on the GPU through img_inflate or in row bands.
#pragma once
#include "img/image.h"

#include <cstdint>

// Shader slot of img_inflate; -1 until img_loadinflateshader ran.
extern int img_inflateshader;
// GLSL 1.20 fragment stage of img_inflate (vertex stage: img_fullscreenvertex).
extern const char img_inflatefragment[];

// One band of the fade (job "shapefuncdistfade").
struct distfade_job {
    float *a;       // the distance field, changed in place
    const float *b; // modulation field
    float bottomradius, topradius, rampwidth;
    float invradius; // 1 / fade radius
    float gain, rampheight, radiusmod, gainmod;
    int32_t row0, row1, width;
    int32_t done;
};

// One band of the CPU inflation (job "inflatedist").
struct inflate_job {
    int32_t row0, row1;
    int32_t width, height;
    const float *source;
    float *destination;
    float maxradius, heightscale;
    int32_t done;
};

// Compiles img_inflate into the shader table; 1 when it loaded, 0 otherwise
// (the inflation then stays on the CPU).
int img_loadinflateshader();

// a = gain x (1 - b x gainmod) x ramp(max(0, 1 - a' / radius)), where a' is
// a stretched by the local radius factor 1 - b x radiusmod and ramp is
// arc_fit with the radii, width and height. a and b are scalar fields of
// one size. 0, or -1 (logged) on bad arguments.
int img_scalardistfade(image *a, const image *b, float rampheight, float bottomradius, float topradius,
                       float rampwidth, float radius, float gain, float radiusmod, float gainmod);
// Replaces each pixel with the height of the upper envelope of the spheres
// of radius value x heightscale pixels (up to maxradius) centred on every
// pixel, divided by heightscale. 0, or -1 (logged; field unchanged) on bad
// arguments or when the CPU path's buffer cannot be had.
int img_scalarinflatedist(image *field, float maxradius, float heightscale);

void job_distfade(void *band);
void job_inflatedist(void *band);
