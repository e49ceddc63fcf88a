// Scalar-field adjustments: a linear value map, stretching to 0..1, an
// anti-aliased threshold, quantisation into levels and an edge-directed
// anti-aliasing of stepped heights. Each returns a new image (the caller frees
// it) and leaves the source as it is; all run on the calling thread.
#pragma once
#include "img/image.h"

// "%s.modb": every value v x scale + offset (no clamping, despite the name).
image *img_scalarclamp(const image *img, float scale, float offset);
// "%s.modb" stretched so the least value is 0 and the greatest 1; a field
// spanning no more than 0.0001 comes back as a plain copy under its own name.
image *img_scalarautolevel(const image *img);
// "%s.ath": 1 where the 3 x 3 window holds nothing below level, 0 where it
// holds nothing above, in between a fraction of the step across level (plus
// 0.5 when centre is set).
image *img_scalarath(const image *img, float level, int centre);
// levels >= 1. Hard (smooth 0): a copy under the source's name with every
// value rounded to a multiple of 1 / levels. Smooth: "%s.qnt", the mean of
// the anti-aliased thresholds at (i + 0.5) / levels.
image *img_scalarquantize(const image *img, int levels, int smooth);
// "%s.fxa": steps of 0.1 or more are smoothed along their edge; the border
// rows and columns are copied.
image *img_scalarfxaa(const image *img);
