// Conversion between pixel kinds and resampling to new sizes: the one
// bilinear sampler of scalar fields, area-weighted shrinking and bilinear
// enlarging of scalar and colour images, colour to scalar, scalar to colour
// and scalar to surface normals. The banded ones run in row bands (bands.h).
#pragma once
#include <cmath>
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

// Shared by the resamplers of every pixel kind.

// A sample coordinate clamped to 0..bound; NaN counts as 0. The bound is
// side - 1 - 0.0001 so that x0 + 1 stays inside the row: the last column is
// never returned pure but with 0.0001 of its inner neighbour.
inline float img_clampsample(float v, int side)
{
    float bound = (float)((double)side - 1.0 - 0.0001);
    v = v > 0.0f ? v : 0.0f;
    return v < bound ? v : bound;
}

// The four pixels a bilinear sample at (x, y) of a w x h field reads: the
// first column and row of the clamped position, the next ones, and the
// fractions toward them. The next column and row wrap, which only a side
// of one pixel reaches.
struct img_samplecell {
    int x0, y0, x1, y1;
    float fx, fy;
};

inline img_samplecell img_cellof(int w, int h, float x, float y)
{
    x = img_clampsample(x, w);
    y = img_clampsample(y, h);
    int x0 = (int)x, y0 = (int)y;
    return {x0, y0, x0 + 1 < w ? x0 + 1 : 0, y0 + 1 < h ? y0 + 1 : 0, x - (float)x0, y - (float)y0};
}

// The source span [f0, f1) that destination index d covers along one axis,
// and the source indexes [i0, i1) it touches.
struct img_span {
    float f0, f1;
    int i0, i1;
};

inline img_span img_spanof(int d, float step, int keep, int srcsize)
{
    float f0 = (float)d * step;
    float f1 = keep ? f0 + 1.0f : (float)(d + 1) * step;
    f1 = f1 < (float)srcsize ? f1 : (float)srcsize;
    return {f0, f1, (int)std::floor(f0), (int)std::ceil(f1)};
}

// The covered share of source index i; the first index's rule wins when
// the span touches a single index.
inline float img_spanweight(const img_span &s, int i)
{
    if (i == s.i0)
        return 1.0f - (s.f0 - (float)s.i0);
    if (i == s.i1 - 1)
        return s.f1 - (float)(s.i1 - 1);
    return 1.0f;
}

// Sizes every resampler accepts: a source and a destination of at least one
// pixel a side.
bool img_checksizes(const image *img, int width, int height, const char *caller);

