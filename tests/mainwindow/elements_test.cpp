// The element-file seam: the file names where the program stands and every
// element of the frame where it was drawn, is written only when that
// changes, and is never seen half-written.
#include "mainwindowfixture.h"

#include "mainwindow/elements.h"
#include "testfolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> readlines(const std::filesystem::path &p)
{
    std::ifstream in(p);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST_F(MainWindow, ElementFileFollowsTheFrames)
{
    testfolder dir("elements");
    std::filesystem::path file = dir.path / "elements.txt";
    elements_record(file.c_str());
    sys_framecount = 7;
    harness_frames(3);
    EXPECT_EQ(log.count("...wrote "), 1) << "an unchanged frame writes nothing";
    std::vector<std::string> lines = readlines(file);
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(0, lines[0].find(" pointer")), "frame 7 mode 1 dialog 0 open -1");
    // The harness still sees every element: the seam only listens in.
    EXPECT_EQ(lines.size() - 1, harness_elements.size());
    const rec_element *tools = harness_find("projectmode_tools");
    ASSERT_NE(tools, nullptr);
    char expected[128];
    snprintf(expected, sizeof(expected), "projectmode_tools %d %.0f %.0f %.0f %.0f", tools->window, tools->rect.x,
             tools->rect.y, tools->rect.w, tools->rect.h);
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    // The current tab is a label: listed, unnamed.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.rfind("- ", 0) == 0; }),
              (long)std::count_if(harness_elements.begin(), harness_elements.end(),
                                  [](const rec_element &e) { return e.name.empty(); }));

    // A click on a tab: the mode and the list change, so the file does.
    sys_framecount = 20;
    ASSERT_TRUE(harness_click("projectmode_tools"));
    harness_frame();
    lines = readlines(file);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].substr(lines[0].find(" mode"), lines[0].find(" pointer") - lines[0].find(" mode")),
              " mode 2 dialog 0 open -1");
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));

    // A dialog opened shows in the first line and lists its window.
    gui_setdialog(23);
    harness_frame();
    lines = readlines(file);
    EXPECT_EQ(lines[0].substr(lines[0].find(" mode"), lines[0].find(" pointer") - lines[0].find(" mode")),
              " mode 2 dialog 23 open -1");
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string &l) { return l.rfind("dialog_cancel 10423 ", 0) == 0; }),
              lines.end());
    // A pointer moved or pressed over nothing rewrites the head alone: a
    // test driving a drag learns from it that the frame took the step.
    harness_move(321, 45);
    harness_press(key_mouseright);
    harness_frame();
    lines = readlines(file);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines[0].ends_with(" pointer 321 45 4")) << lines[0];
    harness_release(key_mouseright);
    harness_frame();
    elements_stop();
    EXPECT_EQ(gui_elementhook, harness_hook);
    int writes = log.count("...wrote ");
    projectmode = 3;
    harness_frame();
    EXPECT_EQ(log.count("...wrote "), writes);
}
