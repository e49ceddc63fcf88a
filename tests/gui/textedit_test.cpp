// In-place text editing driven by key sequences, once straight into
// text_keydown and once through input_press with auto-repeat on the fake
// clock: typing rules of numeric, hexadecimal and read-only fields, the
// selection with Shift, overwrite mode, the clipboard, the text box's
// cursor keys, pasting filters, and expressions evaluated when an edit ends.
#include "guiharness.h"
#include "testlog.h"

#include "gui/textedit/textedit.h"
#include "platform/clipboard.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

constexpr int S = 1, C = 2; // Shift, Ctrl held
constexpr int k_tab = 40, k_enter = 46, k_esc = 56, k_bksp = 76, k_ins = 77, k_home = 79, k_end = 80,
              k_left = 84, k_up = 85, k_down = 87, k_minus = 38, k_point = 48;

int letter(char c)
{
    return c - 'a' + 1;
}
int digit(char c)
{
    return c == '0' ? 37 : c - '1' + 28;
}

struct stroke {
    int key, mods;
};

int text_donecalls = 0;
void text_countdone()
{
    text_donecalls++;
}

struct keycase {
    const char *name;
    const char *start;
    uint32_t flags;
    int maxlen;
    int caps;
    std::vector<stroke> keys;
    const char *text;
    int cursor, selection, done;
};

struct TextEdit : testing::Test {
    char buffer[2048];
    void SetUp() override
    {
        harness_start();
        text_insertmode = 1;
        input_capslock = 0;
        text_linecount = 0;
        text_donecalls = 0;
        text_editstate.string = nullptr;
        input_repeatkey = -1;
    }
    void TearDown() override
    {
        text_editstate.string = nullptr;
        input_capslock = 0;
        harness_stop();
    }
    void begin(const char *text, uint32_t flags, int maxlen)
    {
        memset(buffer, 0x55, sizeof(buffer));
        snprintf(buffer, sizeof(buffer), "%s", text);
        text_beginedit(buffer, maxlen, flags, text_countdone);
    }
    // Straight into the edit, Shift and Ctrl held in the key table.
    void direct(const stroke &s)
    {
        input_keys[key_shift] = (s.mods & S) ? 1 : 0;
        input_keys[key_ctrl] = (s.mods & C) ? 1 : 0;
        bool editing = text_editstate.string != nullptr;
        EXPECT_EQ(text_keydown(s.key), editing ? 1 : 0);
        input_keys[key_shift] = input_keys[key_ctrl] = 0;
    }
    // Through the frame loop's key handling, one frame per stroke.
    void pressed(const stroke &s)
    {
        if (s.mods & S)
            input_press(key_shift);
        if (s.mods & C)
            input_press(key_ctrl);
        input_press(s.key);
        harness_frame();
        input_release(s.key);
        input_release(key_ctrl);
        input_release(key_shift);
    }
};

TEST_F(TextEdit, KeySequences)
{
    const int overwrite = k_ins;
    const keycase cases[] = {
        {"point in empty numeric", "", 1, 31, 0, {{k_point, 0}}, "0.", 2, 0, 0},
        {"point then five", "", 1, 31, 0, {{k_point, 0}, {digit('5'), 0}}, "0.5", 3, 0, 0},
        {"second point refused", "", 1, 31, 0, {{k_point, 0}, {digit('5'), 0}, {k_point, 0}}, "0.5", 3, 0, 0},
        {"point refused in integer", "4", 3, 31, 0, {{k_point, 0}}, "4", 1, 0, 0},
        {"minus at start", "", 1, 31, 0, {{k_minus, 0}, {digit('5'), 0}}, "-5", 2, 0, 0},
        {"minus after a digit", "", 1, 31, 0, {{digit('5'), 0}, {k_minus, 0}}, "5", 1, 0, 0},
        {"minus with flag 4", "", 5, 31, 0, {{k_minus, 0}, {digit('5'), 0}}, "5", 1, 0, 0},
        {"no second sign", "-5", 1, 31, 0, {{k_home, 0}, {k_minus, 0}}, "-5", 0, 0, 0},
        {"letters refused in numeric", "", 1, 31, 0, {{letter('e'), 0}}, "", 0, 0, 0},
        {"numeric refuses Shift", "", 1, 31, 0, {{digit('5'), S}}, "", 0, 0, 0},
        {"shift left selects", "abcdef", 0, 31, 0, {{k_left, S}, {k_left, S}, {k_left, S}}, "abcdef", 3, 3, 0},
        {"typing replaces selection", "abcdef", 0, 31, 0,
         {{k_left, S}, {k_left, S}, {k_left, S}, {letter('x'), 0}}, "abcx", 4, 0, 0},
        {"left without shift drops selection", "abcdef", 0, 31, 0, {{k_left, S}, {k_left, 0}}, "abcdef", 4, 0, 0},
        {"overwrite", "abc", 0, 31, 0, {{overwrite, 0}, {k_home, 0}, {86, 0}, {letter('x'), 0}}, "axc", 2, 0, 0},
        {"overwrite appends at end", "abc", 0, 31, 0, {{overwrite, 0}, {letter('x'), 0}}, "abcx", 4, 0, 0},
        {"backspace at 0", "abc", 0, 31, 0, {{k_home, 0}, {k_bksp, 0}}, "abc", 0, 0, 0},
        {"backspace", "abc", 0, 31, 0, {{k_bksp, 0}}, "ab", 2, 0, 0},
        {"backspace point allows a new one", "1.5", 1, 31, 0, {{k_bksp, 0}, {k_bksp, 0}, {k_point, 0}}, "1.", 2, 0, 0},
        {"escape keeps text", "abc", 0, 31, 0, {{letter('d'), 0}, {k_esc, 0}}, "abcd", 4, 0, 1},
        {"enter ends", "abc", 0, 31, 0, {{k_enter, 0}}, "abc", 3, 0, 1},
        {"hex upper case", "", 16, 31, 0, {{letter('a'), 0}, {letter('f'), 0}, {letter('g'), 0}, {digit('1'), 0}},
         "AF1", 3, 0, 0},
        {"caps lock flips letters", "", 0, 31, 1, {{letter('a'), 0}, {digit('1'), 0}, {letter('b'), S}}, "A1b", 3, 0, 0},
        {"shift types shifted", "", 0, 31, 0, {{letter('a'), S}, {digit('1'), S}, {k_minus, S}}, "A!_", 3, 0, 0},
        {"typing at max length", "abc", 0, 3, 0, {{letter('d'), 0}}, "abc", 3, 0, 0},
        {"insert before full text drops the last", "abc", 0, 3, 0, {{k_home, 0}, {letter('x'), 0}}, "xab", 1, 0, 0},
        {"tab in a name field", "ab", 0, 31, 0, {{k_tab, 0}}, "ab", 2, 0, 0},
        {"tab typed with 0x80", "ab", 0x80, 31, 0, {{k_tab, 0}}, "ab\t", 3, 0, 0},
        {"tab refused read-only", "ab", 0xC0, 31, 0, {{k_tab, 0}}, "ab", 2, 0, 0},
        {"read-only ignores typing", "ab", 0x40, 31, 0, {{letter('x'), 0}, {k_bksp, 0}, {78, 0}}, "ab", 2, 0, 0},
        {"ctrl+a", "abc", 0, 31, 0, {{letter('a'), C}}, "abc", 3, -3, 0},
        {"ctrl+x", "abc", 0, 31, 0, {{letter('a'), C}, {letter('x'), C}}, "", 0, 0, 0},
        {"ctrl+x read-only", "abc", 0x40, 31, 0, {{letter('a'), C}, {letter('x'), C}}, "abc", 3, -3, 0},
        {"ctrl+x numeric frees the point", "1.5", 1, 31, 0, {{letter('a'), C}, {letter('x'), C}, {k_point, 0}},
         "0.", 2, 0, 0},
        {"ctrl+x hex", "1F", 16, 31, 0, {{letter('a'), C}, {letter('x'), C}}, "", 0, 0, 0},
        {"ctrl+v numeric", "1", 1, 31, 0, {{letter('v'), C}}, "1", 1, 0, 0},
        {"ctrl+v read-only", "ab", 0x40, 31, 0, {{letter('v'), C}}, "ab", 2, 0, 0},
        {"ctrl+v hex", "", 16, 31, 0, {{letter('v'), C}}, "01F", 3, 0, 0},
        {"ctrl+v text", "a", 0, 31, 0, {{letter('v'), C}}, "a0x1f", 5, 0, 0},
        {"ctrl+other letter", "a", 0, 31, 0, {{letter('q'), C}}, "a", 1, 0, 0},
        {"enter breaks line with 0x20", "a", 0x120, 31, 0, {{k_enter, 0}}, "a\n", 2, 0, 0},
    };
    for (int via = 0; via < 2; via++) {
        for (const keycase &c : cases) {
            SCOPED_TRACE(std::string(c.name) + (via ? " (input_press)" : " (direct)"));
            text_insertmode = 1;
            input_capslock = c.caps;
            text_donecalls = 0;
            plat_setclipboard("0x1f");
            harness_rec.clipboard.clear();
            begin(c.start, c.flags, c.maxlen);
            for (const stroke &s : c.keys)
                via ? pressed(s) : direct(s);
            EXPECT_STREQ(buffer, c.text);
            EXPECT_EQ(text_donecalls, c.done);
            if (!c.done) {
                EXPECT_EQ(text_editstate.cursor, c.cursor);
                EXPECT_EQ(text_editstate.selection, c.selection);
            } else {
                EXPECT_EQ(text_editstate.string, nullptr);
            }
            EXPECT_EQ(buffer[c.maxlen + 1], 0x55) << "wrote past the buffer";
            text_editstate.string = nullptr;
            input_capslock = 0;
        }
    }
}

TEST_F(TextEdit, CopyGoesToClipboard)
{
    for (uint32_t flags : {0u, 16u, 0x40u, 1u}) {
        harness_rec.clipboard.clear();
        begin("12AB", flags, 31);
        direct({k_left, S});
        direct({k_left, S});
        direct({letter('c'), C});
        EXPECT_EQ(harness_rec.clipboard, "AB") << flags;
        EXPECT_STREQ(buffer, "12AB");
    }
}

// A held key repeats after the first delay, then at the repeat rate.
TEST_F(TextEdit, HeldKeyRepeats)
{
    begin("", 0, 31);
    input_press(letter('z'));
    harness_frame();
    EXPECT_STREQ(buffer, "z");
    for (int i = 0; i < 120; i++) {
        input_repeat();
        harness_frame();
    }
    input_release(letter('z'));
    size_t n = strlen(buffer);
    EXPECT_GT(n, 3u);
    for (int i = 0; i < 30; i++) {
        input_repeat();
        harness_frame();
    }
    EXPECT_EQ(strlen(buffer), n) << "repeats after release";
}

// Three lines, the last empty: "ab\n", "cd\n", "".
struct linecase {
    const char *name;
    const char *text;
    std::vector<std::array<int, 2>> lines;
    int cursor; // moved to with Left from the end
    std::vector<stroke> keys;
    int wantcursor, wantselection;
};

TEST_F(TextEdit, MultiLineKeysStayOnTheirLine)
{
    const std::vector<std::array<int, 2>> three = {{0, 3}, {3, 3}, {6, 0}};
    const linecase cases[] = {
        {"end on empty last line", "ab\ncd\n", three, 6, {{k_end, 0}}, 6, 0},
        {"home on empty last line", "ab\ncd\n", three, 6, {{k_home, 0}}, 6, 0},
        {"end on first line", "ab\ncd\n", three, 0, {{k_end, 0}}, 2, 0},
        {"shift end on first line", "ab\ncd\n", three, 0, {{k_end, S}}, 2, -2},
        {"home on second line", "ab\ncd\n", three, 5, {{k_home, 0}}, 3, 0},
        {"shift home on second line", "ab\ncd\n", three, 5, {{k_home, S}}, 3, 2},
        {"up from empty line", "ab\ncd\n", three, 6, {{k_up, 0}}, 3, 0},
        {"up twice", "ab\ncd\n", three, 6, {{k_up, 0}, {k_up, 0}}, 0, 0},
        {"up on first line", "ab\ncd\n", three, 1, {{k_up, 0}}, 1, 0},
        {"down keeps column", "ab\ncd\n", three, 1, {{k_down, 0}}, 4, 0},
        {"down onto empty line", "ab\ncd\n", three, 4, {{k_down, 0}}, 6, 0},
        {"shift down onto empty line", "ab\ncd\n", three, 4, {{k_down, S}}, 6, -2},
        {"down on last line", "ab\ncd\n", three, 6, {{k_down, 0}}, 6, 0},
        {"shift up from empty line", "ab\ncd\n", three, 6, {{k_up, S}}, 3, 3},
        {"empty box end", "", {{0, 0}}, 0, {{k_end, 0}, {k_up, 0}, {k_down, 0}, {k_home, 0}}, 0, 0},
    };
    for (const linecase &c : cases) {
        SCOPED_TRACE(c.name);
        begin(c.text, 0x120, 63);
        text_linecount = (int)c.lines.size();
        for (int i = 0; i < text_linecount; i++) {
            text_lines[i][0] = c.lines[i][0];
            text_lines[i][1] = c.lines[i][1];
        }
        text_editstate.cursor = c.cursor;
        for (const stroke &s : c.keys)
            direct(s);
        EXPECT_EQ(text_editstate.cursor, c.wantcursor);
        EXPECT_EQ(text_editstate.selection, c.wantselection);
        // The next key must land inside the text.
        direct({letter('x'), 0});
        EXPECT_NE(strchr(buffer, 'x'), nullptr);
        EXPECT_EQ((int)strlen(buffer), (int)strlen(c.text) + 1 - (c.wantselection < 0 ? -c.wantselection : c.wantselection));
    }
}

struct pastecase {
    uint32_t flags;
    const char *start;
    int maxlen, left; // cursor moved left from the end
    const char *clip;
    const char *text;
    int cursor;
};

TEST_F(TextEdit, PasteFilters)
{
    const pastecase cases[] = {
        {16, "", 31, 0, "0x1f", "01F", 3},
        {1, "", 31, 0, "1a2.3-4", "1234", 4},
        {0xA0, "", 31, 0, "a\nb\tc", "a\nb\tc", 5},
        {0, "", 31, 0, "a\nb\tc", "abc", 3},
        {0x20, "", 31, 0, "a\nb\tc", "a\nbc", 4},
        {0x80, "", 31, 0, "a\nb\tc", "ab\tc", 4},
        {0x120, "", 31, 0, "a\nb\tc", "a\nbc", 4},
        {0x1A0, "", 31, 0, "a\nb\tc", "a\nb\tc", 5},
        {0, "abc", 5, 0, "defgh", "abcde", 5},
        {0, "abcd", 5, 3, "XY", "aXYbc", 3},
        {0, "abcde", 5, 0, "XY", "abcde", 5},
    };
    for (const pastecase &c : cases) {
        SCOPED_TRACE(std::string(c.clip) + " flags " + std::to_string(c.flags));
        begin(c.start, c.flags, c.maxlen);
        text_editstate.cursor -= c.left;
        text_paste(c.clip);
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(text_editstate.cursor, c.cursor);
        EXPECT_EQ(buffer[c.maxlen + 1], 0x55);
    }
}

TEST_F(TextEdit, PasteTakesAtMost1023)
{
    std::string big(2000, 'q');
    plat_setclipboard(big.c_str());
    begin("", 0, 2000);
    direct({letter('v'), C});
    EXPECT_EQ(strlen(buffer), 1023u);
    EXPECT_EQ(text_editstate.cursor, 1023);
}

// Every kind of field full to its max length, then typed and pasted into.
TEST_F(TextEdit, FullFieldsStayInBounds)
{
    std::string big(3000, '7');
    plat_setclipboard(big.c_str());
    for (uint32_t flags : {0u, 1u, 3u, 16u, 0x20u, 0x80u, 0xA0u, 0x120u}) {
        for (int maxlen : {1, 8, 31}) {
            std::string full(maxlen, '1');
            for (int mode = 0; mode < 2; mode++) {
                text_insertmode = mode;
                begin(full.c_str(), flags, maxlen);
                for (int home = 0; home < 2; home++) {
                    for (int key = 1; key <= 55; key++)
                        if (key != k_enter)
                            direct({key, 0});
                    direct({letter('v'), C});
                    text_paste(big.c_str());
                    direct({k_home, 0});
                }
                EXPECT_LE((int)strlen(buffer), maxlen);
                EXPECT_EQ(buffer[maxlen + 1], 0x55) << flags << " " << maxlen;
                text_editstate.string = nullptr;
            }
        }
    }
    text_insertmode = 1;
}

struct exprcase {
    const char *text;
    uint32_t flags;
    const char *result;
};

TEST_F(TextEdit, ExpressionsEndTheEdit)
{
    const exprcase cases[] = {
        {"2*3", 8, "6.0"},      {"1/3", 8, "0.333333"}, {"2/3", 8, "0.6667"}, {"1/8", 8, "0.125"},
        {"2.50", 8, "2.5"},     {"10\\4", 8, "2.5"},    {"-5", 12, "5.0"},    {"-5", 8, "-5.0"},
        {"7/2", 10, "4"},       {"-7/2", 10, "-3"},     {"1e6", 8, "1000000.0"}, {"0.00001", 8, "0.0"}, {"0.0001", 8, "0.0001"},
    };
    for (const exprcase &c : cases) {
        SCOPED_TRACE(c.text);
        text_donecalls = 0;
        begin(c.text, c.flags, 31);
        direct({k_enter, 0});
        EXPECT_STREQ(buffer, c.result);
        EXPECT_EQ(text_donecalls, 1);
        EXPECT_EQ(text_editstate.string, nullptr);
    }
}

// Errors keep the edit open with the text as typed; the report names a
// position inside the text and the character there.
TEST_F(TextEdit, ExpressionErrorsKeepTheEdit)
{
    const char *bad[] = {"", "3+", "2*(3", "2**3", "abc"};
    for (const char *t : bad) {
        SCOPED_TRACE(t);
        testlog_capture log;
        text_donecalls = 0;
        sys_time = sys_time + 2.0; // past the error box's throttle
        begin(t, 8, 31);
        direct({k_enter, 0});
        EXPECT_TRUE(log.contains("msgbox seam: \"Error\" \"Unable to evaluate expression at character #"))
            << "shown in a box titled Error: " << log.text();
        EXPECT_STREQ(buffer, t);
        EXPECT_EQ(text_donecalls, 0);
        EXPECT_EQ(text_editstate.string, buffer);
        std::smatch m;
        std::string logged = log.text();
        ASSERT_TRUE(std::regex_search(logged, m, std::regex("Unable to evaluate expression at character # ?(\\d+), \"(.)\"")))
            << logged;
        int pos = std::stoi(m[1]);
        EXPECT_GE(pos, 1);
        if (*t) {
            EXPECT_LE(pos, (int)strlen(t));
            EXPECT_EQ(m[2].str()[0], t[pos - 1]);
        }
    }
}

// Results that do not fit the field, are not finite or overflow an integer
// field are refused: the text stays as typed and nothing past the field is
// written.
TEST_F(TextEdit, ExpressionResultsThatDoNotFitAreRefused)
{
    const exprcase cases[] = {{"1e40", 8, nullptr}, {"1/0", 8, nullptr}, {"0/0", 8, nullptr}, {"3e9", 10, nullptr},
                              {"-3e9", 10, nullptr}};
    for (const exprcase &c : cases) {
        SCOPED_TRACE(c.text);
        testlog_capture log;
        text_donecalls = 0;
        begin(c.text, c.flags, 31);
        direct({k_enter, 0});
        EXPECT_STREQ(buffer, c.text);
        EXPECT_EQ(text_donecalls, 0);
        EXPECT_EQ(text_editstate.string, buffer);
        EXPECT_EQ(buffer[32], 0x55);
        EXPECT_TRUE(log.contains("text_evaluate")) << log.text();
    }
    // A field just big enough takes the same value.
    begin("1e20", 8, 31);
    EXPECT_EQ(text_evaluate(), 1);
    EXPECT_STREQ(buffer, "100000000000000000000.0");
}

} // namespace
