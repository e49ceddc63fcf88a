// The layers panel in the real window, driven as a user would: a new
// project gets an image, a mesh and a drawing through Add Layer and the open
// dialog's seam, and the panel's picture with the three rows is compared
// with its golden. Then a project of
// three raster-layers written by the program's own writer is opened, and a
// row is selected, hidden, moved up, duplicated and another deleted (the
// question answered Yes), then the deletion is undone from the toolbar. Each step
// is checked by the element file and the log.
#include "mainwindow/realwindow.h"

#include "mainwindow/importfixtures.h"

#include "img/image.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "sys/config.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

constexpr double layersrun_startseconds = 120; // start-up under the sanitizers on a loaded machine

bool layersrun_writeproject(const std::string &file, int count)
{
    memcpy(cfg, cfg_defaults, cfg_size);
    project_reset();
    const float size[3] = {12.0f, 8.0f, 1.0f}, frac[3] = {0.0f, 0.0f, 1.0f};
    memcpy(project.size, size, sizeof(size));
    memcpy(project.originfrac, frac, sizeof(frac));
    project.units = 1;
    project.scale = 1.0f;
    project.ppi = 20;
    for (int i = 0; i < count; i++) {
        int s = project_layeralloc(layer_raster);
        if (s < 0)
            return false;
        image *img = img_allocfloat("layersrun", 8, 8);
        for (int p = 0; p < 64; p++)
            ((float *)img->pixels)[p] = 0.1f * (float)(i % 10);
        project.layers[s].data.img = img;
        project.layers[s].groups = 1;
        project.layers[s].aspect = 1.0f;
    }
    bool written = project_write(file.c_str(), nullptr) > 0;
    project_reset();
    return written;
}

} // namespace

TEST(LayersRun, SelectHideMoveDuplicateDeleteAndUndo)
{
    testfolder work{"layersrun"};
    const std::string file = (work.path / "three.kfm").string();
    {
        testlog_capture quiet;
        ASSERT_TRUE(layersrun_writeproject(file, 3)) << quiet.text();
    }
    realwindow_options opt;
    opt.args = {file};
    opt.msgboxanswers = "yes";
    realwindow win(opt);
    ASSERT_TRUE(win.started()) << win.why;
    ASSERT_TRUE(win.waitlog("...loaded '", layersrun_startseconds)) << win.why << "\n" << win.log();
    ASSERT_TRUE(win.element("layer02")) << win.why;

    struct Step {
        const char *click, *logged, *appears;
    };
    const Step steps[] = {
        {"layer01", "...selected layer #01", nullptr},
        {"layer01_showhide", "queuing event: layer state", nullptr},
        {"canvas_moveuplayer", "queuing event: layer swapnext", nullptr},
        {"canvas_duplicatelayer", "copying layer 2", "layer03_showhide"}, // the new row is selected: a label
        {"layer00_remove", "removed layer00", nullptr},
    };
    for (const Step &s : steps) {
        size_t from = win.log().size();
        ASSERT_TRUE(win.click(s.click)) << s.click << ": " << win.why;
        EXPECT_TRUE(win.waitlog(s.logged, 90, from)) << s.click << "\n" << win.log().substr(from);
        if (s.appears)
            EXPECT_TRUE(win.element(s.appears)) << s.appears << ": " << win.why;
    }
    // Undo is a label while the canvas composes or a layer's texture is
    // remade after the removal (seconds on a loaded machine): the toolbar's
    // button is clicked once it is back, and again when a slow frame let the
    // click pass while it was still a label. (Ctrl+Z sent by xdotool was lost
    // on a loaded machine for a reason not yet found; the key's own path is
    // covered by the toolbar's headless tests.)
    bool undone = false;
    size_t from = win.log().size();
    for (int tries = 0; tries < 3 && !undone; tries++) {
        ASSERT_TRUE(win.element("canvas_undo", 90)) << win.why << win.tail();
        from = win.log().size();
        ASSERT_TRUE(win.click("canvas_undo")) << win.why;
        undone = win.waitlog("ADDING LAYER", 10, from);
    }
    EXPECT_TRUE(undone) << win.log().substr(from);
    EXPECT_TRUE(win.element("layer03_showhide")) << "the deleted layer is back: " << win.why;

    EXPECT_EQ(win.end(), 0);
    EXPECT_EQ(win.asanreport(), "");
}

// A full table fills the list past the window's height: the rows that fit
// are drawn with the scroll column, and no GUI list overflows at 1280 x 800.
TEST(LayersRun, SixtyFourLayersDrawWithoutOverflow)
{
    testfolder work{"layersrun64"};
    const std::string file = (work.path / "full.kfm").string();
    {
        testlog_capture quiet;
        ASSERT_TRUE(layersrun_writeproject(file, 64)) << quiet.text();
    }
    realwindow_options opt;
    opt.args = {file};
    realwindow win(opt);
    ASSERT_TRUE(win.started()) << win.why;
    ASSERT_TRUE(win.waitlog("...loaded '", layersrun_startseconds)) << win.why << "\n" << win.log();
    ASSERT_TRUE(win.element("layer63")) << "the highest slot on top: " << win.why;
    EXPECT_FALSE(win.element("layer00", 2)) << "the bottom rows are scrolled out of view";
    // The GL extension list names an overflow query: only the program's own
    // overflow lines count.
    std::istringstream lines(win.log());
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.find("overflow") == std::string::npos || line.find("GL_") != std::string::npos) << line;
    EXPECT_EQ(win.end(), 0);
    EXPECT_EQ(win.asanreport(), "");
}

// Add Layer's three loaders from a new project: each file lands as the next
// row, and the panel with the three rows matches its golden.
TEST(LayersRun, AddLayerLoadsAnImageAMeshAndADrawing)
{
    namespace fs = std::filesystem;
    testfolder work{"layersrunload"};
    const std::string folder = work.path.string();
    for (const char *kind : {"png", "stl"})
        fixtures_make(folder, {kind, folder}, "loader_fixtures.py");
    fixtures_make(folder, {"svg", folder, "100"}, "loader_fixtures.py");
    realwindow_options opt;
    opt.dialogpaths = folder + "/picture.png\n" + folder + "/solid_binary.stl\n" + folder + "/rects.svg";
    realwindow win(opt);
    ASSERT_TRUE(win.started()) << win.why;
    ASSERT_TRUE(win.element("canvas_addlayer", layersrun_startseconds)) << win.why;

    struct Step {
        const char *button, *logged, *row;
    };
    const Step steps[] = {
        {"addlayer_loadraster", "...loaded image to layer[00]", "layer00"},
        {"addlayer_loadmodel", "...loaded model layer[1]", "layer01"},
        {"addlayer_loadpaths", " paths-layer(s) (", "layer02"},
    };
    for (const Step &s : steps) {
        size_t from = win.log().size();
        ASSERT_TRUE(win.click("canvas_addlayer")) << s.button << ": " << win.why;
        ASSERT_TRUE(win.click(s.button)) << s.button << ": " << win.why;
        EXPECT_TRUE(win.waitlog(s.logged, 60, from)) << s.button << "\n" << win.log().substr(from);
        // A row is a button unless selected: its group toggle is there either way.
        EXPECT_TRUE(win.element(std::string(s.row) + "group", 90)) << s.row << ": " << win.why;
    }
    // The panel only: the view area right of it and the status strip are masked.
    const int strip = realwindow::height - 34;
    const std::vector<realwindow_rect> masks = {{281, 40, realwindow::width - 281, strip - 40},
                                                {0, strip, realwindow::width, 34}};
    const fs::path golden = fs::path(KERFMILL_TESTS_DIR) / "mainwindow" / "layers_three.png";
    EXPECT_TRUE(win.matches(golden, masks, 60)) << win.why;
    EXPECT_EQ(win.end(), 0);
    EXPECT_EQ(win.asanreport(), "");
}
