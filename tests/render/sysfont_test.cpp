// System fonts: the extension rule on a fontconfig listing of a scratch
// folder (system and user-installed files), naming, the alphabetical sort
// with its default-font and first-letter rules, measuring and rendering
// with a DejaVu face, spacing, the 1,024-glyph cut, the 512-face limit, and
// the fonts of this machine listed, named and logged.
#include "render/sysfont.h"

#include "render/fontcache.h"
#include "render/text.h"

#include "sys/file.h"
#include "sys/mem.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static const char *const dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
static const char *const comicneue = "/usr/share/fonts/opentype/comic-neue/ComicNeue-Regular.otf";

class SysFonts : public testing::Test {
protected:
    uint8_t *data = nullptr;
    int32_t size = 0;

    void SetUp() override
    {
        ASSERT_EQ(sys_initfreetype(), 1);
        data = (uint8_t *)file_load(dejavu, &size, 0, sys_maxfontbytes);
        ASSERT_NE(data, nullptr) << "scripts/deps.sh installs fonts-dejavu-core";
    }
    void TearDown() override
    {
        sys_quitfreetype();
        sys_free(data);
    }
    int openfont(int pixels)
    {
        return sys_loadfontmem(data, size, pixels);
    }
    const sys_faceentry &entry(int slot) { return sys_facetable[sys_fontslot[slot]]; }
};

TEST(SysFontFiles, OnlyTtfAndOtfInAnyCaseAreFontFiles)
{
    struct Case {
        const char *name;
        int kept;
    };
    const Case cases[] = {
        {"X.TTF", 1},      {"Y.OtF", 1},    {"a.otf", 1},       {"b.ttf", 1},      {"Z.fon", 0},
        {"nodot", 0},      {"c.ttc", 0},    {"d.ttf.bak", 0},   {"dir.ttf/e", 0},  {"f.woff", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(sys_isfontfile(c.name), c.kept) << c.name;
}

// A fontconfig setup that sees only a scratch system folder and a scratch
// user folder under a scratch home, for the life of the object.
struct scratchfonts {
    fs::path root;
    std::string savedhome;
    scratchfonts()
    {
        root = fs::temp_directory_path() / ("kerfmill-fonts-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "system" / "sub");
        fs::create_directories(root / "home" / "fonts");
        fs::copy_file(dejavu, root / "system" / "X.TTF");
        fs::copy_file(comicneue, root / "system" / "sub" / "Y.OtF");
        fs::copy_file(dejavu, root / "system" / "Z.fon");
        fs::copy_file(dejavu, root / "system" / "nodot");
        fs::copy_file(comicneue, root / "home" / "fonts" / "Mine.ttf");
        std::ofstream(root / "fonts.conf") << "<?xml version=\"1.0\"?>\n<fontconfig>\n<dir>" << (root / "system").string()
                                           << "</dir>\n<dir>~/fonts</dir>\n<cachedir>" << (root / "cache").string()
                                           << "</cachedir>\n</fontconfig>\n";
        const char *home = getenv("HOME");
        savedhome = home ? home : "";
        setenv("HOME", (root / "home").c_str(), 1);
        setenv("FONTCONFIG_FILE", (root / "fonts.conf").c_str(), 1);
    }
    ~scratchfonts()
    {
        unsetenv("FONTCONFIG_FILE");
        setenv("HOME", savedhome.c_str(), 1);
        fs::remove_all(root);
    }
};

TEST_F(SysFonts, ListingKeepsFontExtensionsAndNamesSortsAndIndexesThem)
{
    scratchfonts scratch;
    testlog_capture log;
    ASSERT_EQ(sys_initfonts(), 1) << log.text();
    std::string folder = (scratch.root / "system").string() + "/";
    EXPECT_STREQ(sys_fontfolder, folder.c_str());
    EXPECT_TRUE(log.contains("enumerating system fonts (" + folder + ")..."));
    EXPECT_TRUE(log.contains("enumerating user-installed fonts..."));
    EXPECT_TRUE(log.contains("enumerated 3 total fonts"));
    ASSERT_EQ(sys_fontcount, 3);
    struct Record {
        std::string path;
        int kind;
    };
    const Record records[] = {
        {"X.TTF", 0},
        {"sub/Y.OtF", 0},
        {(scratch.root / "home" / "fonts" / "Mine.ttf").string(), 1},
    };
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(sys_fontlist[i].path, records[i].path) << i;
        EXPECT_EQ(sys_fontlist[i].kind, records[i].kind) << i;
        EXPECT_EQ(sys_fontlist[i].name, nullptr) << i;
        EXPECT_EQ(sys_fontorder[i], i);
    }
    EXPECT_EQ(sys_fontfilecount, 0);
    EXPECT_GE(sys_fontmutex, 0);
    EXPECT_EQ(font_cachemutex, sys_fontmutex + 1);

    job_cachefontnames(nullptr);
    EXPECT_TRUE(log.contains("...cached 3 of 3 font names"));
    EXPECT_STREQ(sys_fontlist[0].name, "DejaVu Sans Book");
    EXPECT_STREQ(sys_fontlist[1].name, "Comic Neue Regular");
    EXPECT_STREQ(sys_fontlist[2].name, "Comic Neue Regular");
    const int order[] = {1, 2, 0}; // the two equal names keep their record order
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(sys_fontorder[i], order[i]) << i;
    EXPECT_EQ(sys_fontdefault, 2);
    EXPECT_TRUE(log.contains("using fallback default text-layer font: DejaVu Sans Book"));
    EXPECT_EQ(sys_fontletter['c' - 'a'], 0);
    EXPECT_EQ(sys_fontletter['d' - 'a'], 2);
    EXPECT_EQ(sys_fontletter['a' - 'a'], -1);
    EXPECT_TRUE(log.contains("font[0] Comic Neue Regular"));
    sys_quitfonts();
    EXPECT_EQ(sys_fontlist, nullptr);
    EXPECT_EQ(sys_fontmutex, -1);
}

TEST_F(SysFonts, UnreadableFilesStayUnnamedAndSortFirst)
{
    fs::path broken = fs::temp_directory_path() / ("kerfmill-broken-" + std::to_string(getpid()) + ".ttf");
    std::ofstream(broken) << "not a font at all";
    std::string missing = broken.string() + ".gone";
    sys_fontrecord records[3] = {
        {nullptr, (char *)dejavu, 1, 0, 0},
        {nullptr, (char *)broken.c_str(), 1, 0, 0},
        {nullptr, (char *)missing.c_str(), 1, 0, 0},
    };
    int32_t order[3] = {0, 1, 2};
    sys_fontlist = records;
    sys_fontorder = order;
    sys_fontcount = 3;
    testlog_capture log;
    job_cachefontnames(nullptr);
    EXPECT_TRUE(log.contains("!!! failed to parse font: " + broken.string()));
    EXPECT_TRUE(log.contains("file_load: open failed"));
    EXPECT_TRUE(log.contains("...cached 1 of 3 font names"));
    EXPECT_EQ(records[1].name, nullptr);
    EXPECT_EQ(order[2], 0);
    EXPECT_EQ(sys_fontdefault, 2);
    sys_free(records[0].name);
    sys_fontlist = nullptr;
    sys_fontorder = nullptr;
    sys_fontcount = 0;
    fs::remove(broken);
}

TEST(SysFontOrder, SortsByNameAndPicksTheDefaultTextLayerFont)
{
    struct Case {
        std::vector<const char *> names;
        std::vector<int> order;
        int defaultpos;
        const char *logged;
    };
    const Case cases[] = {
        {{"Tahoma", "Arial Black", "Arial"}, {2, 1, 0}, 0, "found default text-layer font: Arial"},
        {{"b", nullptr, "A", nullptr}, {1, 3, 2, 0}, -1, "no default text-layer font found"},
        {{"abc", "ABC", "Abc"}, {0, 1, 2}, -1, nullptr},
        {{"My Verdana", "Zeta"}, {0, 1}, 0, "found default text-layer font: My Verdana"},
        {{"arial narrow", "Zeta"}, {0, 1}, -1, nullptr}, // the words match with case
        {{"DejaVu Sans Book", "Liberation Sans Regular", "Liberation Sans Bold"}, {0, 2, 1}, 2,
         "using fallback default text-layer font: Liberation Sans Regular"},
        {{"DejaVu Sans Bold", "DejaVu Sans Book"}, {0, 1}, 1, "using fallback default text-layer font: DejaVu Sans Book"},
        {{"Liberation Sans Regular", "Tahoma Bold"}, {0, 1}, 1, "found default text-layer font: Tahoma Bold"},
    };
    for (const Case &c : cases) {
        std::vector<sys_fontrecord> records;
        std::vector<int32_t> order;
        for (const char *name : c.names) {
            records.push_back({(char *)name, (char *)"", 1, 0, 0});
            order.push_back((int32_t)order.size());
        }
        sys_fontlist = records.data();
        sys_fontorder = order.data();
        sys_fontcount = (int32_t)records.size();
        testlog_capture log;
        sys_sortfonts();
        sys_indexfonts();
        EXPECT_EQ(order, c.order) << c.names[0];
        EXPECT_EQ(sys_fontdefault, c.defaultpos) << c.names[0];
        if (c.logged)
            EXPECT_TRUE(log.contains(c.logged)) << log.text();
    }
    sys_fontlist = nullptr;
    sys_fontorder = nullptr;
    sys_fontcount = 0;
}

TEST(SysFontOrder, EachLetterIndexesItsFirstNameAndDigitsIndexNothing)
{
    std::vector<sys_fontrecord> records;
    const char *names[] = {"9 Point", "beta", "Alpha", "apex", "Bold", "_under"};
    for (const char *name : names)
        records.push_back({(char *)name, (char *)"", 1, 0, 0});
    int32_t order[6] = {0, 1, 2, 3, 4, 5};
    sys_fontlist = records.data();
    sys_fontorder = order;
    sys_fontcount = 6;
    sys_sortfonts();
    sys_indexfonts();
    // "9 Point", "_under", "Alpha", "apex", "beta", "Bold": letters fold to
    // lower case, which sorts after the underscore.
    const int32_t expect[6] = {0, 5, 2, 3, 1, 4};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(order[i], expect[i]) << i;
    for (int letter = 0; letter < 26; letter++)
        EXPECT_EQ(sys_fontletter[letter], letter == 0 ? 2 : letter == 1 ? 4 : -1) << (char)('a' + letter);
    sys_fontlist = nullptr;
    sys_fontorder = nullptr;
    sys_fontcount = 0;
}

TEST_F(SysFonts, NamesComeFromTheFace)
{
    int slot = openfont(12);
    ASSERT_GE(slot, 0);
    EXPECT_STREQ(sys_fontname(slot), "DejaVu Sans");
    EXPECT_STREQ(sys_fontstyle(slot), "Book");
    sys_closefont(slot);
    testlog_capture log;
    EXPECT_STREQ(sys_fontname(slot), "");
    EXPECT_STREQ(sys_fontstyle(-1), "");
    EXPECT_TRUE(log.contains(std::string("sys_fontname: font(") + std::to_string(slot) + ") not loaded"));
    EXPECT_TRUE(log.contains("sys_fontstyle: font(-1) not loaded"));
}

TEST_F(SysFonts, EmptyAndTwoLineTextsMeasureWholeLines)
{
    int slot = openfont(32);
    FT_Face face = entry(slot).face;
    FT_Fixed scale = face->size->metrics.y_scale;
    FT_Pos line = FT_MulFix(face->ascender - face->descender, scale);
    int w, h;
    ttf_textsize(slot, "", 0.0f, &w, &h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, (int)(line >> 6));
    ttf_textsize(slot, "A\nA", 0.0f, &w, &h);
    EXPECT_EQ(h, (int)((line + face->size->metrics.height) >> 6));
    EXPECT_EQ(entry(slot).glyphcount, 3);
    int onew, oneh;
    ttf_textsize(slot, "A", 0.0f, &onew, &oneh);
    EXPECT_EQ(w, onew);
    EXPECT_EQ(oneh, (int)(line >> 6));
}

TEST_F(SysFonts, SpacingChangesEachAdvanceBySpacingSquaredWithItsSign)
{
    int slot = openfont(40);
    FT_Pos whole = entry(slot).face->size->metrics.max_advance;
    struct Case {
        float spacing;
        FT_Pos extra;
    };
    const Case cases[] = {{0.5f, whole / 4}, {-0.5f, -(whole / 4)}, {1.0f, whole}};
    auto steps = [&](float spacing) {
        int w, h;
        ttf_textsize(slot, "lllll", spacing, &w, &h);
        std::vector<FT_Pos> d;
        for (int i = 1; i < entry(slot).glyphcount; i++)
            d.push_back(entry(slot).glyphs[i].x - entry(slot).glyphs[i - 1].x);
        return std::make_pair(w, d);
    };
    auto [plainwidth, plain] = steps(0.0f);
    ASSERT_EQ(plain.size(), 4u);
    for (const Case &c : cases) {
        auto [width, spaced] = steps(c.spacing);
        for (size_t i = 0; i < plain.size(); i++)
            EXPECT_NEAR(spaced[i] - plain[i], c.extra, 1) << c.spacing << " step " << i;
        EXPECT_EQ(width > plainwidth, c.spacing > 0) << c.spacing;
    }
}

TEST_F(SysFonts, TextIsDecodedAsUtf8AndCutAt1024Characters)
{
    int slot = openfont(16);
    FT_Face face = entry(slot).face;
    int w, h;
    ttf_textsize(slot, "\xC3\xA9\xE2\x82\xAC", 0.0f, &w, &h); // é €
    ASSERT_EQ(entry(slot).glyphcount, 2);
    EXPECT_EQ(entry(slot).glyphs[0].glyph, FT_Get_Char_Index(face, 0xE9));
    EXPECT_EQ(entry(slot).glyphs[1].glyph, FT_Get_Char_Index(face, 0x20AC));
    EXPECT_NE(entry(slot).glyphs[0].glyph, 0u);
    ttf_textsize(slot, "a\xFF" "b", 0.0f, &w, &h); // a stray byte is one replacement character
    ASSERT_EQ(entry(slot).glyphcount, 3);
    EXPECT_EQ(entry(slot).glyphs[1].glyph, FT_Get_Char_Index(face, 0xFFFD));
    EXPECT_EQ(entry(slot).glyphs[2].glyph, FT_Get_Char_Index(face, 'b'));
    std::string longtext(1500, 'i');
    uint8_t *coverage = ttf_textdraw(slot, longtext.c_str(), 0.0f, &w, &h);
    EXPECT_EQ(entry(slot).glyphcount, sys_maxglyphs);
    ASSERT_NE(coverage, nullptr);
    sys_free(coverage);
}

TEST_F(SysFonts, RenderedTextHasInkAndGreyRgb)
{
    int slot = openfont(24);
    int w, h;
    uint8_t *coverage = ttf_textdraw(slot, "Hi", 0.0f, &w, &h);
    ASSERT_NE(coverage, nullptr);
    int ink = 0;
    for (int i = 0; i < w * h; i++)
        ink += coverage[i] > 0;
    EXPECT_GT(ink, 20);
    int rw, rh;
    uint8_t *rgb = sys_fontdraw(slot, "Hi", 0.0f, &rw, &rh);
    ASSERT_NE(rgb, nullptr);
    ASSERT_EQ(rw, w);
    ASSERT_EQ(rh, h);
    for (int i = 0; i < w * h; i++) {
        EXPECT_EQ(rgb[3 * i], coverage[i]);
        EXPECT_EQ(rgb[3 * i + 1], coverage[i]);
        EXPECT_EQ(rgb[3 * i + 2], coverage[i]);
    }
    sys_free(rgb);
    sys_free(coverage);
    EXPECT_EQ(sys_fontdraw(-1, "Hi", 0.0f, &rw, &rh), nullptr);
    EXPECT_EQ(rw, 0);
}

TEST_F(SysFonts, The513thOpenFontOverflows)
{
    std::vector<int> slots;
    for (int i = 0; i < sys_maxfaces; i++) {
        int slot = openfont(12);
        ASSERT_GE(slot, 0) << i;
        slots.push_back(slot);
    }
    testlog_capture log;
    EXPECT_EQ(openfont(12), -1);
    EXPECT_TRUE(log.contains("[ ERROR ] sys_loadfontmem: system fonts overflow"));
    sys_closefont(slots[100]);
    EXPECT_EQ(openfont(12), slots[100]);
}

TEST(SysFontMachine, TheFontsOfThisMachineAreListedNamedAndLogged)
{
    ASSERT_EQ(sys_initfreetype(), 1);
    testlog_capture log;
    ASSERT_EQ(sys_initfonts(), 1);
    EXPECT_GT(sys_fontcount, 0);
    job_cachefontnames(nullptr);
    EXPECT_NE(sys_fontdefault, -1) << log.text();
    EXPECT_TRUE(log.contains("font[0] "));
    // The run's font list, for whoever reads the test output.
    std::istringstream lines(log.text());
    for (std::string line; std::getline(lines, line);)
        if (line.find("font[") != std::string::npos || line.find("default text-layer") != std::string::npos)
            printf("%s\n", line.c_str());
    sys_quitfonts();
    sys_quitfreetype();
}

// The caret of a text object: the cut at n bytes (a whole character taken
// after it), the blank at the end, and a face that is not cached.
TEST_F(SysFonts, TextWidthUpToNBytesAndTheCharacterAfter)
{
    ASSERT_EQ(text_init(), 1);
    font_initcache();
    sys_fontrecord record = {};
    sys_fontlist = &record;
    sys_fontcount = 1;
    int face = openfont(32);
    ASSERT_GE(face, 0);
    font_cacheslot[0].id = 0;
    font_cacheslot[0].font = 0;
    font_cacheslot[0].flags = font_cached;
    font_cacheslot[0].sysfont = face;
    text_object &t = text_objects[0];
    snprintf(t.text, sizeof(t.text), "K\xc3\xa9rf");
    t.font = 0;
    t.spacing = 0.0f;
    struct Case {
        int n;
        const char *head, *next;
    };
    const Case cases[] = {{0, "", "K"}, {1, "K", "\xc3\xa9"}, {3, "K\xc3\xa9", "r"}, {5, "K\xc3\xa9rf", " "},
                          {99, "K\xc3\xa9rf", " "}, {-4, "", "K"}};
    for (const Case &c : cases) {
        int extent[2], size[2], w, h, cw, ch;
        ASSERT_EQ(ttf_textwidthn(0, c.n, extent, size), 1) << c.n;
        ttf_textsize(face, c.head, 0.0f, &w, &h);
        ttf_textsize(face, c.next, 0.0f, &cw, &ch);
        EXPECT_EQ(extent[0], w) << c.n;
        EXPECT_EQ(extent[1], h) << c.n;
        EXPECT_EQ(size[0], cw) << c.n;
        EXPECT_GT(size[1], 0) << c.n;
    }
    font_cacheslot[0].flags = 0;
    testlog_capture local;
    int extent[2], size[2];
    EXPECT_EQ(ttf_textwidthn(0, 2, extent, size), 0);
    EXPECT_EQ(extent[0], 0);
    EXPECT_TRUE(local.contains("ttf_textwidthn: text[0] font[0] not cached"));
    EXPECT_EQ(ttf_textwidthn(-1, 2, extent, size), 0);
    font_initcache();
    sys_closefont(face);
    text_quit();
    sys_fontlist = nullptr;
    sys_fontcount = 0;
}
