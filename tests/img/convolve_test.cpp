// Convolution and dilation on the CPU: the single-element and edge-repeat
// cases, the empty-window value, a brute-force per-pixel reference that the
// banded, vectorised path must match bit for bit, the band split, the path
// choice and its log lines, and refused arguments.
#include "img/convolve.h"
#include "img/maxplus.h"

#include "dilateref.h"
#include "imgfixture.h"
#include "render/gl.h"
#include "sys/config.h"
#include "sys/thread.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// Four workers for the whole suite, so bands really run on them.
class Convolve : public ImgTest<4> {
protected:
    image *field(const char *name, int w, int h, const std::vector<float> &values)
    {
        return keep(img_alloc(name, w, h, 4, values.empty() ? nullptr : values.data()));
    }
};

// The formulas one pixel at a time, in window order, as plainly as possible.
static std::vector<float> cv_reference(const image *img, const image *k, int mode, float scale, float minval,
                                       float offset)
{
    const int w = img->width, h = img->height, kw = k->width, kh = k->height;
    std::vector<float> out((size_t)w * h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            float best = -99999.0f, sum = 0.0f;
            for (int j = 0; j < kh; j++) {
                for (int i = 0; i < kw; i++) {
                    int sx = x + i - kw / 2, sy = y + j - kh / 2;
                    if (mode != 0) {
                        sum += imgfixture_at(img, std::clamp(sx, 0, w - 1), std::clamp(sy, 0, h - 1)) * imgfixture_at(k, i, j);
                    } else if (sx >= 0 && sx < w && sy >= 0 && sy < h && imgfixture_at(img, sx, sy) >= minval) {
                        best = std::max(best, imgfixture_at(img, sx, sy) + imgfixture_at(k, i, j) * scale);
                    }
                }
            }
            out[(size_t)y * w + x] = mode != 0 ? sum * scale + offset : best + offset;
        }
    }
    return out;
}

// Bit-for-bit equality of the output's pixels with want.
static bool cv_same(const image *out, const std::vector<float> &want)
{
    return want.empty() || memcmp(out->pixels, want.data(), want.size() * sizeof(float)) == 0;
}

// Kernels whose rows are flat, concave on a run inside a background, both, or
// neither; the decomposed dilation must give the plain taps' values.
static std::vector<float> cv_shapedkernel(int shape, int kw, int kh, std::mt19937 &rng)
{
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    std::vector<float> k((size_t)kw * kh, -3.0f);
    const float rx = kw / 2.0f, ry = kh / 2.0f;
    for (int j = 0; j < kh; j++) {
        for (int i = 0; i < kw; i++) {
            float dx = (i - kw / 2) / rx, dy = (j - kh / 2) / ry, q = 1.0f - dx * dx - dy * dy;
            float &v = k[(size_t)j * kw + i];
            if (shape == 0 && q >= 0.0f) // flat disc
                v = 0.25f;
            else if (shape == 1 && q >= 0.0f) // dome
                v = std::sqrt(q) - 1.0f;
            else if (shape == 2) // cone over the whole window
                v = -std::sqrt(dx * dx + dy * dy);
            else if (shape == 3) // random: rows of neither shape
                v = d(rng);
        }
    }
    return k;
}

TEST_F(Convolve, DecomposedDilationMatchesThePlainTaps)
{
    struct Case {
        int w, h, kw, kh, shape;
        float scale, minval, offset;
    };
    const Case cases[] = {
        {40, 31, 9, 9, 0, 1.0f, -99999.0f, 0.0f},   {41, 30, 11, 7, 1, 1.0f, -99999.0f, -1.0f},
        {33, 33, 13, 13, 2, 1.0f, 0.0f, 0.0f},      {30, 17, 10, 12, 1, 0.5f, -0.2f, 0.0f},
        {25, 19, 9, 11, 3, 1.0f, -99999.0f, 0.0f},  {1, 40, 9, 9, 1, 1.0f, -99999.0f, 0.0f},
        {40, 1, 9, 9, 2, 1.0f, -0.5f, 0.0f},        {6, 5, 15, 15, 1, 1.0f, -99999.0f, 0.0f},
        {50, 20, 21, 21, 0, -1.0f, 0.5f, 0.0f},     {28, 28, 9, 9, 1, 1.0f, 2.0f, 0.0f},
    };
    const int saved = img_maxplusmin, envelope = img_maxplusenvelope;
    img_maxplusmin = 1;
    img_maxplusenvelope = 1;
    std::mt19937 rng(11);
    int ties = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " by " << c.kw << "x" << c.kh << " shape "
                                        << c.shape);
        image *img = random("img", c.w, c.h, rng, -1.0f, 1.0f);
        image *k = field("k", c.kw, c.kh, cv_shapedkernel(c.shape, c.kw, c.kh, rng));
        image *out = field("out", c.w, c.h, {});
        ASSERT_EQ(img_scalarconvocpu(out, img, k, 0, c.scale, c.minval, c.offset), 0);
        dilateref_diff d = dilateref_compare(out, dilateref_taps(img, k, c.scale, c.minval, c.offset));
        EXPECT_EQ(d.wrong, 0);
        ties += d.ties;
    }
    img_maxplusmin = saved;
    img_maxplusenvelope = envelope;
    RecordProperty("ties", ties);
}

TEST_F(Convolve, SingleElementKernelsAndEdgeRepeat)
{
    // Image pixel (x, y) holds 1 + x + 10 y, so the value names the pixel read.
    std::vector<float> values(16);
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 4; x++)
            values[(size_t)y * 4 + x] = 1.0f + x + 10.0f * y;
    image *img = field("img", 4, 4, values);
    struct Case {
        const char *what;
        int kw, kh, ki, kj; // kernel size and its one non-zero element
        float k;
        int mode;
        float offset;
        int x, y;   // output pixel
        float want;
    };
    const Case cases[] = {
        {"1x1 weighted: image * k + offset", 1, 1, 0, 0, 2.5f, 1, 0.5f, 2, 1, 13.0f * 2.5f + 0.5f},
        {"1x1 dilation: image + k + offset", 1, 1, 0, 0, 2.5f, 0, 0.5f, 2, 1, 13.0f + 2.5f + 0.5f},
        {"3x3 element (0,0) at the corner", 3, 3, 0, 0, 1.0f, 1, 0.0f, 0, 0, 1.0f},
        {"3x3 element (1,0) at the corner", 3, 3, 1, 0, 1.0f, 1, 0.0f, 0, 0, 1.0f},
        {"3x3 element (0,1) at the corner", 3, 3, 0, 1, 1.0f, 1, 0.0f, 0, 0, 1.0f},
        {"3x3 element (1,1) at the corner", 3, 3, 1, 1, 1.0f, 1, 0.0f, 0, 0, 1.0f},
        {"3x3 element (2,0) reads pixel (1,0)", 3, 3, 2, 0, 1.0f, 1, 0.0f, 0, 0, 2.0f},
        {"3x3 element (0,2) reads pixel (0,1)", 3, 3, 0, 2, 1.0f, 1, 0.0f, 0, 0, 11.0f},
        {"not flipped: element (2,2) reads (x+1, y+1)", 3, 3, 2, 2, 1.0f, 1, 0.0f, 1, 1, 23.0f},
        {"even side: element (0,0) reads (x-1, y-1)", 2, 2, 0, 0, 1.0f, 1, 0.0f, 2, 2, 12.0f},
    };
    for (const Case &c : cases) {
        std::vector<float> kv((size_t)c.kw * c.kh, 0.0f);
        kv[(size_t)c.kj * c.kw + c.ki] = c.k;
        image *k = field("k", c.kw, c.kh, kv);
        image *out = field("out", 4, 4, {});
        ASSERT_EQ(img_scalarconvocpu(out, img, k, c.mode, 1.0f, -99999.0f, c.offset), 0) << c.what;
        EXPECT_EQ(imgfixture_at(out, c.x, c.y), c.want) << c.what;
    }
}

TEST_F(Convolve, DilationSkipsValuesBelowMinvalAndOutsideTheImage)
{
    image *img = field("img", 3, 1, {0.2f, 5.0f, 0.3f});
    image *k = field("k", 3, 1, {1.0f, 1.0f, 1.0f});
    image *out = field("out", 3, 1, {});
    struct Case {
        const char *what;
        float minval, offset;
        std::vector<float> want;
    };
    const Case cases[] = {
        {"all admitted", -99999.0f, 0.0f, {6.0f, 6.0f, 6.0f}},
        {"only the middle admitted", 1.0f, -1.0f, {5.0f, 5.0f, 5.0f}},
        {"nothing admitted: -99999 + offset", 9.0f, -1.0f, {-100000.0f, -100000.0f, -100000.0f}},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(img_scalarconvocpu(out, img, k, 0, 1.0f, c.minval, c.offset), 0) << c.what;
        for (int x = 0; x < 3; x++)
            EXPECT_EQ(imgfixture_at(out, x, 0), c.want[x]) << c.what << " x=" << x;
    }
}

// Sizes around the vector width and kernels wider than the image, odd and
// even sides, minval cutting part of the field, signed zeros in both inputs.
TEST_F(Convolve, MatchesThePerPixelFormulaBitForBit)
{
    struct Case {
        int w, h, kw, kh, mode;
        float scale, minval, offset;
    };
    const Case cases[] = {
        {37, 23, 5, 3, 0, 1.0f, -99999.0f, 0.0f}, {37, 23, 5, 3, 1, 1.0f, -99999.0f, 0.0f},
        {64, 9, 33, 7, 0, 0.75f, 0.25f, -1.0f},   {64, 9, 33, 7, 2, 0.75f, 0.0f, -1.0f},
        {7, 5, 12, 9, 0, 1.0f, -9999.0f, 0.0f},   {7, 5, 12, 9, 1, 1.0f, 0.0f, 0.5f},
        {17, 1, 4, 4, 0, 2.0f, 0.5f, 0.0f},       {1, 17, 3, 6, 1, -1.0f, 0.0f, 0.0f},
        {100, 40, 1, 1, 0, 1.0f, 0.5f, 0.0f},     {9, 9, 9, 9, 0, 1.0f, -99999.0f, 0.0f},
    };
    std::mt19937 rng(7);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " by " << c.kw << "x" << c.kh << " mode " << c.mode);
        image *img = random("img", c.w, c.h, rng, -1.0f, 1.0f);
        image *k = random("k", c.kw, c.kh, rng, -0.5f, 0.5f);
        ((float *)img->pixels)[0] = -0.0f;
        ((float *)k->pixels)[0] = 0.0f;
        image *out = field("out", c.w, c.h, {});
        ASSERT_EQ(img_scalarconvocpu(out, img, k, c.mode, c.scale, c.minval, c.offset), 0);
        std::vector<float> want = cv_reference(img, k, c.mode, c.scale, c.minval, c.offset);
        EXPECT_TRUE(cv_same(out, want));
    }
}

// Names of the band jobs queued since the names were cleared.
static std::vector<std::string> cv_bandjobs()
{
    std::vector<std::string> names;
    for (job &j : sys_jobs)
        if (strncmp(j.name, "convo", 5) == 0)
            names.push_back(j.name);
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Convolve, BandsFollowTheIdleWorkersAndTheHeight)
{
    std::mt19937 rng(3);
    image *k = random("k", 3, 3, rng, 0.0f, 1.0f);
    struct Case {
        const char *what;
        int height;
        std::vector<std::string> queued; // the caller computes the last band itself
    };
    const Case cases[] = {
        {"fewer rows than workers: one band per row", 3, {"convo00:[0-1]", "convo01:[1-2]"}},
        {"floor(h / n) rows, the last takes the rest", 11, {"convo00:[0-2]", "convo01:[2-4]", "convo02:[4-6]"}},
        {"height 0 computes nothing", 0, {}},
    };
    for (const Case &c : cases) {
        // A worker counts as busy until its last job has fully ended.
        for (int i = 0; i < 1000 && sys_jobspending.load(); i++)
            SDL_Delay(1);
        for (job &j : sys_jobs)
            j.name[0] = 0;
        image *img = random("img", 5, c.height, rng, 0.0f, 1.0f);
        image *out = field("out", 5, c.height, {});
        testlog_capture log;
        ASSERT_EQ(img_scalarconvocpu(out, img, k, 1, 1.0f, 0.0f, 0.0f), 0) << c.what;
        EXPECT_EQ(cv_bandjobs(), c.queued) << c.what;
        EXPECT_TRUE(log.contains("...convolution complete (elapsed ")) << c.what;
        std::vector<float> want = cv_reference(img, k, 1, 1.0f, 0.0f, 0.0f);
        EXPECT_TRUE(cv_same(out, want)) << c.what;
    }
}

TEST_F(Convolve, TakesTheCpuPathWhenTheGpuIsOffOrTooSmall)
{
    std::mt19937 rng(5);
    image *img = random("height", 20, 12, rng, 0.0f, 1.0f);
    image *k = random("ball", 5, 5, rng, 0.0f, 1.0f);
    struct Case {
        const char *what;
        int gpuconvo, framebuffers, maxtexture, maxrenderbuffer;
    };
    const Case cases[] = {
        {"cfg_gpuconvo off", 0, 1, 4096, 4096},
        {"no framebuffer objects", 1, 0, 4096, 4096},
        {"image wider than the texture limit", 1, 1, 19, 4096},
        {"image wider than the renderbuffer limit", 1, 1, 4096, 19},
    };
    const int saved[4] = {cfg_geti(cfg_gpuconvo), gl_framebuffers, gl_maxtexturesize, gl_maxrenderbuffersize};
    cfg_seti(cfg_debuginfo, 1);
    for (const Case &c : cases) {
        cfg_seti(cfg_gpuconvo, c.gpuconvo);
        gl_framebuffers = c.framebuffers;
        gl_maxtexturesize = c.maxtexture;
        gl_maxrenderbuffersize = c.maxrenderbuffer;
        testlog_capture log;
        image *out = img_scalarconvo(img, k, 0, -99999.0f, 0.0f);
        images.push_back(out);
        ASSERT_NE(out, nullptr) << c.what;
        EXPECT_STREQ(out->name, "height.cnv[ball]") << c.what;
        EXPECT_TRUE(log.contains("CPU convolution img=(20,12) krnl=(5,5)")) << c.what;
        EXPECT_TRUE(log.contains("20x12 convolution complete (elapsed ")) << c.what;
        std::vector<float> want = cv_reference(img, k, 0, 1.0f, -99999.0f, 0.0f);
        EXPECT_TRUE(cv_same(out, want)) << c.what;
    }
    cfg_seti(cfg_debuginfo, 0);
    cfg_seti(cfg_gpuconvo, saved[0]);
    gl_framebuffers = saved[1];
    gl_maxtexturesize = saved[2];
    gl_maxrenderbuffersize = saved[3];
}

TEST_F(Convolve, RefusesOutputsThatDoNotFitAndNonScalarInputs)
{
    image *img = field("img", 4, 4, std::vector<float>(16, 1.0f));
    image *k = field("k", 3, 3, std::vector<float>(9, 1.0f));
    image *small = field("small", 3, 4, std::vector<float>(12, 7.0f));
    image *out = field("out", 4, 4, std::vector<float>(16, 7.0f));
    images.push_back(img_alloc("rgb", 4, 4, 3));
    image *rgb = images.back();
    struct Case {
        const char *what;
        image *out;
        const image *img, *kernel;
        const char *line;
    };
    const Case cases[] = {
        {"output of another size", small, img, k, "img_scalarconvocpu: output 3x4 does not match image 4x4"},
        {"output is the image", img, img, k, "img_scalarconvocpu: output \"img\" is one of the inputs"},
        {"colour kernel", out, img, rgb, "img_scalarconvocpu: \"rgb\" has 3 bytes per pixel"},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        std::vector<float> before((const float *)c.out->pixels,
                                  (const float *)c.out->pixels + (size_t)c.out->width * c.out->height);
        EXPECT_EQ(img_scalarconvocpu(c.out, c.img, c.kernel, 1, 1.0f, 0.0f, 0.0f), -1) << c.what;
        EXPECT_TRUE(log.contains(c.line)) << c.what << "\n" << log.text();
        EXPECT_EQ(memcmp(c.out->pixels, before.data(), before.size() * sizeof(float)), 0) << c.what;
    }
    EXPECT_EQ(img_scalarconvo(rgb, k, 0, 0.0f, 0.0f), nullptr);
}

TEST_F(Convolve, ReportsAnOutputThatCannotBeAllocated)
{
    image *img = field("img", 4, 4, std::vector<float>(16, 1.0f));
    image *k = field("k", 1, 1, {1.0f});
    // Fill the image table so the output finds no slot.
    while (image *filler = img_alloc("filler", 1, 1, 4))
        images.push_back(filler);
    testlog_capture log;
    EXPECT_EQ(img_scalarconvo(img, k, 1, 0.0f, 0.0f), nullptr);
    EXPECT_TRUE(log.contains("img_scalarconvo: failed to allocate pixel buffer"));
}
