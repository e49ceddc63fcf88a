// The Add Layer dialog, headless: its buttons in pairs, a blank layer
// selected and the dialog closed (or left open when the table is full), the
// loaders behind the load buttons, the content library, the "Fit to Canvas"
// choice kept in config.dat across a restart, and the dialog closing when
// the project leaves canvas mode.
#include "mainwindowfixture.h"
#include "testenv.h"
#include "testtemp.h"

#include "img/imagefile.h"
#include "mainwindow/addlayer.h"
#include "online/conlib.h"
#include "sys/config.h"
#include "sys/main.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

class AddLayer : public MainWindow {
public:
    void SetUp() override
    {
        MainWindow::SetUp();
        project.scale = 1.0f;
        gui_setdialog(14);
        harness_frame();
    }
    static const rec_element &element(const std::string &name)
    {
        const rec_element *e = harness_find(name);
        if (!e) {
            ADD_FAILURE() << name << " not drawn";
            static rec_element none{};
            return none;
        }
        return *e;
    }
};

TEST_F(AddLayer, ButtonsStandInPairsAboveLibraryFitAndCancel)
{
    const char *rows[][2] = {{"addlayer_newraster", "addlayer_loadraster"},
                             {"addlayer_newpaths", "addlayer_loadpaths"},
                             {"addlayer_newtext", "addlayer_loadmodel"},
                             {"addlayer_library", nullptr},
                             {"addlayer_fittocanvas_disable", nullptr},
                             {"dialog_cancel", nullptr}};
    float y = 0.0f;
    for (const auto &row : rows) {
        const rec_element &left = element(row[0]);
        EXPECT_EQ(left.window, dialogs_windowbase + 14) << row[0];
        EXPECT_GT(left.rect.y, y) << row[0];
        y = left.rect.y;
        if (row[1]) {
            const rec_element &right = element(row[1]);
            EXPECT_EQ(right.rect.y, left.rect.y) << row[1];
            EXPECT_GT(right.rect.x, left.rect.x + left.rect.w - 1.0f) << row[1];
        }
    }
    EXPECT_EQ(gui_dialogsize[0], 500.0f);
}

TEST_F(AddLayer, BlankLayerIsSelectedAndClosesTheDialog)
{
    struct Case {
        const char *button;
        int type;
    };
    const Case cases[] = {
        {"addlayer_newraster", layer_raster},
        {"addlayer_newpaths", layer_paths},
        // New Text-Layer takes the same path; its text object would queue a
        // render of a font that exists here only as a record.
    };
    for (const Case &c : cases) {
        SetUp();
        SCOPED_TRACE(c.button);
        ASSERT_EQ(rasterlayer(0.5f), 0);
        selectlayer(0);
        ASSERT_TRUE(harness_click(c.button));
        EXPECT_EQ(project.layers[1].type, c.type);
        EXPECT_EQ(gui_selectedlayer, 1);
        EXPECT_EQ(gui_dialogid, 0);
        EXPECT_EQ(lastevent().type, event_layeraddremove);
        EXPECT_EQ(lastevent().aux, 1);
    }
}

TEST_F(AddLayer, FullTableLeavesTheDialogOpenWithNothingSelected)
{
    for (int i = 0; i < project_maxlayers; i++)
        ASSERT_GE(rasterlayer(0.01f * (float)i), 0);
    selectlayer(5);
    uint32_t events = event_end;
    ASSERT_TRUE(harness_click("addlayer_newraster"));
    EXPECT_EQ(gui_dialogid, 14);
    EXPECT_EQ(gui_selectedlayer, -1);
    EXPECT_EQ(event_end, events);
    EXPECT_TRUE(log.contains("project_layeralloc: canvas layers overflow!"));
    harness_frame();
    EXPECT_TRUE(harness_present("addlayer_newraster"));
}

// Each load button runs its loader on the file the dialog seam gives.
TEST_F(AddLayer, LoadButtonsRunTheLoaders)
{
    std::string folder = testtemp_folder("addlayer");
    ASSERT_FALSE(folder.empty());
    image *img = img_allocfloat("grey", 4, 2);
    for (int i = 0; i < 8; i++)
        ((float *)img->pixels)[i] = 0.125f * (float)i;
    ASSERT_GT(img_save((folder + "/grey.png").c_str(), img), 0u);
    img_free(img);
    std::ofstream(folder + "/square.svg")
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"50\" height=\"50\">"
           "<rect x=\"5\" y=\"5\" width=\"40\" height=\"20\" fill=\"none\" stroke=\"black\"/></svg>\n";
    std::ofstream(folder + "/wedge.stl") << "solid w\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 2 0 0\n"
                                            "vertex 0 1 0.5\nendloop\nendfacet\nendsolid w\n";
    struct Case {
        const char *button, *file;
        int type;
    };
    const Case cases[] = {
        {"addlayer_loadraster", "grey.png", layer_raster},
        {"addlayer_loadpaths", "square.svg", layer_paths},
        {"addlayer_loadmodel", "wedge.stl", layer_model},
    };
    for (const Case &c : cases) {
        SetUp();
        SCOPED_TRACE(c.button);
        dialogpaths({folder + "/" + c.file});
        ASSERT_TRUE(harness_click(c.button));
        ASSERT_EQ(numlayers, 1);
        EXPECT_EQ(project.layers[0].type, c.type);
        EXPECT_STREQ(project.layers[0].name, c.file);
        EXPECT_EQ(gui_dialogid, 0);
    }
    std::filesystem::remove_all(folder);
}

TEST_F(AddLayer, LibraryOpensTheContentLibrary)
{
    // A fresh index: opening the library fetches nothing.
    static uint8_t index[1] = {0};
    conlib_list.index = index;
    conlib_list.indextime = sys_time;
    ASSERT_TRUE(harness_click("addlayer_library"));
    EXPECT_EQ(gui_dialogid, 29);
    conlib_list.index = nullptr;
}

TEST_F(AddLayer, CancelAndInfo)
{
    const rec_element *info = nullptr;
    for (const rec_element &e : harness_elements)
        if (e.id == addlayer_id)
            info = &e;
    ASSERT_NE(info, nullptr);
    gui_rect r = info->rect;
    harness_clickrect(r);
    ASSERT_EQ(harness_rec.boxes.size(), 1u);
    EXPECT_EQ(harness_rec.boxes[0].rfind("Usage Information|A new layer starts blank", 0), 0u);
    EXPECT_NE(harness_rec.boxes[0].find("Trace to Paths"), std::string::npos);
    EXPECT_EQ(gui_dialogid, 14);
    ASSERT_TRUE(harness_click("dialog_cancel"));
    EXPECT_EQ(gui_dialogid, 0);
    EXPECT_EQ(numlayers, 0);
}

TEST_F(AddLayer, LeavingCanvasModeClosesIt)
{
    projectmode = 2;
    harness_frame();
    EXPECT_EQ(gui_dialogid, 0);
    harness_frame();
    EXPECT_TRUE(inwindow(dialogs_windowbase + 14).empty());
}

// The check box is named after what a click does, and its choice is in
// config.dat, byte for byte, after a restart.
TEST_F(AddLayer, FitChoiceSurvivesARestart)
{
    std::string folder = testtemp_folder("addlayercfg");
    ASSERT_FALSE(folder.empty());
    char saved[sizeof(sys_configpath)];
    memcpy(saved, sys_configpath, sizeof(saved));
    snprintf(sys_configpath, sizeof(sys_configpath), "%s/config.dat", folder.c_str());
    ASSERT_EQ(cfg_geti(cfg_fittocanvas), 1);
    for (int want : {0, 1}) {
        SCOPED_TRACE(want);
        ASSERT_TRUE(harness_click(want ? "addlayer_fittocanvas_enable" : "addlayer_fittocanvas_disable"));
        EXPECT_EQ(cfg_geti(cfg_fittocanvas), want);
        ASSERT_EQ(config_save(), 1);
        std::ifstream in(sys_configpath, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_EQ(bytes.size(), (size_t)cfg_size);
        EXPECT_EQ(bytes[cfg_fittocanvas], want);
        EXPECT_EQ(bytes[cfg_fittocanvas + 1] | bytes[cfg_fittocanvas + 2] | bytes[cfg_fittocanvas + 3], 0);
        memcpy(cfg, cfg_defaults, cfg_size);
        config_init();
        EXPECT_EQ(cfg_geti(cfg_fittocanvas), want);
        harness_frame();
        EXPECT_TRUE(harness_present(want ? "addlayer_fittocanvas_disable" : "addlayer_fittocanvas_enable"));
    }
    memcpy(sys_configpath, saved, sizeof(saved));
    memcpy(cfg, cfg_defaults, cfg_size);
    std::filesystem::remove_all(folder);
}

} // namespace
