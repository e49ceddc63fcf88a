// Data fonts on a real context: the thirty fonts load in order, a missing
// sheet fails by name, a drawn string reads back with the ink box its sheet
// predicts, and the geometry font_draw emits (recorded into a render model):
// tab stops, the "?" rule of the text fonts, the bytes of the icon fonts,
// the 1365-character cut, shadow passes and turned glyphs.
#include "fontnames.h"
#include "glcontext.h"
#include "img/png.h"
#include "render/draw.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "render/texture.h"
#include "sys/file.h"
#include "testlog.h"

#include <cmath>
#include <string>
#include <vector>

constexpr int fb_width = 128, fb_height = 64;

class FontDraw : public GlTest {
protected:
    gltest_target target;

    void SetUp() override
    {
        GlTest::SetUp();
        startdraw();
        font_loaded = 0;
        gui_textstate = {{1.0f, 1.0f, 1.0f, 1.0f}, 0.0f, 0.0f, 1.0f, 0.0f, 0};
        // Window pixels, y down, as the GUI draws.
        glMatrixMode(GL_PROJECTION);
        glOrtho(0, fb_width, fb_height, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        ASSERT_EQ(target.make(fb_width, fb_height, 4, 0), 1);
        target.bindasrenderer(fb_width, fb_height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    void TearDown() override
    {
        for (int slot = 0; slot < r_maxmodels; slot++)
            r_modelfree(slot);
        freetextures();
        r_blendmode(0);
        target.free();
        font_loaded = 0;
        EXPECT_EQ(r_primitive, -1);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }

    // Fonts with the default metrics (characters 32..159) up to index
    // font_firsticon - 1, then one icon font of codes 0..255.
    static void addtestfonts()
    {
        font_dat dat;
        font_defaultdat(&dat);
        for (int i = 0; i < font_firsticon; i++)
            font_addslot("text", &dat, -1, 2);
        dat.sheetheight = 256;
        dat.first = 0;
        font_addslot("icons", &dat, -1, 2);
    }
};

// What one font_draw emitted, recorded instead of drawn.
struct recorded {
    std::vector<float> xyz;
    std::vector<uint8_t> rgba;
    std::vector<int16_t> uv;
    int glyphs() const { return (int)xyz.size() / 18; }
    float x(int vertex) const { return xyz[vertex * 3]; }
    float y(int vertex) const { return xyz[vertex * 3 + 1]; }
    float s(int vertex) const { return uv[vertex * 2] / 4096.0f; }
    float t(int vertex) const { return uv[vertex * 2 + 1] / 4096.0f; }
};

template <typename F>
static recorded record(F draw)
{
    int slot = r_modelnew();
    draw();
    const r_model &m = r_models[slot];
    recorded r;
    r.xyz.assign(m.positions, m.positions + m.numverts * 3);
    r.rgba.assign(m.colors, m.colors + m.numverts * 4);
    r.uv.assign(m.texcoords, m.texcoords + m.numverts * 2);
    r_currentmodel = -1;
    r_modelfree(slot);
    return r;
}

TEST_F(FontDraw, ThirtyFontsLoadInOrderWithTheirIndexes)
{
    testlog_capture log;
    ASSERT_EQ(font_init(), 1) << log.text();
    ASSERT_EQ(font_loaded, font_count);
    EXPECT_EQ(font_textfonts, 15);
    for (int i = 0; i < font_count; i++) {
        const char *name = fonttest_names[i];
        const font_slot &f = font_slots[i];
        EXPECT_STREQ(f.name, name);
        ASSERT_GE(f.texture, 0) << name;
        EXPECT_EQ(r_textures[f.texture].width, (uint32_t)f.metrics.sheetwidth) << name;
        EXPECT_EQ(r_textures[f.texture].clamp, 1u) << name;
        EXPECT_EQ(f.blend, 2) << name; // the sheets carry alpha
        EXPECT_EQ(f.cells, f.columns * f.rows);
        EXPECT_EQ(f.tabwidth, 9 * f.metrics.advance['a']);
        EXPECT_TRUE(log.contains("...font texid[" + std::to_string(f.texture) + "]")) << name;
    }
    EXPECT_FALSE(log.contains("using default"));
}

TEST_F(FontDraw, AMissingSheetFailsNamingTheFile)
{
    testlog_capture log;
    EXPECT_EQ(font_load("No Such Font"), -1);
    EXPECT_EQ(font_loaded, 0);
    EXPECT_TRUE(log.contains("[ ERROR ] Failed to load font PNG/BMP/TGA image: \"fonts/No Such Font.png\""))
        << log.text();
}

TEST_F(FontDraw, A33rdFontIsRefusedBeforeItsSheetIsLoaded)
{
    font_loaded = font_maxslots;
    testlog_capture log;
    EXPECT_EQ(font_load("System"), -1);
    EXPECT_EQ(font_loaded, font_maxslots);
    EXPECT_TRUE(log.contains("[ ERROR ] font_load: data fonts overflow! (\"System\")"));
    for (int slot = 0; slot < r_maxtextures; slot++)
        EXPECT_EQ(r_textures[slot].width, 0u);
}

// The ink of the sheet's cell of c: left, top, right, bottom (exclusive),
// relative to the cell; right < left when the cell is empty.
static void sheetink(const std::vector<uint8_t> &rgba, int width, const font_slot &f, int c, int *box)
{
    const font_dat &m = f.metrics;
    int k = c - m.first, x0 = k % f.columns * m.cellwidth, y0 = k / f.columns * m.cellheight;
    box[0] = box[1] = 1 << 20;
    box[2] = box[3] = -1;
    for (int y = 0; y < m.cellheight; y++)
        for (int x = 0; x < m.cellwidth; x++)
            if (rgba[((size_t)(y0 + y) * width + x0 + x) * 4 + 3]) {
                box[0] = std::min(box[0], x);
                box[1] = std::min(box[1], y);
                box[2] = std::max(box[2], x + 1);
                box[3] = std::max(box[3], y + 1);
            }
}

TEST_F(FontDraw, ADrawnStringReadsBackWithTheInkBoxOfItsSheet)
{
    int font = font_load("Fixedsys");
    ASSERT_EQ(font, 0);
    const font_slot &f = font_slots[font];
    int32_t size = 0;
    void *png = file_load("fonts/Fixedsys.png", &size, 0, INT32_MAX);
    ASSERT_NE(png, nullptr);
    int width, height, bpp;
    uint8_t *pixels = sys_loadimagemem((const uint8_t *)png, size, &width, &height, &bpp, 0);
    sys_free(png);
    ASSERT_NE(pixels, nullptr);
    std::vector<uint8_t> sheet(pixels, pixels + (size_t)width * height * bpp);
    sys_free(pixels);

    // The expected box: each glyph's ink moved to its pen position.
    const char *text = "Hi_j";
    const int x0 = 10, y0 = 20;
    int expect[4] = {1 << 20, 1 << 20, -1, -1}, pen = x0;
    for (const char *p = text; *p; p++) {
        int box[4];
        sheetink(sheet, width, f, *p, box);
        expect[0] = std::min(expect[0], pen + box[0]);
        expect[1] = std::min(expect[1], y0 + box[1]);
        expect[2] = std::max(expect[2], pen + box[2]);
        expect[3] = std::max(expect[3], y0 + box[3]);
        pen += f.metrics.advance[(uint8_t)*p];
    }
    font_draw(x0, y0, 0, font, "%s", text);

    std::vector<uint8_t> read((size_t)fb_width * fb_height * 4);
    glReadPixels(0, 0, fb_width, fb_height, GL_RGBA, GL_UNSIGNED_BYTE, read.data());
    int got[4] = {1 << 20, 1 << 20, -1, -1};
    for (int row = 0; row < fb_height; row++)
        for (int x = 0; x < fb_width; x++)
            if (read[((size_t)row * fb_width + x) * 4]) {
                int y = fb_height - 1 - row; // rows read back bottom first
                got[0] = std::min(got[0], x);
                got[1] = std::min(got[1], y);
                got[2] = std::max(got[2], x + 1);
                got[3] = std::max(got[3], y + 1);
            }
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(got[i], expect[i]) << "box side " << i;
    EXPECT_EQ(r_boundtexture, -1);
}

TEST_F(FontDraw, TabsMoveThePenToTheNextStop)
{
    addtestfonts();
    font_slots[0].metrics.advance['x'] = 10; // tab width stays 9 x 8 = 72
    recorded r = record([] { font_draw(5, 7, 0, 0, "x\tx\t\tx"); });
    ASSERT_EQ(r.glyphs(), 3);
    float expect[] = {5, 5 + 72, 5 + 216};
    for (int g = 0; g < 3; g++) {
        EXPECT_EQ(r.x(g * 6), expect[g]) << g;
        EXPECT_EQ(r.y(g * 6), 7.0f) << g;
    }
}

TEST_F(FontDraw, TextFontsShowMultiByteCharactersAsOneQuestionMark)
{
    addtestfonts();
    const int icons = font_firsticon;
    struct Case {
        int font;
        const char *text;
        std::vector<int> codes; // cells drawn, in order
        std::vector<float> pens;
    };
    const Case cases[] = {
        {0, "\xC3\xA9", {'?'}, {0}},
        {0, "a\xE2\x82\xAC" "b", {'a', '?', 'b'}, {0, 8, 16}},
        {0, "\xF0\x9F\x98\x80!", {'?', '!'}, {0, 8}},
        {0, "\xC3" "a", {'?', 'a'}, {0, 8}},       // a broken sequence keeps the next character
        {0, "\x90", {0x90}, {0}},                  // a lone continuation byte inside the sheet
        {0, "a\xA9" "b", {'a', 'b'}, {0, 8}},      // outside the sheet: not drawn, no advance
        {0, "\x1F" "a", {'a'}, {0}},
        {icons, "\xC3\xA9", {0xC3, 0xA9}, {0, 8}}, // icon fonts draw every byte
        {icons, "\x01z", {0x01, 'z'}, {0, 8}},
    };
    for (const Case &c : cases) {
        recorded r = record([&] { font_draw(0, 0, 0, c.font, "%s", c.text); });
        ASSERT_EQ(r.glyphs(), (int)c.codes.size()) << c.font << " " << c.text;
        const font_slot &f = font_slots[c.font];
        for (size_t g = 0; g < c.codes.size(); g++) {
            int k = c.codes[g] - f.metrics.first;
            EXPECT_NEAR(r.s(g * 6), (float)(k % f.columns) / f.columns, 1.0f / 4096) << c.text << " " << g;
            EXPECT_NEAR(r.t(g * 6), (float)(k / f.columns) / f.rows, 1.0f / 4096) << c.text << " " << g;
            EXPECT_EQ(r.x(g * 6), c.pens[g]) << c.text << " " << g;
        }
    }
}

TEST_F(FontDraw, LongTextsDrawTheirFirst1365Characters)
{
    addtestfonts();
    std::string text(2000, 'a');
    recorded r = record([&] { font_draw(0, 0, 0, 0, "%s", text.c_str()); });
    EXPECT_EQ(r.glyphs(), font_maxdraw);
    EXPECT_EQ(r.x((font_maxdraw - 1) * 6), (font_maxdraw - 1) * 8.0f);
}

TEST_F(FontDraw, ShadowPassesComeFirstInBlackAtNinetyPercentAlpha)
{
    addtestfonts();
    struct Case {
        float alpha;
        uint8_t shadow, text;
    };
    const Case cases[] = {{1.0f, 229, 255}, {0.5f, 114, 127}, {2.0f, 255, 255}, {0.0f, 0, 0}, {-1.0f, 0, 0}};
    for (const Case &c : cases) {
        gui_textstate.color[0] = 0.2f;
        gui_textstate.color[3] = c.alpha;
        recorded r = record([] { font_draw(10, 20, 2, 0, "a"); });
        ASSERT_EQ(r.glyphs(), 3);
        for (int pass = 0; pass < 3; pass++) {
            int v = pass * 6, k = 2 - pass;
            EXPECT_EQ(r.x(v), 10.0f + k);
            EXPECT_EQ(r.y(v), 20.0f + k);
            bool shadow = k > 0;
            EXPECT_EQ(r.rgba[v * 4], shadow ? 0 : 51) << c.alpha;
            EXPECT_EQ(r.rgba[v * 4 + 3], shadow ? c.shadow : c.text) << c.alpha;
        }
    }
}

TEST_F(FontDraw, TurnedGlyphsSpanTheAdvanceAboutTheirCentre)
{
    addtestfonts();
    gui_textstate.depth = 0.25f;
    gui_settextangle((float)M_PI / 2);
    recorded r = record([] {
        r_begin(r_triangles);
        font_glyph(0, 0, 0, 'A');
        r_end();
    });
    gui_settextangle(0.0f);
    ASSERT_EQ(r.glyphs(), 1);
    // Advance 8, cell 16: centre (4, 8), half sizes 4 and 8; at 90 degrees
    // the corners are (12, 4), (12, 12), (-4, 12), (-4, 4).
    const float corners[6][2] = {{12, 4}, {12, 12}, {-4, 12}, {12, 4}, {-4, 12}, {-4, 4}};
    for (int v = 0; v < 6; v++) {
        EXPECT_NEAR(r.x(v), corners[v][0], 1e-4) << v;
        EXPECT_NEAR(r.y(v), corners[v][1], 1e-4) << v;
        EXPECT_EQ(r.xyz[v * 3 + 2], 0.25f);
    }
    int k = 'A' - 32;
    float s0 = (float)(k % 16) / 16;
    EXPECT_NEAR(r.s(1) - s0, 8.0f / 16 / 16, 1.0f / 4096); // half a cell of texture
}

TEST_F(FontDraw, AnOpenPrimitiveIsReportedAndLeftAlone)
{
    addtestfonts();
    testlog_capture log;
    r_begin(r_lines);
    font_draw(0, 0, 0, 0, "abc");
    EXPECT_EQ(r_primitive, (int)r_lines);
    r_end();
    EXPECT_TRUE(log.contains("r_begin: already drawing primitives!"));
}
