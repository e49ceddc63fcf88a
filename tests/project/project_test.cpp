// The project's start and shutdown: a start whose surface shaders do not
// load fails and leaves nothing behind, and the shutdown's wait for
// background work ends after its bound.
#include "project/project.h"

#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <thread>

// Without a GL context no shader program can be made, as on a driver
// without shader support.
TEST(Project, StartWithoutShadersFailsAndLeavesNothing)
{
    testlog_capture log;
    uint64_t mem = sys_memused();
    EXPECT_EQ(project_init(), 0);
    EXPECT_TRUE(log.contains("[ ERROR ] project_init: the surface shaders failed to load")) << log.text();
    EXPECT_EQ(project_mutex, -1);
    EXPECT_EQ(project_brush, nullptr);
    EXPECT_EQ(sys_memused(), mem);
}

TEST(Project, WaitForBackgroundWorkHasABound)
{
    struct Case {
        const char *what;
        bool busy;
        int clearafterms; // -1: the flag is never cleared
        double limit;
        int result;
    };
    const Case cases[] = {
        {"idle", false, -1, 10.0, 1},
        {"work that ends", true, 50, 30.0, 1},
        {"work that never ends", true, -1, 0.2, 0},
    };
    for (const Case &c : cases) {
        testlog_capture log;
        project_savebusy = c.busy ? 1 : 0;
        std::thread clearer;
        if (c.clearafterms >= 0)
            clearer = std::thread([&] {
                SDL_Delay((Uint32)c.clearafterms);
                project_savebusy = 0;
            });
        EXPECT_EQ(project_waitidle(c.limit), c.result) << c.what;
        if (clearer.joinable())
            clearer.join();
        EXPECT_EQ(log.contains("project_quit: sleeping..."), c.busy) << c.what;
        EXPECT_EQ(log.contains("project_quit: background work still running after"), c.result == 0) << c.what;
        project_savebusy = 0;
    }
}
