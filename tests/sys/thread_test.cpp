// The worker pool, the job queue and the mutex table.
#include "sys/thread.h"

#include "sys/main.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <atomic>

static std::atomic<int> job_runs{0};

static void job_count(void *)
{
    job_runs.fetch_add(1);
}

static void job_slowcount(void *)
{
    SDL_Delay(2);
    job_runs.fetch_add(1);
}

// A pool of workers for one test; the test may leave it unstarted.
class Pool : public testing::Test {
protected:
    void SetUp() override
    {
        job_runs = 0;
        sys_threadsinit();
    }
    void TearDown() override
    {
        sys_threadsquit();
        sys_threadsdone();
        sys_quit = 0;
    }
};

TEST(Workers, CountIsClampedTo2Through64)
{
    struct Case {
        int cpus, workers;
    };
    const Case cases[] = {{0, 2}, {1, 2}, {2, 2}, {8, 8}, {64, 64}, {80, 64}, {128, 64}};
    for (const Case &c : cases)
        EXPECT_EQ(sys_workersfor(c.cpus), c.workers) << c.cpus;
}

TEST_F(Pool, RunsManyShortJobsReusingRingSlots)
{
    sys_threadsstart(4);
    for (int i = 0; i < 1500; i++) {
        // Keep fewer than 1,024 outstanding, as callers must.
        while (sys_jobspending.load() >= 1000)
            SDL_Delay(0);
        ASSERT_GE(sys_threadjob("count", job_count, nullptr), 0) << i;
    }
    sys_threadsquit();
    EXPECT_EQ(job_runs.load(), 1500);
    EXPECT_EQ(sys_jobspending.load(), 0);
}

TEST_F(Pool, JobsQueuedBeforeQuitStillRun)
{
    sys_threadsstart(2);
    for (int i = 0; i < 40; i++)
        ASSERT_GE(sys_threadjob("slow", job_slowcount, nullptr), 0);
    sys_threadsquit();
    EXPECT_EQ(job_runs.load(), 40);
}

TEST_F(Pool, FullTableReportsEveryRecordAndRefuses)
{
    // No workers yet: every queued job stays queued.
    for (int i = 0; i < sys_maxjobs; i++)
        ASSERT_GE(sys_threadjob("held", job_count, nullptr), 0) << i;
    {
        testlog_capture cap;
        EXPECT_EQ(sys_threadjob("one too many", job_count, nullptr), -1);
        EXPECT_EQ(cap.count("job["), sys_maxjobs);
        EXPECT_TRUE(cap.contains("job[0]:held thrd:NULL spawn:")) << "every record is held";
        EXPECT_TRUE(cap.contains("job[1023]:held thrd:NULL"));
        EXPECT_TRUE(cap.contains("[ ERROR ] sys_threadjob: threaded jobs overflow!"));
    }
    sys_threadsstart(2);
    sys_threadsquit();
    EXPECT_EQ(job_runs.load(), sys_maxjobs);
}

TEST_F(Pool, RefusedJobRunsOnCallerWhenAsked)
{
    sys_quit = 1;
    EXPECT_EQ(sys_threadjob("late", job_count, nullptr), -1);
    EXPECT_EQ(job_runs.load(), 0);
    EXPECT_EQ(sys_threadjobrun("late", job_count, nullptr), -1);
    EXPECT_EQ(job_runs.load(), 1);
}

// Jobs that hold their worker until the test opens the gate, or at most
// 30 s, so that a failing test still ends.
static std::atomic<bool> job_gate{false};

static void job_waitgate(void *)
{
    for (int i = 0; i < 3000 && !job_gate.load(); i++)
        SDL_Delay(10);
    job_runs.fetch_add(1);
}

// Waits up to 30 s for the pending count to reach want.
static bool pool_pendingreaches(int want)
{
    for (int i = 0; i < 3000 && sys_jobspending.load() != want; i++)
        SDL_Delay(10);
    return sys_jobspending.load() == want;
}

TEST_F(Pool, IdleWorkersFollowPendingJobs)
{
    job_gate = false;
    sys_threadsstart(3);
    EXPECT_EQ(sys_idleworkers(), 3);
    // Held jobs, running or queued, each take one worker off the idle count,
    // which never goes below 0.
    const int want[] = {2, 1, 0, 0};
    for (int i = 0; i < 4; i++) {
        ASSERT_GE(sys_threadjob("held", job_waitgate, nullptr), 0) << i;
        EXPECT_EQ(sys_idleworkers(), want[i]) << (i + 1) << " held jobs";
    }
    job_gate = true;
    ASSERT_TRUE(pool_pendingreaches(0));
    EXPECT_EQ(job_runs.load(), 4);
    EXPECT_EQ(sys_idleworkers(), 3);
    sys_threadsquit();
    EXPECT_EQ(sys_idleworkers(), 0);
}

// Bursts queued while every worker sleeps, then drained: each burst has to
// wake the sleepers. A queuing call that blocks, or a wake-up that sleeps
// through its jobs for good, ends the loop at its bound.
TEST_F(Pool, BurstsWakeSleepingWorkers)
{
    sys_threadsstart(4);
    for (int round = 0; round < 300; round++) {
        for (int i = 0; i < 1 + round % 6; i++)
            ASSERT_GE(sys_threadjob("burst", job_count, nullptr), 0) << round;
        ASSERT_TRUE(pool_pendingreaches(0)) << round;
        if (round % 50 == 0)
            SDL_Delay(150); // past the idle time-out: all four asleep again
    }
    sys_threadsquit();
    int want = 0;
    for (int round = 0; round < 300; round++)
        want += 1 + round % 6;
    EXPECT_EQ(job_runs.load(), want);
}

TEST_F(Pool, QuitLogsEveryWorker)
{
    testlog_capture cap;
    sys_threadsstart(2);
    sys_threadsquit();
    EXPECT_TRUE(cap.contains("starting thread00..."));
    EXPECT_TRUE(cap.contains("sys_threadsquit: killing worker threads..."));
    EXPECT_TRUE(cap.contains("thread[1] job[-1]"));
    EXPECT_TRUE(cap.contains("thread01 returned"));
    EXPECT_EQ(cap.count(" returning..."), 2);
}

TEST_F(Pool, MutexIdsAreFirstFreeSlots)
{
    int a = sys_createmutex();
    int b = sys_createmutex();
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    sys_destroymutex(a);
    EXPECT_EQ(sys_createmutex(), 0);
    for (int i = 2; i < sys_maxmutexes; i++)
        ASSERT_EQ(sys_createmutex(), i);
    EXPECT_EQ(sys_createmutex(), -1);
    // -1 and empty slots are "no mutex".
    sys_lockmutex(-1);
    sys_unlockmutex(-1);
    sys_destroymutex(-1);
    sys_lockmutex(sys_maxmutexes);
    sys_destroymutexes();
    EXPECT_EQ(sys_createmutex(), 0);
    sys_destroymutexes();
}

static int guarded_total = 0;

static void job_guardedadd(void *arg)
{
    int id = *(int *)arg;
    for (int i = 0; i < 1000; i++) {
        sys_mutexguard g(id);
        guarded_total++;
    }
}

TEST_F(Pool, TableMutexSerialisesWorkers)
{
    int id = sys_createmutex();
    guarded_total = 0;
    sys_threadsstart(4);
    for (int i = 0; i < 8; i++)
        sys_threadjob("add", job_guardedadd, &id);
    sys_threadsquit();
    EXPECT_EQ(guarded_total, 8000);
    sys_destroymutexes();
}
