// Convolution and dilation on the GPU: agreement with the CPU path on odd
// kernels, the even-side average, the section count, the path choice, what
// the call leaves behind, the CPU fallback when a resource is missing, and a
// run on a worker through the workers' shared context.
#include "../render/glcontext.h"
#include "img/convolve.h"
#include "imgfixture.h"
#include "render/draw.h"
#include "render/texture.h"
#include "sys/config.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "testlog.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <vector>

class ConvolveGl : public GlTest {
protected:
    std::vector<image *> images;
    double savedspeed = 0.0;

    static void SetUpTestSuite()
    {
        GlTest::SetUpTestSuite();
        sys_threadsinit();
        img_mutex = sys_createmutex();
        sys_threadsstart(2);
        r_initdraw();
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
        sys_destroymutex(img_mutex);
        img_mutex = -1;
        r_quitdraw();
        GlTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        GlTest::SetUp();
        r_defaultstate();
        r_cleartextures();
        readlimits();
        ASSERT_TRUE(gl_framebuffers);
        ASSERT_EQ(img_loadshaders(), 1);
        savedspeed = img_gpuspeed;
    }
    void TearDown() override
    {
        for (image *img : images)
            img_free(img);
        r_freeshader(img_convolveshader);
        r_freeshader(img_minkowskishader);
        img_convolveshader = img_minkowskishader = -1;
        img_gpuspeed = savedspeed;
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
    image *random(const char *name, int w, int h, std::mt19937 &rng, float lo, float hi)
    {
        images.push_back(imgfixture_random(name, w, h, rng, lo, hi));
        return images.back();
    }
    image *blank(int w, int h)
    {
        images.push_back(img_alloc("out", w, h, 4));
        return images.back();
    }
};

// Largest difference over the pixels at least margin x, margin y from the
// border.
static float cg_maxdiff(const image *a, const image *b, int mx, int my)
{
    float worst = 0.0f;
    for (int y = my; y < a->height - my; y++)
        for (int x = mx; x < a->width - mx; x++)
            worst = std::max(worst, std::fabs(imgfixture_at(a, x, y) - imgfixture_at(b, x, y)));
    return worst;
}

// Dilation reads the edge pixel for window positions outside the image on
// the GPU and skips them on the CPU, so it is compared inside only.
TEST_F(ConvolveGl, AgreesWithTheCpuOnOddKernels)
{
    struct Case {
        int w, h, kw, kh, mode;
        float scale, minval, offset;
    };
    const Case cases[] = {
        {40, 30, 3, 3, 0, 1.0f, -99999.0f, 0.0f}, {40, 30, 3, 3, 1, 1.0f, 0.0f, 0.0f},
        {33, 17, 9, 5, 0, 0.5f, 0.3f, -1.0f},     {33, 17, 9, 5, 1, 0.5f, 0.0f, -1.0f},
        {16, 16, 1, 1, 0, 2.0f, -9999.0f, 0.25f}, {16, 16, 1, 7, 2, 1.0f, 0.0f, 0.25f},
    };
    std::mt19937 rng(9);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " by " << c.kw << "x" << c.kh << " mode " << c.mode);
        image *img = random("img", c.w, c.h, rng, 0.0f, 1.0f);
        image *k = random("k", c.kw, c.kh, rng, 0.0f, 0.1f);
        image *cpu = blank(c.w, c.h), *gpu = blank(c.w, c.h);
        ASSERT_EQ(img_scalarconvocpu(cpu, img, k, c.mode, c.scale, c.minval, c.offset), 0);
        ASSERT_EQ(img_scalarconvogpu(gpu, img, k, c.mode, c.scale, c.minval, c.offset), 1);
        int mx = c.mode == 0 ? c.kw / 2 : 0, my = c.mode == 0 ? c.kh / 2 : 0;
        EXPECT_LE(cg_maxdiff(cpu, gpu, mx, my), 1e-5f);
    }
}

// An even side samples between two pixels, and linear filtering gives their
// mean where the CPU reads the first of them.
TEST_F(ConvolveGl, EvenKernelSidesAverageNeighbours)
{
    std::mt19937 rng(4);
    image *img = random("img", 8, 4, rng, 0.0f, 1.0f);
    images.push_back(img_alloc("k", 2, 1, 4, std::vector<float>{1.0f, 0.0f}.data()));
    image *k = images.back();
    image *out = blank(8, 4);
    ASSERT_EQ(img_scalarconvogpu(out, img, k, 1, 1.0f, 0.0f, 0.0f), 1);
    for (int y = 0; y < 4; y++)
        for (int x = 1; x < 8; x++)
            EXPECT_NEAR(imgfixture_at(out, x, y), 0.5f * (imgfixture_at(img, x - 1, y) + imgfixture_at(img, x, y)), 1e-5f) << x << "," << y;
}

TEST_F(ConvolveGl, DrawsSectionsOfAboutTwentyMilliseconds)
{
    std::mt19937 rng(2);
    image *img = random("img", 64, 32, rng, 0.0f, 1.0f);
    image *k = random("k", 5, 3, rng, 0.0f, 0.1f);
    // eta = 64 x 32 / 2^20 x 15 x speed seconds.
    const double perstep = 64.0 * 32.0 / 1048576.0 * 15.0;
    struct Case {
        const char *what;
        double speed;
        int sections;
        const char *first;
    };
    const Case cases[] = {
        {"not measured yet: one section", 0.0, 1, "...convo section drawn: -1.000000->1.000000"},
        {"0.09 s: four sections", 0.09 / perstep, 4, "...convo section drawn: -1.000000->-0.500000"},
        {"never more sections than rows", 100.0 / perstep, 32, "...convo section drawn: -1.000000->-0.937500"},
    };
    image *cpu = blank(64, 32);
    ASSERT_EQ(img_scalarconvocpu(cpu, img, k, 1, 1.0f, 0.0f, 0.0f), 0);
    cfg_seti(cfg_debuginfo, 1);
    for (const Case &c : cases) {
        img_gpuspeed = c.speed;
        image *out = blank(64, 32);
        testlog_capture log;
        ASSERT_EQ(img_scalarconvogpu(out, img, k, 1, 1.0f, 0.0f, 0.0f), 1) << c.what;
        EXPECT_TRUE(log.contains("convolution steps:" + std::to_string(c.sections) + " eta:")) << c.what;
        EXPECT_EQ(log.count("...convo section drawn: "), c.sections) << c.what;
        EXPECT_TRUE(log.contains(c.first)) << c.what;
        EXPECT_TRUE(log.contains("->1.000000")) << c.what;
        EXPECT_TRUE(log.contains("...convolution complete (elapsed ")) << c.what;
        // Odd rows of sections still cover every row exactly once.
        EXPECT_LE(cg_maxdiff(cpu, out, 0, 0), 1e-5f) << c.what;
    }
    cfg_seti(cfg_debuginfo, 0);
}

TEST_F(ConvolveGl, ChoosesTheGpuAndLeavesNothingBehind)
{
    std::mt19937 rng(6);
    image *img = random("height", 24, 20, rng, 0.0f, 1.0f);
    image *k = random("ball", 5, 5, rng, 0.0f, 0.1f);
    const int saved = cfg_geti(cfg_gpuconvo);
    cfg_seti(cfg_gpuconvo, 1);
    testlog_capture log;
    image *out = img_scalarconvo(img, k, 1, 0.0f, 0.5f);
    cfg_seti(cfg_gpuconvo, saved);
    ASSERT_NE(out, nullptr);
    images.push_back(out);
    EXPECT_TRUE(log.contains("GPU convolution img=(24,20) krnl=(5,5)"));
    image *cpu = blank(24, 20);
    ASSERT_EQ(img_scalarconvocpu(cpu, img, k, 1, 1.0f, 0.0f, 0.5f), 0);
    EXPECT_LE(cg_maxdiff(cpu, out, 0, 0), 1e-5f);

    for (const r_textureslot &t : r_textures)
        EXPECT_EQ(t.width, 0u) << t.name;
    GLint framebuffer = -1, program = -1, viewport[4];
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(framebuffer, 0);
    EXPECT_EQ(program, 0);
    EXPECT_EQ(viewport[2], sys_drawable[0]);
    EXPECT_EQ(viewport[3], sys_drawable[1]);
}

// Without its framebuffer, a texture or a program the GPU path computes on
// the CPU instead of returning whatever the read-back held.
TEST_F(ConvolveGl, FallsBackToTheCpuWhenAResourceIsMissing)
{
    std::mt19937 rng(8);
    image *k = random("k", 3, 3, rng, 0.0f, 0.1f);
    image *small = random("img", 12, 6, rng, 0.0f, 1.0f);
    image *wide = random("wide", gl_maxrenderbuffersize + 1, 1, rng, 0.0f, 1.0f);
    struct Case {
        const char *what;
        image *img;
        const char *blocker; // texture name held alive during the call
        bool noprogram;
        const char *line;
    };
    const Case cases[] = {
        {"wider than a renderbuffer", wide, nullptr, false, "img_scalarconvo: framebuffer fail!"},
        {"\"input\" already alive", small, "input", false, "img_gpuupload: texture \"input\" is already in use"},
        {"\"kernel\" already alive", small, "kernel", false, "img_gpuupload: texture \"kernel\" is already in use"},
        {"program not loaded", small, nullptr, true, "img_scalarconvogpu: no GPU resources, convolving on the CPU"},
    };
    for (const Case &c : cases) {
        int blocker = c.blocker ? img_texture(c.blocker, k, 1) : -1;
        int program = img_convolveshader;
        if (c.noprogram)
            img_convolveshader = -1;
        image *cpu = blank(c.img->width, c.img->height), *out = blank(c.img->width, c.img->height);
        ASSERT_EQ(img_scalarconvocpu(cpu, c.img, k, 1, 1.0f, 0.0f, 0.0f), 0) << c.what;
        testlog_capture log;
        EXPECT_EQ(img_scalarconvogpu(out, c.img, k, 1, 1.0f, 0.0f, 0.0f), 0) << c.what;
        EXPECT_TRUE(log.contains(c.line)) << c.what << "\n" << log.text();
        EXPECT_EQ(cg_maxdiff(cpu, out, 0, 0), 0.0f) << c.what;
        img_convolveshader = program;
        r_freetexture(blocker);
        for (int i = 0; i < 8 && glGetError() != GL_NO_ERROR; i++) {
        }
        for (const r_textureslot &t : r_textures)
            EXPECT_EQ(t.width, 0u) << c.what << ": " << t.name;
    }
}

struct cg_job {
    image *out;
    const image *img, *kernel;
    int result;
    std::atomic<int> done;
};

static void job_gpuconvo(void *arg)
{
    cg_job *j = (cg_job *)arg;
    j->result = img_scalarconvogpu(j->out, j->img, j->kernel, 0, 1.0f, -99999.0f, 0.0f);
    j->done = 1;
}

// A worker borrows the workers' shared context, which sees the programs
// loaded on the main context.
TEST_F(ConvolveGl, RunsOnAWorkerThroughTheSharedContext)
{
    ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
    std::mt19937 rng(12);
    image *img = random("img", 20, 16, rng, 0.0f, 1.0f);
    image *k = random("k", 3, 3, rng, 0.0f, 0.1f);
    cg_job j = {blank(20, 16), img, k, -1, {0}};
    testlog_capture log;
    ASSERT_GE(sys_threadjob("gpuconvo", job_gpuconvo, &j), 0);
    for (int i = 0; i < 10000 && !j.done; i++)
        SDL_Delay(1);
    ASSERT_TRUE(j.done);
    EXPECT_EQ(j.result, 1);
    EXPECT_FALSE(log.contains("sys_makecurrent:")) << log.text();
    image *cpu = blank(20, 16);
    ASSERT_EQ(img_scalarconvocpu(cpu, img, k, 0, 1.0f, -99999.0f, 0.0f), 0);
    EXPECT_LE(cg_maxdiff(cpu, j.out, 1, 1), 1e-5f);
    stopworkercontext();
}
