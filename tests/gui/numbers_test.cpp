// Decimal places for display and the step ladder: the documented cases, and
// an independent check that a value written with d decimals asks for d.
#include "gui/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

struct unitcase {
    int unit;
    float value;
    int decimals;
};

TEST(Numbers, UnitDecimalsCases)
{
    const unitcase cases[] = {
        {0, 2.5f, 0},    {0, 0.125f, 0},  {0, 1234.5678f, 0}, {1, 2.5f, 1},    {1, 1.0f, 1},
        {1, 0.125f, 3},  {1, 0.1234f, 4}, {1, 0.00005f, 1},   {1, -0.125f, 3}, {2, 0.125f, 2},
        {2, 2.5f, 1},    {2, 0.0f, 1},    {1, 0.12345f, 4},
    };
    for (const unitcase &c : cases)
        EXPECT_EQ(gui_unitdecimals(c.unit, c.value), c.decimals) << "unit " << c.unit << " value " << c.value;
}

TEST(Numbers, DecimalsRoundsToThousandths)
{
    const std::pair<float, int> cases[] = {{0.1234f, 3}, {2.5f, 1}, {2.0f, 1}, {0.05f, 2}, {-0.375f, 3}, {0.0004f, 1}};
    for (auto [value, decimals] : cases)
        EXPECT_EQ(gui_decimals(value), decimals) << value;
}

// A far value must neither overflow the floor nor ask for more than six.
TEST(Numbers, HugeValuesStayInRange)
{
    for (float v : {3e9f, -3e9f, 1e30f, 123456789.0f}) {
        int d = gui_decimals(v);
        EXPECT_GE(d, 1);
        EXPECT_LE(d, 6);
        EXPECT_LE(gui_unitdecimals(1, v), 4);
    }
}

TEST(Numbers, NiceStepLadder)
{
    const float rungs[] = {1.0f, 1.25f, 2.0f, 2.5f, 5.0f, 10.0f};
    const float up[] = {1.25f, 2.0f, 2.5f, 5.0f, 10.0f, 10.0f};
    const float down[] = {1.0f, 1.0f, 1.25f, 2.0f, 2.5f, 5.0f};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(gui_nicestep(rungs[i], 1), up[i]) << rungs[i];
        EXPECT_EQ(gui_nicestep(rungs[i], 0), down[i]) << rungs[i];
        EXPECT_EQ(gui_nicestep(rungs[i] + 0.05f, 1), up[i]) << "near " << rungs[i];
    }
    for (float v : {3.0f, 0.5f, 20.0f, 7.5f}) {
        EXPECT_EQ(gui_nicestep(v, 1), 2.0f) << v;
        EXPECT_EQ(gui_nicestep(v, 0), 2.0f) << v;
    }
}

// k x 10^-d with k of up to six digits not ending in 0, built from its
// decimal text the way a field value is read: it asks for max(1, d)
// places in inches (up to 4) and millimetres (up to 2). Values whose float
// spacing is coarser than the unit's rounding step (inches from 1024 up)
// cannot carry their written decimals and are left out.
TEST(Numbers, WrittenDecimalsAreFound)
{
    const int most[] = {0, 4, 2};
    const float steps[] = {1.0f, 0.0001f, 0.01f};
    const int ks[] = {1, 3, 7, 9, 11, 25, 99, 101, 125, 333, 999, 1234, 4999, 12345, 99999, 123457, 999999, 500001};
    for (int unit = 1; unit <= 2; unit++) {
        for (int d = 0; d <= most[unit]; d++) {
            for (int k : ks) {
                char text[32];
                snprintf(text, sizeof(text), "%de-%d", k, d);
                float v = strtof(text, nullptr);
                if (std::nextafter(v, INFINITY) - v > steps[unit])
                    continue;
                int want = d < 1 ? 1 : d;
                EXPECT_EQ(gui_unitdecimals(unit, v), want) << "unit " << unit << " " << text;
                EXPECT_EQ(gui_unitdecimals(unit, -v), want) << "unit " << unit << " -" << text;
            }
        }
    }
}

} // namespace
