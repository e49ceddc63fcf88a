// Downloads against a small HTTP server that the test runs on 127.0.0.1: a
// whole body with its buffer growth, failures of every kind with their
// callback and caption, the four-slot limit, refused URLs and quitting.
#include "sys/download.h"

#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "httpserver.h"
#include "testlog.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

struct testresult {
    int32_t id, size, capacity;
    std::vector<uint8_t> bytes;
};
static std::vector<testresult> results;

static void testcallback(int32_t id, int32_t size, const uint8_t *buffer)
{
    int32_t capacity = 0;
    for (const sys_downloadslot &s : sys_downloads)
        if (s.url[0] && s.id == id)
            capacity = s.capacity;
    results.push_back({id, size, capacity, std::vector<uint8_t>(buffer, buffer + size)});
}

// Pumps as the frame loop does until no download is active; false when
// that takes longer than the bound.
static bool testpumpall(double seconds = 20.0)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (sys_downloadactive > 0) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        sys_downloadpump();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

static bool testslotsfree()
{
    for (const sys_downloadslot &s : sys_downloads)
        if (s.url[0] || s.buffer || s.curl)
            return false;
    return true;
}

class Downloads : public testing::Test {
protected:
    testserver server;

    void SetUp() override
    {
        // Nothing may go through a proxy: every request stays on 127.0.0.1.
        for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        results.clear();
        ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
        sys_downloadinit();
        sys_threadsinit();
        sys_threadsstart(2);
        ASSERT_TRUE(server.start());
    }
    void TearDown() override
    {
        server.release = true;
        server.stop();
        sys_threadsquit();
        sys_threadsdone();
        sys_downloadquit();
        sys_quit = 0;
        sys_downloadmaxbytes = 256 << 20;
        sys_downloadstallseconds = 30;
        curl_global_cleanup();
    }
};

TEST_F(Downloads, BodyArrivesWholeWithGrowthLines)
{
    testlog_capture cap;
    uint64_t before = sys_memtotal;
    ASSERT_EQ(sys_download(7, server.url("/body/100000").c_str(), testcallback, "Download Failed", "x", 5), 0);
    ASSERT_TRUE(testpumpall());
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].id, 7);
    ASSERT_EQ(results[0].size, 100000);
    EXPECT_EQ(results[0].capacity, 131072);
    for (int i = 0; i < 100000; i++)
        ASSERT_EQ(results[0].bytes[i], testbyte(i)) << i;
    EXPECT_EQ(cap.count("realloc... 32768->65536"), 1);
    EXPECT_EQ(cap.count("realloc... 65536->131072"), 1);
    EXPECT_EQ(cap.count("realloc... "), 2);
    EXPECT_TRUE(cap.contains("downloading 100000..."));
    EXPECT_TRUE(cap.contains("...downloaded 100000, 100000 bytes (ID:07 "));
    EXPECT_FALSE(cap.contains("sys_messagebox"));
    EXPECT_TRUE(testslotsfree());
    EXPECT_EQ(sys_memtotal, before);
}

TEST_F(Downloads, FailuresRunTheCallbackAndShowTheirCaption)
{
    sys_downloadmaxbytes = 65536;
    sys_downloadstallseconds = 1;
    testclosedport closed;
    ASSERT_GT(closed.port, 0);
    std::string refused = "http://127.0.0.1:" + std::to_string(closed.port) + "/index.dat";
    struct Case {
        std::string url;
        const char *caption; // null: no box
        std::string logged;
        int minsize, maxsize;
    };
    const Case cases[] = {
        {server.url("/missing"), "Not Found", "...download failed: HTTP 404 (ID:03: missing)", 0, 8},
        {server.url("/missing"), nullptr, "...download failed: HTTP 404 (ID:03: missing)", 0, 8},
        {server.url("/moved"), "Moved", "...download failed: HTTP 302 (ID:03: moved)", 0, 5},
        {refused, "Refused", std::string("...download failed: ") + curl_easy_strerror(CURLE_COULDNT_CONNECT), 0, 0},
        {server.url("/stall"), "Stalled", std::string("...download failed: ") + curl_easy_strerror(CURLE_OPERATION_TIMEDOUT),
         0, 0},
        {server.url("/body/200000"), "Too Large", "sys_downloadwrite: ID:03 exceeds 65536 bytes, transfer stopped", 0,
         65536},
    };
    for (const Case &c : cases) {
        testlog_capture cap;
        results.clear();
        uint64_t before = sys_memtotal;
        ASSERT_GE(sys_download(3, c.url.c_str(), testcallback, c.caption, c.caption ? "try later" : nullptr, 5), 0)
            << c.url;
        ASSERT_TRUE(testpumpall()) << c.url;
        ASSERT_EQ(results.size(), 1u) << c.url;
        EXPECT_GE(results[0].size, c.minsize) << c.url;
        EXPECT_LE(results[0].size, c.maxsize) << c.url;
        EXPECT_TRUE(cap.contains(c.logged)) << c.url << "\n" << cap.text();
        EXPECT_FALSE(cap.contains("...downloaded")) << c.url;
        if (c.caption)
            EXPECT_EQ(cap.count(std::string("sys_messagebox \"") + c.caption + "\""), 1) << c.url;
        else
            EXPECT_FALSE(cap.contains("sys_messagebox")) << c.url;
        EXPECT_TRUE(testslotsfree()) << c.url;
        EXPECT_EQ(sys_memtotal, before) << c.url;
    }
}

TEST_F(Downloads, FifthConcurrentDownloadIsRefusedAndSlotsAreReused)
{
    for (int i = 0; i < sys_maxdownloads; i++)
        ASSERT_EQ(sys_download(i, server.url("/hold").c_str(), testcallback, nullptr, nullptr, 5), i);
    EXPECT_EQ(sys_download(4, server.url("/body/10").c_str(), testcallback, nullptr, nullptr, 5), -1);
    EXPECT_EQ(sys_downloadactive.load(), 4);
    server.release = true;
    ASSERT_TRUE(testpumpall());
    ASSERT_EQ(results.size(), 4u);
    for (const testresult &r : results)
        EXPECT_EQ(r.size, 1000) << r.id;
    EXPECT_EQ(sys_download(5, server.url("/body/10").c_str(), testcallback, nullptr, nullptr, 5), 0);
    ASSERT_TRUE(testpumpall());
    EXPECT_EQ(results.size(), 5u);
}

TEST_F(Downloads, RefusesAddressesItMustNotFetch)
{
    testlog_capture cap;
    const char *cases[] = {"file:///etc/hostname", "ftp://127.0.0.1/index.dat", "gopher://127.0.0.1/", "",
                           "127.0.0.1/index.dat", "httpx://127.0.0.1/"};
    for (const char *url : cases)
        EXPECT_EQ(sys_download(1, url, testcallback, "Failed", "text", 5), -1) << url;
    EXPECT_EQ(sys_download(1, nullptr, testcallback, nullptr, nullptr, 5), -1);
    std::string longurl = server.url("/") + std::string(300, 'a');
    EXPECT_EQ(sys_download(1, longurl.c_str(), testcallback, nullptr, nullptr, 5), -1);
    EXPECT_TRUE(cap.contains("sys_download: URL of " + std::to_string(longurl.size()) + " characters is too long"));
    EXPECT_EQ(cap.count("only http and https are fetched"), 7);
    EXPECT_FALSE(cap.contains("sys_messagebox"));
    sys_downloadready = 0;
    EXPECT_EQ(sys_download(1, server.url("/body/10").c_str(), testcallback, nullptr, nullptr, 5), -1);
    EXPECT_EQ(sys_downloadactive.load(), 0);
    EXPECT_TRUE(testslotsfree());
    EXPECT_TRUE(results.empty());
}

TEST_F(Downloads, RefusedJobFreesItsSlot)
{
    testlog_capture cap;
    uint64_t before = sys_memtotal;
    sys_quit = 1; // the queue refuses every job from now on
    EXPECT_EQ(sys_download(1, server.url("/body/10").c_str(), testcallback, nullptr, nullptr, 5), -1);
    EXPECT_TRUE(cap.contains("sys_download: job refused"));
    EXPECT_EQ(sys_downloadactive.load(), 0);
    EXPECT_TRUE(testslotsfree());
    EXPECT_EQ(sys_memtotal, before);
}

TEST_F(Downloads, QuitDuringTransfersCallsNothingBackAndLeaksNothing)
{
    testlog_capture cap;
    uint64_t before = sys_memtotal;
    // Two transfers run on the two workers, two wait in the queue.
    for (int i = 0; i < sys_maxdownloads; i++)
        ASSERT_EQ(sys_download(i, server.url("/hold").c_str(), testcallback, "Failed", "text", 5), i);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.holding < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.holding.load(), 2);
    sys_quit = 1;
    // Shutdown order: join the workers, then pump until nothing is active.
    sys_threadsquit();
    sys_downloadquit();
    EXPECT_EQ(sys_downloadactive.load(), 0);
    EXPECT_EQ(sys_downloadready, 0);
    EXPECT_TRUE(results.empty());
    EXPECT_FALSE(cap.contains("sys_messagebox"));
    EXPECT_FALSE(cap.contains("...downloaded"));
    // The two held transfers receive nothing more: only the quit check ends them.
    EXPECT_GE(cap.count(curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK)), 2);
    EXPECT_TRUE(testslotsfree());
    EXPECT_EQ(sys_memtotal, before);
}
