// The status strip: the memory text's two formats, the blink after a new
// status, the cursor read-out by units and while an element is hot, and
// the strip's cells.
#include "shellscene.h"

#include <regex>

namespace {

TEST(StatusLine, MemoryShowsMegabytesBelowHalfAGigabyte)
{
    struct Case {
        uint64_t bytes;
        const char *text;
    };
    const Case cases[] = {
        {0, "0.0MB / 60FPS"},
        {536870911, "512.0MB / 60FPS"},
        {536870912, "0.50GB / 60FPS"},
        {3221225472ull, "3.00GB / 60FPS"},
    };
    for (const Case &c : cases) {
        char text[64];
        statusline_memtext(text, (int)sizeof(text), c.bytes, 60);
        EXPECT_STREQ(text, c.text) << c.bytes;
    }
}

TEST(StatusLine, ANewStatusBlinksForEightTenthsOfASecond)
{
    struct Case {
        float elapsed, share;
    };
    const Case cases[] = {
        {0.0f, 1.0f},  {0.19f, 1.0f}, {0.21f, 0.2f}, {0.39f, 0.2f}, {0.41f, 1.0f},
        {0.61f, 0.2f}, {0.79f, 0.2f}, {0.81f, 0.0f}, {5.0f, 0.0f},  {-1.0f, 0.0f},
    };
    for (const Case &c : cases)
        EXPECT_FLOAT_EQ(statusline_blink(c.elapsed), c.share) << c.elapsed << " s";
}

TEST(StatusLine, CursorDecimalsFollowTheUnits)
{
    const float point[3] = {1.23456f, -2.5f, 0.0f};
    struct Case {
        int units;
        const char *text;
    };
    const Case cases[] = {
        {0, "X:+1  Y:-2  Z:+0 "},
        {1, "X:+1.235\" Y:-2.500\" Z:+0.000\""},
        {2, "X:+1.23mm Y:-2.50mm Z:+0.00mm"},
    };
    for (const Case &c : cases) {
        char text[128];
        statusline_cursortext(text, (int)sizeof(text), point, c.units);
        EXPECT_STREQ(text, c.text) << "units " << c.units;
    }
}

using StatusStrip = ShellScene;

const rec_text *findtext(const std::string &prefix)
{
    for (const rec_text &t : harness_rec.texts)
        if (t.text.compare(0, prefix.size(), prefix) == 0)
            return &t;
    return nullptr;
}

TEST_F(StatusStrip, ShowsStatusCursorUnitsAndMemory)
{
    project.units = 2;
    view_cursorpoint[0] = 10.0f, view_cursorpoint[1] = 20.0f, view_cursorpoint[2] = -1.5f;
    sys_status("%s", "hello there");
    harness_move(700, 400); // over the view area
    harness_frame();
    const rec_text *s = findtext(" hello there");
    ASSERT_TRUE(s);
    EXPECT_GT(s->y, 800 - 34) << "in the bottom strip";
    ASSERT_TRUE(findtext("X:+10.00mm Y:+20.00mm Z:-1.50mm"));
    ASSERT_TRUE(findtext("Metric"));
    const rec_text *m = findtext("");
    for (const rec_text &t : harness_rec.texts)
        if (t.text.find("FPS") != std::string::npos)
            m = &t;
    EXPECT_TRUE(std::regex_match(m->text, std::regex("[0-9]+\\.[0-9]MB / [0-9]+FPS"))) << m->text;

    const rec_element *home = harness_find("view_home");
    ASSERT_TRUE(home);
    harness_move((int)(home->rect.x + 5), (int)(home->rect.y + 5));
    harness_frames(2);
    EXPECT_TRUE(findtext("X:+0.00mm Y:+0.00mm Z:+0.00mm")) << "zeros while an element is hot";

    view_cursorpoint[0] = view_cursorpoint[1] = view_cursorpoint[2] = INFINITY;
    harness_move(700, 400);
    harness_frames(2);
    EXPECT_TRUE(findtext("X:+0.00mm Y:+0.00mm Z:+0.00mm")) << "zeros with no point under the pointer";
}

TEST_F(StatusStrip, TheNewStatusStartsInTheHighlightColour)
{
    sys_status("%s", "fresh");
    harness_frame();
    const rec_text *t = findtext(" fresh");
    ASSERT_TRUE(t);
    for (int i = 0; i < 3; i++)
        EXPECT_NEAR(t->colour[i], gui_hitextcolour[i], 1e-5) << "channel " << i;
}

} // namespace
