// Text objects without GL (their fonts are cached by the test): the hash and
// the draw size, the table's overflow and the rotating reuse of released
// slots, point-size changes that queue nothing, polling and waiting for the
// image, the empty string, a font whose file vanished, and every wait ending
// when the program quits.
#include "fontfixture.h"
#include "testlog.h"

#include <cstring>

class TextObjects : public testing::Test {
protected:
    fontfixture fonts;
    void SetUp() override
    {
        fonts.start({fontfixture_dejavu, fontfixture_dejavu});
        fontfixture::cache(0, 0);
    }
    void TearDown() override { fonts.stop(); }
    static bool ready(int slot)
    {
        return fontfixture::eventually([&] { return std::atomic_ref<uint32_t>(text_objects[slot].busy).load() == 0; });
    }
};

TEST(TextHash, FollowsTheByteRuleWithSignExtendedBytes)
{
    struct Case {
        const char *text;
        uint32_t hash;
    };
    // Values computed independently (Python, 32-bit wraparound).
    const Case cases[] = {
        {"", 16777619u},
        {"a", 637696520u},
        {"Text", 4058115566u},
        {"Kerfmill", 2234070945u},
        {"\xe9t\xe9", 1180993525u}, // bytes above 127 enter as 0xFFFFFFE9
    };
    for (const Case &c : cases)
        EXPECT_EQ(text_hash(c.text), c.hash) << c.text;
}

TEST(TextDrawSize, SquaresHalfThePointSizeAndScalesByResolution)
{
    struct Case {
        float ptsize, resolution;
        int32_t drawsize;
    };
    const Case cases[] = {
        {72.0f, 100.0f, 1296},
        {72.0f, 100.05f, 1296}, // 1296.65 keeps its integer part
        {72.0f, 50.0f, 648},
        {36.0f, 200.0f, 648},
        {10.0f, 96.0f, 24},
        {1.0f, 100.0f, 0},
        {0.0f, 100.0f, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(text_drawsize(c.ptsize, c.resolution), c.drawsize) << c.ptsize << "@" << c.resolution;
}

TEST_F(TextObjects, AllocationStoresTheRequestAndQueuesOneRender)
{
    testlog_capture log;
    int slot = text_alloc(0, 72.0f, 0.25f, 100.0f, "Text");
    ASSERT_EQ(slot, 0);
    const text_object &t = text_objects[slot];
    EXPECT_STREQ(t.text, "Text");
    EXPECT_EQ(t.hash, 4058115566u);
    EXPECT_EQ(t.font, 0);
    EXPECT_EQ(t.drawsize, 1296);
    EXPECT_EQ(t.busy, 1u);
    EXPECT_EQ(t.texture, -1);
    EXPECT_EQ(sys_fontlist[0].uses, 1);
    EXPECT_EQ(sys_jobspending.load(), 1);
    EXPECT_TRUE(log.contains("...created text[0] = font[0] size:72.00 draw:1296 spacing:0.25 \"\""));
    EXPECT_EQ(text_alloc(2, 12.0f, 0.0f, 100.0f, "x"), -1);   // no font there
    EXPECT_EQ(text_alloc(0, -3.0f, 0.0f, 100.0f, "x"), -1);   // no such size
    EXPECT_EQ(sys_jobspending.load(), 1);
}

TEST_F(TextObjects, The65thObjectOverflowsAndReleasedSlotsAreReusedInTurn)
{
    for (int i = 0; i < text_maxobjects; i++)
        ASSERT_EQ(text_alloc(0, 8.0f, 0.0f, 100.0f, "x"), i);
    EXPECT_EQ(sys_fontlist[0].uses, text_maxobjects);
    {
        testlog_capture log;
        EXPECT_EQ(text_alloc(0, 8.0f, 0.0f, 100.0f, "x"), -1);
        EXPECT_TRUE(log.contains("[ ERROR ] text_alloc: overflow!"));
    }
    // Releasing needs the renders done.
    fonts.startworkers();
    for (int i = 0; i < text_maxobjects; i++)
        ASSERT_TRUE(ready(i)) << i;
    text_release(3);
    text_release(50);
    EXPECT_EQ(text_objects[3].font, -1);
    EXPECT_EQ(text_objects[3].img, nullptr);
    EXPECT_EQ(sys_fontlist[0].uses, text_maxobjects - 2);
    EXPECT_EQ(text_alloc(0, 8.0f, 0.0f, 100.0f, "x"), 3);
    ASSERT_TRUE(ready(3));
    text_release(2);
    // The search goes on after slot 3, not from slot 0.
    EXPECT_EQ(text_alloc(0, 8.0f, 0.0f, 100.0f, "x"), 50);
    EXPECT_EQ(text_alloc(0, 8.0f, 0.0f, 100.0f, "x"), 2);
}

TEST_F(TextObjects, PointSizeChangesQueueARenderOnlyWhenASizeChanges)
{
    int slot = text_alloc(0, 72.0f, 0.0f, 100.0f, "Text");
    ASSERT_GE(slot, 0);
    struct Case {
        float ptsize, resolution;
        int queued;
    };
    const Case cases[] = {
        {72.0f, 100.0f, 0},
        {72.0f, 100.05f, 0}, // the same draw size
        {72.0f, 50.0f, 1},
        {36.0f, 200.0f, 1},  // the same draw size, another point size
    };
    for (const Case &c : cases) {
        if (c.queued) {
            fonts.startworkers();
            ASSERT_TRUE(ready(slot));
        }
        testlog_capture log;
        int pending = sys_jobspending.load();
        EXPECT_EQ(text_setptsize(slot, c.ptsize, c.resolution), c.queued) << c.ptsize << "@" << c.resolution;
        EXPECT_EQ(log.contains("text_setptsize: job_updatetext text[0] font[0]"), c.queued == 1);
        if (!c.queued)
            EXPECT_EQ(sys_jobspending.load(), pending);
        EXPECT_EQ(text_objects[slot].ptsize, c.queued ? c.ptsize : 72.0f);
        EXPECT_EQ(text_objects[slot].drawsize, text_drawsize(c.ptsize, c.resolution));
    }
}

TEST_F(TextObjects, PollingABusyObjectGivesNothingAndWaitingGivesTheImage)
{
    int slot = text_alloc(0, 12.0f, 0.0f, 100.0f, "Text");
    ASSERT_GE(slot, 0);
    {
        testlog_capture log;
        EXPECT_EQ(text_getimage(slot, 0), nullptr);
        EXPECT_EQ(sys_jobspending.load(), 1);
        EXPECT_TRUE(log.contains("...text_getimage(0,nowait) return:0"));
    }
    fonts.startworkers();
    image *img = fontfixture_getimage(slot);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(text_objects[slot].busy, 0u);
    EXPECT_EQ(text_objects[slot].updated, 1u);
    EXPECT_EQ(img, text_objects[slot].img);
    fontfixture_box ink = fontfixture_inkbox(img->pixels, img->width, img->height);
    EXPECT_GE(ink.x0, 1);
    EXPECT_GE(ink.y0, 1);
    EXPECT_LE(ink.x1, img->width - 1);
    EXPECT_LE(ink.y1, img->height - 1);
    // An object without an image asks for one.
    img_free(text_objects[slot].img);
    text_objects[slot].img = nullptr;
    EXPECT_NE(fontfixture_getimage(slot), nullptr);
}

TEST_F(TextObjects, AnEmptyStringGivesAPointSizeSquareOfZeros)
{
    int slot = text_alloc(0, 10.0f, 0.0f, 100.0f, "");
    ASSERT_GE(slot, 0);
    job_updatetext((void *)(intptr_t)slot);
    image *img = text_getimage(slot, 0);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 12);
    EXPECT_EQ(img->height, 12);
    EXPECT_EQ(fontfixture_inkbox(img->pixels, 12, 12).x0, -1);
}

TEST_F(TextObjects, AFontWhoseFileVanishedGivesABlankImage)
{
    fontfixture_copy vanished(fontfixture_dejavu);
    sys_free(sys_fontlist[1].path);
    sys_fontlist[1].path = sys_strdup(vanished.path.c_str());
    remove(vanished.path.c_str());
    int slot = text_alloc(1, 12.0f, 0.0f, 100.0f, "Text");
    ASSERT_GE(slot, 0);
    testlog_capture log;
    job_updatetext((void *)(intptr_t)slot);
    // Entry 0 goes: its font is cached but no object uses it.
    EXPECT_TRUE(log.contains("job_updatetext: text[0] caching font[1] cache[0]..."));
    int entry = font_entry(1);
    EXPECT_EQ(entry, 0);
    EXPECT_EQ(font_flags(entry), 0u);
    image *img = text_getimage(slot, 0);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->width, 2);
    EXPECT_EQ(img->height, 2);
    EXPECT_EQ(fontfixture_inkbox(img->pixels, 2, 2).x0, -1);
}

TEST_F(TextObjects, EveryWaitEndsWhenTheProgramQuits)
{
    int slot = text_alloc(0, 12.0f, 0.0f, 100.0f, "Text"); // stays busy: no workers yet
    ASSERT_GE(slot, 0);
    sys_quit = 1;
    EXPECT_EQ(text_getimage(slot, 1), nullptr);
    EXPECT_EQ(text_setptsize(slot, 20.0f, 100.0f), 0);
    EXPECT_EQ(text_objects[slot].ptsize, 12.0f);
    sys_quit = 0;

    // A render whose font finds the cache full idles until the quit.
    int other = text_alloc(1, 12.0f, 0.0f, 100.0f, "Text");
    ASSERT_GE(other, 0);
    for (font_cacherecord &e : font_cacheslot)
        if (e.font != 0)
            e.flags = font_busy;
    testlog_capture log;
    fonts.startworkers();
    EXPECT_TRUE(fontfixture::eventually([&] { return log.contains("job_updatetext: cache overflow font[1], idling..."); }));
    EXPECT_TRUE(fontfixture::eventually([&] { return log.contains("...listed cached fonts"); }));
    sys_quit = 1;
    EXPECT_TRUE(ready(other));
    // The job logs on after it clears busy: it ends before the capture does.
    sys_threadsquit();
    EXPECT_EQ(text_objects[other].img, nullptr);
    sys_quit = 0;
}
