// The start-up convolution measurement, with a clock and routines the test
// drives: each fake run costs a fixed time per pixel operation.
#include "img/convobench.h"

#include "img/image.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "testlog.h"

#include <gtest/gtest.h>

static double bench_now = 0.0;
static double bench_secondsperop = 0.0;
static int bench_runs = 0;

static double bench_clock()
{
    return bench_now;
}

static int bench_routine(image *out, const image *img, const image *kernel, int, float, float, float)
{
    double n = out->width;
    EXPECT_EQ(img->width, out->width);
    EXPECT_EQ(kernel->width, out->width);
    bench_now += n * n * n * n * bench_secondsperop;
    bench_runs++;
    return 0;
}

struct ConvoBench : testing::Test {
    double (*savedclock)() = sys_clock;
    void SetUp() override
    {
        sys_clock = bench_clock;
        bench_runs = 0;
    }
    void TearDown() override { sys_clock = savedclock; }
};

// A routine of 1 ns per operation passes 0.05 s a run at 96 px (85M
// operations); the speed is then 2^20 ns per mega-operation. The first,
// untimed run is not logged.
TEST_F(ConvoBench, StopsAtTheFirstSizeOverTheLimit)
{
    bench_secondsperop = 1e-9;
    testlog_capture log;
    double speed = img_measureconvo(bench_routine);
    EXPECT_NEAR(speed, 1048576e-9, 1e-9);
    EXPECT_EQ(bench_runs, 1 + 6 * 3);
    EXPECT_TRUE(log.contains("...0.0001s average elapsed (16px)"));
    EXPECT_TRUE(log.contains("...0.0849s average elapsed (96px)"));
    EXPECT_FALSE(log.contains("(112px)"));
}

// A clock that never moves cannot end the measurement by time: the size is
// bounded instead.
TEST_F(ConvoBench, StoppedClockEndsAtTheLargestSize)
{
    bench_secondsperop = 0.0;
    testlog_capture log;
    EXPECT_EQ(img_measureconvo(bench_routine), 0.0);
    EXPECT_TRUE(log.contains("(1024px)"));
    EXPECT_FALSE(log.contains("(1040px)"));
}

TEST(ConvoChoice, SlowerGpuTurnsTheGpuPathOff)
{
    struct Case {
        int configured;
        double cpu, gpu;
        int kept;
    };
    const Case cases[] = {
        {1, 0.002, 0.004, 0}, // slower GPU
        {1, 0.004, 0.002, 1}, // faster GPU keeps the setting
        {0, 0.004, 0.002, 0}, // ...which may be off
        {1, 0.002, 0.002, 1}, // equal is not slower
        {1, 0.002, -1.0, 0},  // a GPU that could not be measured
    };
    int saved = cfg_geti(cfg_gpuconvo);
    for (const Case &c : cases) {
        cfg_seti(cfg_gpuconvo, c.configured);
        img_choosegpuconvo(c.cpu, c.gpu);
        EXPECT_EQ(cfg_geti(cfg_gpuconvo), c.kept) << c.cpu << " " << c.gpu;
    }
    cfg_seti(cfg_gpuconvo, saved);
}
