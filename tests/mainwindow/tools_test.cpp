// The tools mode on the real main window: the editor's derived and clamped
// values, Apply's raised total length, remembered defaults and refusals of
// tools no generator can cut with, the library load, remove and clear, the
// discard question, and the buttons that turn to labels while a job runs.
#include "cam/tool.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/toollib.h"
#include "mainwindow/tools.h"
#include "shellscene.h"

#include <cmath>
#include <limits>

namespace {

class Tools : public ShellScene {
protected:
    void SetUp() override
    {
        ShellScene::SetUp();
        cam_settooldefaults();
        opeditor_tool = 0;
        projectmode = 2;
        harness_rec.boxes.clear();
        harness_frame();
    }
    void TearDown() override
    {
        opeditor_tool = 0;
        ShellScene::TearDown();
    }
    static void typeinto(const char *field, const char *text) { ShellScene::typeinto(field, text, tools_textmax); }
    // Tool 1 selected and set to the type, its editor fields shown.
    static void edit(int type)
    {
        ASSERT_EQ(harness_click("tool01"), 1);
        tools_settype(type);
        harness_frame();
    }
    bool shownlabel(const std::string &text) const
    {
        for (const rec_text &t : harness_rec.texts)
            if (t.text == text)
                return true;
        return false;
    }
};

TEST_F(Tools, VBitFluteLengthFollowsDiameterAndAngle)
{
    edit(tool_vbit);
    typeinto("tool_bitdiameter", "0.25");
    typeinto("tool_bitangle", "90");
    EXPECT_FLOAT_EQ(tools_edit.flutelength, 0.125f);
    EXPECT_STREQ(tools_texts.flute, "0.125");
    EXPECT_TRUE(shownlabel("Flute Length: 0.125\"")) << "the read-out follows every frame";
    EXPECT_FALSE(harness_present("tool_flutelength")) << "a V-bit's flute length is not typed";
}

TEST_F(Tools, CornerRadiusStaysWithinHalfTheDiameter)
{
    struct Case {
        const char *diameter, *radius;
        float expected;
    };
    const Case cases[] = {{"0.25", "0.5", 0.125f}, {"0.25", "-0.5", -0.125f}, {"0.25", "0.1", 0.1f}};
    edit(tool_cylinder);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.radius);
        typeinto("tool_flutediameter", c.diameter);
        typeinto("tool_cornerradius", c.radius);
        EXPECT_FLOAT_EQ(tools_edit.value, c.expected);
    }
    typeinto("tool_flutediameter", "0.1");
    EXPECT_FLOAT_EQ(tools_edit.value, 0.05f) << "a smaller diameter clamps the radius again";
}

TEST_F(Tools, AngleFieldsKeepTheirRanges)
{
    struct Case {
        int type;
        const char *field, *typed;
        float expected;
    };
    const Case cases[] = {
        {tool_vbit, "tool_bitangle", "5", 10.0f},      {tool_vbit, "tool_bitangle", "175", 170.0f},
        {tool_tapered, "tool_taperangle", "95", 90.0f}, {tool_taperball, "tool_taperangle", "-3", 0.0f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.typed);
        tools_select(1);
        edit(c.type);
        typeinto(c.field, c.typed);
        EXPECT_FLOAT_EQ(tools_edit.value, c.expected);
    }
}

TEST_F(Tools, ApplyRaisesTheTotalLengthAndSetsTheTool)
{
    edit(tool_cylinder);
    typeinto("tool_flutediameter", "0.25");
    typeinto("tool_flutelength", "2");
    typeinto("tool_totallength", "1");
    EXPECT_EQ(gui_unappliedchanges, 1);
    ASSERT_EQ(harness_click("tool_apply"), 1);
    EXPECT_FLOAT_EQ(cam_tools[0].length, 2.0f);
    EXPECT_STREQ(tools_texts.total, "2.0");
    EXPECT_EQ(cam_tools[0].type, tool_cylinder);
    EXPECT_FLOAT_EQ(cam_tools[0].diameter, 0.25f);
    EXPECT_EQ(gui_unappliedchanges, 0);
    EXPECT_EQ(opeditor_tool, 1) << "the operation editor takes the applied tool";
    EXPECT_EQ(cfg_geti(cfg_lasttooltype), tool_cylinder);
    EXPECT_FLOAT_EQ(cfg_getf(cfg_tooldeftotal), 2.0f);
    EXPECT_TRUE(log.contains("cam_settool: tool1 type1 units:1 dia:0.250000")) << log.text();
}

TEST_F(Tools, UnitsSwitchReformatsWithoutConverting)
{
    edit(tool_cylinder);
    typeinto("tool_flutediameter", "0.25");
    ASSERT_EQ(harness_click("tool_units"), 1);
    EXPECT_EQ(tools_edit.units, 2);
    EXPECT_FLOAT_EQ(tools_edit.flutediameter, 0.25f);
    EXPECT_STREQ(tools_texts.diameter, "0.25");
    ASSERT_EQ(harness_click("tool_apply"), 1);
    EXPECT_EQ(cfg_geti(cfg_lasttooltype), -tool_cylinder) << "a metric type is remembered negative";
}

TEST_F(Tools, ATypeFromNoneTakesTwoFlutesProjectUnitsThenTheRememberedValues)
{
    project.units = 2;
    cam_tools[2].flutes = 5;
    cam_tools[2].units = 1;
    const int i = 4 * (tool_tapered - 1);
    cfg_setf(cfg_tooldeftotal + i, 40.0f);
    cfg_setf(cfg_tooldefflute + i, 12.0f);
    cfg_setf(cfg_tooldefdiameter + i, 0.5f);
    cfg_setf(cfg_tooldefvalue + i, 15.0f);
    cfg_setf(cfg_tooldeframp + i, 8.0f);
    ASSERT_EQ(harness_click("tool03"), 1);
    EXPECT_STREQ(tools_edit.name, "tool03");
    tools_settype(tool_tapered);
    EXPECT_FLOAT_EQ(tools_edit.flutes, 2.0f);
    EXPECT_EQ(tools_edit.units, 2);
    EXPECT_FLOAT_EQ(tools_edit.length, 40.0f);
    EXPECT_FLOAT_EQ(tools_edit.flutelength, 12.0f);
    EXPECT_FLOAT_EQ(tools_edit.flutediameter, 0.5f);
    EXPECT_FLOAT_EQ(tools_edit.value, 15.0f);
    EXPECT_FLOAT_EQ(tools_edit.rampangle, 8.0f);
    EXPECT_STREQ(tools_texts.value, "15.0");
}

// Each refusal names its field, sets nothing and keeps the changes pending.
TEST_F(Tools, ApplyRefusesToolsNoGeneratorCanCutWith)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        int type;
        float diameter, flute, total, value;
        const char *field;
    };
    const Case cases[] = {
        {tool_cylinder, 0.0f, 1.0f, 1.5f, 0.0f, "Flute Diameter"},
        {tool_tapered, -0.1f, 1.0f, 1.5f, 10.0f, "Tip Diameter"},
        {tool_vbit, nan, 1.0f, 1.5f, 90.0f, "Bit Diameter"},
        {tool_taperball, inf, 1.0f, 1.5f, 10.0f, "Ball Radius"},
        {tool_cylinder, 0.25f, 0.0f, 1.5f, 0.0f, "Flute Length"},
        {tool_cylinder, 0.25f, -1.0f, 1.5f, 0.0f, "Flute Length"},
        {tool_cylinder, 0.25f, 1.0f, 0.0f, 0.0f, "Total Length"},
        {tool_tapered, 0.25f, 1.0f, inf, 10.0f, "Total Length"},
        {tool_tapered, 0.125f, 1.0f, 1.5f, 90.0f, "Taper Angle"},
        {tool_taperball, 0.125f, 1.0f, 1.5f, 90.0f, "Taper Angle"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        tools_select(1);
        tools_settype(c.type);
        tools_edit.flutediameter = c.diameter;
        tools_edit.flutelength = c.flute;
        tools_edit.length = c.total;
        tools_edit.value = c.value;
        harness_rec.boxes.clear();
        EXPECT_EQ(tools_apply(), 0);
        ASSERT_EQ(harness_rec.boxes.size(), 1u);
        EXPECT_NE(harness_rec.boxes[0].find(c.field), std::string::npos) << harness_rec.boxes[0];
        EXPECT_EQ(cam_tools[0].type, tool_none) << "nothing set";
        EXPECT_EQ(cfg_geti(cfg_lasttooltype), 0) << "nothing remembered";
        EXPECT_EQ(gui_unappliedchanges, 1);
        EXPECT_EQ(opeditor_tool, 0);
    }
}

TEST_F(Tools, LoadLibraryTakesTheFirstOccupiedSlotsWithUnitsByTheSign)
{
    struct Slot {
        int slot, type;
        const char *name;
    };
    const Slot slots[] = {{3, 1, "inch end mill"}, {7, -3, "metric vee"}, {200, -4, "metric ball"}};
    for (const Slot &s : slots) {
        toollib_slot w = {};
        snprintf(w.name, sizeof(w.name), "%s", s.name);
        w.type = s.type;
        w.flutes = 3;
        w.length = 30.0f, w.flutediameter = 3.0f, w.flutelength = 10.0f, w.value = 45.0f, w.rampangle = 5.0f;
        toollib_write(s.slot, w);
    }
    ASSERT_EQ(harness_click("tools_loadlibrary"), 1);
    ASSERT_EQ(harness_rec.boxes.size(), 1u);
    EXPECT_EQ(harness_rec.boxes[0].rfind("Load Library|", 0), 0u);
    for (int n = 1; n <= 3; n++) {
        SCOPED_TRACE(n);
        const Slot &s = slots[n - 1];
        EXPECT_STREQ(project.tools[n - 1].name, s.name);
        EXPECT_EQ(cam_tools[n - 1].type, std::abs(s.type));
        EXPECT_EQ(cam_tools[n - 1].units, s.type < 0 ? 2 : 1);
        EXPECT_EQ(cam_tools[n - 1].flutes, 3);
    }
    EXPECT_EQ(cam_tools[3].type, tool_none);
    EXPECT_EQ(status(), "loaded 3 tools...");
    EXPECT_EQ(gui_selectedtool, -1);
}

TEST_F(Tools, RemoveAsksThenLeavesTypeNoneNamedNone)
{
    edit(tool_cylinder);
    tools_edit.flutediameter = 0.25f;
    ASSERT_EQ(tools_apply(), 1);
    harness_frame();
    harness_rec.boxanswer = 0;
    ASSERT_EQ(harness_click("tool_remove"), 1);
    EXPECT_EQ(cam_tools[0].type, tool_cylinder) << "answered No";
    harness_rec.boxanswer = 1;
    ASSERT_EQ(harness_click("tool_remove"), 1);
    EXPECT_EQ(harness_rec.boxes.back(), "Delete Tool|Are you sure you want to remove this tool from the project?|2|4");
    EXPECT_EQ(cam_tools[0].type, tool_none);
    EXPECT_STREQ(project.tools[0].name, "None");
}

TEST_F(Tools, ClearListResetsToTheUnitsDefaults)
{
    edit(tool_vbit);
    tools_edit.flutediameter = 0.5f;
    ASSERT_EQ(tools_apply(), 1);
    harness_frame();
    ASSERT_EQ(harness_click("tools_clearlist"), 1);
    EXPECT_EQ(cam_tools[0].type, tool_none);
    EXPECT_FLOAT_EQ(cam_tools[0].flutediameter, 0.25f);
    EXPECT_STREQ(project.tools[0].name, "None");
}

TEST_F(Tools, DoneAsksOnlyWithUnappliedChanges)
{
    ASSERT_EQ(harness_click("tool01"), 1);
    ASSERT_EQ(harness_click("tool_done"), 1);
    EXPECT_TRUE(harness_rec.boxes.empty());
    EXPECT_EQ(gui_selectedtool, -1);
    EXPECT_EQ(gui_sidepanel, 0);

    edit(tool_cylinder);
    harness_rec.boxanswer = 0;
    ASSERT_EQ(harness_click("tool_done"), 1);
    ASSERT_EQ(harness_rec.boxes.size(), 1u);
    EXPECT_EQ(harness_rec.boxes[0],
              "Discard Tool Changes?|Discard any changes to the tool that have not been applied?|2|4");
    EXPECT_EQ(gui_selectedtool, 0) << "answered No: still editing";
    harness_rec.boxanswer = 1;
    ASSERT_EQ(harness_click("tool_done"), 1);
    EXPECT_EQ(gui_selectedtool, -1);
}

// While a generator runs or the canvas composes, cam_settool would wait on
// the main thread: the buttons that call it are labels.
TEST_F(Tools, ButtonsThatSetToolsAreLabelsWhileAJobRuns)
{
    edit(tool_cylinder);
    const char *names[] = {"tool_apply", "tool_remove", "tools_loadlibrary", "tools_clearlist"};
    for (int job = 0; job < 2; job++) {
        SCOPED_TRACE(job);
        if (job == 0)
            cam_generatingop = 0;
        else
            project_canvasjob.updating = 1;
        harness_frame();
        for (const char *name : names)
            EXPECT_FALSE(harness_present(name)) << name;
        EXPECT_TRUE(harness_present("tool_done"));
        cam_generatingop = -1;
        project_canvasjob.updating = 0;
        harness_frame();
        for (const char *name : names)
            EXPECT_TRUE(harness_present(name)) << name;
    }
}

TEST_F(Tools, UndefinedToolLoadsItsDefaultNameAndNoTypeFields)
{
    project.units = 2;
    ASSERT_EQ(harness_click("tool04"), 1);
    harness_frame();
    EXPECT_EQ(gui_sidepanel, 5);
    EXPECT_STREQ(tools_edit.name, "tool04");
    EXPECT_EQ(tools_edit.units, 2);
    EXPECT_TRUE(harness_present("tool_type"));
    EXPECT_FALSE(harness_present("tool_apply")) << "no type, nothing to apply";
    EXPECT_FALSE(harness_present("tool_save")) << "an undefined tool cannot be saved";
    EXPECT_TRUE(harness_present("tool_load"));
}

} // namespace
