// The tools mode as a new user drives it, on an X server of the test's own:
// one start of the program serves the suite, whose tests run in order. Tool 1
// becomes a cylinder with typed dimensions and is applied (the log line
// carries them); the view area's diagram of each type matches its golden
// (tools_type1..4.png, the status text masked); the tool is saved to library
// slot 1 and loaded into tool 2; the exported library file holds it in slot
// 0, as an independent struct reader sees it.
// KERFMILL_UPDATE_GOLDEN=1 writes the goldens from this run (look at them).
#include "mainwindow/dialogs.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/tools.h"
#include "realwindow.h"

#include <gtest/gtest.h>

#include <memory>

namespace fs = std::filesystem;

namespace {

constexpr double tools_startseconds = 120; // start-up under the sanitizers on a loaded machine
constexpr double tools_stepseconds = 30;
constexpr double tools_clickseconds = 60;
constexpr double tools_screenseconds = 20;
constexpr int tools_librarydialog = 16;

class ToolsRealRun : public ::testing::Test {
protected:
    static inline std::unique_ptr<testfolder> files;
    static inline std::unique_ptr<realwindow> w;
    static inline fs::path exported;

    static void SetUpTestSuite()
    {
        files = std::make_unique<testfolder>("toolsrealrun");
        exported = files->path / "library.ktl";
        realwindow_options opt;
        opt.dialogpaths = exported.string();
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
        ASSERT_TRUE(w->waitlog(" LOOP ", tools_startseconds)) << w->why << "\n" << w->log();
    }
    // Clicks once and waits for the effect. The harness's click is taken by
    // the program for sure (it presses again when a slow frame dropped the
    // press), so clicking again on a slow effect would only click twice, on
    // whatever took the place of the first target by then.
    static bool clickuntil(const std::function<bool()> &click, const std::function<bool(double)> &done)
    {
        return click() && done(tools_clickseconds);
    }
    static bool clickuntil(const std::string &name, const std::function<bool(const realwindow_elements &)> &ok)
    {
        return clickuntil([&] { return w->click(name); },
                          [&](double seconds) { return w->waitelements(ok, seconds); });
    }
    static bool clicklog(const std::string &name, const std::string &line, size_t from)
    {
        return clickuntil([&] { return w->click(name); },
                          [&](double seconds) { return w->waitlog(line, seconds, from); });
    }
    // Opens the type list and takes its entry for the type.
    static bool choosetype(int type)
    {
        if (!clickuntil("tool_type", [](const realwindow_elements &e) { return e.open == tools_typelistid; }))
            return false;
        const realwindow_element *entry = w->last.nth(tools_typelistid, type - 1);
        if (!entry)
            return false;
        const realwindow_element item = *entry;
        return clickuntil([&] { return w->clickat(item.cx(), item.cy()); },
                          [](double seconds) {
                              return w->waitelements([](const realwindow_elements &e) { return e.open == -1; },
                                                     seconds);
                          });
    }
    // Clicks the field, empties it and types the text, ending with Return.
    static bool typeinto(const std::string &field, const std::string &text)
    {
        if (!w->element(field) || !w->click(field))
            return false;
        std::vector<std::string> keys = {"key", "--delay", "40", "End"};
        for (int i = 0; i < tools_textmax; i++)
            keys.push_back("BackSpace");
        return w->xdotool(keys) && w->type(text) && w->key("Return");
    }
    static bool rest() { return w->moveto(realwindow::width - 240, realwindow::height - 17); }
};

// The status text blinks after each change, memory and frame rate move.
std::vector<realwindow_rect> tools_masks()
{
    const int status = (int)mainwindow_statusheight;
    const int w = realwindow::width, h = realwindow::height;
    return {{0, h - status, w - 330 - 120 - 180, status}, {w - 180, h - status, 180, status}};
}

TEST_F(ToolsRealRun, CylinderTypedAndApplied)
{
    ASSERT_TRUE(clickuntil("projectmode_tools", [](const realwindow_elements &e) { return e.mode == 2; }))
        << w->why << tail();
    ASSERT_TRUE(clickuntil("tool01", [](const realwindow_elements &e) { return e.find("tool_type") != nullptr; }))
        << w->why << tail();
    ASSERT_TRUE(choosetype(1)) << w->why << tail();
    ASSERT_TRUE(w->element("tool_flutediameter")) << w->why;
    ASSERT_TRUE(typeinto("tool_flutediameter", "0.5")) << w->why;
    ASSERT_TRUE(typeinto("tool_flutelength", "1.25")) << w->why;
    ASSERT_TRUE(typeinto("tool_totallength", "2")) << w->why;
    const size_t from = w->log().size();
    ASSERT_TRUE(clicklog("tool_apply", "cam_settool: tool1 type1", from)) << w->why << tail();
    EXPECT_TRUE(w->waitlog("cam_settool: tool1 type1 units:1 dia:0.500000 fdia0.500000 flen1.250000 faux0.000000 "
                           "len2.000000 ramp20.000000",
                           tools_stepseconds, from))
        << tail();
    EXPECT_TRUE(w->waitlog("...set tool01 \"tool01\"", tools_stepseconds, from)) << tail();
}

// The diagram follows the editor before Apply: each type with a value it
// can draw (a taper of 0 draws no cone, a bit angle below 10 is clamped).
TEST_F(ToolsRealRun, DiagramOfEachType)
{
    struct Case {
        int type;
        std::vector<std::pair<const char *, const char *>> typed;
    };
    const Case cases[] = {
        {1, {{"tool_cornerradius", "0.125"}}},
        {2, {{"tool_taperangle", "10"}}},
        {3, {{"tool_bitangle", "60"}}},
        {4, {{"tool_ballradius", "0.125"}, {"tool_flutelength", "1.25"}, {"tool_taperangle", "10"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_TRUE(choosetype(c.type)) << w->why << tail();
        for (const auto &[field, value] : c.typed) {
            ASSERT_TRUE(w->element(field)) << field << ": " << w->why;
            ASSERT_TRUE(typeinto(field, value)) << w->why;
        }
        ASSERT_TRUE(rest()) << w->why;
        fs::path golden = fs::path(KERFMILL_TESTS_DIR) / "mainwindow" / ("tools_type" + std::to_string(c.type) + ".png");
        EXPECT_TRUE(w->matches(golden, tools_masks(), tools_screenseconds)) << w->why;
    }
}

// Save Tool puts the applied tool 1 in library slot 1; Load Tool puts that
// slot into tool 2.
TEST_F(ToolsRealRun, SaveToSlotOneThenLoadIntoToolTwo)
{
    size_t from = w->log().size();
    ASSERT_TRUE(clickuntil("tool_save", [](const realwindow_elements &e) { return e.dialog == tools_librarydialog; }))
        << w->why << tail();
    ASSERT_TRUE(clicklog("libslot01", "saving tool#01 \"tool01\" to library slot#01", from)) << w->why << tail();
    ASSERT_TRUE(w->waitelements([](const realwindow_elements &e) { return e.dialog == 0; }, tools_stepseconds))
        << w->why;

    // The selected row is the one that carries the load button.
    ASSERT_TRUE(clickuntil("tool02", [](const realwindow_elements &e) {
        const realwindow_element *load = e.find("tool_load"), *row = e.find("tool02");
        return load && row && load->r.y == row->r.y;
    })) << w->why;
    from = w->log().size();
    ASSERT_TRUE(clickuntil("tool_load", [](const realwindow_elements &e) { return e.dialog == tools_librarydialog; }))
        << w->why << tail();
    ASSERT_TRUE(clicklog("libslot01", "loading library slot #01 \"tool01\" to tool02", from)) << w->why << tail();
    EXPECT_TRUE(w->waitlog("cam_settool: tool2 type1 units:1 dia:0.500000 fdia0.500000 flen1.250000", tools_stepseconds,
                           from))
        << tail();
    ASSERT_TRUE(w->waitelements([](const realwindow_elements &e) { return e.dialog == 0; }, tools_stepseconds))
        << w->why;
}

// The export is the library block whole; its slot 0 is the saved tool.
TEST_F(ToolsRealRun, ExportedLibraryHoldsTheSavedTool)
{
    const size_t from = w->log().size();
    ASSERT_TRUE(clickuntil("menu_file", [](const realwindow_elements &e) { return e.open != -1; })) << w->why;
    ASSERT_TRUE(clicklog("file_exporttools", "...exported tool library", from)) << w->why << tail();
    ASSERT_TRUE(fs::is_regular_file(exported));
    EXPECT_EQ(fs::file_size(exported), 23552u);
    const std::string out = files->at("slot0.txt");
    ASSERT_EQ(testchild_run({"/usr/bin/python3", KERFMILL_TESTS_DIR "/mainwindow/toollib_slot.py", exported.string(),
                             "0"},
                            30, out),
              0);
    std::ifstream in(out);
    std::string size, name, values;
    std::getline(in, size);
    std::getline(in, name);
    std::getline(in, values);
    EXPECT_EQ(size, "23552");
    EXPECT_EQ(name, "tool01");
    // type, flutes, total, flute diameter, flute length, corner radius, ramp
    EXPECT_EQ(values, "1 2 2.000000 0.500000 1.250000 0.000000 20.000000");
    EXPECT_EQ(w->end(), 0);
    EXPECT_EQ(w->asanreport(), "");
}

} // namespace
