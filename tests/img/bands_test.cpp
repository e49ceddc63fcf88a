// The row-band split: band counts and row ranges by rule, and running bands
// on the workers, on the caller when none run, and on the caller when the
// queue refuses them.
#include "img/bands.h"

#include "sys/main.h"
#include "testlog.h"
#include "workerpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

TEST(Bands, SplitByRule)
{
    const img_bandrule plusone = img_bandsresample;
    const img_bandrule idlefloor = {img_bandsidle, 0, true, true, 1};
    const img_bandrule idleceil = {img_bandsidle, 0, true, false, 1};
    const img_bandrule fixed64 = {img_bandsfixed, 64, false, false, 0};
    struct Case {
        const char *what;
        img_bandrule rule;
        int idle, row0, row1;
        std::vector<img_bandrange> want;
    };
    const Case cases[] = {
        {"3 rows over 8 bands", plusone, 7, 0, 3, {{0, 1}, {1, 2}, {2, 3}, {3, 3}, {3, 3}, {3, 3}, {3, 3}, {3, 3}}},
        {"no idle worker: one band", plusone, 0, 0, 5, {{0, 5}}},
        {"more pending than workers: one band", plusone, -3, 0, 5, {{0, 5}}},
        {"ceil rows, last band short", plusone, 2, 0, 10, {{0, 4}, {4, 8}, {8, 10}}},
        {"interior rows only", plusone, 1, 1, 9, {{1, 5}, {5, 9}}},
        {"no rows at all", plusone, 3, 1, 1, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}},
        {"idle, at least 1", idlefloor, 0, 0, 4, {{0, 4}}},
        {"floor rows, last takes the rest", idlefloor, 3, 0, 11, {{0, 3}, {3, 6}, {6, 11}}},
        {"capped at the height", idleceil, 8, 0, 3, {{0, 1}, {1, 2}, {2, 3}}},
        {"fixed count ignores the workers", fixed64, 1, 0, 3, std::vector<img_bandrange>(64, {3, 3})},
    };
    for (const Case &c : cases) {
        img_bandrange got[img_maxbands];
        int n = img_bandsplit(c.rule, c.idle, c.row0, c.row1, got);
        ASSERT_EQ(n, (int)c.want.size()) << c.what;
        for (int i = 0; i < n; i++) {
            // The fixed case lists only its count; its first bands hold the rows.
            img_bandrange want = c.want[i];
            if (c.rule.count == img_bandsfixed && i < 3)
                want = {i, i + 1};
            EXPECT_EQ(got[i].row0, want.row0) << c.what << " band " << i;
            EXPECT_EQ(got[i].row1, want.row1) << c.what << " band " << i;
        }
    }
}

struct bt_band {
    std::vector<int> *rows;
    std::atomic<int> *runs;
    SDL_threadID *thread;
    int row0, row1;
    int done;
};

static void job_markrows(void *arg)
{
    bt_band *b = (bt_band *)arg;
    for (int y = b->row0; y < b->row1; y++)
        (*b->rows)[y]++;
    b->runs->fetch_add(1);
    *b->thread = SDL_ThreadID();
    img_banddone(b->done);
}

// Runs the 3-rows-over-8-bands split; returns how often the body ran and
// fills the thread each band ran on (0 for bands that never ran).
static int bt_run(std::vector<int> &rows, SDL_threadID *threads, int &count)
{
    img_bandrange ranges[img_maxbands];
    count = img_bandsplit(img_bandsresample, 7, 0, 3, ranges);
    std::atomic<int> runs{0};
    bt_band bands[img_maxbands];
    for (int i = 0; i < count; i++) {
        threads[i] = 0;
        bands[i] = {&rows, &runs, &threads[i], ranges[i].row0, ranges[i].row1, 0};
    }
    img_runbands(img_bandsresample, "bt%02d", job_markrows, bands, count);
    for (int i = 0; i < count; i++)
        EXPECT_EQ(bands[i].done, 1) << i;
    return runs.load();
}

TEST(Bands, WithoutWorkersEverythingRunsOnTheCaller)
{
    ASSERT_EQ(sys_numthreads, 0);
    std::vector<int> rows(3, 0);
    SDL_threadID threads[img_maxbands];
    int count;
    EXPECT_EQ(bt_run(rows, threads, count), 3);
    EXPECT_EQ(rows, std::vector<int>({1, 1, 1}));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(threads[i], SDL_ThreadID());
}

class BandsPool : public WorkerPoolTest<2> {};

TEST_F(BandsPool, EmptyBandsAreMarkedDoneAndNeverRun)
{
    std::vector<int> rows(3, 0);
    SDL_threadID threads[img_maxbands];
    int count;
    EXPECT_EQ(bt_run(rows, threads, count), 3);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(rows, std::vector<int>({1, 1, 1}));
    for (int i = 3; i < count; i++)
        EXPECT_EQ(threads[i], 0u) << i; // the caller's own band 7 is among them
    EXPECT_EQ(sys_jobspending.load(), 0);
}

TEST_F(BandsPool, RefusedBandsRunOnTheCaller)
{
    // While quitting the queue refuses every job.
    sys_quit = 1;
    std::vector<int> rows(3, 0);
    SDL_threadID threads[img_maxbands];
    int count;
    int runs = bt_run(rows, threads, count);
    sys_quit = 0;
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(rows, std::vector<int>({1, 1, 1}));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(threads[i], SDL_ThreadID()) << i;
}

struct bt_sumband {
    const std::vector<int> *values;
    long long *sums; // one per row
    int row0, row1;
    int done;
};

static void job_rowsum(void *arg)
{
    bt_sumband *b = (bt_sumband *)arg;
    for (int y = b->row0; y < b->row1; y++) {
        long long s = 0;
        for (int x = 0; x < 1000; x++)
            s += (*b->values)[(size_t)y * 1000 + x];
        b->sums[y] = s;
    }
    img_banddone(b->done);
}

TEST_F(BandsPool, EveryRowIsComputedOnceByItsBand)
{
    const int h = 97;
    std::vector<int> values((size_t)h * 1000);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = (int)(i % 1000);
    std::vector<long long> sums(h, -1);
    img_bands<bt_sumband>(img_bandsresample, 0, h, "sum%02d", job_rowsum,
                          [&](const img_bandrange &) { return bt_sumband{&values, sums.data(), 0, 0, 0}; });
    for (int y = 0; y < h; y++)
        EXPECT_EQ(sums[y], 499500) << y;
}

// A band whose flag never comes is reported and given up after the bound; a
// finished one is taken at once.
TEST(Bands, WaitGivesUpAfterItsBound)
{
    testlog_capture log;
    struct Case {
        int done;
        double limit;
        int result;
    };
    const Case cases[] = {{1, 0.0, 1}, {0, 0.05, 0}};
    for (const Case &c : cases) {
        int done = c.done;
        EXPECT_EQ(img_bandwait(done, 1, c.limit), c.result) << c.done;
    }
    EXPECT_EQ(log.count("[ ERROR ] img_bandwait: band not done after"), 1);
}
