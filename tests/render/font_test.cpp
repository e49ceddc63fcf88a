// Data fonts without a GL: text measuring, tab stops and cursor hit-testing
// on known metrics, the metrics file and its defaults, the 32-slot limit,
// tooltip placement at the window edges, and the thirty generated fonts in
// the program's fonts folder (the tests run there).
#include "render/drawstate.h"
#include "render/font.h"

#include "fontnames.h"
#include "img/png.h"
#include "sys/file.h"
#include "sys/input.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

class Fonts : public testing::Test {
protected:
    void SetUp() override { font_loaded = 0; }
    void TearDown() override { font_loaded = 0; }

    // The default metrics with a few advances changed, in a new slot.
    static int addfont(std::initializer_list<std::pair<int, int>> advances = {})
    {
        font_dat dat;
        font_defaultdat(&dat);
        for (auto [c, advance] : advances)
            dat.advance[c] = (uint8_t)advance;
        return font_addslot("test", &dat, -1, 2);
    }
};

static int widthof(uint64_t size)
{
    return (int)(uint32_t)size;
}

static int heightof(uint64_t size)
{
    return (int)(size >> 32);
}

TEST_F(Fonts, TextSizeMeasuresLinesTabsAndCharactersOutsideTheSheet)
{
    // Defaults: 16 x 16 cells, characters 32..159, advance 8, tab width 72.
    int font = addfont({{'x', 10}, {127, 5}, {1, 20}});
    ASSERT_EQ(font_slots[font].tabwidth, 72);
    struct Case {
        const char *text;
        int width, height;
    };
    const Case cases[] = {
        {"hello", 40, 16},
        {"ab\ncd", 16, 32},
        {"x\t", 82, 16},      // a tab measures one tab width further
        {"\t", 72, 16},
        {"\x01", 5, 16},      // below the first character: the advance of 127
        {"ab\ncdef\n", 32, 48},
        {"", 0, 0},
    };
    for (const Case &c : cases) {
        uint64_t size = font_textsize(font, "%s", c.text);
        EXPECT_EQ(widthof(size), c.width) << c.text;
        EXPECT_EQ(heightof(size), c.height) << c.text;
    }
    EXPECT_EQ(font_textsize(font, "%d-%s", 42, "ab"), (uint64_t)16 << 32 | 40);
}

TEST_F(Fonts, CharAtXCountsTheCharactersBeforeThePixel)
{
    int font = addfont();
    struct Case {
        const char *text;
        float x;
        int count;
    };
    const Case cases[] = {
        {"abcd", 0.0f, 0},   {"abcd", 7.9f, 0}, {"abcd", 8.0f, 1},  {"abcd", 31.0f, 3},
        {"abcd", 100.0f, 4}, {"a\tb", 50.0f, 1}, {"a\tb", 80.0f, 2}, {"a\nb", 8.0f, 2},
        {"", 10.0f, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(font_charatx(font, c.x, "%s", c.text), c.count) << c.text << " at " << c.x;
}

TEST_F(Fonts, UnknownFontsMeasureNothing)
{
    testlog_capture log;
    EXPECT_EQ(font_textsize(3, "abc"), 0u);
    EXPECT_EQ(font_charatx(-1, 10.0f, "abc"), 0);
    EXPECT_TRUE(log.contains("font_textsize: no data font 3"));
}

// A metrics file in the fonts folder for the life of the object.
struct datfile {
    std::string name;
    datfile(const char *n, const std::vector<uint8_t> &bytes) : name(n)
    {
        FILE *f = fopen(path().c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    ~datfile() { remove(path().c_str()); }
    std::string path() const { return "fonts/" + name + ".dat"; }
};

static std::vector<uint8_t> datbytes(int sheetw, int sheeth, int cellw, int cellh, int first, int advance)
{
    std::vector<uint8_t> b;
    for (int v : {sheetw, sheeth, cellw, cellh})
        for (int i = 0; i < 4; i++)
            b.push_back((uint8_t)((uint32_t)v >> (8 * i)));
    b.push_back((uint8_t)first);
    b.insert(b.end(), 256, (uint8_t)advance);
    return b;
}

TEST_F(Fonts, BadMetricsFilesGiveTheDefaults)
{
    std::vector<uint8_t> whole = datbytes(512, 256, 32, 32, 0, 12);
    std::vector<uint8_t> shortfile(whole.begin(), whole.begin() + 100);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        int used;
        const char *logged;
    };
    const Case cases[] = {
        {"kerfmill-test-whole", whole, 1, nullptr},
        {"kerfmill-test-short", shortfile, 0, "holds 100 of 273 bytes, using default..."},
        {"kerfmill-test-zerocell", datbytes(256, 128, 0, 16, 32, 8), 0, "has 0x16 cells on a 256x128 sheet"},
        {"kerfmill-test-bigcell", datbytes(256, 128, 16, 256, 32, 8), 0, "has 16x256 cells on a 256x128 sheet"},
        {"kerfmill-test-negative", datbytes(-256, 128, 16, 16, 32, 8), 0, "has 16x16 cells on a -256x128 sheet"},
    };
    for (const Case &c : cases) {
        datfile file(c.name, c.bytes);
        testlog_capture log;
        font_dat dat;
        EXPECT_EQ(font_readdat(c.name, &dat), c.used) << c.name;
        int expectcell = c.used ? 32 : 16;
        EXPECT_EQ(dat.cellwidth, expectcell) << c.name;
        EXPECT_EQ(dat.sheetwidth, c.used ? 512 : 256) << c.name;
        EXPECT_EQ(dat.advance['a'], c.used ? 12 : 8) << c.name;
        if (c.logged)
            EXPECT_TRUE(log.contains(c.logged)) << c.name << "\n" << log.text();
    }
    testlog_capture log;
    font_dat dat;
    EXPECT_EQ(font_readdat("kerfmill-test-missing", &dat), 0);
    EXPECT_TRUE(log.contains("failed to load \"kerfmill-test-missing\" font data, using default..."));
    EXPECT_EQ(dat.first, 32);
    EXPECT_EQ(dat.cellheight, 16);
}

TEST_F(Fonts, TheTableRefusesA33rdFont)
{
    for (int i = 0; i < font_maxslots; i++)
        ASSERT_EQ(addfont(), i);
    testlog_capture log;
    EXPECT_EQ(addfont(), -1);
    EXPECT_EQ(font_loaded, font_maxslots);
    EXPECT_TRUE(log.contains("[ ERROR ] font_addslot: data fonts overflow!"));
}

TEST_F(Fonts, TooltipOpensAwayFromTheRightAndTopEdges)
{
    gui_interfacefont = addfont(); // "hello" measures 40 x 16
    int saved = sys_drawable[0];
    sys_drawable[0] = 800;
    struct Case {
        int mouse[2];
        int position[2];
    };
    const Case cases[] = {
        {{100, 100}, {116, 76}}, // right of and above the pointer
        {{743, 100}, {759, 76}},
        {{744, 100}, {704, 76}}, // too near the right edge: to the left
        {{100, 25}, {116, 1}},
        {{100, 24}, {116, 32}},  // too near the top: below
        {{790, 5}, {750, 13}},
    };
    for (const Case &c : cases) {
        input_mouse[0] = c.mouse[0];
        input_mouse[1] = c.mouse[1];
        gui_showtooltip("hello");
        const gui_tooltiprecord &t = gui_tooltipstate;
        EXPECT_STREQ(t.text, "hello");
        EXPECT_EQ(t.position[0], c.position[0]) << c.mouse[0] << "," << c.mouse[1];
        EXPECT_EQ(t.position[1], c.position[1]) << c.mouse[0] << "," << c.mouse[1];
        EXPECT_EQ(t.box[0], c.position[0] - 3.0f);
        EXPECT_EQ(t.box[1], c.position[1] - 3.0f);
        EXPECT_EQ(t.box[2], c.position[0] + 43.0f);
        EXPECT_EQ(t.box[3], c.position[1] + 19.0f);
    }
    sys_drawable[0] = saved;
    gui_interfacefont = 0;
}

// The sheet of a generated font, decoded as the program decodes it.
struct sheetpixels {
    std::vector<uint8_t> rgba;
    int width = 0, height = 0, bpp = 0;
    explicit sheetpixels(const std::string &name)
    {
        int32_t size = 0;
        void *data = file_load(("fonts/" + name + ".png").c_str(), &size, 0, INT32_MAX);
        if (!data)
            return;
        uint8_t *pixels = sys_loadimagemem((const uint8_t *)data, size, &width, &height, &bpp, 0);
        sys_free(data);
        if (pixels)
            rgba.assign(pixels, pixels + (size_t)width * height * bpp);
        sys_free(pixels);
    }
    // Pixels of the cell with some alpha.
    int ink(const font_dat &dat, int code) const
    {
        int k = code - dat.first, columns = dat.sheetwidth / dat.cellwidth;
        int x0 = k % columns * dat.cellwidth, y0 = k / columns * dat.cellheight, count = 0;
        for (int y = y0; y < y0 + dat.cellheight; y++)
            for (int x = x0; x < x0 + dat.cellwidth; x++)
                count += rgba[((size_t)y * width + x) * 4 + 3] > 0;
        return count;
    }
};

TEST(GeneratedFonts, EveryFontHasMetricsMatchingItsSheet)
{
    for (int i = 0; i < font_count; i++) {
        const char *name = fonttest_names[i];
        font_dat dat;
        ASSERT_EQ(font_readdat(name, &dat), 1) << name;
        sheetpixels sheet(name);
        ASSERT_EQ(sheet.bpp, 4) << name;
        EXPECT_EQ(sheet.width, dat.sheetwidth) << name;
        EXPECT_EQ(sheet.height, dat.sheetheight) << name;
        EXPECT_EQ(dat.sheetwidth % dat.cellwidth, 0) << name;
        EXPECT_EQ(dat.sheetheight % dat.cellheight, 0) << name;
        int cell = i < 15 ? 16 : i < 21 ? 32 : 16 << (i - 21) % 3;
        EXPECT_EQ(dat.cellheight, cell) << name;
        if (i < font_firsticon) {
            // Every printable character has ink and an advance within its
            // cell; 127 is the overwrite cursor, a full-height block.
            for (int c = 33; c < 127; c++) {
                EXPECT_GT(sheet.ink(dat, c), 0) << name << " " << (char)c;
                EXPECT_GT(dat.advance[c], 0) << name << " " << (char)c;
                EXPECT_LE(dat.advance[c], dat.cellwidth) << name << " " << (char)c;
            }
            EXPECT_EQ(sheet.ink(dat, ' '), 0) << name;
            EXPECT_EQ(sheet.ink(dat, 127), dat.advance[127] * dat.cellheight) << name;
            continue;
        }
        // Icon sheets: the fixed glyphs and a few named icons are drawn,
        // codes no one uses stay empty.
        struct Icon {
            int code;
            bool drawn;
        };
        const Icon icons[] = {{96, true},  {122, true}, {123, true},  {124, true}, {125, true}, {90, true},
                              {337, true}, {338, true}, {386, true},  {297, true}, {550, true}, {551, true},
                              {0, false},  {255, false}, {256, false}, {767, false}};
        int family = (i - font_firsticon) / 3;
        EXPECT_EQ(dat.first, 0) << name;
        for (const Icon &icon : icons)
            if (icon.code / 256 == family)
                EXPECT_EQ(sheet.ink(dat, icon.code % 256) > 0, icon.drawn) << name << " code " << icon.code;
    }
}
