// The frame pass over scripted frames: the console toggle and its scroll
// bounds, the guide line's fade, the end of relative mode, and the upload
// start that frees its buffers whatever becomes of the request.
#include "guiharness.h"
#include "online/upload.h"
#include "sys/download.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <curl/curl.h>

#include <algorithm>

namespace {

struct FrameTest : testing::Test {
    void SetUp() override { harness_start(); }
    void TearDown() override { harness_stop(); }
};

TEST_F(FrameTest, F1HeldTogglesConsoleOnce)
{
    harness_press(57);
    harness_frames(5);
    EXPECT_EQ(gui_consoleopen, 1);
    harness_release(57);
    harness_frame();
    harness_press(57);
    harness_frame();
    EXPECT_EQ(gui_consoleopen, 0);
}

TEST_F(FrameTest, ConsoleScrollStaysInBoundsOnAFullRing)
{
    ASSERT_EQ(con_alloc(), 1);
    for (int i = 0; i < 5000; i++)
        sys_log("line %d", i);
    harness_press(57);
    harness_frame();
    harness_release(57);
    const int page = 600 / 12 - 1; // 13-px cells: 12-px pitch
    struct Case {
        int key;
        int expected;
    };
    const Case cases[] = {
        {79, 4096 - page}, {85, 4096 - page}, {81, 4096 - page}, {80, 0}, {87, 0}, {82, 0}, {85, 1}, {81, 1 + page},
    };
    for (const Case &c : cases) {
        harness_press(c.key);
        harness_frame();
        harness_release(c.key);
        harness_frame();
        EXPECT_EQ(gui_consolescroll, c.expected) << c.key;
    }
    for (int i = 0; i < 400; i++) {
        harness_wheel(1);
        harness_frame();
    }
    EXPECT_EQ(gui_consolescroll, 4096 - page);
    bool end = false;
    for (const rec_text &t : harness_rec.texts)
        end |= t.text.find("[ end ]") != std::string::npos;
    EXPECT_TRUE(end);
    con_free();
}

// The line shows only while a window end highlighted a tutorial element.
TEST_F(FrameTest, GuideLineFadesInFrom300To600Px)
{
    struct Case {
        int distance;
        int maxalpha_low, maxalpha_high;
    };
    const Case cases[] = {{300, 0, 0}, {450, 100, 140}, {600, 250, 255}, {700, 250, 255}};
    for (const Case &c : cases) {
        harness_scene = [] {
            gui_beginwindow(1, 0, 0, 800, 600, 1, nullptr);
            gui_highlightrect = {50, 50, 20, 20};
            gui_endwindow();
        };
        harness_move(60 + c.distance, 60);
        harness_frame();
        const rec_primitive *line = nullptr;
        for (const rec_primitive &p : harness_rec.primitives)
            if (p.kind == 3 && p.verts.size() == 64)
                line = &p;
        ASSERT_TRUE(line) << c.distance;
        EXPECT_EQ(line->linewidth, 3.5f);
        int maxalpha = 0;
        for (const gui_drawvertex &v : line->verts)
            maxalpha = std::max(maxalpha, (int)v.a);
        EXPECT_GE(maxalpha, c.maxalpha_low) << c.distance;
        EXPECT_LE(maxalpha, c.maxalpha_high) << c.distance;
    }
}

TEST_F(FrameTest, ReleaseOutsideEveryElementEndsRelativeMode)
{
    harness_move(700, 500);
    harness_press();
    harness_frame();
    input_freezemouse = 1;
    harness_frame();
    EXPECT_TRUE(std::find(harness_rec.sdl.begin(), harness_rec.sdl.end(), "relativemode 0") == harness_rec.sdl.end());
    harness_release();
    harness_frame();
    EXPECT_EQ(input_freezemouse, 0);
    EXPECT_TRUE(std::find(harness_rec.sdl.begin(), harness_rec.sdl.end(), "relativemode 0") != harness_rec.sdl.end());
    EXPECT_TRUE(std::find(harness_rec.sdl.begin(), harness_rec.sdl.end(), "capture 0") != harness_rec.sdl.end());
}

struct UploadTest : FrameTest {
    void fill()
    {
        conlib_upload.info = (uint8_t *)sys_malloc(100);
        conlib_upload.infosize = 100;
        conlib_upload.data = (uint8_t *)sys_malloc(200);
        conlib_upload.datasize = 200;
        conlib_upload.job.store(-1, std::memory_order_release);
        conlib_upload.slot = -1;
    }
    void expectfreed()
    {
        EXPECT_EQ(conlib_upload.info, nullptr);
        EXPECT_EQ(conlib_upload.data, nullptr);
        EXPECT_EQ(conlib_upload.infosize, 0);
        EXPECT_EQ(conlib_upload.datasize, 0);
    }
};

TEST_F(UploadTest, BuffersFreedWhenNotStarted)
{
    uint64_t before = sys_memtotal;
    sys_downloadready = 0;
    fill();
    harness_frame();
    expectfreed();
    EXPECT_EQ(conlib_upload.slot, -1);
    sys_downloadinit();
    for (sys_downloadslot &s : sys_downloads)
        snprintf(s.url, sizeof(s.url), "http://busy/");
    fill();
    harness_frame();
    expectfreed();
    EXPECT_EQ(conlib_upload.slot, -1);
    sys_downloadinit();
    sys_downloadready = 0;
    EXPECT_EQ(sys_memtotal, before);
}

TEST_F(UploadTest, BuffersFreedWhenStartedOnLoopback)
{
    for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    ASSERT_EQ(curl_global_init(CURL_GLOBAL_DEFAULT), CURLE_OK);
    sys_downloadinit();
    sys_threadsinit();
    sys_threadsstart(1);
    char host[128];
    snprintf(host, sizeof(host), "%s", online_host);
    snprintf(online_host, sizeof(online_host), "127.0.0.1:1");
    uint64_t before = sys_memtotal;
    fill();
    harness_frame();
    expectfreed();
    ASSERT_EQ(conlib_upload.slot, 0);
    EXPECT_EQ(sys_downloads[0].id, conlib_uploadid);
    EXPECT_EQ(strncmp(sys_downloads[0].url, "http://127.0.0.1:1/Kerfmill/lib_upload.php?", 43), 0);
    for (int i = 0; i < 200 && sys_downloadactive > 0; i++) {
        SDL_Delay(50);
        sys_downloadpump();
    }
    EXPECT_EQ(sys_downloadactive, 0);
    EXPECT_EQ(conlib_upload.slot, -1);
    EXPECT_EQ(conlib_upload.form, nullptr);
    EXPECT_EQ(sys_memtotal, before);
    snprintf(online_host, sizeof(online_host), "%s", host);
    sys_threadsquit();
    sys_threadsdone();
    sys_downloadquit();
    curl_global_cleanup();
}

} // namespace
