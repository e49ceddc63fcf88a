// The masked blur on the GPU: a linear ramp stays a ramp inside on both
// paths, a zero mask copies the image, and a texture name already in use
// sends the call to the CPU path with nothing left behind.
#include "img/blur.h"

#include "imgglfixture.h"
#include "testlog.h"

#include <cmath>
#include <vector>

class BlurGl : public ImgGlTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ImgGlTest::SetUp());
        ASSERT_EQ(img_loadmaskblurshader(), 1);
    }
    image *field(const char *name, int w, int h, float (*value)(int x, int y))
    {
        return keep(imgfixture_field(name, w, h, value));
    }
    // The blur on the path cfg_gpuconvo selects.
    image *blur(const image *img, const image *mask, float xr, float yr, int gpu)
    {
        cfg_seti(cfg_gpuconvo, gpu);
        image *out = keep(img_scalarmaskblur(img, mask, xr, yr));
        cfg_seti(cfg_gpuconvo, 1);
        return out;
    }
};

static float bg_ramp(int x, int y)
{
    return 0.1f + 0.001f * x + 0.002f * y;
}

TEST_F(BlurGl, RampStaysARampInsideOnBothPaths)
{
    const int w = 300, h = 200;
    image *img = field("ramp", w, h, bg_ramp);
    image *mask = field("mask", w, h, [](int, int) { return 1.0f; });
    testlog_capture cap;
    image *gpu = blur(img, mask, 6, 4, 1); // 1.37 Mpx of work
    ASSERT_NE(gpu, nullptr);
    EXPECT_TRUE(cap.contains("GPU image masked blur img=(300,200) rad=(6.000000,4.000000) Mpx=1.373291"));
    EXPECT_TRUE(cap.contains("maskedblur slices:"));
    EXPECT_FALSE(cap.contains("no GPU resources"));
    image *cpu = blur(img, mask, 6, 4, 0);
    ASSERT_NE(cpu, nullptr);
    for (int y = 8; y < h - 8; y++) {
        for (int x = 8; x < w - 8; x++) {
            ASSERT_NEAR(imgfixture_at(gpu, x, y), bg_ramp(x, y), 1e-3f) << x << "," << y;
            ASSERT_NEAR(imgfixture_at(cpu, x, y), bg_ramp(x, y), 1e-5f) << x << "," << y;
        }
    }
    // The GPU repeats edge pixels where the CPU counts zeros.
    EXPECT_GT(imgfixture_at(gpu, 0, 100), imgfixture_at(cpu, 0, 100) + 0.01f);
}

TEST_F(BlurGl, ZeroMaskCopiesTheImage)
{
    image *img = field("noise", 256, 256, [](int x, int y) { return std::sin(x * 0.37f) * std::cos(y * 0.21f); });
    image *mask = field("mask", 256, 256, [](int, int) { return 0.0f; });
    testlog_capture cap;
    image *out = blur(img, mask, 5, 5, 1);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(cap.contains("GPU image masked blur"));
    for (int i = 0; i < 256 * 256; i++)
        ASSERT_EQ(((float *)out->pixels)[i], ((float *)img->pixels)[i]) << "pixel " << i;
}

TEST_F(BlurGl, TextureInUseFallsBackToTheCpu)
{
    const int w = 300, h = 200;
    image *img = field("ramp", w, h, bg_ramp);
    image *mask = field("mask", w, h, [](int x, int y) { return (float)((x + y) % 7) / 6.0f; });
    int held = img_texture("mask", mask, 1, 0, 1);
    ASSERT_GE(held, 0);
    testlog_capture cap;
    image *fallback = blur(img, mask, 6, 4, 1);
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(cap.contains("img_gpuupload: texture \"mask\" is already in use"));
    EXPECT_TRUE(cap.contains("img_scalarmaskblur: no GPU resources, blurring on the CPU"));
    int live = 0;
    for (const r_textureslot &t : r_textures)
        live += t.width != 0;
    EXPECT_EQ(live, 1); // only the texture this test made
    image *cpu = blur(img, mask, 6, 4, 0);
    for (int i = 0; i < w * h; i++)
        ASSERT_EQ(((float *)fallback->pixels)[i], ((float *)cpu->pixels)[i]) << "pixel " << i;
}
