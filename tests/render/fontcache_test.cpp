// Font cache without GL: the claim rule and its ids, fonts whose files
// vanished or do not parse, releasing data fonts, rendering a formatted
// text with a cached font, and the character map job ending for a font that
// cannot be cached and when the program quits.
#include "fontfixture.h"
#include "sys/frame.h"
#include "testlog.h"

#include <atomic>
#include <climits>
#include <fstream>
#include <thread>

class FontCache : public testing::Test {
protected:
    fontfixture fonts;
    void SetUp() override { fonts.start({fontfixture_dejavu, fontfixture_dejavu, fontfixture_dejavu}); }
    void TearDown() override { fonts.stop(); }
};

TEST_F(FontCache, ClaimSkipsEntriesInUseAndTakesTheNextId)
{
    const int64_t now = 7;
    struct Case {
        const char *name;
        int64_t lastframe;
        uint32_t flags;
        int owner;      // font record owning entry 0, -1 none
        int owneruses;  // text objects using that font
        int claimed;    // entry (and id) the claim takes
    };
    const Case cases[] = {
        {"free entry", -1, 0, -1, 0, 0},
        {"cached, owner unused", -1, font_cached, 1, 0, 0},
        {"drawn in the current frame", now, 0, -1, 0, 1},
        {"busy", -1, font_busy, -1, 0, 1},
        {"data font", -1, font_cached | font_datafont, -1, 0, 1},
        {"owner still used", -1, font_cached, 1, 1, 1},
    };
    sys_framecount = (uint64_t)now;
    for (const Case &c : cases) {
        font_initcache();
        font_cacheslot[0].lastframe = c.lastframe;
        font_cacheslot[0].flags = c.flags;
        font_cacheslot[0].font = c.owner;
        sys_fontlist[1].uses = c.owneruses;
        EXPECT_EQ(font_claimentry(0), c.claimed) << c.name;
        const font_cacherecord &e = font_cacheslot[c.claimed];
        EXPECT_EQ(e.id, c.claimed) << c.name;
        EXPECT_EQ(e.font, 0) << c.name;
        EXPECT_EQ(e.flags, font_busy) << c.name;
        EXPECT_EQ(e.drawsize, font_claimsize) << c.name;
        EXPECT_EQ(sys_fontlist[0].cacheid, c.claimed) << c.name;
        EXPECT_EQ(font_cachecursor, c.claimed + 1) << c.name;
    }
    sys_fontlist[1].uses = 0;
    sys_framecount = 0;
}

TEST_F(FontCache, NoClaimableEntryRefusesAndLeavesTheRecord)
{
    for (font_cacherecord &e : font_cacheslot)
        e.flags = font_busy;
    sys_fontlist[0].cacheid = 9;
    EXPECT_EQ(font_claimentry(0), -1);
    EXPECT_EQ(sys_fontlist[0].cacheid, 9);
    EXPECT_EQ(font_cachecursor, font_cacheentries); // every id was tried once
}

TEST_F(FontCache, IdsGrowAndAnEntryServesOnlyItsLatestId)
{
    struct Case {
        int font;
        int32_t cursor;
        int entry;
        int32_t nextcursor;
    };
    const Case cases[] = {
        {0, 5, 5, 6},
        {1, 261, 5, 262},
        {0, 517, 5, 518},
        {2, INT32_MAX, 255, 0}, // past the largest id the count starts again on entry 0
    };
    for (const Case &c : cases) {
        font_cachecursor = c.cursor;
        int previous = font_cacheslot[c.entry].font;
        EXPECT_EQ(font_claimentry(c.font), c.entry) << c.cursor;
        EXPECT_EQ(font_cacheslot[c.entry].id, c.cursor) << c.cursor;
        EXPECT_EQ(sys_fontlist[c.font].cacheid, c.cursor) << c.cursor;
        EXPECT_EQ(font_cachecursor, c.nextcursor) << c.cursor;
        EXPECT_EQ(font_entry(c.font), c.entry) << c.cursor;
        // The font that held the entry before keeps its old id: no longer
        // served, even with the cached flag up.
        font_cacheslot[c.entry].flags = font_cached;
        EXPECT_EQ(font_iscached(c.font), 1) << c.cursor;
        if (previous >= 0 && previous != c.font) {
            EXPECT_EQ(font_entry(previous), -1) << c.cursor;
            EXPECT_EQ(font_iscached(previous), 0) << c.cursor;
        }
    }
    // Record 1 still carries id 261 while entry 5 serves id 517 of record 0.
    EXPECT_EQ(sys_fontlist[1].cacheid, 261);
    EXPECT_EQ(font_iscached(1), 0);
}

TEST_F(FontCache, ARecordNeverCachedIsNotServedByEntryZero)
{
    // Every record starts with cache id 0, the first id ever claimed.
    EXPECT_EQ(font_claimentry(0), 0);
    font_cacheslot[0].flags = font_cached;
    EXPECT_EQ(sys_fontlist[1].cacheid, 0);
    EXPECT_EQ(font_entry(1), -1);
    EXPECT_EQ(font_iscached(1), 0);
}

TEST_F(FontCache, AFontThatCannotBeReadOrParsedEndsNeitherBusyNorCached)
{
    fontfixture_copy vanished(fontfixture_dejavu);
    remove(vanished.path.c_str());
    fontfixture_copy garbage(fontfixture_dejavu);
    std::ofstream(garbage.path, std::ios::trunc) << "not a font at all";
    struct Case {
        const char *path;
        const char *line;
    };
    const Case cases[] = {
        {vanished.path.c_str(), "file_load: open failed"},
        {garbage.path.c_str(), "...failed parsing font[0].cache[3] id:3"},
    };
    for (const Case &c : cases) {
        font_initcache();
        // Entry 3 still holds an open face of a font nobody uses.
        fontfixture::cache(2, 3);
        int stale = font_cacheslot[3].sysfont;
        ASSERT_GE(stale, 0);
        sys_free(sys_fontlist[0].path);
        sys_fontlist[0].path = sys_strdup(c.path);
        font_cachecursor = 3;
        ASSERT_EQ(font_claimentry(0), 3);
        testlog_capture log;
        job_cachesystemfont((void *)0);
        EXPECT_TRUE(log.contains(c.line)) << c.path << log.text();
        EXPECT_EQ(font_entry(0), 3) << c.path;
        EXPECT_EQ(font_flags(3), 0u) << c.path;
        EXPECT_EQ(font_cacheslot[3].data, nullptr) << c.path;
        EXPECT_EQ(font_cacheslot[3].sysfont, -1) << c.path;
        EXPECT_EQ(sys_fontslot[stale], -1) << c.path; // the stale face went with its bytes
        EXPECT_EQ(sys_heldmutexes(), 0) << c.path;
    }
}

// Opening a face takes the sysfont mutex even when its caller did not: a
// thread that opens one waits while another holds the lock.
TEST_F(FontCache, OpeningAFaceWaitsForTheSysfontMutex)
{
    int32_t size = 0;
    uint8_t *data = (uint8_t *)file_load(fontfixture_dejavu, &size, 0, sys_maxfontbytes);
    ASSERT_NE(data, nullptr);
    std::atomic<int> slot{-2};
    sys_lockmutex(sys_fontmutex);
    std::thread opener([&] { slot = sys_loadfontmem(data, size, 20); });
    for (int i = 0; i < 30 && slot == -2; i++)
        SDL_Delay(10);
    EXPECT_EQ(slot.load(), -2);
    sys_unlockmutex(sys_fontmutex);
    opener.join();
    ASSERT_GE(slot.load(), 0);
    {
        sys_mutexguard g(sys_fontmutex);
        sys_closefont(slot);
    }
    sys_free(data);
}

TEST_F(FontCache, FreeDataReleasesDataFontsAndLeavesReclaimedEntriesAlone)
{
    int32_t size = 0;
    // Two data fonts read from a project, after the three system fonts.
    for (int font = 3; font < 5; font++) {
        sys_fontlist[font] = {sys_strdup("DejaVu Sans Book"), sys_strdup("DejaVu Sans Book"), 1, 0, 0};
        sys_fontcount++;
        uint8_t *data = (uint8_t *)file_load(fontfixture_dejavu, &size, 0, sys_maxfontbytes);
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(font_claimentry(font, data, size), font - 3);
        EXPECT_EQ(font_flags(font - 3), font_busy | font_datafont);
        EXPECT_EQ(font_cacheslot[font - 3].size, size);
    }
    // Entry 1 was taken over by system font 0 since.
    font_cacherecord &taken = font_cacheslot[1];
    taken.id += font_cacheentries;
    taken.font = 0;
    taken.flags = font_cached;
    sys_fontlist[0].cacheid = taken.id;
    const uint8_t *takendata = taken.data;
    testlog_capture log;
    font_freedata();
    EXPECT_TRUE(log.contains("freeing data font[3]..."));
    EXPECT_TRUE(log.contains("freeing data font[4]..."));
    EXPECT_TRUE(log.contains("[ ERROR ] data font[4] has bad cacheid:1"));
    EXPECT_EQ(log.count("[ ERROR ] data font["), 1);
    EXPECT_EQ(font_flags(0), 0u);
    EXPECT_EQ(font_cacheslot[0].data, nullptr);
    EXPECT_EQ(font_cacheslot[0].size, 0);
    EXPECT_EQ(font_flags(1), font_cached);
    EXPECT_EQ(taken.data, takendata);
    EXPECT_EQ(font_entry(0), 1);
    EXPECT_EQ(sys_fontcount, 3);
    for (int font = 3; font < 5; font++) {
        EXPECT_EQ(sys_fontlist[font].name, nullptr);
        EXPECT_EQ(sys_fontlist[font].path, nullptr);
    }
}

TEST_F(FontCache, DrawingNeedsACachedFontAndFramesTheFormattedText)
{
    EXPECT_EQ(fontdraw_cache(1, 16, 0.0f, "%s%d", "Ab", 12), nullptr);
    fontfixture::cache(1, 8);
    image *img = fontdraw_cache(1, 16, 0.0f, "%s%d", "Ab", 12);
    ASSERT_NE(img, nullptr);
    // The same text from a face of pixel size (0.5 x 16)^2 = 64.
    int slot = sys_loadfontmem(font_cacheslot[8].data, font_cacheslot[8].size, 64);
    int width = 0, height = 0;
    uint8_t *rgb = sys_fontdraw(slot, "Ab12", 0.0f, &width, &height);
    sys_closefont(slot);
    ASSERT_NE(rgb, nullptr);
    EXPECT_STREQ(img->name, "txtimg");
    ASSERT_EQ(img->width, width + 2);
    ASSERT_EQ(img->height, height + 2);
    ASSERT_EQ(img->bytesperpixel, 3);
    int mismatched = 0, border = 0;
    for (int y = 0; y < img->height; y++)
        for (int x = 0; x < img->width; x++) {
            uint8_t got = img->pixels[((size_t)y * img->width + x) * 3];
            bool edge = x == 0 || y == 0 || x == img->width - 1 || y == img->height - 1;
            if (edge)
                border += got != 0;
            else
                mismatched += got != rgb[((size_t)(y - 1) * width + x - 1) * 3];
        }
    EXPECT_EQ(border, 0);
    EXPECT_EQ(mismatched, 0);
    sys_free(rgb);
    img_free(img);
}

TEST_F(FontCache, CharacterMapEndsForAFontThatCannotBeCachedAndOnQuit)
{
    fontfixture_copy vanished(fontfixture_dejavu);
    remove(vanished.path.c_str());
    sys_free(sys_fontlist[0].path);
    sys_fontlist[0].path = sys_strdup(vanished.path.c_str());
    // Font 1's entry is being filled by a job that never finishes.
    fontfixture::cache(1, 4);
    font_cacheslot[4].flags = font_busy;
    struct Case {
        int position;
        bool quit;
        const char *line;
    };
    const Case cases[] = {
        {0, false, "charmap: font[0] could not be cached"},
        {1, true, "charmap: program quitting"},
    };
    fonts.startworkers();
    for (const Case &c : cases) {
        testlog_capture log;
        font_charmap.font = c.position;
        font_charmap.size = 32.0f;
        font_charmap.generating = 1;
        ASSERT_GE(sys_threadjob("gencharmap", job_gencharmap, nullptr), 0);
        if (c.quit) {
            EXPECT_TRUE(fontfixture::eventually([&] { return log.contains("charmap: stalling..."); }));
            sys_quit = 1;
        }
        EXPECT_TRUE(fontfixture::eventually([] { return font_charmap.generating == 0; })) << c.line;
        sys_quit = 0;
        EXPECT_TRUE(log.contains(c.line)) << log.text();
        EXPECT_TRUE(log.contains("...generated charmap ("));
        for (int i = 0; i < font_charmapcount; i++)
            EXPECT_EQ(font_charmap.textures[i], font_noglyph) << i;
    }
    EXPECT_EQ(font_flags(font_entry(0)), 0u);
}
