// Inflation on the GPU: the one-pixel hemisphere and a random field agree
// with the CPU path, a texture name in use falls back to the CPU, and a
// worker draws its sections between the main thread's frames, holding the
// frame mutex only per section.
#include "img/fade.h"

#include "imgglfixture.h"
#include "sys/frame.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "testlog.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

class FadeGl : public ImgGlTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ImgGlTest::SetUp());
        ASSERT_EQ(img_loadinflateshader(), 1);
    }
    image *field(int w, int h, const std::vector<float> &values)
    {
        return keep(img_alloc("inflate", w, h, 4, values.data()));
    }
    // A copy inflated on the path cfg_gpuconvo selects.
    image *inflated(const image *src, float maxradius, float heightscale, int gpu)
    {
        image *f = field(src->width, src->height, {});
        memcpy(f->pixels, src->pixels, (size_t)src->width * src->height * 4);
        cfg_seti(cfg_gpuconvo, gpu);
        int result = img_scalarinflatedist(f, maxradius, heightscale);
        cfg_seti(cfg_gpuconvo, 1);
        return result == 0 ? f : nullptr;
    }
};

static std::vector<float> fg_onepixel(int w, int h, float value)
{
    std::vector<float> v((size_t)w * h, 0.0f);
    v[(size_t)(h / 2) * w + w / 2] = value;
    return v;
}

TEST_F(FadeGl, HemisphereAgreesOnBothPaths)
{
    const int w = 41, h = 33;
    image *src = field(w, h, fg_onepixel(w, h, 2.5f)); // radius 5 pixels at height scale 2
    testlog_capture cap;
    image *gpu = inflated(src, 8, 2, 1);
    ASSERT_NE(gpu, nullptr);
    EXPECT_TRUE(cap.contains("...GPU distance inflation complete"));
    image *cpu = inflated(src, 8, 2, 0);
    ASSERT_NE(cpu, nullptr);
    EXPECT_TRUE(cap.contains("...CPU distance inflation complete"));
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            float d2 = (float)((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2));
            float expect = std::sqrt(std::max(25.0f - d2, 0.0f)) / 2;
            ASSERT_NEAR(imgfixture_at(cpu, x, y), expect, 1e-5f) << x << "," << y;
            ASSERT_NEAR(imgfixture_at(gpu, x, y), imgfixture_at(cpu, x, y), 1e-4f) << x << "," << y;
        }
    }
}

TEST_F(FadeGl, RandomFieldAgreesAwayFromTheBorder)
{
    // Sphere radii stay below the maximum radius, where the GPU's cap does not
    // bite; near the border the GPU repeats edge pixels and the CPU clips.
    const int w = 96, h = 150, maxradius = 4;
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> d(0, 2);
    std::vector<float> v((size_t)w * h);
    for (float &x : v)
        x = d(rng);
    image *src = field(w, h, v);
    const int saved = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture cap;
    image *gpu = inflated(src, maxradius, 1.5f, 1);
    cfg_seti(cfg_debuginfo, saved);
    ASSERT_NE(gpu, nullptr);
    EXPECT_TRUE(cap.contains("GPU distance inflation img=(96,150)"));
    EXPECT_GE(cap.count("...inflated section: Y"), 2);
    image *cpu = inflated(src, maxradius, 1.5f, 0);
    ASSERT_NE(cpu, nullptr);
    for (int y = maxradius; y < h - maxradius; y++)
        for (int x = maxradius; x < w - maxradius; x++)
            ASSERT_NEAR(imgfixture_at(gpu, x, y), imgfixture_at(cpu, x, y), 1e-4f) << x << "," << y;
}

TEST_F(FadeGl, TextureInUseFallsBackToTheCpu)
{
    image *src = field(20, 20, fg_onepixel(20, 20, 3));
    int held = img_texture("input", src, 1, 1, 1);
    ASSERT_GE(held, 0);
    testlog_capture cap;
    image *fallback = inflated(src, 6, 1, 1);
    ASSERT_NE(fallback, nullptr);
    EXPECT_TRUE(cap.contains("img_scalarinflatedist: no GPU resources, inflating on the CPU"));
    EXPECT_TRUE(cap.contains("...CPU distance inflation complete"));
    image *cpu = inflated(src, 6, 1, 0);
    for (int i = 0; i < 400; i++)
        ASSERT_EQ(((float *)fallback->pixels)[i], ((float *)cpu->pixels)[i]);
}

struct fg_workerjob {
    image *field;
    std::atomic<int> result{-2};
};

static void fg_inflatejob(void *arg)
{
    fg_workerjob *j = (fg_workerjob *)arg;
    j->result = img_scalarinflatedist(j->field, 8, 2);
}

TEST_F(FadeGl, WorkerDrawsBetweenFrames)
{
    // The workers' context, shared with the window's, and the frame mutex
    // that a frame of the main thread holds while it draws.
    ASSERT_EQ(startworkercontext(), 1) << SDL_GetError();
    sys_threadsinit();
    sys_framemutex = sys_createmutex();
    sys_threadsstart(2);
    const int w = 64, h = 256;
    image *f = field(w, h, fg_onepixel(w, h, 2.5f));
    fg_workerjob job;
    job.field = f;
    const int saved = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 1);
    testlog_capture cap;
    // A frame is under way when the job is queued: the job starts, but its
    // first section waits until the frame lets the mutex go. The frame lasts
    // a while after the start so that a job drawing without the mutex would
    // show its sections before the frame's end.
    sys_lockmutex(sys_framemutex);
    bool queued = sys_threadjob("inflatejob", fg_inflatejob, &job) >= 0;
    bool started = false;
    for (int i = 0; queued && i < 6000 && !(started = cap.contains("GPU distance inflation img=(64,256)")); i++)
        SDL_Delay(10);
    SDL_Delay(50);
    sys_log("test: first frame ends");
    sys_unlockmutex(sys_framemutex);
    // Further frames until the job is done, each holding the mutex while it
    // draws and releasing it while it waits.
    double start = sys_seconds();
    while (queued && job.result == -2 && sys_seconds() - start < 60) {
        sys_lockmutex(sys_framemutex);
        SDL_Delay(2);
        sys_unlockmutex(sys_framemutex);
        SDL_Delay(1);
    }
    sys_threadsquit();
    sys_threadsdone();
    sys_destroymutexes();
    sys_framemutex = -1;
    stopworkercontext();
    cfg_seti(cfg_debuginfo, saved);
    ASSERT_TRUE(queued);
    ASSERT_TRUE(started) << cap.text();
    ASSERT_EQ(job.result.load(), 0);
    EXPECT_TRUE(cap.contains("...GPU distance inflation complete"));
    EXPECT_FALSE(cap.contains("sys_makecurrent:"));
    std::string log = cap.text();
    size_t frameend = log.find("test: first frame ends"), section = log.find("...inflated section: Y");
    ASSERT_NE(section, std::string::npos) << log;
    EXPECT_LT(frameend, section) << "a section was drawn during the main thread's frame";
    EXPECT_GE(cap.count("...inflated section: Y"), 2) << "the field was drawn in one piece";
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            float d2 = (float)((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2));
            ASSERT_NEAR(imgfixture_at(f, x, y), std::sqrt(std::max(25.0f - d2, 0.0f)) / 2, 1e-4f) << x << "," << y;
        }
    }
}
