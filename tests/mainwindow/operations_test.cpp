// The operations panel and the Operation Type chooser in the real main
// window (headless harness): New Operation with its two boxes, the rows an
// entry shows and the moves each row offers, toggles and removal, names cut
// to their cell, selection with its layer group, and the chooser's
// categories, Cancel and its closing when the mode changes.
#include "cam/tool.h"
#include "mainwindow/opcodes.h"
#include "mainwindow/opeditor.h"
#include "mainwindow/operations.h"
#include "shellscene.h"
#include "sys/config.h"

namespace {

class Operations : public ShellScene {
protected:
    std::vector<uint8_t> savedcfg;
    void SetUp() override
    {
        ShellScene::SetUp();
        savedcfg.assign(cfg, cfg + cfg_size);
        mainwindow_panels[panel_operations] = operations_panel;
        cam_settooldefaults();
        clearops();
        opeditor_tool = 0;
        projectmode = 3;
        project_layergroup = 0;
        harness_rec.boxes.clear();
        harness_rec.boxanswer = 1;
        resetrequests();
        harness_frame();
    }
    void TearDown() override
    {
        clearops();
        cam_settooldefaults();
        opeditor_tool = 0;
        project_layergroup = 0;
        if (savedcfg.size() == (size_t)cfg_size)
            memcpy(cfg, savedcfg.data(), cfg_size);
        ShellScene::TearDown();
    }
    static void clearops()
    {
        for (int i = 0; i < cam_maxprojectops; i++) {
            static_cast<projopfields &>(project.ops[i]) = projopfields{};
            cam_ops[i].type = 0;
        }
    }
    static void resetrequests()
    {
        project_canvasjob.requested = 0;
        project_canvasjob.rebuildmodels = 0;
        project_canvasjob.group = 0;
        view_redraw = 0;
    }
    // n operations in use, entry i on record i, Parallel Carving.
    static void useops(int n, int type = 1)
    {
        for (int i = 0; i < n; i++) {
            projop &e = project.ops[i];
            snprintf(e.name, sizeof(e.name), "op %d", i + 1);
            e.camop = i;
            e.include = e.show = 1;
            cam_ops[i].type = type;
        }
    }
    static void definetool(int n, int units = 1, float flute = 1.0f)
    {
        ASSERT_TRUE(cam_settool(n, "flat", tool_cylinder, units, 2, units == 1 ? 0.25f : 6.0f, flute, 0.0f,
                                units == 1 ? 2.0f : 50.0f, 20.0f));
    }
    static std::vector<std::string> boxcaptions()
    {
        std::vector<std::string> out;
        for (const std::string &b : harness_rec.boxes)
            out.push_back(b.substr(0, b.find('|')));
        return out;
    }
};

TEST_F(Operations, EmptyProjectShowsTheEmptyList)
{
    EXPECT_TRUE(harness_present("operations_newoperation"));
    EXPECT_TRUE(drawn("( No Project Operations )"));
    EXPECT_FALSE(harness_present("operation01"));
}

TEST_F(Operations, TenOperationsInUseShowTheMaximumBoxAndChangeNothing)
{
    definetool(1);
    useops(10);
    gui_selectedop = 3;
    harness_frame();
    ASSERT_EQ(harness_click("operations_newoperation"), 1);
    harness_frame();
    EXPECT_EQ(boxcaptions(), std::vector<std::string>{"Kerfmill"});
    EXPECT_NE(harness_rec.boxes[0].find("maximum allowed number of operations"), std::string::npos);
    EXPECT_EQ(gui_selectedop, 3);
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_EQ(gui_unappliedchanges, 0);
}

TEST_F(Operations, NoToolsShowsTheBoxAndTheNewOperationGoesOn)
{
    useops(2);
    harness_frame();
    ASSERT_EQ(harness_click("operations_newoperation"), 1);
    harness_frame();
    EXPECT_EQ(boxcaptions(), std::vector<std::string>{"New Operation"});
    EXPECT_EQ(gui_selectedop, 2);
    EXPECT_STREQ(project.ops[2].name, "operation03");
    EXPECT_EQ(gui_dialogid, operations_typedialog);
    EXPECT_EQ(gui_unappliedchanges, 1);
}

// The new entry shows a row while it is selected; Cancel with no type
// chosen clears the selection, and the entry, never applied, shows none.
TEST_F(Operations, ANewOperationNeverAppliedLeavesNoRow)
{
    definetool(1);
    useops(1);
    harness_frame();
    ASSERT_EQ(harness_click("operations_newoperation"), 1);
    harness_frame();
    EXPECT_TRUE(harness_present("dialog_cancel"));
    EXPECT_TRUE(drawn("operation02")) << "the selected new entry has its row";
    ASSERT_EQ(harness_click("dialog_cancel"), 1);
    harness_frame();
    EXPECT_EQ(gui_selectedop, -1);
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_FALSE(drawn("operation02"));
    EXPECT_TRUE(harness_present("operation01"));
}

TEST_F(Operations, MovesOfferedByPlaceAndSwapWithTheSelection)
{
    struct Case {
        int used, selected;
        bool up, down;
    } const cases[] = {
        {3, 0, false, true}, {3, 1, true, true}, {3, 2, true, false}, {10, 9, true, false}, {1, 0, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.used << " used, row " << c.selected + 1);
        clearops();
        useops(c.used);
        gui_selectedop = c.selected;
        harness_frame();
        char up[32], down[32];
        snprintf(up, sizeof(up), "op%02d_moveup", c.selected + 1);
        snprintf(down, sizeof(down), "op%02d_movedown", c.selected + 1);
        EXPECT_EQ(harness_present(up), c.up);
        EXPECT_EQ(harness_present(down), c.down);
        cam_generatingop = 0;
        harness_frame();
        EXPECT_FALSE(harness_present(up)) << "no moves while an operation generates";
        EXPECT_FALSE(harness_present(down));
        EXPECT_FALSE(harness_present("operations_newoperation"));
        EXPECT_TRUE(harness_present("op01_remove")) << "removal stays";
        cam_generatingop = -1;
    }
    clearops();
    useops(3);
    gui_selectedop = 1;
    harness_frame();
    ASSERT_EQ(harness_click("op02_moveup"), 1);
    EXPECT_EQ(gui_selectedop, 0);
    EXPECT_STREQ(project.ops[0].name, "op 2");
    EXPECT_STREQ(project.ops[1].name, "op 1");
    harness_frame();
    ASSERT_EQ(harness_click("op01_movedown"), 1);
    EXPECT_EQ(gui_selectedop, 1);
    EXPECT_STREQ(project.ops[0].name, "op 1");
}

TEST_F(Operations, TogglesStampTheChangeAndRemovalAsksFirst)
{
    useops(2);
    harness_frame();
    ASSERT_EQ(harness_click("op02_exclude"), 1);
    EXPECT_EQ(project.ops[1].include, 0u);
    EXPECT_GT(project_changetime.load(), 0.0f);
    project_changetime = 0.0f;
    ASSERT_EQ(harness_click("op02_showhide"), 1);
    EXPECT_EQ(project.ops[1].show, 0u);
    EXPECT_GT(project_changetime.load(), 0.0f);
    EXPECT_EQ(view_redraw, 1);

    harness_rec.boxanswer = 0;
    ASSERT_EQ(harness_click("op01_remove"), 1);
    EXPECT_EQ(boxcaptions(), std::vector<std::string>{"Kerfmill"});
    EXPECT_EQ(project.ops[0].camop, 0) << "No keeps the operation";
    harness_rec.boxanswer = 1;
    gui_selectedop = 0;
    harness_frame();
    ASSERT_EQ(harness_click("op01_remove"), 1);
    EXPECT_EQ(gui_selectedop, -1);
    EXPECT_STREQ(project.ops[0].name, "op 2") << "the list stays packed";
    EXPECT_EQ(project.ops[1].camop, -1);
}

TEST_F(Operations, LongNamesAreCutWithDots)
{
    useops(1);
    const std::string name(60, 'W');
    snprintf(project.ops[0].name, sizeof(project.ops[0].name), "%s", name.c_str());
    harness_frame();
    const rec_element *cell = harness_find("operation01");
    ASSERT_NE(cell, nullptr);
    bool cut = false;
    for (const rec_text &t : harness_rec.texts)
        if (t.text.size() > 3 && t.text.compare(t.text.size() - 3, 3, "...") == 0 && t.text[0] == 'W') {
            cut = true;
            EXPECT_LE((float)t.text.size() * 7.0f, cell->rect.w) << t.text;
        }
    EXPECT_TRUE(cut);
    EXPECT_EQ(std::string(project.ops[0].name), name);
}

TEST_F(Operations, SelectingAnotherGroupsOperationSwitchesTheGroup)
{
    useops(2);
    project.ops[1].group = 4;
    harness_frame();
    ASSERT_EQ(harness_click("operation01"), 1);
    EXPECT_EQ(gui_selectedop, 0);
    EXPECT_EQ(status(), "...selected operation #01");
    EXPECT_EQ(project_canvasjob.requested.load(), 0u) << "same group: no composition";
    harness_frame();
    ASSERT_EQ(harness_click("operation02"), 1);
    EXPECT_EQ(gui_selectedop, 1);
    EXPECT_EQ(project_layergroup, 4);
    EXPECT_EQ(project_canvasjob.requested.load(), 1u);
    EXPECT_EQ(project_canvasjob.group.load(), 4u);
    EXPECT_EQ(project_canvasjob.rebuildmodels.load(), 0u);
}

TEST_F(Operations, TheToolRule)
{
    struct Case {
        const char *name;
        std::vector<int> defined;
        int remembered, expected;
    } const cases[] = {
        {"remembered and defined", {2, 5}, 5, 5},
        {"remembered undefined: first defined", {3, 7}, 1, 3},
        {"only tool 10 defined", {10}, 4, 10},
    };
    for (const Case &c : cases) {
        cam_settooldefaults();
        for (int n : c.defined)
            definetool(n);
        EXPECT_EQ(operations_newtool(c.remembered), c.expected) << c.name;
    }
}

// A metric tool in an inch project: its 25 mm flute is 0.984 inch, on the
// 0.001-inch step; the maximum depth stops at the canvas depth.
TEST_F(Operations, NewDepthsClampToTheToolAndTheCanvas)
{
    project.units = 1;
    definetool(1, 2, 25.0f);
    EXPECT_FLOAT_EQ(operations_newcutdepth(1, 2.0f), 0.984f);
    EXPECT_FLOAT_EQ(operations_newcutdepth(1, 0.5f), 0.5f);
    definetool(2, 1, 1.0f);
    EXPECT_FLOAT_EQ(operations_newcutdepth(2, 1.25f), 1.0f);
    project.size[2] = 0.75f;
    EXPECT_FLOAT_EQ(operations_newmaxdepth(2.0f), 0.75f);
    EXPECT_FLOAT_EQ(operations_newmaxdepth(0.5f), 0.5f);
}

TEST_F(Operations, ChooserCategoriesHoldTheirTypesAndTheChosenIsALabel)
{
    definetool(1);
    ASSERT_EQ(harness_click("operations_newoperation"), 1);
    harness_frame();
    ASSERT_EQ(gui_dialogid, operations_typedialog);
    struct Case {
        const char *tab;
        std::vector<std::string> names;
    } const cases[] = {
        {"opcategory_contouring",
         {"optype_parallel", "optype_chevron", "optype_spiral", "optype_labyrinth", "optype_conformal",
          "optype_tess", "optype_paths"}},
        {"opcategory_milling", {"optype_offset", "optype_horzmill", "optype_troch2", "optype_troch", "optype_profile"}},
        {"opcategory_specialty",
         {"optype_medialaxis", "optype_stipple", "optype_stipple2", "optype_holedrill", "optype_fillet"}},
    };
    for (const Case &c : cases) {
        if (harness_present(c.tab))
            ASSERT_EQ(harness_click(c.tab), 1) << c.tab;
        harness_frame();
        EXPECT_FALSE(harness_present(c.tab)) << "the open category is a label";
        std::vector<std::string> names;
        for (const rec_element &e : inwindow(dialogs_windowbase + operations_typedialog))
            if (e.name.rfind("optype_", 0) == 0)
                names.push_back(e.name);
        EXPECT_EQ(names, c.names) << c.tab;
    }
    bool subtitled = false;
    for (const rec_text &t : harness_rec.texts)
        subtitled = subtitled || t.text.find("( V-Carving/B-Carving )") != std::string::npos;
    EXPECT_TRUE(subtitled) << "the subtitle under the type's name";
}

TEST_F(Operations, LeavingOperationsModeClosesTheChooser)
{
    definetool(1);
    ASSERT_EQ(harness_click("operations_newoperation"), 1);
    harness_frame();
    ASSERT_EQ(gui_dialogid, operations_typedialog);
    projectmode = 2;
    harness_frame();
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_EQ(gui_selectedop, -1);
}

// New Operation loads the remembered defaults with the tool and depth
// rules; choosing a type loads that type's remembered AUX values.
TEST_F(Operations, NewOperationLoadsTheDefaultsAndATypeItsValues)
{
    definetool(2, 2, 25.0f);
    project.size[2] = 0.5f;
    project_layergroup = 3;
    cfg_seti(cfg_optool, 7);
    cfg_seti(cfg_opfeed, 55);
    cfg_setf(cfg_opdoc, 2.0f);
    cfg_setf(cfg_opmaxdepth, 2.0f);
    cfg_setf(cfg_opstock, 0.3f);
    const float spiral[3] = {0.25f, -0.125f, 1.5f};
    for (int k = 0; k < 3; k++)
        cfg_setf(cfg_opvalues + 4 * (cfg_opcount * k + 3 - 1), spiral[k]);
    ASSERT_EQ(harness_click("operations_newoperation"), 1);
    EXPECT_STREQ(opeditor.name, "operation01");
    EXPECT_EQ(opeditor.type, 0);
    EXPECT_EQ(opeditor.group, 3);
    EXPECT_EQ(opeditor.feed, 55);
    EXPECT_EQ(opeditor.tool, 2) << "tool 7 is not defined";
    EXPECT_FLOAT_EQ(opeditor.z_doc, 0.984f) << "the 25 mm flute in inches";
    EXPECT_FLOAT_EQ(opeditor.z_max, 0.5f) << "the canvas depth";
    EXPECT_FLOAT_EQ(opeditor.stock, 0.0f);
    EXPECT_STREQ(opeditor.text[opeditor_feedtext], "55");
    EXPECT_EQ(opeditor.isnew, 1);
    harness_frame();
    ASSERT_EQ(harness_click("optype_spiral"), 1);
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_EQ(opeditor.type, 3);
    EXPECT_EQ(opeditor.loadedtype, 3);
    EXPECT_EQ(opeditor.isnew, 0);
    for (int k = 0; k < 3; k++)
        EXPECT_FLOAT_EQ(opeditor_auxf(opeditor, k), spiral[k]) << k;
    EXPECT_EQ(gui_selectedop, 0) << "a chosen type keeps the new operation";
}

TEST_F(Operations, SelectLoadsTheRecordIntoTheEditor)
{
    useops(2, 8);
    project.ops[1].group = 0;
    snprintf(project.ops[1].name, sizeof(project.ops[1].name), "outline");
    camop &r = cam_ops[1];
    r.feed = 44, r.speed = 9000, r.tool = 1, r.z_doc = 0.2f;
    r.flags = 0x0010 | 0x0200 | 0x0800;
    r.aux[0] = opcodes_float(0x7FC00001u);
    // The paths-layer it names: a lost one would be forgotten by the editor.
    const int slot = project_layeralloc(layer_paths);
    ASSERT_GE(slot, 0);
    project.layers[slot].uid = 0x7FC00001u;
    project.layers[slot].groups = 1;
    harness_frame();
    ASSERT_EQ(harness_click("operation02"), 1);
    EXPECT_STREQ(opeditor.name, "outline");
    EXPECT_EQ(opeditor.type, 8);
    EXPECT_EQ(opeditor.loadedtype, 8);
    EXPECT_EQ(opeditor.feed, 44);
    EXPECT_EQ(opeditor.outline, 1);
    EXPECT_EQ(opeditor.invert, 1);
    EXPECT_EQ(opeditor.contourmode, 1);
    EXPECT_EQ(opeditor.aux[0], 0x7FC00001u) << "a uid's bits, not a number";
    EXPECT_STREQ(opeditor.text[opeditor_speedtext], "9000");
    EXPECT_EQ(gui_unappliedchanges, 0);
    EXPECT_TRUE(harness_rec.boxes.empty()) << harness_rec.boxes[0];
    r.feed = r.speed = r.tool = 0, r.z_doc = 0.0f, r.flags = 0, r.aux[0] = 0.0f;
    project_layerfree(slot);
}

} // namespace
