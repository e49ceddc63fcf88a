// The main window's dialogs, headless: one dialog a frame, in front of the
// main window; the shared position clamped back onto the screen (and the
// first dialog near the middle); the width
// written and the height kept; the placeholder's "Cancel"; and a click that
// opens a dialog clicking nothing in it.
#include "mainwindowfixture.h"

#include "gui/widgets/buttons.h"

#include <gtest/gtest.h>

namespace {

// Depth of the first recorded text, -1 when none.
float textdepth(const std::string &text)
{
    for (const rec_text &t : harness_rec.texts)
        if (t.text == text)
            return t.depth;
    return -1.0f;
}

gui_rect bodycell;
void recordbody()
{
    const gui_rect *top = gui_topsector();
    bodycell = top ? *top : gui_rect{};
}

void openerpanel()
{
    if (gui_button(4242, 0, 1, "open"))
        gui_setdialog(23);
}

// A body that opens another dialog, one the pass would test after it.
void switchingbody()
{
    gui_setdialog(20);
}

} // namespace

TEST_F(MainWindow, EveryDialogNumberDrawsItsWindowInFront)
{
    for (int i = 0; i < dialogs_count; i++) {
        const dialogs_entry &d = dialogs_table[i];
        if (d.number == 29 || d.number == 30)
            continue; // their set-ups reach the network and the selected layer
        // The tool library closes outside the tools and operations modes,
        // the operation type chooser outside the operations mode.
        projectmode = d.number == 16 ? 2 : d.number == 22 ? 3 : 1;
        gui_setdialog(d.number);
        harness_frame();
        std::vector<rec_element> in = inwindow(dialogs_windowbase + d.number);
        ASSERT_GE(in.size(), 2u) << d.number;
        EXPECT_EQ(in[0].id, dialogs_titlebase + d.number);
        if (!d.body)
            EXPECT_EQ(in[1].name, "dialog_cancel");
        int windows = 0;
        for (const dialogs_entry &other : std::vector<dialogs_entry>(dialogs_table, dialogs_table + dialogs_count))
            windows += !inwindow(dialogs_windowbase + other.number).empty();
        EXPECT_EQ(windows, 1) << d.number;
        // The title lies one depth level above the main window's panel title.
        const char *title = d.number == 16 ? "Project Tools" : d.number == 22 ? "Project Operations" : "Project Canvas";
        EXPECT_GT(textdepth("Cancel"), textdepth(title)) << d.number;
    }
}

TEST_F(MainWindow, OneDialogAFrameWhenABodySwitches)
{
    dialogs_find(23)->body = switchingbody;
    gui_setdialog(23);
    harness_frame();
    EXPECT_EQ(gui_dialogid, 20);
    EXPECT_FALSE(inwindow(dialogs_windowbase + 23).empty());
    EXPECT_TRUE(inwindow(dialogs_windowbase + 20).empty());
    harness_frame();
    EXPECT_FALSE(inwindow(dialogs_windowbase + 20).empty());
    dialogs_find(23)->body = nullptr;
}

TEST_F(MainWindow, DialogPlacementClampsAndWritesTheWidth)
{
    struct Case {
        float x, y;
        int number;
        float ex, ey, width;
    };
    const Case cases[] = {
        {100, 100, 23, 100, 100, 500},   {5000, 5000, 23, 780, 600, 500}, {1000, 650, 22, 710, 600, 570},
        {-300, -50, 8, 2, 2, 375},       {0.5f, 1.0f, 9, 2, 2, 450},      {900, 100, 8, 900, 100, 375},
        // never placed: the first dialog opens near the middle of the screen
        {0, 0, 23, 390, 200, 500},
        // a window its opener sizes, drawn by the stand-in, still reads
        {100, 100, 19, 100, 100, 400},
    };
    dialogs_find(23)->body = recordbody;
    for (const Case &c : cases) {
        gui_setdialog(c.number);
        gui_dialogpos[0] = c.x;
        gui_dialogpos[1] = c.y;
        gui_dialogsize[1] = 333.0f;
        harness_frame();
        SCOPED_TRACE(std::to_string(c.number) + " at " + std::to_string(c.x) + "," + std::to_string(c.y));
        EXPECT_EQ(gui_dialogpos[0], c.ex);
        EXPECT_EQ(gui_dialogpos[1], c.ey);
        EXPECT_EQ(gui_dialogsize[0], c.width);
        std::vector<rec_element> in = inwindow(dialogs_windowbase + c.number);
        ASSERT_FALSE(in.empty());
        float sp = (float)gui_spacing;
        EXPECT_EQ(in[0].rect.x, c.ex + sp);
        EXPECT_EQ(in[0].rect.y, c.ey + sp);
        EXPECT_EQ(in[0].rect.w, c.width - sp);
        if (c.number == 23) {
            // The window took the measured height as it stood.
            EXPECT_EQ(bodycell.y, c.ey + dialogs_titleheight);
            EXPECT_EQ(bodycell.h, 333.0f - dialogs_titleheight);
        }
    }
    dialogs_find(23)->body = nullptr;
}

TEST_F(MainWindow, PlaceholderCancelClosesAndMeasuresItsHeight)
{
    gui_setdialog(23);
    harness_frame();
    EXPECT_EQ(gui_dialogsize[1], dialogs_titleheight + dialogs_rowheight);
    ASSERT_TRUE(harness_click("dialog_cancel"));
    EXPECT_EQ(gui_dialogid, 0);
    harness_frame();
    EXPECT_TRUE(inwindow(dialogs_windowbase + 23).empty());
}

TEST_F(MainWindow, OpeningClickClicksNothingInTheDialog)
{
    // The opener fills the canvas panel; the dialog's "Cancel" comes to lie
    // under the pointer that pressed it.
    mainwindow_panels[panel_canvas] = openerpanel;
    gui_dialogpos[0] = 2.0f;
    gui_dialogpos[1] = 150.0f;
    harness_frame();
    harness_move(100, 150 + (int)dialogs_titleheight + 10);
    harness_frame();
    harness_press();
    harness_frame();
    harness_release();
    harness_frame();
    ASSERT_EQ(gui_dialogid, 23);
    EXPECT_EQ(gui_activeid, -1);
    harness_frames(3);
    const rec_element *cancel = harness_find("dialog_cancel");
    ASSERT_NE(cancel, nullptr);
    EXPECT_GE(100.0f, cancel->rect.x);
    EXPECT_GE(150.0f + dialogs_titleheight + 10.0f, cancel->rect.y);
    EXPECT_LE(150.0f + dialogs_titleheight + 10.0f, cancel->rect.y + cancel->rect.h);
    EXPECT_EQ(gui_dialogid, 23);
}
