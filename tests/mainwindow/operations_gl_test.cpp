// The operations mode as a new user drives it, on an X server of the test's
// own. One start serves the first suite, whose tests run in order: a
// drawing is loaded as a paths-layer through Add Layer and tool 1 is made a
// cylinder; New Operation opens the Operation Type chooser, whose three
// categories match their goldens (operations_category1..3.png); each of the
// 17 types is chosen in turn for the one new operation (reused while it is
// not applied) and the editor's element names are those of its type; four
// editors match their goldens (operations_editor*.png). A second start opens
// a project of ten operations written by the program's own writer, with the
// largest editor (2D Profile Milling from a paths-layer) open, and no draw
// list overflows at 1280 x 800. Status texts are masked.
// KERFMILL_UPDATE_GOLDEN=1 writes the goldens from this run (look at them).
#include "mainwindow/realwindow.h"

#include "mainwindow/importfixtures.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "geom/path.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/opcodes.h"
#include "mainwindow/operations.h"
#include "project/layer.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "sys/config.h"
#include "testlog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr double ops_startseconds = 120; // start-up under the sanitizers on a loaded machine
constexpr double ops_stepseconds = 30;
constexpr double ops_clickseconds = 60; // a click's effect, a slow redraw included
constexpr double ops_screenseconds = 90; // a chooser click and the redraw after it, on two loaded cores
constexpr int ops_tooltypelist = 12031;

// The status text blinks after each change, memory and frame rate move.
std::vector<realwindow_rect> ops_masks()
{
    const int status = (int)mainwindow_statusheight;
    return {{0, realwindow::height - status, realwindow::width, status}};
}

fs::path ops_golden(const std::string &name)
{
    return fs::path(KERFMILL_TESTS_DIR) / "mainwindow" / (name + ".png");
}

class OperationsRealRun : public ::testing::Test {
protected:
    static inline std::unique_ptr<testfolder> files;
    static inline std::unique_ptr<realwindow> w;

    static void SetUpTestSuite()
    {
        files = std::make_unique<testfolder>("opsrealrun");
        const std::string folder = files->path.string();
        fixtures_make(folder, {"svg", folder, "100"}, "loader_fixtures.py");
        realwindow_options opt;
        opt.dialogpaths = folder + "/rects.svg";
        w = std::make_unique<realwindow>(opt);
    }
    static void TearDownTestSuite()
    {
        w.reset();
        files.reset();
    }
    static std::string tail() { return w->tail(); }
    void SetUp() override
    {
        ASSERT_TRUE(w->started()) << w->why;
        ASSERT_TRUE(w->running()) << "the program has ended" << tail();
        ASSERT_TRUE(w->waitlog(" LOOP ", ops_startseconds)) << w->why << "\n" << w->log();
    }
    // Clicks once and waits for the effect: the harness's click is surely
    // taken (it presses again when a slow frame dropped the press), so a
    // second click would land on whatever replaced the first target.
    static bool clickuntil(const std::function<bool()> &click, const std::function<bool(double)> &done)
    {
        return click() && done(ops_clickseconds);
    }
    static bool clickuntil(const std::string &name, const std::function<bool(const realwindow_elements &)> &ok)
    {
        return clickuntil([&] { return w->element(name) && w->click(name); },
                          [&](double seconds) { return w->waitelements(ok, seconds); });
    }
    static bool rest() { return w->moveto(realwindow::width - 240, realwindow::height - 17); }
    // Opens the chooser from New Operation.
    static bool openchooser()
    {
        // The frame of the click names the dialog before it has drawn it.
        return clickuntil("operations_newoperation", [](const realwindow_elements &e) {
            return e.dialog == operations_typedialog && e.find("dialog_cancel");
        });
    }
    // Chooses type t in the open chooser, opening its category first.
    static bool choose(int t, const char *element)
    {
        const operations_category &c = operations_categories[operations_categoryof(t)];
        if (!w->waitelements(
                [](const realwindow_elements &e) {
                    return e.dialog == operations_typedialog && e.find("dialog_cancel");
                },
                ops_stepseconds))
            return false;
        if (w->last.find(c.name) &&
            !clickuntil(c.name, [&](const realwindow_elements &e) { return e.find(element) != nullptr; }))
            return false;
        return clickuntil(element, [](const realwindow_elements &e) { return e.dialog == 0; });
    }
};

TEST_F(OperationsRealRun, APathsLayerAndAToolFirst)
{
    size_t from = w->log().size();
    ASSERT_TRUE(clickuntil("canvas_addlayer", [](const realwindow_elements &e) { return e.dialog == 14; }))
        << w->why;
    ASSERT_TRUE(w->click("addlayer_loadpaths")) << w->why;
    ASSERT_TRUE(w->waitlog(" paths-layer(s) (", 60, from)) << tail();
    ASSERT_TRUE(clickuntil("projectmode_tools", [](const realwindow_elements &e) { return e.mode == 2; })) << w->why;
    ASSERT_TRUE(clickuntil("tool01", [](const realwindow_elements &e) { return e.find("tool_type") != nullptr; }))
        << w->why;
    ASSERT_TRUE(clickuntil("tool_type", [](const realwindow_elements &e) { return e.open == ops_tooltypelist; }))
        << w->why;
    const realwindow_element *entry = w->last.nth(ops_tooltypelist, 0);
    ASSERT_NE(entry, nullptr);
    const realwindow_element cylinder = *entry;
    ASSERT_TRUE(clickuntil([&] { return w->clickat(cylinder.cx(), cylinder.cy()); },
                           [](double seconds) {
                               return w->waitelements([](const realwindow_elements &e) { return e.open == -1; },
                                                      seconds);
                           }))
        << w->why;
    from = w->log().size();
    ASSERT_TRUE(clickuntil([] { return w->click("tool_apply"); },
                           [&](double seconds) { return w->waitlog("cam_settool: tool1 type1", seconds, from); }))
        << w->why << tail();
    ASSERT_TRUE(clickuntil("projectmode_operations", [](const realwindow_elements &e) { return e.mode == 3; }))
        << w->why;
}

TEST_F(OperationsRealRun, ChooserCategories)
{
    ASSERT_TRUE(openchooser()) << w->why << tail();
    for (int c = 0; c < 3; c++) {
        SCOPED_TRACE(operations_categories[c].label);
        const char *name = operations_categories[c].name;
        if (w->last.find(name))
            ASSERT_TRUE(clickuntil(name, [&](const realwindow_elements &e) { return e.find(name) == nullptr; }))
                << w->why;
        ASSERT_TRUE(rest()) << w->why;
        // The open category is a label: its tab is gone from the file.
        ASSERT_TRUE(w->waitelements([&](const realwindow_elements &e) { return !e.find(name); }, ops_stepseconds))
            << w->why;
        EXPECT_TRUE(w->matches(ops_golden("operations_category" + std::to_string(c + 1)), ops_masks(),
                               ops_screenseconds))
            << w->why;
    }
    ASSERT_TRUE(clickuntil("dialog_cancel", [](const realwindow_elements &e) { return e.dialog == 0; })) << w->why;
}

// The names under the editor: every named element of the main window in
// the right column (from the speed field's left edge), sorted.
std::string ops_editornames(const realwindow_elements &e)
{
    const realwindow_element *speed = e.find("op_speed");
    if (!speed)
        return "";
    std::set<std::string> names;
    for (const realwindow_element &x : e.items)
        if (x.name != "-" && x.r.x >= speed->r.x - 2 && x.window == mainwindow_windowid)
            names.insert(x.name);
    std::string out;
    for (const std::string &n : names)
        out += (out.empty() ? "" : " ") + n;
    return out;
}

struct ops_typecase {
    int type;
    const char *element;
    const char *names; // the editor's element names, sorted
};

const ops_typecase ops_types[] = {
    {1, "optype_parallel",
      "op_coolant op_cutangle op_cutangle_reset op_cutdepth op_dir op_engage op_entry op_feed "
      "op_ignoretool op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable "
      "op_rapidheight op_sort_enable op_speed op_stepover op_stepover_physical op_stock "
      "op_stock_reset"},
    {2, "optype_chevron",
      "op_chev_height op_chev_width op_coolant op_cutangle op_cutangle_reset op_cutdepth op_dir "
      "op_engage op_entry op_feed op_ignoretool op_link_enable op_maxdepth op_maxdepth_reset "
      "op_mindepth op_mindepth_reset op_pad_enable op_rapidheight op_sort_enable op_speed "
      "op_stepover op_stepover_physical op_stock op_stock_reset"},
    {3, "optype_spiral",
      "op_coolant op_cutdepth op_dir op_engage op_entry op_feed op_ignoretool op_link_enable "
      "op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable op_rapidheight "
      "op_sort_enable op_speed op_spiral_radius op_spiral_reset op_spiral_x op_spiral_x_reset "
      "op_spiral_y op_spiral_y_reset op_stepover op_stepover_physical op_stock op_stock_reset"},
    {4, "optype_labyrinth",
      "op_coolant op_cutdepth op_dir op_engage op_entry op_feed op_ignoretool op_link_enable "
      "op_maxdepth op_maxdepth_reset op_maze_mirror_180 op_maze_mirror_90 op_maze_mirror_x "
      "op_maze_mirror_y op_maze_variance op_mindepth op_mindepth_reset op_pad_enable "
      "op_rapidheight op_sort_enable op_speed op_stepover op_stepover_physical op_stock "
      "op_stock_reset"},
    {5, "optype_stipple",
      "op_coolant op_dir op_engage op_entry op_feed op_ignoretool op_mindepth op_mindepth_reset "
      "op_rapidheight op_sort_enable op_speed op_stepover op_stepover_physical op_stip1_advec "
      "op_stip1_advec_reset op_stip_maxdia op_stip_mindia"},
    {6, "optype_medialaxis",
      "op_contour_z op_contour_z_reset op_contourinput op_coolant op_cutdepth op_depthoffset "
      "op_depthoffset_reset op_dir op_edges_enable op_engage op_entry op_feed op_ignoretool "
      "op_invertcontour op_link_enable op_maxdepth op_maxdepth_reset op_mindepth "
      "op_mindepth_reset op_offset op_offset_reset op_rapidheight op_sort_disable op_speed"},
    {7, "optype_horzmill",
      "op_coolant op_cutdepth op_dir op_engage op_entry op_feed op_ignoretool op_link_disable "
      "op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable op_rapidheight "
      "op_smoothing op_sort_enable op_speed op_stepover op_stepover_physical op_stepover_zero "
      "op_stock op_stock_reset"},
    {8, "optype_profile",
      "op_contour_z op_contour_z_reset op_contourinput op_coolant op_cutdepth op_dir "
      "op_edges_enable op_engage op_entry op_feed op_ignoretool op_invertcontour op_link_enable "
      "op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_offset op_offset_reset "
      "op_offset_toolrad op_outlinemode op_prof_tabs_reset op_prof_tabs_spacing op_prof_width "
      "op_prof_width_reset op_rapidheight op_sort_enable op_speed op_stepover "
      "op_stepover_physical"},
    {9, "optype_conformal",
      "op_conf_perturb op_conf_smoothing op_coolant op_cutangle op_cutangle_reset op_cutdepth "
      "op_dir op_engage op_entry op_feed op_ignoretool op_link_enable op_maxdepth "
      "op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable op_rapidheight "
      "op_sort_enable op_speed op_stepover op_stepover_physical op_stock op_stock_reset"},
    {10, "optype_offset",
      "op_contour_z op_contour_z_reset op_contourinput op_coolant op_cutdepth op_dir op_engage "
      "op_entry op_feed op_ignoretool op_invertcontour op_link_enable op_maxdepth "
      "op_maxdepth_reset op_mindepth op_mindepth_reset op_offset op_offset_reset op_pad_enable "
      "op_rapidheight op_smoothing op_sort_enable op_speed op_stepover op_stepover_physical"},
    {11, "optype_stipple2",
      "op_coolant op_dir op_engage op_entry op_feed op_ignoretool op_mindepth op_mindepth_reset "
      "op_rapidheight op_sort_enable op_speed op_stip2_dark op_stip2_light op_stip2_thresh "
      "op_stip_maxdia op_stip_mindia"},
    {12, "optype_paths",
      "op_coolant op_cutdepth op_dir op_engage op_entry op_feed op_ignoretool op_link_enable "
      "op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable op_pathslayer "
      "op_pcut_followcanvas op_rapidheight op_sort_enable op_speed op_stock op_stock_reset"},
    {13, "optype_tess",
      "op_coolant op_cutdepth op_dir op_engage op_entry op_feed op_ignoretool op_link_enable "
      "op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable op_rapidheight "
      "op_sort_enable op_speed op_stock op_stock_reset op_tess_cols op_tess_cuts op_tess_gap "
      "op_tess_nopartials op_tess_rows op_tess_shape"},
    {14, "optype_troch",
      "op_coolant op_cutdepth op_dir op_engage op_entry op_feed op_ignoretool op_link_enable "
      "op_maxdepth op_maxdepth_reset op_mindepth op_mindepth_reset op_pad_enable op_rapidheight "
      "op_sort_enable op_speed op_stepover op_stepover_physical op_stock op_stock_reset"},
    {15, "optype_troch2",
      "op_contour_z op_contour_z_reset op_contourinput op_coolant op_cutdepth op_dir op_engage "
      "op_entry op_feed op_ignoretool op_invertcontour op_link_enable op_maxdepth "
      "op_maxdepth_reset op_mindepth op_mindepth_reset op_offset op_offset_reset op_pad_enable "
      "op_rapidheight op_sort_enable op_speed op_stepover op_stepover_physical"},
    {16, "optype_holedrill",
      "op_contour_z op_contour_z_reset op_contourinput op_coolant op_cutdepth op_diametererror "
      "op_dir op_engage op_entry op_feed op_ignoretool op_maxdepth op_maxdepth_reset "
      "op_mindepth op_mindepth_reset op_rapidheight op_retract op_retract_enable op_sort_enable "
      "op_speed"},
    {17, "optype_fillet",
      "op_contour_z op_contour_z_reset op_contourinput op_coolant op_dir op_engage op_entry "
      "op_feed op_ignoretool op_invertcontour op_link_enable op_maxdepth op_maxdepth_reset "
      "op_mindepth op_mindepth_reset op_offset op_offset_reset op_rapidheight op_sort_enable "
      "op_speed op_stepover op_stepover_physical"},
};

// Each type chosen in turn by New Operation: the entry is not applied, so
// New Operation takes it again. The editor shows the type's rows only.
TEST_F(OperationsRealRun, EachTypesEditorNames)
{
    for (const ops_typecase &c : ops_types) {
        SCOPED_TRACE(c.element);
        ASSERT_TRUE(openchooser()) << w->why << tail();
        ASSERT_TRUE(choose(c.type, c.element)) << w->why << " running " << w->running() << w->asanreport();
        ASSERT_TRUE(rest()) << w->why;
        std::string names;
        w->waitelements(
            [&](const realwindow_elements &e) {
                names = ops_editornames(e);
                return !names.empty();
            },
            ops_stepseconds);
        if (getenv("KERFMILL_PRINT_NAMES"))
            fprintf(stderr, "NAMES %d \"%s\"\n", c.type, names.c_str());
        EXPECT_EQ(names, c.names);
        if (c.type == 1 || c.type == 8 || c.type == 13 || c.type == 16)
            EXPECT_TRUE(w->matches(ops_golden("operations_editor" + std::to_string(c.type)), ops_masks(),
                                   ops_screenseconds))
                << w->why;
    }
}

// A project of ten operations written by the program's own writer: tool 1,
// a paths-layer with a rectangle, and 2D Profile Milling from that layer
// with tabs first, then nine others.
bool ops_writeproject(const std::string &file)
{
    memcpy(cfg, cfg_defaults, cfg_size);
    project_reset();
    const float size[3] = {12.0f, 8.0f, 1.0f}, frac[3] = {0.0f, 0.0f, 1.0f};
    memcpy(project.size, size, sizeof(size));
    memcpy(project.originfrac, frac, sizeof(frac));
    project.units = 1;
    project.scale = 1.0f;
    project.ppi = 20;
    if (!cam_settool(1, "quarter flat", tool_cylinder, 1, 2, 0.25f, 1.0f, 0.0f, 1.5f, 20.0f))
        return false;
    const int slot = project_layeralloc(layer_paths);
    if (slot < 0)
        return false;
    project_layer &l = project.layers[slot];
    l.groups = 1;
    l.aspect = 1.0f;
    l.size[0] = l.size[1] = 4.0f;
    l.data.pth = path_new();
    const int c = path_newcurve(l.data.pth);
    const float corners[4][3] = {{-0.5f, -0.5f, 0}, {-0.5f, 0.5f, 0}, {0.5f, 0.5f, 0}, {0.5f, -0.5f, 0}};
    for (const float *p : corners)
        path_prependknot(l.data.pth, c, p);
    l.data.pth->curves[c].closed = 1;
    layer_bounds(slot);
    const int types[10] = {8, 1, 2, 3, 10, 13, 16, 6, 7, 17};
    for (int i = 0; i < 10; i++) {
        projop &e = project.ops[i];
        snprintf(e.name, sizeof(e.name), "operation%02d with a long descriptive name", i + 1);
        e.camop = i;
        e.tool = 1;
        e.include = e.show = 1;
        camop &r = cam_ops[i];
        r.type = types[i];
        r.tool = 1;
        r.feed = 40, r.engagefeed = 20, r.speed = 12000;
        r.step = 0.05f, r.z_doc = 0.125f, r.z_max = 0.25f, r.z_safe = 0.1f;
        r.toolpath = -1;
    }
    camop &profile = cam_ops[0];
    profile.flags = 0x0200 | 0x0010;
    profile.aux[0] = opcodes_float(l.uid);
    profile.aux[1] = opcodes_float((uint32_t)opcodes_encode(opcodes_width, 0.5f, 1.0f) |
                                   (uint32_t)opcodes_encode(opcodes_spacing, 3.0f, 1.0f) << 16);
    profile.aux[2] = opcodes_float((uint32_t)opcodes_encode(opcodes_length, 0.5f, 1.0f) |
                                   (uint32_t)opcodes_encode(opcodes_height, 0.125f, 1.0f) << 16);
    bool written = project_write(file.c_str(), nullptr) > 0;
    for (int i = 0; i < 10; i++)
        cam_ops[i].type = 0;
    project_reset();
    return written;
}

// The largest editor open over ten rows: no draw list overflows.
TEST(OperationsRun, TenOperationsAndTheLargestEditorDrawWithoutOverflow)
{
    testfolder work{"opsrun10"};
    const std::string file = (work.path / "ten.kfm").string();
    {
        testlog_capture quiet;
        ASSERT_TRUE(ops_writeproject(file)) << quiet.text();
    }
    realwindow_options opt;
    opt.args = {file};
    realwindow win(opt);
    ASSERT_TRUE(win.started()) << win.why;
    ASSERT_TRUE(win.waitlog("...loaded '", ops_startseconds)) << win.why << "\n" << win.log();
    ASSERT_TRUE(win.element("projectmode_operations", ops_stepseconds)) << win.why;
    ASSERT_TRUE(win.click("projectmode_operations")) << win.why;
    ASSERT_TRUE(win.waitelements([](const realwindow_elements &e) { return e.mode == 3; }, ops_clickseconds))
        << win.why;
    ASSERT_TRUE(win.element("operation01") && win.click("operation01")) << win.why;
    ASSERT_TRUE(win.waitelements([](const realwindow_elements &e) { return e.find("op_prof_tabs_height"); },
                                 ops_clickseconds))
        << "the profile editor with its tab fields: " << win.why << win.tail();
    ASSERT_TRUE(win.element("operation10")) << win.why;
    ASSERT_TRUE(win.element("op_pathslayer")) << "the paths-layer picker: " << win.why;
    // The GL extension list names an overflow query: only the program's own
    // overflow lines count.
    std::istringstream lines(win.log());
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.find("overflow") == std::string::npos || line.find("GL_") != std::string::npos) << line;
    EXPECT_EQ(win.end(), 0);
    EXPECT_EQ(win.asanreport(), "");
}

} // namespace
