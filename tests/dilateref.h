// The grey-scale dilation one pixel at a time, in window order, as plainly as
// possible, and a comparison that tells a wrong pixel from a tie met in
// another order (the sign of a zero, or one ulp). Shared by the image and the
// cutter-profile tests.
#pragma once
#include "img/image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

inline std::vector<float> dilateref_taps(const image *img, const image *k, float scale, float minval, float offset)
{
    const int w = img->width, h = img->height, kw = k->width, kh = k->height;
    const float *src = (const float *)img->pixels, *kv = (const float *)k->pixels;
    std::vector<float> out((size_t)w * h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            float best = -99999.0f;
            for (int j = 0; j < kh; j++) {
                for (int i = 0; i < kw; i++) {
                    int sx = x + i - kw / 2, sy = y + j - kh / 2;
                    if (sx >= 0 && sx < w && sy >= 0 && sy < h && src[(size_t)sy * w + sx] >= minval)
                        best = std::max(best, src[(size_t)sy * w + sx] + kv[(size_t)j * kw + i] * scale);
                }
            }
            out[(size_t)y * w + x] = best + offset;
        }
    }
    return out;
}

struct dilateref_diff {
    int wrong = 0, ties = 0;
};

inline int64_t dilateref_ordered(float v)
{
    int32_t i;
    memcpy(&i, &v, 4);
    return i < 0 ? (int64_t)INT32_MIN - i : i;
}

inline dilateref_diff dilateref_compare(const image *out, const std::vector<float> &want)
{
    dilateref_diff d;
    const float *got = (const float *)out->pixels;
    for (size_t i = 0; i < want.size(); i++) {
        if (memcmp(&got[i], &want[i], 4) == 0)
            continue;
        int64_t ulps = dilateref_ordered(got[i]) - dilateref_ordered(want[i]);
        if (got[i] == want[i] || ulps == 1 || ulps == -1)
            d.ties++;
        else
            d.wrong++;
    }
    return d;
}
