// Message boxes without a person: the wrapping that keeps a box on a small
// screen, checked as a table, and the zenity command line of each kind of
// box as data. zenity's exit statuses are checked in dialogs_test.cpp with
// the other stand-in tools.
#include "platform/msgbox.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using strings = std::vector<std::string>;

static strings msgbox_lines(const std::string &text)
{
    strings lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(MsgboxWrap, BreaksAtBlanksWithinTheWidth)
{
    struct Case {
        const char *text;
        int width;
        const char *want;
    };
    const Case cases[] = {
        {"", 10, ""},
        {"short", 10, "short"},
        {"exactly ten", 11, "exactly ten"},
        {"one two three four", 9, "one two\nthree\nfour"},
        // The blanks at a break go; runs of blanks inside a line stay.
        {"aa  bb   cc", 6, "aa  bb\ncc"},
        {"trailing   ", 20, "trailing"},
        // The text's own breaks and empty lines stay, each paragraph wrapped
        // on its own; its indentation too, but not on its continued lines.
        {"first line\n\n  indented para goes on", 12, "first line\n\n  indented\npara goes on"},
        {"a\n", 5, "a\n"},
        // A word longer than a line is cut at the width, or the box would be
        // as wide as the word.
        {"see /very/long/path/name ok", 10, "see\n/very/long\n/path/name\nok"},
        {"abcdefghijklmnopqrstuvwxyz", 10, "abcdefghij\nklmnopqrst\nuvwxyz"},
        // Characters, not bytes: "ä" and "€" count once and are never split.
        {"äääää ööööö", 5, "äääää\nööööö"},
        {"€€€€€€€", 3, "€€€\n€€€\n€"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(plat_wraptext(c.text, c.width), c.want) << c.text << " / " << c.width;
    EXPECT_EQ(plat_wraptext(nullptr), "");
}

// The first start's terms, the longest text any box shows, at the boxes'
// own width: no line over 100 characters, the words all there in order.
TEST(MsgboxWrap, TermsOfUseFitABox)
{
    const std::string terms =
        "This version of Kerfmill is an unfinished early-access beta. Its reliability and safety are provided on a "
        "best-effort basis only: check every toolpath in the simulation before you run it on a machine, and stay "
        "with the machine while it cuts.\n\nDo you agree to these terms?";
    std::string wrapped = plat_wraptext(terms.c_str());
    strings lines = msgbox_lines(wrapped);
    EXPECT_EQ(lines.size(), 5u) << wrapped;
    for (const std::string &line : lines)
        EXPECT_LE(line.size(), (size_t)plat_msgboxwrap) << line;
    std::string joined = wrapped;
    for (char &c : joined)
        c = c == '\n' ? ' ' : c;
    std::string flat = terms;
    for (char &c : flat)
        c = c == '\n' ? ' ' : c;
    EXPECT_EQ(joined, flat);
}

TEST(MsgboxArgs, EachKindOfBox)
{
    struct Case {
        int buttons, icon, defbutton;
        strings want; // between "zenity" and the title
    };
    const Case cases[] = {
        {2, 4, 0, {"--question", "--ok-label=Yes", "--cancel-label=No", "--icon-name=dialog-warning"}},
        {2, 5, 1, {"--question", "--ok-label=Yes", "--cancel-label=No", "--default-cancel", "--icon-name=dialog-question"}},
        {1, 6, 0, {"--question", "--ok-label=OK", "--cancel-label=Cancel", "--icon-name=dialog-error"}},
        {0, 3, 0, {"--info", "--ok-label=OK"}},
        {0, 4, 0, {"--warning", "--ok-label=OK"}},
        {0, 6, 0, {"--error", "--ok-label=OK"}},
        // An unknown icon shows as information.
        {0, 99, 0, {"--info", "--ok-label=OK"}},
    };
    for (const Case &c : cases) {
        strings want = {"zenity"};
        want.insert(want.end(), c.want.begin(), c.want.end());
        // Markup characters and quotes reach zenity as they are.
        want.insert(want.end(), {"--title=Save <\"Part\"> & go", "--text=a < b & c", "--no-wrap", "--no-markup"});
        EXPECT_EQ(plat_msgboxargs("Save <\"Part\"> & go", "a < b & c", c.buttons, c.icon, c.defbutton), want)
            << c.buttons << " " << c.icon;
    }
}
