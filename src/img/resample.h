// Conversion between pixel kinds and resampling to new sizes: the one
// bilinear sampler of scalar fields, area-weighted shrinking and bilinear
// enlarging of scalar and colour images, colour to scalar, scalar to colour
// and scalar to surface normals. The banded ones run in row bands (bands.h).
#pragma once
#include "img/image.h"

// Band of an area-weighted shrink (job_downscalescalar, job_downscalecolor).
// The keep flags are set on an axis the source is not longer along than the
// destination: there the footprint is one source pixel long and the axis is
// interpolated between two neighbours instead of averaged.
struct img_areaband {
    const void *src;
    void *dst;
    int dstwidth, dstheight;
    int channels; // colour bytes per pixel; 1 for scalar fields
    int srcwidth, srcheight;
    int row0, row1;
    int keepwidth, keepheight;
    int done;
};

// Band of a bilinear enlarge (job_upscalescalar).
struct img_bilinearband {
    const image *src;
    float *dst; // first pixel of the band
    float xstep, ystep; // source size / destination size
    int dstwidth, dstheight;
    int row0, row1;
    int done;
};

struct img_colorizeband {
    int row0, row1;
    int width;
    const float *low, *high; // three floats each, 0..1
    const image *src;
    image *dst;
    int done;
};

struct img_normalsband {
    const image *src;
    image *dst;
    int row0, row1;
    float zfactor;
    int done;
};

// Bilinear sample at a fractional pixel position, clamped to the field; pure.
float img_samplescalar(const image *img, float x, float y);
// "%s.ups" when no side shrinks (same size included), else "%s.dns".
image *img_rescalescalar(const image *img, int width, int height);
// Enlarging keeps the source's name and wraps at the edges; shrinking gives "%s.dnc".
image *img_rescalecolor(const image *img, int width, int height);
// "%s.scl": sum of channel bytes x scale / (bytes x 255) + offset.
image *img_scalarize(const image *img, float scale, float offset);
// "%s.c8": 0..1 mapped from low to high colour as RGB bytes.
image *img_colorize(const image *img, const float *low, const float *high);
// "%s.nm": three floats per pixel, unit normals; the border stays (0, 0, 1).
image *img_scalarnormals(const image *img, float scale);

void job_downscalescalar(void *band);
void job_downscalecolor(void *band);
void job_upscalescalar(void *band);
void job_colorize(void *band);
void job_scalartonormals(void *band);
