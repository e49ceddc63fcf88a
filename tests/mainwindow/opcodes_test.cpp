// The codes of the profile and tessellation branches: the cases whose
// numbers are fixed (2 inches of width, the ranges' tops, the snapped
// spacing), the out-of-range rules, and random values encoded here and read
// back by the generators' own decoders, which are the codes' other side.
#include "mainwindow/opcodes.h"

#include "cam/cam.h"
#include "cam/profiling.h"
#include "cam/tessellate.h"
#include "mainwindow/opeditor.h"
#include "shellscene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr float inch = 1.0f, mm = 1.0f / 25.4f; // scales: inches per project unit

TEST(OpCodes, FixedCases)
{
    struct Case {
        const char *name;
        int field;
        float value, scale;
        int32_t code;
    } const cases[] = {
        {"2-inch width", opcodes_width, 2.0f, inch, 32768},
        {"8-inch width", opcodes_width, 8.0f, inch, 65535},
        {"width above 8 inches", opcodes_width, 9.5f, inch, 65535},
        {"203.2 mm width", opcodes_width, 203.2f, mm, 65535},
        {"zero width", opcodes_width, 0.0f, inch, 0},
        {"spacing at 24 inches", opcodes_spacing, 24.0f, inch, 65535},
        {"spacing above 24 inches", opcodes_spacing, 30.0f, inch, 65535},
        {"length above 1 inch", opcodes_length, 1.5f, inch, 65535},
        {"height above 0.5 inch", opcodes_height, 0.75f, inch, 65535},
        {"height above 12.7 mm", opcodes_height, 13.0f, mm, 65535},
        {"half-inch length", opcodes_length, 0.5f, inch, 32768},
        {"negative spacing", opcodes_spacing, -1.0f, inch, 0},
        {"negative width", opcodes_width, -2.0f, mm, 0},
        {"width not a number", opcodes_width, std::numeric_limits<float>::quiet_NaN(), inch, -1},
        {"infinite length", opcodes_length, std::numeric_limits<float>::infinity(), inch, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(opcodes_encode(c.field, c.value, c.scale), c.code) << c.name;
    EXPECT_NEAR(opcodes_decode(opcodes_width, 32768, inch, 1), 2.0001f, 0.00005f);
    EXPECT_NEAR(opcodes_decode(opcodes_width, 65535, mm, 2), 203.2f, 0.001f);
}

// The spacing shows on the step of the units: 0.001 inch, 0.1 mm.
TEST(OpCodes, SpacingShowsSnappedToTheUnitsStep)
{
    const int32_t ci = opcodes_encode(opcodes_spacing, 1.23456f, inch);
    const float si = opcodes_decode(opcodes_spacing, (uint32_t)ci, inch, 1);
    EXPECT_NEAR(si, 1.235f, 1e-5f);
    EXPECT_NEAR(si * 1000.0f, std::round(si * 1000.0f), 1e-3f);
    const int32_t cm = opcodes_encode(opcodes_spacing, 33.337f, mm);
    const float sm = opcodes_decode(opcodes_spacing, (uint32_t)cm, mm, 2);
    EXPECT_NEAR(sm, 33.3f, 1e-4f);
    EXPECT_NEAR(sm * 10.0f, std::round(sm * 10.0f), 1e-3f);
}

TEST(OpCodes, HalvesKeepTheOtherHalf)
{
    uint32_t w = opcodes_withhalf(0x12345678u, 1, 0xBEEF);
    EXPECT_EQ(w, 0xBEEF5678u);
    w = opcodes_withhalf(w, 0, 0x1CAFE); // only 16 bits are kept
    EXPECT_EQ(w, 0xBEEFCAFEu);
    EXPECT_EQ(opcodes_bits(opcodes_float(0x7FC00001u)), 0x7FC00001u) << "a uid that reads as not a number";
    EXPECT_EQ(opcodes_half(w, 0), 0xCAFEu);
    EXPECT_EQ(opcodes_half(w, 1), 0xBEEFu);
}

TEST(OpCodes, TessellationGapStopsAtTheTile)
{
    EXPECT_FLOAT_EQ(opcodes_tessgapmax(10.0f, 6.0f, 4.0f, 2.0f), 2.5f);
    EXPECT_FLOAT_EQ(opcodes_tessgapmax(10.0f, 6.0f, 3.6f, 1.4f), 2.5f); // to the nearest whole number
    EXPECT_FLOAT_EQ(opcodes_tessgapmax(10.0f, 6.0f, 0.0f, 0.0f), 6.0f);
}

// Typed values in both units, encoded as the editor stores them and read
// by the profiling generator's reader: equal within one code step (the
// width's step grows towards the top of its quadratic range).
TEST(OpCodes, ProfileCodesReadBackByTheGenerator)
{
    std::mt19937 rng(58);
    for (float scale : {inch, mm}) {
        SCOPED_TRACE(scale == inch ? "inches" : "metric");
        std::uniform_real_distribution<float> width(0.0f, 8.0f / scale), spacing(0.0f, 24.0f / scale),
            length(0.0f, 1.0f / scale), height(0.0f, 0.5f / scale);
        const float steps[4] = {16.0f / 65535.0f / scale, 24.0f / 65535.0f / scale, 1.0f / 65535.0f / scale,
                                0.5f / 65535.0f / scale};
        for (int i = 0; i < 1000; i++) {
            const float typed[4] = {width(rng), spacing(rng), length(rng), height(rng)};
            uint32_t code[4];
            for (int f = 0; f < 4; f++)
                code[f] = (uint32_t)opcodes_encode(f, typed[f], scale);
            camop op{};
            op.aux[1] = opcodes_float(code[opcodes_width] | code[opcodes_spacing] << 16);
            op.aux[2] = opcodes_float(code[opcodes_length] | code[opcodes_height] << 16);
            const prof_settings p = prof_readcodes(&op, scale);
            const float read[4] = {p.width, p.spacing, p.tablength, p.tabheight};
            for (int f = 0; f < 4; f++)
                ASSERT_NEAR(read[f], typed[f], steps[f] * 1.001f) << "field " << f << " typed " << typed[f];
        }
    }
}

// The sliders as dragged (any float in their ranges) are stored rounded;
// the generator's unpacking reads the rounded values, the shape and the gap.
TEST(OpCodes, TessellationHalvesReadBackByTheGenerator)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> grid(1.0f, 16.0f), cuts(1.0f, 24.0f), gap(0.0f, 50.0f);
    std::uniform_int_distribution<int> shape(1, 6);
    for (int i = 0; i < 1000; i++) {
        const opcodes_tess t = {grid(rng), grid(rng), cuts(rng)};
        const int s = shape(rng);
        uint32_t words[3] = {(uint32_t)s, 0xFFFFFFFFu, opcodes_bits(gap(rng))}; // nothing of an earlier type survives
        opcodes_tesswrite(words, t);
        camop op{};
        for (int k = 0; k < 3; k++)
            op.aux[k] = opcodes_float(words[k]);
        tess_params p;
        ASSERT_EQ(tess_unpack(&op, &p, "opcodes_test"), 1);
        EXPECT_EQ(p.shape, s);
        EXPECT_EQ(p.cols, (int)std::lround(t.cols));
        EXPECT_EQ(p.rows, (int)std::lround(t.rows));
        EXPECT_EQ(p.cuts, (int)std::lround(t.cuts));
        EXPECT_EQ(p.gap, op.aux[2]);
        const opcodes_tess back = opcodes_tessread(words);
        EXPECT_EQ(back.cols, (float)p.cols);
        EXPECT_EQ(back.rows, (float)p.rows);
        EXPECT_EQ(back.cuts, (float)p.cuts);
    }
}

// The two branches drawn in the right column of the real main window, as
// the editor draws them: fields typed into with the keyboard, the codes
// read from the working copy.
class OpCodeRows : public ShellScene {
protected:
    static inline void (*branch)() = nullptr;
    void SetUp() override
    {
        ShellScene::SetUp();
        opeditor = opeditor_record{};
        projectmode = 3;
        gui_sidepanel = 6;
        mainwindow_panels[panel_side + 6] = [] {
            branch();
            gui_popframe(0);
        };
        project.scale = 1.0f;
        project.size[0] = 10.0f, project.size[1] = 6.0f, project.size[2] = 1.0f;
    }
    void TearDown() override
    {
        opeditor = opeditor_record{};
        project.units = 1;
        project.scale = 1.0f;
        ShellScene::TearDown();
    }
    void draw(void (*fn)())
    {
        branch = fn;
        harness_frame();
        harness_frame();
    }
    static void typeinto(const char *field, const char *text)
    {
        ShellScene::typeinto(field, text, opeditor_textsize);
    }
};

TEST_F(OpCodeRows, TypedProfileValuesBecomeCodesAndShowAgain)
{
    struct Case {
        uint32_t units;
        float scale;
        const char *field, *typed;
        int word, high;
        uint32_t code;
        const char *shown;
    } const cases[] = {
        {1, inch, "op_prof_tabs_length", "3", 2, 0, 65535, "1.0"},
        {1, inch, "op_prof_width", "2", 1, 0, 32768, "2.0001"},
        {1, inch, "op_prof_width", "9", 1, 0, 65535, "8.0"},
        {2, mm, "op_prof_width", "250", 1, 0, 65535, "203.2"},
        {1, inch, "op_prof_tabs_spacing", "1.23456", 1, 1, 3371, "1.235"},
        {2, mm, "op_prof_tabs_spacing", "33.337", 1, 1, 3584, "33.3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.typed);
        opeditor = opeditor_record{};
        opeditor.type = 8;
        opeditor.aux[1] = 1u << 16; // a spacing: the length and height fields show
        project.units = c.units;
        project.scale = c.scale;
        draw(opcodes_profile);
        typeinto(c.field, c.typed);
        EXPECT_EQ(opcodes_half(opeditor.aux[c.word], c.high), c.code);
        const int f = std::string(c.field) == "op_prof_width" ? opcodes_width
                      : std::string(c.field) == "op_prof_tabs_spacing" ? opcodes_spacing
                                                                       : opcodes_length;
        EXPECT_STREQ(opeditor.proftext[f], c.shown);
    }
}

TEST_F(OpCodeRows, ZeroSpacingShowsTheTabReadOuts)
{
    opeditor.type = 8;
    opeditor.aux[2] = opcodes_withhalf(opcodes_withhalf(0, 0, 32768), 1, 65535);
    draw(opcodes_profile);
    EXPECT_FALSE(harness_present("op_prof_tabs_length"));
    EXPECT_FALSE(harness_present("op_prof_tabs_height"));
    EXPECT_TRUE(drawn("Lg: 0.5\""));
    EXPECT_TRUE(drawn("Ht: 0.5\""));
    EXPECT_TRUE(drawn("Cut: Pockets")) << "a label while outline mode is off";
    opeditor.aux[1] = opcodes_withhalf(0, 1, 100);
    draw(opcodes_profile);
    EXPECT_TRUE(harness_present("op_prof_tabs_length"));
    EXPECT_TRUE(harness_present("op_prof_tabs_height"));
    ASSERT_EQ(harness_click("op_prof_tabs_reset"), 1);
    EXPECT_EQ(opcodes_half(opeditor.aux[1], 1), 0u);
    ASSERT_EQ(harness_click("op_outlinemode"), 1);
    EXPECT_EQ(opeditor.outline, 1);
    harness_frame();
    ASSERT_EQ(harness_click("op_outlinecut"), 1);
    EXPECT_EQ(opeditor.islands, 1);
}

// 4 columns and 2 rows on a 10 x 6 canvas: tiles of 2.5 x 3, the gap stops
// at 2.5. The sliders come from the codes and go back rounded; an
// operation without a shape names "none".
TEST_F(OpCodeRows, TessellationSlidersGapAndShape)
{
    opeditor.type = 13;
    opeditor.aux[0] = opcodes_withhalf(0, 1, 3);
    opeditor.aux[1] = opcodes_withhalf(opcodes_withhalf(0, 0, 4), 1, 2);
    opeditor.aux[2] = opcodes_bits(5.0f);
    draw(opcodes_tessellation);
    EXPECT_FLOAT_EQ(opeditor.tesscols, 4.0f);
    EXPECT_FLOAT_EQ(opeditor.tessrows, 2.0f);
    EXPECT_FLOAT_EQ(opeditor.tesscuts, 3.0f);
    EXPECT_FLOAT_EQ(opcodes_float(opeditor.aux[2]), 2.5f);
    EXPECT_TRUE(drawn("Cutpath Shape: none"));
    ASSERT_EQ(harness_click("op_tess_shape"), 1);
    ASSERT_EQ(harness_click("tess_hexagons"), 1);
    EXPECT_EQ(opcodes_half(opeditor.aux[0], 0), 5u);
    EXPECT_EQ(opcodes_half(opeditor.aux[0], 1), 3u) << "the cuts stay";
    harness_frame();
    EXPECT_TRUE(drawn("Cutpath Shape: Hexagons"));
    // Another operation's codes replace the sliders.
    opeditor.aux[1] = opcodes_withhalf(opcodes_withhalf(0, 0, 7), 1, 9);
    draw(opcodes_tessellation);
    EXPECT_FLOAT_EQ(opeditor.tesscols, 7.0f);
    EXPECT_FLOAT_EQ(opeditor.tessrows, 9.0f);
}

} // namespace
