// Test helper for the CAM tests: frees every toolpath slot a test claimed,
// whatever way the test ends, so slots never leak from one test to another.
#pragma once
#include "cam/toolpath.h"

#include <gtest/gtest.h>

class ToolpathTest : public testing::Test {
protected:
    void TearDown() override
    {
        for (int i = 0; i < toolpath_maxslots; i++)
            toolpath_free(i);
    }
    static int claim()
    {
        int slot = toolpath_new();
        EXPECT_GE(slot, 0);
        return slot;
    }
};
