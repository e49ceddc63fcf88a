// Exact fast grey-scale dilation for the CPU bands of img_scalarconvo: the
// kernel is taken apart by rows, and each row is dilated in one dimension by
// the cheapest exact method its samples allow (a sparse table of window
// maxima for flat rows, an upper envelope of translates for very wide concave
// rows, vector taps for the rest, skipping the stretches whose bound cannot
// raise the running maximum). convolve.cpp calls it for mode 0 bands.
#pragma once
#include "img/convolve.h"

// Kernels narrower or lower than this keep the plain taps for every row:
// below it the fixed costs of the decomposition outweigh what it saves
// (measured by bench/convolve_bench.cpp).
extern int img_maxplusmin;
// Concave rows at least this wide go through the upper envelope of their
// translates, narrower ones through their taps. Measured on a 6-core x86-64:
// the envelope's per-pixel search lost to the vectorised taps at every width
// up to 127, so by default only wider rows take it.
extern int img_maxplusenvelope;

// True when the band's kernel is worth decomposing: big enough, and every
// scaled kernel value finite (an infinite sample would make sums the taps
// never form).
bool img_maxplusfits(const convo_job &j);
// Mode 0 rows row0 .. row1 - 1 of the band by the row decomposition; the
// same values as the plain taps, up to the sign of a zero where a +0 and a -0
// sum tie, and the last bit where two sums tie within rounding.
void img_maxplusband(const convo_job &j);
