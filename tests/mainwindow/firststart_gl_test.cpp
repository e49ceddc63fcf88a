// The first start as a new user meets it, on an X server of the test's own
// with the core fonts a fresh machine gets from scripts/deps.sh: the terms
// of use come up in a real message box (no answering seam), whose wrapped
// text keeps it on a 1024 x 768 screen; a click on its "Yes" takes the
// program on into its loop. Without the core fonts SDL shows no box and
// zenity stands in.
#include "realwindow.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

constexpr const char *first_caption = "Beta Version Disclaimer";
constexpr double first_startseconds = 120; // start-up under the sanitizers on a loaded machine

// The "Yes" of SDL's box, found in the screenshot: the buttons are the
// lowest drawing in the box, laid out left to right, so the first run of
// pixels unlike the box's own colour on their bottom row is the bottom edge
// of "Yes"; its left edge rises from there to its top. False when the box
// shows no buttons.
static bool first_findyes(const rgbimage &shot, const realwindow_rect &box, int *x, int *y)
{
    auto px = [&](int cx, int cy) { return &shot.rgb[3 * ((size_t)cy * shot.width + cx)]; };
    auto background = [&](int cx, int cy) { return memcmp(px(cx, cy), px(box.x + 2, box.y + 2), 3) == 0; };
    for (int row = box.y + box.h - 1; row > box.y; row--) {
        int x0 = box.x;
        while (x0 < box.x + box.w && background(x0, row))
            x0++;
        if (x0 == box.x + box.w)
            continue;
        int x1 = x0, top = row;
        while (x1 + 1 < box.x + box.w && !background(x1 + 1, row))
            x1++;
        while (top - 1 > box.y && !background(x0, top - 1))
            top--;
        *x = (x0 + x1) / 2;
        *y = (top + row) / 2;
        return x1 - x0 > 10 && row - top > 10;
    }
    return false;
}

// Pixels of the box unlike its own colour: its text and buttons once drawn.
static int first_inked(const rgbimage &shot, const realwindow_rect &box)
{
    int n = 0;
    const uint8_t *bg = &shot.rgb[3 * ((size_t)(box.y + 2) * shot.width + box.x + 2)];
    for (int y = box.y; y < box.y + box.h; y++)
        for (int x = box.x; x < box.x + box.w; x++)
            n += memcmp(&shot.rgb[3 * ((size_t)y * shot.width + x)], bg, 3) != 0;
    return n;
}

static bool first_inside(const realwindow_rect &box)
{
    return box.x >= 0 && box.y >= 0 && box.x + box.w <= realwindow::width && box.y + box.h <= realwindow::height &&
           box.w <= 1024 && box.h <= 768;
}

// The terms flag of the configuration the program saved.
static int32_t first_termsflag(const realwindow &w)
{
    int32_t flag = -1;
    std::ifstream in(w.userfolder() / "config.dat", std::ios::binary);
    in.seekg(cfg_termsaccepted);
    in.read((char *)&flag, 4);
    return flag;
}

TEST(FirstStart, TermsBoxFitsTheScreenAndYesGoesOn)
{
    realwindow w({.termsaccepted = false, .msgboxanswers = nullptr});
    ASSERT_TRUE(w.started()) << w.why;
    realwindow_rect box;
    ASSERT_TRUE(w.findwindow(first_caption, first_startseconds, box)) << w.why << "\n" << w.log();
    EXPECT_TRUE(first_inside(box)) << box.x << "," << box.y << " " << box.w << "x" << box.h;

    // Mapped is not yet drawn: the box is photographed until its text shows.
    fs::path png = w.home.path / "terms.png";
    rgbimage shot;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int inked = 0;
    while (inked < 2000 && std::chrono::steady_clock::now() < until) {
        ASSERT_TRUE(w.screenshot(png, &shot)) << w.why;
        ASSERT_EQ(shot.width, realwindow::width);
        ASSERT_EQ(shot.height, realwindow::height);
        inked = first_inked(shot, box);
    }
    ASSERT_GE(inked, 2000) << "the box stayed empty";
    int yesx = 0, yesy = 0;
    ASSERT_TRUE(first_findyes(shot, box, &yesx, &yesy)) << "no buttons in the box; see " << png;
    EXPECT_LT(yesx, box.x + box.w / 2) << "Yes is the left button";

    // The log names the box SDL drew, not a failure or a seam's answer.
    std::string log = w.log();
    EXPECT_EQ(log.find("plat_messagebox: "), std::string::npos) << log;
    EXPECT_EQ(log.find("msgbox seam"), std::string::npos) << log;

    ASSERT_TRUE(w.clickforeign(yesx, yesy)) << w.why;
    ASSERT_TRUE(w.waitlog(" LOOP ", first_startseconds)) << w.why << "\n" << w.log();
    EXPECT_EQ(first_termsflag(w), 1);
    EXPECT_EQ(w.end(), 0);
    log = w.log();
    EXPECT_EQ(log.find("did not agree"), std::string::npos) << log;
    EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
    EXPECT_EQ(w.asanreport(), "");
}

// A server with only its built-in fonts, as on a fresh machine without
// xfonts-base: SDL cannot draw a box, zenity shows the question instead,
// and Return on its default "Yes" accepts the terms.
TEST(FirstStart, WithoutCoreFontsZenityAsks)
{
    realwindow w({.termsaccepted = false, .msgboxanswers = nullptr, .xvfbargs = {"-fp", "built-ins"}});
    ASSERT_TRUE(w.started()) << w.why;
    realwindow_rect box;
    std::string id;
    ASSERT_TRUE(w.findwindow(first_caption, first_startseconds, box, &id)) << w.why << "\n" << w.log();
    EXPECT_TRUE(first_inside(box)) << box.x << "," << box.y << " " << box.w << "x" << box.h;
    EXPECT_NE(w.log().find("plat_messagebox: SDL shows no box"), std::string::npos) << w.log();
    // A box mapped but not yet ready for keys misses the first press, so
    // Return is pressed again until the program goes on, a few times at most.
    bool on = false;
    for (int press = 0; press < 6 && !on; press++) {
        ASSERT_TRUE(w.focus(id)) << w.why;
        ASSERT_TRUE(w.key("Return")) << w.why;
        on = w.waitlog(" LOOP ", 20);
    }
    ASSERT_TRUE(on) << w.why << "\n" << w.log();
    EXPECT_EQ(first_termsflag(w), 1);
    EXPECT_EQ(w.end(), 0);
}
