// The main window as a new user drives it, on an X server of the test's own:
// one start of the program serves the whole suite, whose tests run in order
// and leave it as the next expects (no dialog, no menu open). The mode tabs
// change the mode, the status text and the screen (against the goldens
// shell_mode1..4.png, with what moves masked); the File menu saves, starts
// anew and opens; the grid toggle reaches config.dat when the window closes;
// the About box opens, is dragged against the right edge and closed. The last
// test closes the window and checks the exit, ASan's reports and the log.
// KERFMILL_UPDATE_GOLDEN=1 writes the goldens from this run (look at them).
#include "mainwindow/dialogs.h"
#include "mainwindow/mainwindow.h"
#include "realwindow.h"

#include <gtest/gtest.h>

#include <memory>

namespace fs = std::filesystem;

constexpr double shell_startseconds = 120; // start-up under the sanitizers on a loaded machine
constexpr double shell_stepseconds = 30;   // one step's effect, on the same machine
constexpr double shell_clickseconds = 60;  // a click's effect, a slow redraw included
constexpr double shell_screenseconds = 20; // until a screen matches its golden
constexpr int shell_aboutdialog = 19;
constexpr int shell_edgeslack = 20; // the title bar's inset from its window

static int32_t shell_cfgint(const uint8_t *record, int offset)
{
    int32_t v = 0;
    memcpy(&v, record + offset, 4);
    return v;
}

class Shell : public ::testing::Test {
protected:
    static inline std::unique_ptr<testfolder> files; // where the project is saved
    static inline std::unique_ptr<realwindow> w;
    static inline fs::path project;

    static void SetUpTestSuite()
    {
        files = std::make_unique<testfolder>("shellproject");
        project = files->path / "shell.kfm";
        realwindow_options opt;
        // Save As, then Open: the file dialogs' answers in turn.
        opt.dialogpaths = project.string() + "\n" + project.string();
        // The debug lines carry the draw lists' overflow reports.
        opt.configure = [](std::vector<uint8_t> &rec) {
            int32_t on = 1;
            memcpy(rec.data() + cfg_debuginfo, &on, 4);
        };
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
        ASSERT_TRUE(w->waitlog(" LOOP ", shell_startseconds)) << w->why << "\n" << w->log();
        ASSERT_TRUE(w->waitelements([](const realwindow_elements &e) { return e.dialog == 0 && e.open == -1; },
                                    shell_stepseconds))
            << "a test before left a dialog or menu open: " << w->why;
    }

    // Clicks the named element once and waits until done says its effect
    // came. The harness's click is surely taken (it presses again when a
    // slow frame dropped the press), so a second click would only land
    // twice.
    static bool clickuntil(const std::string &name, const std::function<bool(double seconds)> &done)
    {
        return w->click(name) && done(shell_clickseconds);
    }
    static bool clickuntil(const std::string &name, const std::function<bool(const realwindow_elements &)> &ok)
    {
        return clickuntil(name, [&](double seconds) { return w->waitelements(ok, seconds); });
    }
    // Opens the menu by its head, then clicks the item, which closes it, or
    // for an item that opens a dialog, that dialog.
    static bool menuitem(const std::string &head, const std::string &item, int dialog = 0)
    {
        return clickuntil(head, [](const realwindow_elements &e) { return e.open != -1; }) &&
               clickuntil(item, [&](const realwindow_elements &e) { return e.open == -1 && e.dialog == dialog; });
    }
    // A rest for the pointer where nothing turns hot or shows a tooltip: the
    // units cell of the status strip.
    static bool rest() { return w->moveto(realwindow::width - 240, realwindow::height - 17); }
};

// The cells that change from run to run: the view area (it draws the
// canvas with the window's own timing), the status text (it blinks after
// each change) and the memory and frame rate.
static std::vector<realwindow_rect> shell_masks()
{
    const int left = shell_cfgint(cfg_defaults, cfg_leftpanelwidth);
    const int right = shell_cfgint(cfg_defaults, cfg_rightpanelwidth);
    const int status = (int)mainwindow_statusheight, toolbar = (int)mainwindow_toolbarheight;
    const int w = realwindow::width, h = realwindow::height;
    return {
        {left, toolbar, w - left - right, h - status - toolbar},
        {0, h - status, w - 330 - 120 - 180, status},
        {w - 180, h - status, 180, status},
    };
}

// Each tab in turn; the one of the current mode is a plain label, so the
// run starts on the tools tab and comes back to the canvas.
TEST_F(Shell, TabsSwitchModeStatusAndScreen)
{
    struct tab {
        const char *name;
        int mode;
        const char *status;
    };
    static const tab tabs[] = {
        {"projectmode_tools", 2, "create/edit tool definitions"},
        {"projectmode_operations", 3, "create/edit CNC operations"},
        {"projectmode_simulation", 4, "simulate CNC operations"},
        {"projectmode_canvas", 1, "setup canvas, create/edit layers"},
    };
    ASSERT_TRUE(w->waitelements([](const realwindow_elements &e) { return e.mode == 1; }, shell_stepseconds))
        << w->why;
    EXPECT_EQ(w->last.find("projectmode_canvas"), nullptr) << "the current tab is a plain label";
    for (const tab &t : tabs) {
        SCOPED_TRACE(t.name);
        const size_t from = w->log().size();
        // The frame of the click still draws the tab as a button; from the
        // next on it is a label.
        ASSERT_TRUE(clickuntil(t.name, [&](const realwindow_elements &e) {
            return e.mode == t.mode && !e.find(t.name);
        })) << w->why << tail();
        EXPECT_TRUE(w->waitlog(std::string("[ STATUS ] ") + t.status, shell_stepseconds, from)) << w->why;
        ASSERT_TRUE(rest()) << w->why;
        fs::path golden = fs::path(KERFMILL_TESTS_DIR) / "mainwindow" / ("shell_mode" + std::to_string(t.mode) + ".png");
        EXPECT_TRUE(w->matches(golden, shell_masks(), shell_screenseconds)) << w->why;
    }
}

// Save As writes the file the dialog named; New asks nothing (the project
// was just saved, and no message box answer is used); Open loads the file.
TEST_F(Shell, FileMenuSavesStartsAnewAndOpens)
{
    size_t from = w->log().size();
    ASSERT_TRUE(menuitem("menu_file", "file_saveprojectas")) << w->why;
    ASSERT_TRUE(w->waitlog("...saved project", shell_stepseconds, from)) << w->why << "\n" << w->log();
    EXPECT_TRUE(fs::is_regular_file(project));
    EXPECT_GT(fs::file_size(project), 0u);

    from = w->log().size();
    ASSERT_TRUE(menuitem("menu_file", "file_newproject")) << w->why;
    EXPECT_EQ(w->log().find("msgbox seam", from), std::string::npos) << w->log().substr(from);

    from = w->log().size();
    ASSERT_TRUE(menuitem("menu_file", "file_openproject")) << w->why;
    EXPECT_TRUE(w->waitlog("...loaded 'shell.kfm'", shell_stepseconds, from)) << w->why << "\n" << w->log().substr(from);
    ASSERT_TRUE(rest()) << w->why;
}

// The About box opens on its menu item; dragged by its title bar towards
// the right edge it stays whole on the screen; its Cancel closes it.
TEST_F(Shell, AboutOpensDragsClampedAndCloses)
{
    ASSERT_TRUE(menuitem("menu_help", "help_about", shell_aboutdialog)) << w->why;
    const int window = dialogs_windowbase + shell_aboutdialog;
    ASSERT_TRUE(w->waitelements(
        [&](const realwindow_elements &e) { return e.dialog == shell_aboutdialog && e.nth(window, 0); },
        shell_stepseconds))
        << w->why;
    const realwindow_element title = *w->last.nth(window, 0);
    // The pointer ends 3 px inside the edge, the title's middle under it,
    // so an unclamped box would reach past the edge by half its width.
    auto attheedge = [&](const realwindow_elements &e) {
        const realwindow_element *t = e.nth(window, 0);
        return t && t->r.x + t->r.w >= realwindow::width - shell_edgeslack;
    };
    ASSERT_TRUE(w->dragat(title.cx(), title.cy(), realwindow::width - 3, title.cy())) << w->why;
    ASSERT_TRUE(w->waitelements(attheedge, shell_clickseconds)) << "the box did not reach the edge: " << w->why;
    const realwindow_element *now = w->last.nth(window, 0);
    EXPECT_LE(now->r.x + now->r.w, realwindow::width) << "the box runs past the right edge";
    EXPECT_GE(now->r.x, 2);

    ASSERT_TRUE(clickuntil("dialog_cancel", [](const realwindow_elements &e) { return e.dialog == 0; })) << w->why;
    ASSERT_TRUE(rest()) << w->why;
}

// Last: the grid toggle, then the window's close request. The program saves
// its configuration on the way out, ends with 0, and leaves no ASan report
// and no overflow line in its log.
TEST_F(Shell, GridToggleSavedAndCleanExit)
{
    const int32_t before = shell_cfgint(cfg_defaults, cfg_showgrid);
    const size_t from = w->log().size();
    ASSERT_TRUE(clickuntil("view_showgrid", [&](double seconds) {
        return w->waitlog(before ? "show-grid disabled" : "show-grid enabled", seconds, from);
    })) << w->why;
    EXPECT_EQ(w->end(), 0);
    std::ifstream in(w->userfolder() / "config.dat", std::ios::binary);
    std::vector<uint8_t> rec(cfg_size);
    in.read((char *)rec.data(), cfg_size);
    ASSERT_TRUE(in) << "config.dat is shorter than a record";
    EXPECT_EQ(shell_cfgint(rec.data(), cfg_showgrid), before ? 0 : 1);
    const std::string log = w->log();
    EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
    // The driver's extension list names an overflow query; no other line
    // may say overflow.
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.find("overflow") != std::string::npos && line.find("[GL_") == std::string::npos)
            ADD_FAILURE() << line;
    EXPECT_EQ(w->asanreport(), "");
}
