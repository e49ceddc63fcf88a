// Tools: the cutting diameter each cutter type derives, the count of
// defined tools and what a change marks, and the library's sort and swap.
#include "cam/tool.h"

#include "cam/cam.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/main.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

class Tools : public testing::Test {
protected:
    void SetUp() override
    {
        project.units = 1;
        cam_settooldefaults();
    }
};

TEST_F(Tools, CuttingDiameterByType)
{
    struct Case {
        int type;
        float d, flutelength, aux;
        float diameter, derivedlength;
    };
    const Case cases[] = {
        {1, 0.25f, 1.0f, 0.0f, 0.25f, 1.0f},
        {3, 0.5f, 1.0f, 90.0f, 0.5f, 0.25f},          // V-bit: flute length from its angle
        {2, 0.125f, 1.0f, 0.0f, 0.125f, 1.0f},        // a taper of 0 degrees is a cylinder
        {4, 0.0625f, 1.0f, 0.0f, 0.125f, 1.0f},       // a tapered ball of 0 degrees is a ball nose
        {4, 0.03125f, 1.0f, 10.0f, 0.405098f, 1.0f},
    };
    for (const Case &c : cases) {
        cam_settool(2, "t", c.type, 1, 2, c.d, c.flutelength, c.aux, 1.5f, 20.0f);
        EXPECT_NEAR(cam_toolparam(2), c.diameter, 1e-6) << c.type << " " << c.aux;
        EXPECT_NEAR(cam_tools[1].flutelength, c.derivedlength, 1e-6);
        EXPECT_EQ(cam_tooltype(2), c.type);
    }
}

// The cone of a tapered ball touches the ball where the ball's surface
// slopes as the cone does; the cone's edge at the flute length is the
// cutting radius.
TEST_F(Tools, TaperedBallEdgeLiesOnTheTangentCone)
{
    for (float r : {0.03125f, 0.0625f, 0.25f, 3.0f})
        for (float degrees : {0.0f, 1.0f, 5.0f, 10.0f, 30.0f, 45.0f}) {
            float length = 8.0f * r;
            cam_settool(1, "ball", 4, 1, 2, r, length, degrees, 30.0f, 20.0f);
            double a = degrees * M_PI / 180.0;
            // Centre (0, r); the outward normal at the tangent point is
            // perpendicular to the cone's direction (sin a, cos a).
            double tx = r * cos(a), tz = r - r * sin(a);
            double ex = cam_toolparam(1) / 2.0 - tx, ez = length - tz;
            double cross = ex * cos(a) - ez * sin(a);
            EXPECT_NEAR(cross, 0.0, 1e-6 * std::max(1.0, (double)length)) << r << " " << degrees;
            // The tangent point is on the ball.
            EXPECT_NEAR(tx * tx + (tz - r) * (tz - r), (double)r * r, 1e-9);
        }
}

TEST_F(Tools, UnknownTypeIsReportedAndKeepsTheDiameter)
{
    cam_settool(3, "flat", 1, 1, 2, 0.375f, 1.0f, 0.0f, 1.5f, 20.0f);
    testlog_capture log;
    cam_settool(3, "odd", 7, 1, 2, 0.5f, 1.0f, 0.0f, 1.5f, 20.0f);
    EXPECT_TRUE(log.contains("cam_settool(3): unknown tool type 7"));
    EXPECT_EQ(cam_toolparam(3), 0.375f);
    EXPECT_EQ(cam_tooltype(3), 7);
}

TEST_F(Tools, CountAndOperationMarks)
{
    EXPECT_EQ(cam_numtools, 0);
    cam_ops[4].type = 10;
    static_cast<projopfields &>(project.ops[2]) = projopfields{};
    project.ops[2].tool = 5;
    project.ops[2].camop = 4;
    project.ops[2].current = 1;

    // Defining the tool marks its operations for generation.
    cam_settool(5, "quarter", 1, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f);
    EXPECT_EQ(cam_numtools, 1);
    EXPECT_EQ(project.ops[2].current, 0u);
    EXPECT_STREQ(project.tools[4].name, "quarter");
    cam_settool(5, "quarter", 1, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f);
    EXPECT_EQ(cam_numtools, 1);

    // Removing it lowers the count and leaves the operation as it was.
    project.ops[2].current = 1;
    cam_settool(5, "None", 0, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f);
    EXPECT_EQ(cam_numtools, 0);
    EXPECT_EQ(project.ops[2].current, 1u);
    EXPECT_EQ(project.ops[2].tool, 5);
    cam_ops[4].type = 0;
    static_cast<projopfields &>(project.ops[2]) = projopfields{};
}

// The main thread waits in cam_settool while a generator reads the tools;
// a quit must end that wait at once, not after the busy limit.
TEST_F(Tools, BusyWaitEndsOnQuitAndKeepsTheTool)
{
    cam_ops[3].generating = 1;
    sys_quit = 1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(cam_settool(2, "late", 1, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f), 0);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sys_quit = 0;
    cam_ops[3].generating = 0;
    EXPECT_LT(took, 1.0) << "the busy limit is " << tool_busylimit << " s";
    EXPECT_EQ(cam_tools[1].type, 0);
    EXPECT_STREQ(project.tools[1].name, "None");
}

TEST_F(Tools, DefaultsFollowTheProjectUnits)
{
    struct Case {
        uint32_t units;
        float length, flutelength, d;
    };
    const Case cases[] = {{1, 1.5f, 1.0f, 0.25f}, {2, 75.0f, 25.0f, 6.0f}, {0, 0.0f, 0.0f, 0.0f}};
    for (const Case &c : cases) {
        project.units = c.units;
        project.tools[6].ops[3] = 2;
        cam_settooldefaults();
        for (const tool &t : cam_tools) {
            EXPECT_EQ(t.type, 0);
            EXPECT_EQ(t.units, (int)c.units);
            EXPECT_EQ(t.length, c.length);
            EXPECT_EQ(t.flutelength, c.flutelength);
            EXPECT_EQ(t.flutediameter, c.d);
            EXPECT_EQ(t.rampangle, 20.0f);
        }
        EXPECT_STREQ(project.tools[6].name, "None");
        EXPECT_EQ(project.tools[6].ops[3], -1);
    }
}

// Library slot values as stored: seven arrays of 256 after the names.
static void lib_set(int slot, int type, float d, float flutelength, float aux, const char *name)
{
    int32_t values[7];
    float f[5] = {1.5f, d, flutelength, aux, 20.0f};
    values[0] = type;
    values[1] = 2;
    memcpy(&values[2], f, sizeof(f));
    for (int v = 0; v < 7; v++)
        memcpy(cfg + cfg_toolvalues + v * 1024 + slot * 4, &values[v], 4);
    snprintf((char *)cfg + cfg_toolnames + slot * cfg_toolnamesize, cfg_toolnamesize, "%s", name);
}

class ToolLibrary : public testing::Test {
protected:
    std::vector<uint8_t> saved;
    void SetUp() override
    {
        saved.assign(cfg + cfg_toollib, cfg + cfg_toollibend);
        memset(cfg + cfg_toollib, 0, cfg_toollibend - cfg_toollib);
        lib_set(3, 1, 0.5f, 1.0f, 0.0f, "half");
        lib_set(7, 3, 0.25f, 0.0f, 60.0f, "vee");
        lib_set(20, 4, 0.0625f, 1.0f, 0.0f, "ball");
        lib_set(40, 2, 0.125f, 1.0f, 2.0f, "taper");
        lib_set(255, 1, 0.125f, 0.5f, 0.0f, "eighth");
        cam_sorttoollib(1, 1);
    }
    void TearDown() override { memcpy(cfg + cfg_toollib, saved.data(), saved.size()); }
    static int filled(int slot)
    {
        int32_t type;
        memcpy(&type, cfg + cfg_toolvalues + slot * 4, 4);
        return type != 0;
    }
};

TEST_F(ToolLibrary, ColumnOneIsSlotOrder)
{
    cam_sorttoollib(1, -1);
    EXPECT_EQ(cam_toollibview[0], 255);
    EXPECT_EQ(cam_toollibview[255], 0);
    cam_sorttoollib(1, 1);
    EXPECT_EQ(cam_toollibview[0], 0);
}

TEST_F(ToolLibrary, SortsFilledSlotsByKeyAndNeverRaisesAnEmptyOne)
{
    struct Case {
        int column, sign;
        std::vector<int> order; // the filled slots, first to last
    };
    // Diameters: half 0.5, vee 0.25, ball 0.125, taper 0.125 + 2 tan(2 deg) = 0.1948, eighth 0.125.
    // Flute lengths: vee 0.125 / tan(30 deg) = 0.2165.
    const Case cases[] = {
        {2, 1, {3, 255, 40, 7, 20}},
        {2, -1, {20, 7, 40, 3, 255}},
        {3, 1, {20, 255, 40, 7, 3}},
        {3, -1, {3, 7, 40, 20, 255}},
        {4, 1, {7, 255, 3, 20, 40}},
    };
    for (const Case &c : cases) {
        cam_sorttoollib(1, 1);
        cam_sorttoollib(c.column, c.sign);
        std::vector<int> order;
        int empty = 0;
        for (int i = 0; i < 256; i++) {
            int slot = cam_toollibview[i];
            if (filled(slot)) {
                EXPECT_FALSE(empty) << "an empty slot ahead of slot " << slot;
                order.push_back(slot);
            } else {
                empty = 1;
            }
        }
        EXPECT_EQ(order, c.order) << c.column << " " << c.sign;
    }
}

TEST_F(ToolLibrary, SwapDownThenUpRestoresEverything)
{
    std::vector<uint8_t> before(cfg + cfg_toollib, cfg + cfg_toollibend);
    cam_swaplibtools(3);
    EXPECT_STREQ((char *)cfg + cfg_toolnames + 4 * cfg_toolnamesize, "half");
    int32_t flutes;
    memcpy(&flutes, cfg + cfg_toolvalues + 1024 + 4 * 4, 4);
    EXPECT_EQ(flutes, 2);
    cam_swaplibtools(3);
    EXPECT_EQ(memcmp(before.data(), cfg + cfg_toollib, before.size()), 0);
    testlog_capture log;
    cam_swaplibtools(255);
    EXPECT_TRUE(log.contains("cam_swaplibtools: no view position 255"));
    EXPECT_EQ(memcmp(before.data(), cfg + cfg_toollib, before.size()), 0);
}
