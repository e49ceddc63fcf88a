// Text field and text box. Contents:
//   focus rules   - shared by both: click, press elsewhere, finished, Enter,
//                   Tab and Shift+Tab, the previous-field candidate
//   drawing       - colours by state, selection boxes, the blinking caret
//   gui_textfield - one line, icon and label before the text, unit suffix
//   gui_textbox   - word wrap into the line table, overflow cut, counter
// The edit itself (keys, clipboard, expressions) is the in-place editor's;
// these widgets start it, draw it and decide when it has ended.
#include "gui/widgets/textfield.h"

#include "gui/drawlist.h"
#include "gui/element.h"
#include "gui/gui.h"
#include "gui/textedit/textedit.h"
#include "gui/tutorial.h"
#include "gui/widgets/widget.h"
#include "render/drawstate.h"
#include "render/font.h"
#include "sys/frame.h"
#include "sys/input.h"
#include "sys/log.h"

#include <cmath>
#include <cstring>

int32_t gui_finishedid = -1;
int32_t gui_lastfinishedid = -1;
int32_t gui_nextfield = 0;
int32_t gui_previousfield = 0;

constexpr int field_font = 1;
constexpr int field_keytab = 40, field_keyenter = 46;
constexpr int box_wrapmargin = 10;
constexpr int box_counterleft = 55;

// A field as the focus rules see it; the candidate outlives its frame, so
// the caller's buffer must too (it always does: callers own their texts).
struct field_ref {
    int32_t id;
    char *buffer;
    int32_t maxlen;
    uint32_t flags;
    int hit; // the running tutorial's step names this field
};

static field_ref field_candidate = {-1, nullptr, 0, 0, 0};

// The drag over a pressed field: characters under the press and the pointer.
static int32_t field_dragid = -1, field_dragfrom = 0, field_dragto = 0;

void gui_editdone()
{
    gui_finishedid = gui_openid;
    gui_lastfinishedid = gui_openid;
    gui_openid = -1;
    // A focus move asked for during the edit has nothing left to move.
    gui_nextfield = gui_previousfield = 0;
    field_candidate.id = -1;
}

void gui_resetfocus()
{
    gui_finishedid = gui_lastfinishedid = -1;
    gui_nextfield = gui_previousfield = 0;
    field_candidate.id = -1;
    field_dragid = -1;
}

// ---- focus rules ----

static int field_over(const gui_rect &r)
{
    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    return mx >= r.x && mx <= r.x + r.w && my >= r.y && my <= r.y + r.h;
}

static int32_t field_length(const field_ref &f)
{
    return (int32_t)strnlen(f.buffer, (size_t)(f.maxlen < 0 ? 0 : f.maxlen) + 1);
}

static bool field_editing(const field_ref &f)
{
    return gui_openid == f.id && text_editstate.string == f.buffer;
}

// Opens the field's edit; with all, the whole text selected backwards.
static void field_begin(const field_ref &f, int all)
{
    gui_openid = f.id;
    text_beginedit(f.buffer, f.maxlen, f.flags, gui_editdone);
    if (all) {
        text_editstate.cursor = field_length(f);
        text_editstate.selection = -text_editstate.cursor;
    }
}

static void field_tutorial(const field_ref &f)
{
    if (!f.hit)
        return;
    sys_log("element %d progressing tutorial step %d", f.id, tut_stepindex);
    gui_tutorialstep(tut_stepindex + 1);
}

// Opens the field with the drag's selection (its far end at the press point)
// or the cursor at `at`.
static void field_openat(const field_ref &f, int32_t at)
{
    field_begin(f, 0);
    int32_t len = field_length(f);
    if (field_dragid == f.id && field_dragfrom != field_dragto) {
        text_editstate.cursor = field_dragto < len ? field_dragto : len;
        int32_t from = field_dragfrom < len ? field_dragfrom : len;
        text_editstate.selection = from - text_editstate.cursor;
    } else {
        text_editstate.cursor = at < 0 ? 0 : (at > len ? len : at);
    }
    field_dragid = -1;
}

// A press elsewhere ends this field's edit (or its last-finished state).
// An expression that does not evaluate keeps the edit open: the field then
// reports nothing, since its text is not a value yet.
static int field_pressedelsewhere(const field_ref &f)
{
    if (text_editstate.string == f.buffer) {
        if ((text_editstate.flags & text_evaluated) && !text_evaluate())
            return 0;
        if (text_editstate.done)
            text_editstate.done();
        text_editstate.string = nullptr;
    }
    if (gui_openid == f.id)
        gui_openid = -1;
    if (gui_finishedid == f.id)
        gui_finishedid = -1;
    if (gui_lastfinishedid == f.id)
        gui_lastfinishedid = -1;
    return 1;
}

// Tab and Shift+Tab from the open field, and the hand-over to the field
// called before it that Shift+Tab asked for a frame earlier.
static void field_tab(const field_ref &f)
{
    if (input_pressed(field_keytab)) {
        if ((text_editstate.flags & text_evaluated) && !text_evaluate())
            return;
        if (input_keys[key_shift]) {
            gui_previousfield = 1;
            field_candidate.id = -1;
        } else {
            gui_nextfield = 1;
        }
        return;
    }
    if (!gui_previousfield || field_candidate.id < 0 || field_candidate.id == f.id)
        return;
    field_ref to = field_candidate;
    gui_previousfield = 0;
    field_candidate.id = -1;
    gui_finishedid = f.id;
    field_begin(to, 1);
    field_tutorial(to);
}

// Steps after the element check; clicked is its result, wasactive whether
// the field was pressed before it, at the text index under the pointer.
static int field_rules(const field_ref &f, int clicked, int wasactive, int over, int32_t at)
{
    // A click on an element that keeps no open id (a button) must not orphan
    // an edit that a failed expression kept open.
    if (text_editstate.string == f.buffer && gui_openid == -1)
        gui_openid = f.id;
    if (clicked || (wasactive && gui_activeid != f.id && field_dragid == f.id && field_dragfrom != field_dragto)) {
        if (gui_finishedid == f.id)
            gui_finishedid = -1;
        field_openat(f, at);
        return 0;
    }
    if (gui_activeid != f.id && field_dragid == f.id)
        field_dragid = -1;
    // Elsewhere is tested on the box, not the hot id: a pointer that moved
    // off the field in the frame of the press still holds it hot.
    if ((gui_openid == f.id || gui_lastfinishedid == f.id) && !over && input_pressed(key_mouseleft))
        return field_pressedelsewhere(f);
    if (gui_finishedid == f.id) {
        gui_finishedid = -1;
        return 1;
    }
    if (gui_activeid == -1 && gui_lastfinishedid == f.id && gui_openid != f.id && input_pressed(field_keyenter)) {
        field_begin(f, 1);
        return 0;
    }
    if (gui_openid != f.id && gui_lastfinishedid != f.id) {
        if (gui_nextfield) {
            gui_nextfield = 0;
            gui_finishedid = gui_openid;
            field_begin(f, 1);
            field_tutorial(f);
        } else if (gui_previousfield) {
            field_candidate = f;
        }
        return 0;
    }
    if (field_editing(f))
        field_tab(f);
    return 0;
}

// ---- drawing ----

static float field_width(const char *text, int32_t n)
{
    if (n <= 0)
        return 0.0f;
    return (float)(uint32_t)font_textsize(field_font, "%.*s", (int)n, text);
}

// Box and text colours; read-only fields never look typed into.
static widget_colours field_colours(int32_t id, int readonly, int editing)
{
    const float *lit = readonly ? gui_textcolour : gui_hitextcolour;
    if (id > 0 && gui_activeid == id) {
        gui_cursor = 2;
        return {gui_presscolour, lit};
    }
    if (editing)
        return {gui_panelcolour, lit};
    if (id > 0 && gui_hotid == id) {
        gui_cursor = 2;
        if (readonly)
            return {gui_panelcolour, gui_textcolour};
        return {gui_hotcolour, gui_hitextcolour};
    }
    return {readonly ? gui_panelcolour : gui_widgetcolour,
            gui_lastfinishedid == id ? gui_hitextcolour : gui_textcolour};
}

// The selected part [a, b) of one line of text drawn at (x, y).
static void field_selectionbox(float x, float y, const char *text, int32_t a, int32_t b)
{
    if (a == b)
        return;
    if (a > b) {
        int32_t t = a;
        a = b;
        b = t;
    }
    float x0 = x + field_width(text, a), w = field_width(text + a, b - a);
    float h = (float)widget_cellheight(field_font);
    gui_addbox({x0 - 1.0f, y - 1.0f, w + 2.0f, h - 1.0f}, gui_accentcolour[0], gui_accentcolour[1],
               gui_accentcolour[2], 0.25f, 0);
}

// The caret at index `at` of a line drawn at (x, y): on for a quarter second,
// off for the next.
static void field_caret(float x, float y, const char *text, int32_t at, const gui_rect &clip)
{
    if (((int64_t)floor(4.0 * sys_time) & 1) == 0)
        return;
    float cx = x + field_width(text, at);
    const float *c = gui_textcolour;
    if (text_insertmode)
        gui_addtext((int)(cx - 3.0f), (int)y, field_font, 0.0f, c[0], c[1], c[2], "|", clip);
    else
        gui_addtext((int)cx, (int)y, field_font, 0.0f, c[0], c[1], c[2], "\x7f", clip);
}

// While pressed (after the frame of the press), the drag runs from the
// character under the press point to the one under the pointer.
static void field_drag(int32_t id, int32_t from, int32_t to)
{
    if (gui_activeid != id || input_pressed(key_mouseleft))
        return;
    field_dragid = id;
    field_dragfrom = from;
    field_dragto = to;
}

// ---- gui_textfield ----

int gui_textfield(int32_t id, int icon, const char *label, const char *suffix, char *buffer, uint32_t flags,
                  int32_t maxlen)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return 0;
    const int hit = tut_hit;
    field_ref f = {id, buffer, maxlen, flags, hit};
    const int readonly = (flags & text_readonly) != 0;
    const int editing = field_editing(f);
    gui_rect box = widget_box(sector), area = widget_area(box);
    widget_colours c = field_colours(id, readonly, editing);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);

    float x = area.x + 4.0f, iconw = 0.0f;
    if (icon) {
        int iconfont = widget_iconfont(icon, sector.h);
        float gh = (float)widget_cellheight(iconfont);
        const char glyph[2] = {(char)(icon & 255), 0};
        gui_addtext((int)x, (int)(area.y + truncf((area.h - gh + 1.0f) / 2.0f)), iconfont, 0.0f, c.text[0],
                    c.text[1], c.text[2], glyph, area);
        x += gh + 2.0f * (float)gui_padding + 3.0f;
        iconw = gh + 2.0f * (float)gui_padding + 4.0f;
    }
    float labelw = 0.0f;
    if (label) {
        char text[widget_textmax];
        widget_format(text, "%s: ", label);
        float lh = (float)widget_cellheight(gui_interfacefont);
        gui_addtext((int)x, (int)(area.y + truncf((area.h - lh) / 2.0f + 1.0f)), gui_interfacefont, 0.0f, c.text[0],
                    c.text[1], c.text[2], text, area);
        labelw = (float)(uint32_t)font_textsize(gui_interfacefont, "%s", text);
    }
    float tx = area.x + 4.0f + labelw + iconw;
    float ty = area.y + truncf((area.h - (float)widget_cellheight(field_font)) / 2.0f + 1.0f);

    char shown[widget_textmax];
    const int hot = id > 0 && gui_hotid == id;
    if (suffix && !editing && !hot)
        widget_format(shown, "%s%s", buffer, suffix);
    else
        widget_format(shown, "%s", buffer);
    if (shown[0])
        gui_addtext((int)tx, (int)ty, field_font, 0.0f, c.text[0], c.text[1], c.text[2], shown, area);

    const int pressed = id > 0 && gui_activeid == id;
    if (editing && text_editstate.selection)
        field_selectionbox(tx, ty, buffer, text_editstate.cursor, text_editstate.cursor + text_editstate.selection);
    else if (pressed && field_dragid == id)
        field_selectionbox(tx, ty, buffer, field_dragfrom, field_dragto);
    if (editing)
        field_caret(tx, ty, buffer, text_editstate.cursor, area);
    else if (pressed && field_dragid == id && field_dragfrom != field_dragto)
        field_caret(tx, ty, buffer, field_dragto, area);

    float mx = (float)input_mouse[0];
    field_drag(id, font_charatx(field_font, (float)gui_pressposition[0] - tx + 3.0f, "%s", buffer),
               font_charatx(field_font, mx - tx + 3.0f, "%s", buffer));
    const int wasactive = pressed;
    int clicked = gui_element(id, box, 1);
    return field_rules(f, clicked, wasactive, field_over(box), font_charatx(field_font, mx - tx + 4.0f, "%s", buffer));
}

// ---- gui_textbox ----

struct box_layout {
    int32_t count;
    int32_t lines[text_maxlines][2];
};

static float box_advance(char c)
{
    return field_font < font_loaded ? (float)font_slots[field_font].metrics.advance[(uint8_t)c] : 0.0f;
}

static void box_push(box_layout &l, int32_t start, int32_t length)
{
    if (l.count >= text_maxlines)
        return;
    l.lines[l.count][0] = start;
    l.lines[l.count][1] = length;
    l.count++;
}

// Lines of at most wrap pixels: a line that reaches the width breaks after
// its last blank, or before the character that reached it when it has none;
// a line break ends a line and belongs to it. The last line may be empty.
static void box_wrap(const char *text, float wrap, box_layout &l)
{
    l.count = 0;
    int32_t start = 0, blank = -1, i = 0;
    float w = 0.0f;
    for (; text[i] && l.count < text_maxlines - 1; i++) {
        char ch = text[i];
        if (ch == '\n') {
            box_push(l, start, i + 1 - start);
            start = i + 1;
            blank = -1;
            w = 0.0f;
            continue;
        }
        w += box_advance(ch);
        if (ch == ' ')
            blank = i;
        if (w < wrap)
            continue;
        int32_t cut = blank >= start ? blank + 1 : (i > start ? i : i + 1);
        box_push(l, start, cut - start);
        start = cut;
        blank = -1;
        w = 0.0f;
        for (int32_t k = start; k <= i; k++)
            w += box_advance(text[k]);
    }
    box_push(l, start, (int32_t)strlen(text + start));
}

// The visible length of a line: its break character is not drawn.
static int32_t box_visible(const char *text, const box_layout &l, int line)
{
    int32_t n = l.lines[line][1];
    if (n > 0 && text[l.lines[line][0] + n - 1] == '\n')
        n--;
    return n;
}

// Cuts the text at the first line that does not fit; a break left at the
// end would open an empty line that does not fit either, so it goes too.
static void box_cut(char *buffer, box_layout &l, int fit, float wrap)
{
    if (l.count <= fit)
        return;
    int32_t cut = l.lines[fit][0];
    if (cut > 0 && buffer[cut - 1] == '\n')
        cut--;
    buffer[cut] = 0;
    if (text_editstate.string == buffer) {
        text_editrecord &e = text_editstate;
        int32_t far = e.cursor + e.selection;
        if (e.cursor > cut)
            e.cursor = cut;
        far = far < 0 ? 0 : (far > cut ? cut : far);
        e.selection = far - e.cursor;
    }
    box_wrap(buffer, wrap, l);
}

// The text index under a point, with the pick offset dx.
static int32_t box_charat(const char *text, const box_layout &l, float tx, float ty, float lineh, float px, float py,
                          float dx)
{
    int line = lineh > 0.0f ? (int)floorf((py - ty) / lineh) : 0;
    line = line < 0 ? 0 : (line >= l.count ? l.count - 1 : line);
    int32_t start = l.lines[line][0], n = box_visible(text, l, line);
    int col = font_charatx(field_font, px - tx + dx, "%.*s", (int)n, text + start);
    return start + (col < n ? col : n);
}

static int box_lineof(const box_layout &l, int32_t at)
{
    int line = 0;
    for (int i = 0; i < l.count; i++)
        if (l.lines[i][0] <= at)
            line = i;
    return line;
}

static void box_drawlines(const char *text, const box_layout &l, float tx, float ty, float lineh, const float rgb[3],
                          const gui_rect &clip)
{
    char line[widget_textmax];
    for (int i = 0; i < l.count; i++) {
        int32_t n = box_visible(text, l, i);
        if (n <= 0)
            continue;
        if (n >= widget_textmax)
            n = widget_textmax - 1;
        memcpy(line, text + l.lines[i][0], (size_t)n);
        line[n] = 0;
        gui_addtext((int)tx, (int)(ty + (float)i * lineh), field_font, 0.0f, rgb[0], rgb[1], rgb[2], line, clip);
    }
}

// A selection [a, b) drawn line by line.
static void box_drawselection(const char *text, const box_layout &l, float tx, float ty, float lineh, int32_t a,
                              int32_t b)
{
    if (a > b) {
        int32_t t = a;
        a = b;
        b = t;
    }
    for (int i = 0; i < l.count && a < b; i++) {
        int32_t start = l.lines[i][0], end = start + box_visible(text, l, i);
        int32_t from = a > start ? a : start, to = b < end ? b : end;
        if (from < to)
            field_selectionbox(tx, ty + (float)i * lineh, text + start, from - start, to - start);
    }
}

static void box_caret(const char *text, const box_layout &l, float tx, float ty, float lineh, int32_t at,
                      const gui_rect &clip)
{
    int line = box_lineof(l, at);
    int32_t start = l.lines[line][0];
    field_caret(tx, ty + (float)line * lineh, text + start, at - start, clip);
}

int gui_textbox(int32_t id, int icon, const char *label, char *buffer, int32_t maxlen, int readonly)
{
    gui_rect sector;
    if (!widget_popsector(&sector))
        return 0;
    uint32_t flags = text_multiline | text_enterbreak | (readonly ? text_readonly : 0u);
    field_ref f = {id, buffer, maxlen, flags, tut_hit};
    const int editing = field_editing(f);
    gui_rect box = widget_box(sector), area = widget_area(box);
    widget_colours c = field_colours(id, readonly, editing);
    gui_addbox(box, c.box[0], c.box[1], c.box[2], gui_panelalpha, 1);

    float lineh = (float)widget_cellheight(field_font);
    float x = area.x + 4.0f, labelh = 0.0f;
    if (icon) {
        int iconfont = icon < 256 ? font_firsticon : font_firsticon + 3;
        const char glyph[2] = {(char)(icon & 255), 0};
        gui_addtext((int)x, (int)area.y, iconfont, 0.0f, c.text[0], c.text[1], c.text[2], glyph, area);
        float gh = (float)widget_cellheight(iconfont);
        x += gh + 2.0f * (float)gui_padding + 3.0f;
        labelh = gh;
    }
    if (label) {
        char text[widget_textmax];
        widget_format(text, "%s: ", label);
        gui_addtext((int)x, (int)area.y, gui_interfacefont, 0.0f, c.text[0], c.text[1], c.text[2], text, area);
        float lh = (float)widget_cellheight(gui_interfacefont);
        labelh = labelh > lh ? labelh : lh;
    }
    float tx = area.x + 4.0f, ty = area.y + labelh;
    float wrap = area.w - (float)box_wrapmargin;

    static box_layout layout;
    box_wrap(buffer, wrap, layout);
    int fit = lineh > 0.0f ? (int)floorf((area.y + area.h - ty) / lineh) : text_maxlines;
    box_cut(buffer, layout, fit < 1 ? 1 : fit, wrap);

    box_drawlines(buffer, layout, tx, ty, lineh, c.text, area);
    const int pressed = id > 0 && gui_activeid == id;
    if (editing && text_editstate.selection)
        box_drawselection(buffer, layout, tx, ty, lineh, text_editstate.cursor,
                          text_editstate.cursor + text_editstate.selection);
    else if (pressed && field_dragid == id)
        box_drawselection(buffer, layout, tx, ty, lineh, field_dragfrom, field_dragto);
    if (editing)
        box_caret(buffer, layout, tx, ty, lineh, text_editstate.cursor, area);
    if (editing && !readonly) {
        char counter[widget_textmax];
        widget_format(counter, "%3d/%d", (int)strlen(buffer), (int)maxlen);
        gui_addtext((int)(area.x + wrap - (float)box_counterleft), (int)area.y, field_font, 0.0f, c.text[0],
                    c.text[1], c.text[2], counter, area);
    }

    float mx = (float)input_mouse[0], my = (float)input_mouse[1];
    float px = (float)gui_pressposition[0], py = (float)gui_pressposition[1];
    field_drag(id, box_charat(buffer, layout, tx, ty, lineh, px, py, 3.0f),
               box_charat(buffer, layout, tx, ty, lineh, mx, my, 3.0f));
    int clicked = gui_element(id, box, 1);
    int32_t at = box_charat(buffer, layout, tx, ty, lineh, mx, my, 4.0f);
    if (clicked || (pressed && gui_activeid != id)) {
        if (field_dragid == id && field_dragfrom != field_dragto)
            sys_log("selection = %d:%d", field_dragfrom, field_dragto);
        else if (clicked)
            sys_log("cursorpos = %d", at);
    }
    int result = field_rules(f, clicked, pressed, field_over(box), at);
    // The cursor keys between this frame and the next read this box's lines.
    if (text_editstate.string == buffer) {
        text_linecount = layout.count;
        memcpy(text_lines, layout.lines, sizeof(int32_t) * 2 * (size_t)layout.count);
    }
    return result;
}
