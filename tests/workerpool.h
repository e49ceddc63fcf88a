// Test helper: a suite whose tests share a pool of worker threads, started
// before the first test and joined after the last, as the program's start-up
// and shutdown do, so that banded work really runs on workers. A pool of 0
// starts nothing.
#pragma once
#include "sys/thread.h"

#include <gtest/gtest.h>

template <int workers> class WorkerPoolTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if constexpr (workers > 0) {
            sys_threadsinit();
            sys_threadsstart(workers);
        }
    }
    static void TearDownTestSuite()
    {
        if constexpr (workers > 0) {
            sys_threadsquit();
            sys_threadsdone();
        }
    }
};
