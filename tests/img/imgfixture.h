// Test helper for the image tests: the suite-wide worker pool and image
// mutex the banded operations need, the images a test keeps (freed after
// it), fields made from a function or from seeded random values, and the
// read of one scalar pixel that the checks compare.
#pragma once
#include "img/image.h"
#include "sys/thread.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

inline float imgfixture_at(const image *img, int x, int y)
{
    return ((const float *)img->pixels)[(size_t)y * img->width + x];
}

// A scalar field whose pixel (x, y) holds f(x, y).
inline image *imgfixture_field(const char *name, int w, int h, const std::function<float(int, int)> &f)
{
    image *img = img_allocfloat(name, w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            ((float *)img->pixels)[(size_t)y * w + x] = f(x, y);
    return img;
}

// A scalar field of values drawn uniformly from lo..hi, row by row.
inline image *imgfixture_random(const char *name, int w, int h, std::mt19937 &rng, float lo, float hi)
{
    std::uniform_real_distribution<float> d(lo, hi);
    std::vector<float> v((size_t)w * h);
    for (float &x : v)
        x = d(rng);
    return img_alloc(name, w, h, 4, v.data());
}

inline image *imgfixture_random(const char *name, int w, int h, unsigned seed, float lo, float hi)
{
    std::mt19937 rng(seed);
    return imgfixture_random(name, w, h, rng, lo, hi);
}

// The image mutex for the whole suite and, unless workers is 0, that many
// workers, so the banded paths really run on them.
template <int workers> class ImgTest : public WorkerPoolTest<workers> {
protected:
    std::vector<image *> images;

    static void SetUpTestSuite()
    {
        WorkerPoolTest<workers>::SetUpTestSuite();
        img_mutex = sys_createmutex();
    }
    static void TearDownTestSuite()
    {
        WorkerPoolTest<workers>::TearDownTestSuite();
        sys_destroymutex(img_mutex);
        img_mutex = -1;
    }
    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
        images.clear();
    }
    image *keep(image *img)
    {
        images.push_back(img);
        return img;
    }
    image *random(const char *name, int w, int h, std::mt19937 &rng, float lo, float hi)
    {
        return keep(imgfixture_random(name, w, h, rng, lo, hi));
    }
    image *random(const char *name, int w, int h, unsigned seed, float lo, float hi)
    {
        return keep(imgfixture_random(name, w, h, seed, lo, hi));
    }
};
