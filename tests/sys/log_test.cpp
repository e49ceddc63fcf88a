// Log lines, the console ring, status de-duplication and the error throttle.
#include "sys/log.h"

#include "sys/config.h"
#include "sys/frame.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "testlog.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// A fresh console ring for each test.
class Console : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(con_alloc()); }
    void TearDown() override { con_free(); }
    static std::string line(uint32_t n) { return sys_console[n % sys_consolelines]; }
};

TEST_F(Console, SplitsAtNewlines)
{
    struct Case {
        const char *message;
        int lines;
    };
    const Case cases[] = {
        {"alpha\nbeta", 2},
        {"alpha\n\n\nbeta", 2},
        {"alpha\nbeta\n", 2},
        {"alpha", 1},
    };
    for (const Case &c : cases) {
        uint32_t before = sys_consolecount;
        sys_log("%s", c.message);
        ASSERT_EQ(sys_consolecount - before, (uint32_t)c.lines) << c.message;
        std::string first = line(before);
        // The first piece carries the time stamp and a blank.
        EXPECT_EQ(first.substr(first.find(' ') + 1), "alpha") << c.message;
        if (c.lines == 2)
            EXPECT_EQ(line(before + 1), "beta") << c.message;
    }
}

TEST_F(Console, WrapsAfter4096Lines)
{
    uint32_t start = sys_consolecount;
    sys_log("first");
    for (int i = 1; i < sys_consolelines; i++)
        sys_log("filler %d", i);
    EXPECT_NE(line(start).find("first"), std::string::npos);
    sys_log("replacement");
    EXPECT_NE(line(start).find("replacement"), std::string::npos);
    EXPECT_NE(line(start + 1).find("filler 1"), std::string::npos);
}

TEST(Log, LineStartsWithTimeStamp)
{
    testlog_capture cap;
    sys_log("hello %d", 42);
    std::string t = cap.text();
    double stamp = 0;
    char word[16] = {};
    int value = 0;
    ASSERT_EQ(sscanf(t.c_str(), "%lf %15s %d", &stamp, word, &value), 3) << t;
    EXPECT_STREQ(word, "hello");
    EXPECT_EQ(value, 42);
    EXPECT_NE(t.find('.'), std::string::npos);
}

TEST(Log, OverlongLineIsCutNotOverrun)
{
    testlog_capture cap;
    std::string big(5000, 'k');
    sys_log("%s", big.c_str());
    std::string t = cap.text();
    EXPECT_EQ(t.size(), (size_t)sys_loglinemax); // 2,047 characters and the newline
}

TEST(Log, DebugLogFollowsFlag)
{
    testlog_capture cap;
    int32_t saved = cfg_geti(cfg_debuginfo);
    cfg_seti(cfg_debuginfo, 0);
    sys_debuglog("hidden detail");
    cfg_seti(cfg_debuginfo, 1);
    sys_debuglog("shown detail");
    cfg_seti(cfg_debuginfo, saved);
    EXPECT_FALSE(cap.contains("hidden detail"));
    EXPECT_TRUE(cap.contains(">> shown detail"));
}

TEST(Log, StatusLogsOnlyChanges)
{
    testlog_capture cap;
    sys_status("...toolpath calculated (%.2fs)", 1.5);
    float first = sys_statustime;
    SDL_Delay(2);
    sys_status("...toolpath calculated (%.2fs)", 1.5);
    EXPECT_EQ(cap.count("[ STATUS ] ...toolpath calculated (1.50s)"), 1);
    EXPECT_GT(sys_statustime, first);
    EXPECT_STREQ(sys_statustext, "...toolpath calculated (1.50s)");
    sys_status("calculating");
    EXPECT_EQ(cap.count("[ STATUS ]"), 2);
}

TEST(Log, ErrorBoxAtMostOncePerSecond)
{
    testlog_capture cap;
    double saved = sys_time;
    struct Step {
        double time;
        bool box;
    };
    const Step steps[] = {{100.0, true}, {100.5, false}, {101.7, true}, {101.7, false}};
    for (const Step &s : steps) {
        int before = cap.count("sys_messagebox \"Error\"");
        sys_time = s.time;
        sys_error("spindle %s", "stalled");
        EXPECT_EQ(cap.count("sys_messagebox \"Error\"") - before, s.box ? 1 : 0) << s.time;
    }
    sys_time = saved;
    EXPECT_EQ(cap.count("[ ERROR ] spindle stalled"), 4);
}

static int log_drainnotices()
{
    sys_notice n;
    int count = 0;
    while (sys_takenotice(&n))
        count++;
    return count;
}

// A box is only opened by the main thread with no lock held; everywhere else
// the error waits as a notice for the next frame.
TEST(Log, ErrorBoxOnlyOnTheMainThreadWithoutLocks)
{
    testlog_capture cap;
    double saved = sys_time;
    log_drainnotices();
    int lock = sys_createmutex();
    ASSERT_GE(lock, 0);
    struct Case {
        const char *where;
        bool worker, locked, boxnow;
    };
    const Case cases[] = {
        {"another thread", true, false, false},
        {"main thread holding a lock", false, true, false},
        {"main thread", false, false, true},
    };
    double t = 200.0;
    for (const Case &c : cases) {
        sys_time = t += 5.0;
        int boxes = cap.count("sys_messagebox \"Error\"");
        auto report = [&] {
            sys_mutexguard g(c.locked ? lock : -1);
            sys_error("probe lost (%s)", c.where);
        };
        if (c.worker)
            std::thread(report).join();
        else
            report();
        EXPECT_EQ(cap.count("sys_messagebox \"Error\"") - boxes, c.boxnow ? 1 : 0) << c.where;
        sys_notice n{};
        EXPECT_EQ(sys_takenotice(&n), c.boxnow ? 0 : 1) << c.where;
        if (!c.boxnow) {
            EXPECT_STREQ(n.caption, "Error") << c.where;
            EXPECT_EQ(n.icon, 6) << c.where;
            EXPECT_EQ(std::string(n.text), std::string("probe lost (") + c.where + ")");
        }
    }
    EXPECT_EQ(sys_heldmutexes(), 0);
    sys_destroymutex(lock);
    sys_time = saved;
}

// Errors of one frame on many threads at once still get one box between
// them: the throttle's test and update cannot interleave.
TEST(Log, RacingErrorsShareOneBox)
{
    testlog_capture cap;
    double saved = sys_time;
    log_drainnotices();
    constexpr int rounds = 40, threads = 8;
    int extra = 0;
    for (int r = 0; r < rounds; r++) {
        sys_time = 1000.0 + 2.0 * r;
        std::atomic<int> ready{0};
        std::vector<std::thread> pool;
        for (int i = 0; i < threads; i++)
            pool.emplace_back([&] {
                ready.fetch_add(1);
                while (ready.load() < threads)
                    std::this_thread::yield();
                sys_error("coolant low");
            });
        for (std::thread &t : pool)
            t.join();
        extra += log_drainnotices() - 1;
    }
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(cap.count("[ ERROR ] coolant low"), rounds * threads);
    EXPECT_EQ(cap.count("sys_messagebox"), 0);
    sys_time = saved;
}

TEST(Log, MissingLogFileGoesToStandardOutput)
{
    struct Case {
        int slot;
        const char *expect;
    };
    const Case cases[] = {
        {-1, "!!! file_print: invalid index -1 ("},
        {64, "!!! file_print: invalid index 64 ("},
        {5, "!!! file_print: index 5 not open ("},
    };
    bool owntable = !sys_files;
    if (owntable)
        file_tablealloc();
    int saved = sys_logfile;
    for (const Case &c : cases) {
        sys_logfile = c.slot;
        testing::internal::CaptureStdout();
        sys_log("lost line");
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(c.expect), std::string::npos) << out;
        EXPECT_NE(out.find("lost line)"), std::string::npos) << out;
    }
    sys_logfile = saved;
    if (owntable)
        file_tablefree();
}
