// The main window's two contexts: a job on a worker borrows the workers'
// context between frames and draws, while the main thread keeps its own.
#include "sys/window.h"

#include "render/gl.h"
#include "render/glfuncs.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/main.h"
#include "sys/thread.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>

class Window : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        config_init();
        cfg_seti(cfg_windowmaximised, 0);
        sys_threadsinit();
        sys_framemutex = sys_createmutex();
        sys_threadsstart(2);
        ASSERT_TRUE(sys_openwindow());
        // As start-up does: the frames below run the view pass, whose grid
        // and axes are buffer-backed models.
        ASSERT_EQ(gl_loadentrypoints(), 1);
    }
    static void TearDownTestSuite()
    {
        sys_threadsquit();
        sys_threadsdone();
        sys_closewindow();
        sys_destroymutexes();
        sys_framemutex = -1;
    }
};

TEST_F(Window, OpensBothContextsWithLimits)
{
    EXPECT_NE(sys_window, nullptr);
    EXPECT_NE(sys_workercontext, nullptr);
    EXPECT_NE(sys_context, nullptr);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), sys_context);
    EXPECT_GE(gl_version, 21);
    EXPECT_GT(gl_maxtexturesize, 0);
    EXPECT_GT(gl_maxrenderbuffersize, 0);
    EXPECT_EQ(sys_drawable[0] > 0 && sys_drawable[1] > 0, true);
}

struct gpu_result {
    std::atomic<int> done{0};
    unsigned char pixel[4] = {};
    void *context = nullptr;
};

static void job_drawonworker(void *arg)
{
    gpu_result *r = (gpu_result *)arg;
    sys_makecurrent(1);
    r->context = SDL_GL_GetCurrentContext();
    glViewport(0, 0, 4, 4);
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, r->pixel);
    glFinish();
    sys_makecurrent(0);
    r->done = 1;
}

TEST_F(Window, WorkerJobDrawsBetweenFrames)
{
    gpu_result r;
    // The main thread holds the frame mutex except while a frame waits, as
    // the main loop does; the job can only run inside those waits.
    sys_lockmutex(sys_framemutex);
    ASSERT_GE(sys_threadjob("drawtest", job_drawonworker, &r), 0);
    for (int i = 0; i < 600 && !r.done; i++)
        sys_frame();
    sys_unlockmutex(sys_framemutex);
    ASSERT_TRUE(r.done);
    EXPECT_EQ(r.context, sys_workercontext);
    EXPECT_EQ(r.pixel[1], 255);
    EXPECT_EQ(r.pixel[0], 0);
    // The main thread's own context is untouched.
    EXPECT_EQ(SDL_GL_GetCurrentContext(), sys_context);
}
