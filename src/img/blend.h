// Scalar-field blending: folds a source into a target in place, pixel by
// pixel, in one of ten modes. The canvas is composed from its layers this way
// (modes 0 to 5 are the layer blend modes) and generated content is folded
// into raster data. Rows are split into bands (bands.h); a source of another
// size is resampled bilinearly onto the target.
#pragma once
#include "img/image.h"

// t is the target value, s the source value, f the factor. Nothing clamps.
enum img_blendmode {
    img_blendadditive,    // t + s f
    img_blendsubtractive, // t - s f
    img_blendmultiply,    // t (s f)
    img_blendmaximum,     // max(t, s f)
    img_blendminimum,     // min(t, s f)
    img_blenddifference,  // |t - s f|
    img_blendmix,         // t (1 - f) + s f
    img_blendlarger,      // s where |s f| > |t| (s f when resampled)
    img_blendsmaller,     // s where |t| > |s f| (s f when resampled)
    img_blendvector,      // both vector images: directions mixed by length
    img_blendmodes        // this mode and above change nothing
};

// One band of a blend, rows [row0, row1) and columns [col0, col1).
struct blend_job {
    float *target; // the whole target's pixels (vector pixels in mode 9)
    float wratio;  // source width / target width
    float hratio;  // source height / target height
    float factor;
    int mode;
    int width, height; // the target's
    int col0, col1;
    int row0, row1;
    const image *source;
    int done;
};

// Blends the whole source into the whole target.
void img_scalarblend(image *target, const image *source, int mode, float factor);
// Blends into the target pixels of rect {first column, first row, end column,
// end row} (ends exclusive, clipped to the target) with factor 1; the source
// is still mapped onto the whole target.
void img_blendrect(image *target, const image *source, int mode, const int *rect);

void job_blend(void *band);       // source and target of one size
void job_imgresample(void *band); // sizes differ: bilinear source samples
