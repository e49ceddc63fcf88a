// Vector images: 4 bytes per pixel holding a signed 16-bit x and y
// displacement, built by the raster brushes from their strokes. This holds
// their bilinear sampler, resampling in row bands (bands.h) and the
// displacement or smearing of a scalar field along a vector image.
#pragma once
#include "img/image.h"

#include <cstdint>

// One pixel of a vector image, x first, as stored.
struct img_vec {
    int16_t x, y;
};
static_assert(sizeof(img_vec) == 4, "a vector pixel is two 16-bit components");

// Band of img_vecdisplace (job_vecdisplace). The vector image has the scalar
// field's size, so both are walked with the field's width.
struct img_displaceband {
    const image *src;
    float *dst;         // first pixel of the band
    const img_vec *vec; // first pixel of the band in the vector image
    int row0, row1;
    float xscale, yscale; // per unit of 32767
    int mode;             // 0 displace, else smear
    int done;
};

// The packed form img_samplecolor returns: x in the low 16 bits, y in the high.
inline uint32_t img_vecpack(img_vec v)
{
    return (uint32_t)(uint16_t)v.x | (uint32_t)(uint16_t)v.y << 16;
}
inline img_vec img_vecunpack(uint32_t packed)
{
    return {(int16_t)(uint16_t)(packed & 0xffff), (int16_t)(uint16_t)(packed >> 16)};
}

// A component from a computed value: truncated toward zero and held to the
// 16-bit range, so an overflowing sum saturates instead of flipping sign.
// NaN gives 0.
int16_t img_veccomponent(float v);

// True for a live image of 4 bytes per pixel; otherwise logs "<caller>: ...".
bool img_isvector(const image *img, const char *caller);

// Bilinear sample of both components, clamped to the image as
// img_samplescalar clamps; each component is truncated toward zero.
uint32_t img_samplecolor(const image *img, float x, float y);
// "%s.upv" when no side shrinks (same size included), else "%s.dnv". The
// vectors keep their length: resizing does not scale them.
image *img_rescalevector(const image *img, int width, int height);
// "%s.vd": img sampled at each pixel moved by its vector (mode 0) or averaged
// along the vector in 0.2-pixel steps (any other mode). 32767 in a component
// is a displacement of one scale unit. Vectors must be img's size.
image *img_vecdisplace(const image *img, const image *vectors, float xscale, float yscale, int mode);

void img_rescalecolorrows(void *band); // img_bilinearband, vector destination
void job_downscalevector(void *band);  // img_areaband
void job_vecdisplace(void *band);
