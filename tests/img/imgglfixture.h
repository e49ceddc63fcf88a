// Test helper for the GPU image tests: the draw state and size limits of
// the test context, the GPU path switched on for the test (and put back
// after it), the images the test keeps, and no texture left behind.
#pragma once
#include "imgfixture.h"
#include "render/glcontext.h"
#include "sys/config.h"

#include <vector>

class ImgGlTest : public GlTest {
protected:
    std::vector<image *> images;
    int savedgpu = 0;

    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        readlimits();
        savedgpu = cfg_geti(cfg_gpuconvo);
        cfg_seti(cfg_gpuconvo, 1);
        ASSERT_TRUE(gl_framebuffers);
    }
    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
        freetextures();
        r_quitdraw();
        cfg_seti(cfg_gpuconvo, savedgpu);
    }
    image *keep(image *img)
    {
        images.push_back(img);
        return img;
    }
};
