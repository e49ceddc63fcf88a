// The operation editor's working copy: every switch a type's editor shows
// goes through the camop flags word and back, bits that belong to other
// types never reach a generator, the AUX words keep their exact bits, and
// the remembered defaults a new user starts with generate.
#include "cam/cam.h"
#include "mainwindow/opeditor.h"
#include "opeditorscene.h"
#include "sys/config.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// The switches of the record, with the bit each sets and the types whose
// editor shows it (an empty list: every type).
struct Switch {
    int32_t opeditor_record::*field;
    uint32_t bit;
    std::vector<int> types;
};
const Switch k_switches[] = {
    {&opeditor_record::rest, 0x0001, {}},
    {&opeditor_record::sort, 0x0002, {}},
    {&opeditor_record::link, 0x0004, {}},
    {&opeditor_record::edges, 0x0008, {}},
    {&opeditor_record::outline, 0x0010, {8}},
    {&opeditor_record::islands, 0x0020, {8}},
    {&opeditor_record::typeoption, 0x0040, {7, 13}},
    {&opeditor_record::ignoretool, 0x0080, {}},
    {&opeditor_record::percent, 0x0400, {}},
    {&opeditor_record::invert, 0x0800, {}},
};
const std::vector<int> k_contourtypes = {6, 8, 10, 15, 16, 17};

bool shows(const std::vector<int> &types, int t)
{
    return types.empty() || std::find(types.begin(), types.end(), t) != types.end();
}

TEST(OpEditorFlags, EverySwitchCombinationOfEachTypeRoundTrips)
{
    for (int t = 0; t < camop_types; t++) {
        std::vector<const Switch *> own;
        for (const Switch &s : k_switches)
            if (shows(s.types, t))
                own.push_back(&s);
        const int modes = shows(k_contourtypes, t) ? 3 : 1;
        for (uint32_t mask = 0; mask < (1u << own.size()); mask++)
            for (int mode = 0; mode < modes; mode++) {
                opeditor_record r{};
                r.type = t;
                uint32_t want = mode == 1 ? 0x0200u : mode == 2 ? 0x2000u : 0u;
                for (size_t i = 0; i < own.size(); i++)
                    if (mask & (1u << i)) {
                        r.*(own[i]->field) = 1;
                        want |= own[i]->bit;
                    }
                r.contourmode = mode;
                const uint32_t flags = opeditor_flags(&r);
                ASSERT_EQ(flags, want) << "type " << t << " mask " << mask << " mode " << mode;
                camop op{};
                op.type = t;
                op.flags = flags;
                opeditor_record back{};
                opeditor_load(&back, &op);
                for (const Switch &s : k_switches)
                    ASSERT_EQ(back.*(s.field), (flags & s.bit) ? 1 : 0) << "type " << t << " bit " << s.bit;
                ASSERT_EQ(back.contourmode, mode) << "type " << t;
                ASSERT_EQ(opeditor_flags(&back), flags) << "type " << t;
            }
    }
}

TEST(OpEditorFlags, SwitchesOfOtherTypesAreCleared)
{
    for (int t = 0; t < camop_types; t++) {
        opeditor_record r{};
        r.type = t;
        for (const Switch &s : k_switches)
            r.*(s.field) = 1;
        r.contourmode = 2;
        uint32_t want = 0;
        for (const Switch &s : k_switches)
            if (shows(s.types, t))
                want |= s.bit;
        if (shows(k_contourtypes, t))
            want |= 0x2000;
        EXPECT_EQ(opeditor_flags(&r), want) << "type " << t;
    }
}

// AUX words keep their bits through a camop, whether they hold a float, a
// uid with the pattern of a NaN or an infinity, a mask or two 16-bit codes.
TEST(OpEditorAux, WordsKeepTheirBitsThroughACamop)
{
    const uint32_t words[][3] = {
        {std::bit_cast<uint32_t>(22.5f), std::bit_cast<uint32_t>(0.5f), std::bit_cast<uint32_t>(-10.0f)},
        {0x7FC00001u, 0x80008000u, 0xFFFF0000u}, // a uid that reads as NaN, profile codes
        {0x7F800000u, 0x0000000Fu, 0xFFFFFFFFu}, // infinity's bits, a mask, -1
        {0x00180003u, 0x00020004u, std::bit_cast<uint32_t>(0.25f)}, // tessellation halves
    };
    for (const auto &w : words) {
        opeditor_record r{};
        r.type = 8;
        std::memcpy(r.aux, w, sizeof(r.aux));
        camop op{};
        opeditor_store(&r, &op);
        opeditor_record back{};
        opeditor_load(&back, &op);
        for (int k = 0; k < 3; k++)
            EXPECT_EQ(back.aux[k], w[k]) << k;
    }
    opeditor_record r{};
    opeditor_setauxf(r, 1, 3.75f);
    EXPECT_EQ(opeditor_auxf(r, 1), 3.75f);
}

TEST(OpEditorDefaults, ApplyRemembersAndNewOperationReads)
{
    std::vector<uint8_t> saved(cfg, cfg + cfg_size);
    memcpy(cfg, cfg_defaults, cfg_size);
    opeditor_record fresh{};
    opeditor_loaddefaults(&fresh);
    // The built-in defaults generate: a feed, engage feed and speed above 0.
    EXPECT_EQ(fresh.feed, 40);
    EXPECT_EQ(fresh.engagefeed, 20);
    EXPECT_EQ(fresh.speed, 12000);
    EXPECT_FLOAT_EQ(fresh.z_doc, 0.125f);
    EXPECT_FLOAT_EQ(fresh.step, 25.0f);
    EXPECT_EQ(fresh.percent, 1);
    EXPECT_FLOAT_EQ(fresh.z_safe, 0.1f);

    opeditor_record r{};
    r.type = 9;
    r.coolant = 3;
    r.tool = 4;
    r.feed = 55;
    r.engagefeed = 11;
    r.speed = 9000;
    r.dir = 2;
    r.stock = 0.02f;
    r.step = 0.3f;
    r.z_doc = 0.2f;
    r.z_max = 0.7f;
    r.z_min = 0.05f;
    r.z_safe = 0.25f;
    r.rest = r.sort = r.link = r.edges = 1;
    r.percent = 0;
    r.outline = 1; // not remembered
    opeditor_setauxf(r, 0, 33.75f);
    r.aux[1] = 0x12345678;
    r.aux[2] = 0xFFFFFFFF;
    opeditor_savedefaults(&r);
    EXPECT_EQ(cfg_geti(cfg_oplasttype), 9);

    opeditor_record back{};
    opeditor_loaddefaults(&back);
    opeditor_loadtypevalues(&back, 9);
    EXPECT_EQ(back.coolant, 3);
    EXPECT_EQ(back.tool, 4);
    EXPECT_EQ(back.feed, 55);
    EXPECT_EQ(back.engagefeed, 11);
    EXPECT_EQ(back.speed, 9000);
    EXPECT_EQ(back.dir, 2);
    EXPECT_EQ(back.stock, 0.02f);
    EXPECT_EQ(back.step, 0.3f);
    EXPECT_EQ(back.z_doc, 0.2f);
    EXPECT_EQ(back.z_max, 0.7f);
    EXPECT_EQ(back.z_min, 0.05f);
    EXPECT_EQ(back.z_safe, 0.25f);
    EXPECT_EQ(back.rest + back.sort + back.link + back.edges, 4);
    EXPECT_EQ(back.percent, 0);
    EXPECT_EQ(back.outline, 0);
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(back.aux[k], r.aux[k]) << k;
    // Another type's values are its own.
    opeditor_record other{};
    opeditor_loadtypevalues(&other, 10);
    EXPECT_EQ(other.aux[1], 0u);
    memcpy(cfg, saved.data(), cfg_size);
}

// ---- the rows on the real window ----

class OpEditorRows : public EditorScene {};

TEST_F(OpEditorRows, RatesStopAt32768)
{
    struct Case {
        const char *field;
        int32_t opeditor_record::*value;
        int text;
    };
    const Case cases[] = {{"op_speed", &opeditor_record::speed, opeditor_speedtext},
                          {"op_feed", &opeditor_record::feed, opeditor_feedtext},
                          {"op_engage", &opeditor_record::engagefeed, opeditor_engagetext}};
    settype(1);
    for (const Case &c : cases) {
        typeinto(c.field, "40000");
        EXPECT_EQ(opeditor.*(c.value), 32768) << c.field;
        EXPECT_STREQ(opeditor.text[c.text], "32768") << c.field;
    }
}

TEST_F(OpEditorRows, CutDepthKeepsToTheFlutesOfAnInchToolInAMetricProject)
{
    project.units = 2;
    project.size[2] = 50.0f;
    settool(1, 1, 1.0f, 2.0f, 0.25f);
    opeditor.tool = 1;
    settype(1);
    typeinto("op_cutdepth", "30");
    EXPECT_NEAR(opeditor.z_doc, 25.4f, 1e-4);
    EXPECT_EQ(boxes("Cut Depth"), 1);
    harness_frames(3);
    EXPECT_EQ(boxes("Cut Depth"), 1);
    // A drop-down open: the value is clamped all the same, without a box.
    opeditor.z_doc = 30.0f;
    gui_openid = 14001;
    opeditor_limitdoc(opeditor, 1);
    gui_openid = -1;
    EXPECT_NEAR(opeditor.z_doc, 25.4f, 1e-4);
    EXPECT_EQ(boxes("Cut Depth"), 1);
}

TEST_F(OpEditorRows, MaxDepthResetLeavesTheStockOnlyWhereTheTypeKeepsIt)
{
    struct Case {
        int type;
        float want;
    };
    const Case cases[] = {{1, 0.9f}, {10, 1.0f}};
    for (const Case &c : cases) {
        settype(c.type);
        opeditor.ignoretool = 1;
        opeditor.stock = 0.1f;
        opeditor.z_max = 0.2f;
        harness_frame();
        ASSERT_EQ(harness_click("op_maxdepth_reset"), 1) << c.type;
        EXPECT_NEAR(opeditor.z_max, c.want, 1e-6) << c.type;
    }
}

TEST_F(OpEditorRows, PercentSwitchWithoutATool)
{
    for (int units : {1, 2}) {
        project.units = (uint32_t)units;
        settype(1);
        opeditor.percent = 0;
        harness_frame();
        ASSERT_EQ(harness_click("op_stepover_percentage"), 1);
        EXPECT_STREQ(opeditor.text[opeditor_steptext], "25.00");
        EXPECT_EQ(opeditor.percent, 1);
        harness_frame();
        ASSERT_TRUE(harness_present("op_stepover_physical"));
        harness_click("op_stepover_physical");
        EXPECT_FLOAT_EQ(opeditor.step, units == 1 ? 0.1f : 2.0f) << units;
        EXPECT_STREQ(opeditor.text[opeditor_steptext], units == 1 ? "0.1" : "2.0");
        EXPECT_EQ(opeditor.percent, 0);
    }
}

TEST_F(OpEditorRows, PercentSwitchGoesThroughTheToolsDiameterInProjectUnits)
{
    // A 6.35 mm cutter in an inch project: 0.125 inch is 50 percent of it.
    settool(1, 2, 20.0f, 50.0f, 6.35f);
    opeditor.tool = 1;
    settype(1);
    opeditor.percent = 0;
    opeditor.step = 0.125f;
    opeditor_steptopercent(opeditor);
    EXPECT_NEAR(opeditor.step, 50.0f, 1e-3);
    opeditor_steptophysical(opeditor);
    EXPECT_NEAR(opeditor.step, 0.125f, 1e-5);
}

TEST_F(OpEditorRows, LabyrinthStepoverHasAMinimumOnCommit)
{
    settype(4);
    opeditor.percent = 0;
    opeditor_settexts(&opeditor, 1);
    harness_frame();
    typeinto("op_stepover", "0.001");
    EXPECT_NEAR(opeditor.step, 12.0f / 2048.0f, 1e-6);
}

TEST_F(OpEditorRows, HoleDrillingShowsItsOwnRows)
{
    settype(16);
    EXPECT_TRUE(shown("Dir: N/A"));
    EXPECT_TRUE(harness_present("op_retract"));
    EXPECT_TRUE(harness_present("op_retract_enable"));
    EXPECT_FALSE(harness_present("op_link_enable"));
    EXPECT_FALSE(harness_present("op_stock"));
    EXPECT_FALSE(harness_present("op_offset"));
    harness_click("op_retract_enable");
    EXPECT_EQ(opeditor.link, 1);
    harness_frame();
    EXPECT_TRUE(shown("Retract: N/A"));
    EXPECT_TRUE(harness_present("op_retract_disable"));
}

TEST_F(OpEditorRows, TheFirstOperationNeverOffersRestMachining)
{
    settype(1);
    EXPECT_TRUE(harness_present("op_rest_enable"));
    gui_selectedop = 0;
    harness_frame();
    EXPECT_FALSE(harness_present("op_rest_enable"));
    EXPECT_TRUE(shown("Rest-Machining"));
}

TEST_F(OpEditorRows, EntryMethodsByType)
{
    for (int t = 1; t < camop_types; t++) {
        settype(t);
        if (!harness_present("opentry_plunge"))
            ASSERT_EQ(harness_click("op_entry"), 1) << t;
        EXPECT_TRUE(harness_present("opentry_plunge")) << t;
        const bool ramp = !(t == 5 || t == 6 || t == 11 || (t >= 14 && t <= 17));
        const bool helical = t == 7 || t == 10 || t == 14 || t == 15;
        EXPECT_EQ(harness_present("opentry_ramp"), ramp) << t;
        EXPECT_EQ(harness_present("opentry_helical"), helical) << t;
        gui_openid = -1;
        harness_frame();
    }
}

TEST_F(OpEditorRows, MiscChecksOfHorizontalFinishing)
{
    settype(7);
    opeditor.step = 0.0f;
    opeditor.rest = 1;
    opeditor.sort = 0;
    harness_frame();
    EXPECT_EQ(boxes("Kerfmill"), 1);
    EXPECT_EQ(opeditor.rest, 0);
    opeditor.step = 0.1f;
    opeditor.sort = 1;
    harness_frame();
    EXPECT_EQ(boxes("Cut Distance Sorting"), 1);
    EXPECT_EQ(opeditor.sort, 0);
    // With rest-machining on, sorting stays.
    opeditor.rest = opeditor.sort = 1;
    harness_frames(2);
    EXPECT_EQ(opeditor.sort, 1);
    EXPECT_EQ(boxes("Cut Distance Sorting"), 1);
}

} // namespace
