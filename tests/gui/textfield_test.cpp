// Text fields and the text box over several frames of the headless harness:
// the keyboard focus moving with Tab and Shift+Tab, the ends of an edit
// (a click elsewhere, Enter, another field taking the focus) and what each
// returns, an expression error that keeps a field open, a read-only field,
// the caret, word wrap into the line table and the overflow cut.
#include "guiharness.h"
#include "testlog.h"

#include "gui/textedit/textedit.h"
#include "gui/widgets/buttons.h"
#include "gui/widgets/textfield.h"
#include "platform/clipboard.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int k_tab = 40, k_enter = 46, k_bksp = 76;

int letter(char c)
{
    return c - 'a' + 1;
}
int digit(char c)
{
    return c == '0' ? 37 : c - '1' + 28;
}

struct fielddef {
    const char *name;
    int32_t id;
    uint32_t flags;
    int32_t maxlen;
    gui_rect sector;
};

struct TextField : testing::Test {
    std::vector<fielddef> defs;
    std::vector<std::vector<char>> buffers; // exactly maxlen + 1 bytes each
    std::vector<int> results;                // each field's return this frame
    std::vector<int> returned;               // summed over frames
    int buttonclicks = 0;
    bool withbutton = false; // a button under the fields, at (20, 400)
    const char *suffix = nullptr;

    void SetUp() override
    {
        harness_start();
        gui_resetfocus();
        text_editstate.string = nullptr;
        text_insertmode = 1;
        input_capslock = 0;
        input_repeatkey = -1;
        harness_scene = [this] { scene(); };
    }
    void TearDown() override
    {
        text_editstate.string = nullptr;
        gui_resetfocus();
        harness_stop();
    }
    void add(const char *name, int32_t id, uint32_t flags, int32_t maxlen, const char *text, float y)
    {
        defs.push_back({name, id, flags, maxlen, {20, y, 300, 30}});
        std::vector<char> b((size_t)maxlen + 1, 0);
        snprintf(b.data(), b.size(), "%s", text);
        buffers.push_back(b);
        results.push_back(0);
        returned.push_back(0);
    }
    // Fields A, B and C, called in that order.
    void threefields(uint32_t flags = 0)
    {
        add("field_a", 11, flags, 31, "alpha", 20);
        add("field_b", 12, flags, 31, "beta", 60);
        add("field_c", 13, flags, 31, "gamma", 100);
    }
    void scene()
    {
        gui_beginwindow(1, 0, 0, 1, 1, 1, nullptr);
        for (size_t i = 0; i < defs.size(); i++) {
            gui_sectors[gui_sectorcount++] = defs[i].sector;
            gui_elementid("%s", defs[i].name);
            if (defs[i].flags & text_multiline)
                results[i] = gui_textbox(defs[i].id, 0, "Notes", buffers[i].data(), defs[i].maxlen,
                                         (defs[i].flags & text_readonly) != 0);
            else
                results[i] = gui_textfield(defs[i].id, 0, nullptr, suffix, buffers[i].data(), defs[i].flags,
                                           defs[i].maxlen);
            returned[i] += results[i];
        }
        if (withbutton) {
            gui_sectors[gui_sectorcount++] = {20, 400, 120, 30};
            gui_elementid("apply");
            buttonclicks += gui_button(99, 1, 1, "Apply");
        }
        gui_endwindow();
    }
    std::string text(int i) { return buffers[(size_t)i].data(); }
    int idof(int i) { return defs[(size_t)i].id; }
    void frame() { harness_frame(); }
    void key(int k, bool shift = false, bool ctrl = false)
    {
        if (shift)
            input_press(key_shift);
        if (ctrl)
            input_press(key_ctrl);
        input_press(k);
        frame();
        input_release(k);
        input_release(key_ctrl);
        input_release(key_shift);
    }
    void type(const char *s)
    {
        for (; *s; s++)
            key(letter(*s));
    }
    void click(int i)
    {
        frame();
        ASSERT_EQ(harness_click(defs[(size_t)i].name), 1) << defs[(size_t)i].name;
    }
    // A press and release away from every field.
    void clickoutside()
    {
        harness_move(700, 500);
        frame();
        harness_press();
        frame();
        harness_release();
    }
    void zero() { std::fill(returned.begin(), returned.end(), 0); }
    bool editing(int i) { return gui_openid == idof(i) && text_editstate.string == buffers[(size_t)i].data(); }
};

TEST_F(TextField, TabInTheLastFieldOpensTheFirstOnTheNextFrame)
{
    threefields();
    click(2);
    ASSERT_TRUE(editing(2));
    zero();
    key(k_tab);
    EXPECT_TRUE(editing(2)) << "no field after C in the frame of the Tab";
    frame();
    EXPECT_TRUE(editing(0));
    EXPECT_EQ(returned[2], 1) << "C's edit ended because A took the focus";
    EXPECT_EQ(text_editstate.cursor, 5);
    EXPECT_EQ(text_editstate.selection, -5) << "the whole text selected";
    frame();
    EXPECT_EQ(returned[2], 1) << "once";
    EXPECT_EQ(returned[0] + returned[1], 0);
}

TEST_F(TextField, TabMovesToTheNextFieldInTheSameFrame)
{
    threefields();
    click(0);
    zero();
    key(k_tab);
    EXPECT_TRUE(editing(1));
    frame();
    EXPECT_EQ(returned[0], 1);
    EXPECT_EQ(returned[1] + returned[2], 0);
}

// Tab in a field alone leaves a request no field takes; the end of the
// edit drops it, or the field would open itself after the next press.
TEST_F(TextField, EndedEditDropsAnUntakenTabRequest)
{
    add("field_a", 11, 0, 31, "alone", 20);
    click(0);
    key(k_tab);
    frame();
    EXPECT_TRUE(editing(0));
    key(k_enter);
    clickoutside();
    frame();
    frame();
    EXPECT_EQ(gui_openid, -1);
    EXPECT_EQ(text_editstate.string, nullptr);
}

TEST_F(TextField, ShiftTabOpensTheFieldCalledBefore)
{
    struct Case {
        int from, to;
    };
    const Case cases[] = {{0, 2}, {1, 0}, {2, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.from);
        defs.clear();
        buffers.clear();
        results.clear();
        returned.clear();
        gui_resetfocus();
        threefields();
        click(c.from);
        ASSERT_TRUE(editing(c.from));
        zero();
        key(k_tab, true);
        frame();
        EXPECT_TRUE(editing(c.to)) << "open: " << gui_openid;
        frame();
        EXPECT_EQ(returned[(size_t)c.from], 1);
        EXPECT_EQ(gui_previousfield, 0);
        clickoutside();
    }
}

TEST_F(TextField, ClickElsewhereEndsTheEditAndReturnsOnce)
{
    threefields();
    click(1);
    type("x");
    EXPECT_EQ(text(1), "betax");
    zero();
    harness_move(700, 500);
    frame();
    harness_press();
    frame();
    EXPECT_EQ(results[1], 1) << "on the frame of the press";
    EXPECT_EQ(text_editstate.string, nullptr);
    EXPECT_EQ(gui_openid, -1);
    harness_release();
    frame();
    clickoutside();
    frame();
    EXPECT_EQ(returned[1], 1);
    EXPECT_EQ(returned[0] + returned[2], 0);
}

// The pointer leaves the field and the button goes down within one frame:
// the field still held the hot id from the frame before.
TEST_F(TextField, PressElsewhereInTheFrameThePointerLeaves)
{
    threefields();
    click(1);
    frame();
    ASSERT_EQ(gui_hotid, idof(1));
    zero();
    harness_move(700, 500);
    harness_press();
    frame();
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(text_editstate.string, nullptr);
    harness_release();
    frame();
}

// A failed expression keeps the field open through a click on a button,
// which clears the element model's open id; typing and Tab still belong to
// the field.
TEST_F(TextField, ButtonClickDoesNotOrphanAKeptEdit)
{
    threefields(text_evaluated);
    withbutton = true;
    snprintf(buffers[0].data(), buffers[0].size(), "3+");
    click(0);
    frame();
    ASSERT_EQ(harness_click("apply"), 1);
    EXPECT_EQ(buttonclicks, 1);
    frame();
    EXPECT_TRUE(editing(0));
    key(digit('1'));
    key(k_tab);
    EXPECT_EQ(text(0), "4.0");
    EXPECT_TRUE(editing(1));
}

// A drag over the text selects from the press point to the pointer; the
// field opens with that selection whether the button goes up over it or
// beside it.
TEST_F(TextField, DragSelectsAndOpensWithTheSelection)
{
    for (int releasey : {35, 200}) {
        SCOPED_TRACE(releasey);
        defs.clear();
        buffers.clear();
        results.clear();
        returned.clear();
        text_editstate.string = nullptr;
        gui_resetfocus();
        add("field_a", 11, 0, 31, "abcdefgh", 20);
        frame();
        const rec_element *e = harness_find("field_a");
        ASSERT_NE(e, nullptr);
        int tx = (int)(e->rect.x + (float)gui_padding + 4.0f), y = (int)(e->rect.y + e->rect.h / 2);
        harness_move(tx + 7 + 2, y); // on b: the pick offset of 3 makes it 1
        frame();
        harness_press();
        frame();
        harness_move(tx + 4 * 7 + 2, y); // on e: 4
        frame();
        frame();
        EXPECT_FALSE(editing(0)) << "the drag itself does not open the field";
        harness_move(tx + 4 * 7 + 2, releasey);
        frame();
        harness_release();
        frame();
        ASSERT_TRUE(editing(0));
        EXPECT_EQ(text_editstate.cursor, 4);
        EXPECT_EQ(text_editstate.selection, -3);
        key(letter('x'));
        EXPECT_EQ(text(0), "axefgh");
    }
}

TEST_F(TextField, EnterEndsReturnsAgainOnTheNextOutsidePressAndReopens)
{
    threefields();
    click(0);
    type("z");
    zero();
    key(k_enter);
    EXPECT_EQ(results[0], 1) << "the frame after Enter";
    EXPECT_EQ(gui_lastfinishedid, idof(0));
    frame();
    frame();
    EXPECT_EQ(returned[0], 1);
    key(k_enter);
    ASSERT_TRUE(editing(0)) << "Enter on the last-finished field reopens it";
    EXPECT_EQ(text_editstate.cursor, 6);
    EXPECT_EQ(text_editstate.selection, -6);
    key(k_enter);
    zero();
    frame();
    clickoutside();
    frame();
    EXPECT_EQ(returned[0], 1) << "the next press outside reports the field once more";
    zero();
    clickoutside();
    frame();
    EXPECT_EQ(returned[0], 0) << "and only once";
    EXPECT_EQ(text(0), "alphaz");
}

TEST_F(TextField, ExpressionErrorBlocksTabAndKeepsTheFieldOpen)
{
    threefields(text_evaluated);
    snprintf(buffers[0].data(), buffers[0].size(), "3+");
    click(0);
    testlog_capture log;
    zero();
    key(k_tab);
    frame();
    EXPECT_TRUE(editing(0));
    EXPECT_EQ(gui_nextfield, 0);
    EXPECT_EQ(text(0), "3+");
    EXPECT_TRUE(log.contains("Unable to evaluate expression at character # 2, \"+\"")) << log.text();
    // A press elsewhere does not end it either: its text is not a value.
    clickoutside();
    frame();
    EXPECT_TRUE(editing(0));
    EXPECT_EQ(returned[0], 0);
    // Once the expression is mended, Tab evaluates it and moves on.
    key(digit('4'));
    key(k_tab);
    EXPECT_EQ(text(0), "7.0");
    EXPECT_TRUE(editing(1));
}

TEST_F(TextField, ReadOnlyFieldOpensSelectsCopiesAndNeverChanges)
{
    add("field_ro", 21, text_readonly, 31, "fixed", 20);
    plat_setclipboard("pasted");
    click(0);
    ASSERT_TRUE(editing(0));
    key(letter('a'), false, true);
    EXPECT_EQ(text_editstate.selection, -5);
    key(letter('c'), false, true);
    EXPECT_EQ(harness_rec.clipboard, "fixed");
    for (int k : {letter('x'), k_bksp, 78, letter('v'), letter('x')})
        key(k, false, k == letter('v') || k == letter('x'));
    type("qq");
    key(k_enter);
    EXPECT_EQ(text(0), "fixed");
}

// The field's text as drawn: the unit suffix only while it is neither
// hovered nor edited; the secondary text colour while hot, edited or the
// last one finished; read-only fields keep the primary colour.
TEST_F(TextField, ShownTextAndColourByState)
{
    suffix = "mm";
    add("field_a", 11, 0, 31, "12.5", 20);
    add("field_ro", 12, text_readonly, 31, "12.5", 60);
    struct Shown {
        std::string text;
        const float *colour;
    };
    auto shown = [&](int i) {
        const rec_element *e = harness_find(defs[(size_t)i].name);
        for (const rec_text &t : harness_rec.texts)
            if (e && t.y > e->rect.y && t.y < e->rect.y + e->rect.h && t.text.rfind("12.5", 0) == 0)
                return Shown{t.text, t.colour[0] == gui_hitextcolour[0] ? gui_hitextcolour : gui_textcolour};
        return Shown{"", nullptr};
    };
    auto expect = [&](int i, const char *text, const float *colour, const char *state) {
        Shown got = shown(i);
        EXPECT_EQ(got.text, text) << state;
        EXPECT_EQ(got.colour, colour) << state;
    };
    harness_move(700, 500);
    frame();
    ASSERT_NE(gui_textcolour[0], gui_hitextcolour[0]);
    expect(0, "12.5mm", gui_textcolour, "idle");
    const rec_element *e = harness_find("field_a");
    harness_move((int)(e->rect.x + 200), (int)(e->rect.y + 10));
    frame(); // drawn before the element check: hot from the next frame on
    frame();
    expect(0, "12.5", gui_hitextcolour, "hot");
    click(0);
    expect(0, "12.5", gui_hitextcolour, "edited");
    key(k_enter);
    harness_move(700, 500);
    frame();
    frame();
    expect(0, "12.5mm", gui_hitextcolour, "last finished");
    clickoutside();
    frame();
    expect(0, "12.5mm", gui_textcolour, "after a press elsewhere");
    click(1);
    expect(1, "12.5", gui_textcolour, "read-only, edited");
}

TEST_F(TextField, ClickPlacesTheCursorAndTheCaretBlinks)
{
    add("field_a", 11, 0, 31, "abcdef", 20);
    frame();
    const rec_element *e = harness_find("field_a");
    ASSERT_NE(e, nullptr);
    // No label: the text starts 4 px into the text area; 7-px advances.
    float tx = e->rect.x + (float)gui_padding + 4.0f;
    harness_move((int)tx + 2 * 7 + 1, (int)(e->rect.y + e->rect.h / 2));
    frame();
    harness_press();
    frame();
    harness_release();
    frame();
    ASSERT_TRUE(editing(0));
    EXPECT_EQ(text_editstate.cursor, 2);
    int on = 0, off = 0;
    for (int i = 0; i < 40; i++) {
        frame();
        bool lit = std::fmod(std::floor(4.0 * sys_time), 2.0) == 1.0;
        int carets = 0;
        for (const rec_text &t : harness_rec.texts)
            if (t.text == "|") {
                carets++;
                EXPECT_EQ(t.x, (int)tx + 14 - 3);
            }
        EXPECT_EQ(carets, lit ? 1 : 0) << sys_time;
        (lit ? on : off)++;
    }
    EXPECT_GT(on, 0);
    EXPECT_GT(off, 0);
}

// The text box's wrap width is its text area less 10 px; a sector of this
// width gives 70 px, ten 7-px characters.
float wrapsector()
{
    return 70.0f + 10.0f + 2.0f * (float)gui_padding + (float)gui_spacing;
}

TEST_F(TextField, TextBoxWrapsIntoTheLineTable)
{
    struct Case {
        const char *text;
        std::vector<std::array<int, 2>> lines;
    };
    const Case cases[] = {
        {"the quick brown fox\njumps", {{0, 10}, {10, 10}, {20, 5}}},
        {"abcdefghijklmno", {{0, 9}, {9, 6}}},
        {"ab\ncd\n", {{0, 3}, {3, 3}, {6, 0}}},
        {"", {{0, 0}}},
        {"nine char now", {{0, 10}, {10, 3}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        defs.clear();
        buffers.clear();
        results.clear();
        returned.clear();
        text_editstate.string = nullptr;
        gui_resetfocus();
        add("box", 31, text_multiline, 200, c.text, 20);
        defs[0].sector = {20, 20, wrapsector(), 300};
        // A second box called after it keeps its lines to itself.
        add("other", 32, text_multiline, 200, "x\ny\nz\nw", 20);
        defs[1].sector = {400, 20, wrapsector(), 300};
        click(0);
        ASSERT_TRUE(editing(0));
        ASSERT_EQ(text_linecount, (int)c.lines.size());
        for (int i = 0; i < text_linecount; i++) {
            EXPECT_EQ(text_lines[i][0], c.lines[(size_t)i][0]) << "line " << i;
            EXPECT_EQ(text_lines[i][1], c.lines[(size_t)i][1]) << "line " << i;
        }
        EXPECT_EQ(text(0), c.text);
    }
}

TEST_F(TextField, TextBoxCutsWhatOverflowsItsLastLine)
{
    // Room for the label and three 13-px lines.
    float labelh = 13.0f;
    float h = labelh + 3 * 13.0f + 2.0f * (float)gui_padding + (float)gui_spacing + 5.0f;
    add("box", 31, text_multiline, 63, "a\nb\nc\nd\ne", 20);
    defs[0].sector = {20, 20, 300, h};
    frame();
    EXPECT_EQ(text(0), "a\nb\nc") << "cut at the end of the last line that fits";
    click(0);
    ASSERT_TRUE(editing(0));
    text_editstate.cursor = 5;
    type("xy");
    // A line break and a word typed within one frame: a fourth line.
    for (int k : {k_enter, letter('l'), letter('o'), letter('s'), letter('t')}) {
        input_press(k);
        input_release(k);
    }
    EXPECT_EQ(text(0), "a\nb\ncxy\nlost");
    frame();
    EXPECT_EQ(text(0), "a\nb\ncxy");
    EXPECT_EQ(text_editstate.cursor, 7);
    bool counter = false;
    for (const rec_text &t : harness_rec.texts)
        counter = counter || t.text == "  7/63";
    EXPECT_TRUE(counter) << "characters used and the maximum while editing";
}

// Every field and box full to its maximum, then typed and pasted into, the
// focus moved through them with Tab; the buffers are exactly their maximum
// plus the terminator, so any write past them is ASan's to catch.
TEST_F(TextField, FullFieldsTypedAndPastedStayInBounds)
{
    std::string big(3000, '9');
    std::vector<std::string> names;
    for (int i = 0; i < 18; i++)
        names.push_back("f" + std::to_string(i));
    size_t n = 0;
    for (uint32_t flags : {0u, 1u, 3u, 8u, 16u, (uint32_t)text_readonly}) {
        for (int32_t maxlen : {1, 7, 31}) {
            add(names[n].c_str(), (int32_t)(100 + n), flags, maxlen, std::string((size_t)maxlen, '5').c_str(), 0);
            defs[n].sector = {n % 2 ? 420.0f : 20.0f, 20.0f + 32.0f * (float)(n / 2), 300, 30};
            n++;
        }
    }
    add("box", 200, text_multiline, 40, std::string(40, 'w').c_str(), 0);
    defs.back().sector = {20, 340, wrapsector(), 60};
    for (n = 0; n < defs.size(); n++) {
        click((int)n);
        plat_setclipboard(big.c_str());
        for (int k = 1; k <= 55; k++)
            if (k != k_tab && k != k_enter)
                key(k);
        key(letter('v'), false, true);
        key(79);
        key(letter('v'), false, true);
        key(k_tab);
        frame();
    }
    for (size_t i = 0; i < defs.size(); i++)
        EXPECT_LE(strlen(buffers[i].data()), (size_t)defs[i].maxlen) << i;
}

} // namespace
