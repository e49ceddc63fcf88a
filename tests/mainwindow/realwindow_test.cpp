// The real-window helper's reading of the element file, which every
// real-window test clicks by: names with blanks, unnamed drop-down entries
// taken by their order in their window, and files a test must not trust.
#include "realwindow.h"

#include <gtest/gtest.h>

TEST(RealwindowElements, ReadsHeadAndElements)
{
    const char *text = "frame 412 mode 3 dialog 19 open -1\n"
                       "file_newproject 10300 0 0 60 20\n"
                       "Save Project As 10300 60 -4 120 20\n"
                       "- 250 10 30 250 18\n"
                       "- 250 10 48 250 18\n";
    realwindow_elements e;
    ASSERT_TRUE(realwindow_parseelements(text, e));
    EXPECT_EQ(e.frame, 412);
    EXPECT_EQ(e.mode, 3);
    EXPECT_EQ(e.dialog, 19);
    EXPECT_EQ(e.open, -1);
    ASSERT_EQ(e.items.size(), 4u);
    const realwindow_element *save = e.find("Save Project As");
    ASSERT_NE(save, nullptr);
    EXPECT_EQ(save->window, 10300);
    EXPECT_EQ(save->cx(), 120);
    EXPECT_EQ(save->cy(), 6);
    EXPECT_EQ(e.find("-"), &e.items[2]);
    EXPECT_EQ(e.nth(250, 1), &e.items[3]);
    EXPECT_EQ(e.nth(250, 2), nullptr);
    EXPECT_EQ(e.find("file_open"), nullptr);
}

TEST(RealwindowElements, RefusesWhatIsNotAnElementFile)
{
    const char *cases[] = {
        "",
        "frame 1 mode 1\n",
        "frame 1 mode 1 dialog 0 open -1\nname 1 2 3 4\n",
        "frame 1 mode 1 dialog 0 open -1\nname 1 2 3 4 x\n",
        "frame 1 mode 1 dialog 0 open -1\n 1 2 3 4 5\n",
    };
    for (const char *text : cases) {
        realwindow_elements e;
        e.frame = 7;
        EXPECT_FALSE(realwindow_parseelements(text, e)) << text;
        EXPECT_EQ(e.frame, 7) << "left untouched: " << text;
    }
}
