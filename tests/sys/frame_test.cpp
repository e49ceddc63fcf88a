// The frame's pacing rule, which needs no window: the period from the frame
// rate, the CPU budget and whether the window is active, stretched by the
// smoothed work time of a frame.
#include "sys/frame.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FramePeriod, FollowsRateBudgetAndActivity)
{
    struct Case {
        int framerate;
        float budget;
        int active;
        double frameavg;
        float period;
    };
    const Case cases[] = {
        {60, 0.5f, 1, 0.0, 1.0f / 60.0f},
        {60, 0.5f, 1, 0.008, 1.0f / 60.0f},   // within the budget's share
        {60, 0.5f, 1, 0.03, 0.06f},           // stretched to work / budget
        {60, 1.0f, 1, 0.03, 0.03f},
        {60, 5.0f, 1, 0.03, 0.03f},           // budget held to 1.0
        {60, 0.0f, 1, 0.003, 0.03f},          // budget held to 0.1
        {60, NAN, 1, 0.003, 0.03f},           // a budget that is no number counts as the least
        {1000, 0.5f, 1, 0.0, 1.0f / 240.0f},
        {240, 0.5f, 1, 0.0, 1.0f / 240.0f},
        {10, 0.5f, 1, 0.0, 0.05f},
        {20, 0.5f, 1, 0.0, 0.05f},
        {0, 0.5f, 1, 0.0, 0.05f},             // a missing rate runs slowest, not at infinity
        {-60, 0.5f, 1, 0.0, 0.05f},
        {60, 0.5f, 0, 0.0, 0.05f},            // inactive window
        {240, 1.0f, 0, 0.004, 0.05f},
        {60, 0.5f, 0, 0.01, 0.1f},            // inactive: a 10 percent budget
    };
    for (const Case &c : cases)
        EXPECT_NEAR(sys_frameperiod(c.framerate, c.budget, c.active, c.frameavg), c.period, 1e-6)
            << c.framerate << " Hz, budget " << c.budget << ", active " << c.active << ", work " << c.frameavg;
}
