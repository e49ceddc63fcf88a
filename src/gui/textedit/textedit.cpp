// Key codes 1-55 type characters through two tables; the others move the
// cursor or end the edit. Every write into the caller's buffer is bounded by
// the edit's max length, so no key, paste or evaluation can pass its end.
#include "gui/textedit/textedit.h"

#include "gui/calls.h"
#include "gui/numbers.h"
#include "platform/clipboard.h"
#include "sys/expr.h"
#include "sys/input.h"
#include "sys/log.h"

#include <cmath>
#include <cstdio>
#include <cstring>

text_editrecord text_editstate = {nullptr, 0, 0, 0, 0, 0, nullptr};
int32_t text_insertmode = 1;
int32_t text_linecount = 0;
int32_t text_lines[text_maxlines][2];

constexpr int text_typedkeys = 55;
constexpr int key_tab = 40, key_enter = 46, key_escape = 56, key_backspace = 76, key_insert = 77,
              key_delete = 78, key_home = 79, key_end = 80, key_left = 84, key_up = 85, key_right = 86,
              key_down = 87;

// Indexed by key code - 1.
static const char text_plain[text_typedkeys + 1] = "abcdefghijklmnopqrstuvwxyz`1234567890-=\t[]\\;'\n,./ /*-+.";
static const char text_shifted[text_typedkeys + 1] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ~!@#$%^&*()_+\t{}|:\"\n<>? /*-+.";

static int32_t text_length()
{
    return (int32_t)strnlen(text_editstate.string, (size_t)text_editstate.maxlen + 1);
}

static bool text_held(int key)
{
    return input_keys[key] != 0;
}

void text_beginedit(char *buffer, int32_t maxlen, uint32_t flags, void (*donecb)())
{
    text_editrecord &e = text_editstate;
    e = {buffer, 0, 0, flags, maxlen < 0 ? 0 : maxlen, 0, donecb};
    if (!buffer)
        return;
    buffer[strnlen(buffer, (size_t)e.maxlen)] = 0;
    if (flags & text_numeric) {
        // Clean a numeric text: one leading minus, one decimal point.
        int32_t out = 0;
        for (int32_t i = 0; buffer[i]; i++) {
            char c = buffer[i];
            if (c == '-' && (out != 0 || (flags & text_nominus)))
                continue;
            if (c == '.' && ((flags & text_integer) || e.points))
                continue;
            if (c == '.')
                e.points = 1;
            buffer[out++] = c;
        }
        buffer[out] = 0;
    }
    e.cursor = text_length();
}

// Inserts n characters at the cursor (or overwrites them), dropping what
// passes the max length; the number inserted.
static int text_insert(const char *chars, int n)
{
    text_editrecord &e = text_editstate;
    int done = 0;
    for (; done < n && e.cursor < e.maxlen; done++) {
        int32_t len = text_length();
        if (text_insertmode) {
            int32_t keep = len < e.maxlen ? len : e.maxlen - 1;
            memmove(e.string + e.cursor + 1, e.string + e.cursor, (size_t)(keep - e.cursor));
            e.string[keep + 1] = 0;
        } else if (e.cursor < len) {
            if (e.string[e.cursor] == '.' && e.points > 0)
                e.points--;
        } else {
            e.string[e.cursor + 1] = 0;
        }
        e.string[e.cursor++] = chars[done];
    }
    return done;
}

int text_typechar(int key)
{
    text_editrecord &e = text_editstate;
    if (!e.string || key < 1 || key > text_typedkeys)
        return 0;
    bool shift = text_held(key_shift);
    if (e.flags & text_hex) {
        if (key >= 1 && key <= 6)
            return text_insert(&text_shifted[key - 1], 1);
        if (key >= 28 && key <= 37)
            return text_insert(&text_plain[key - 1], 1);
        return 0;
    }
    bool upper = shift != (key <= 26 && input_capslock);
    char c = upper ? text_shifted[key - 1] : text_plain[key - 1];
    if (e.flags & text_numeric) {
        if (shift)
            return 0;
        if (key >= 28 && key <= 37)
            return text_insert(&c, 1);
        if (key == 38 || key == 53) {
            // A second sign in front of the first would flip the value.
            if (e.cursor != 0 || (e.flags & text_nominus) || (text_insertmode && e.string[0] == '-'))
                return 0;
            return text_insert("-", 1);
        }
        if (key == 48 || key == 55) {
            if ((e.flags & text_integer) || e.points)
                return 0;
            int n = e.cursor == 0 ? text_insert("0.", 2) : text_insert(".", 1);
            if (n && e.string[e.cursor - 1] == '.')
                e.points = 1;
            return n;
        }
        return 0;
    }
    return text_insert(&c, 1);
}

void text_deleteselection()
{
    text_editrecord &e = text_editstate;
    if (!e.string || !e.selection)
        return;
    if (e.selection < 0) {
        e.cursor += e.selection;
        e.selection = -e.selection;
    }
    int32_t len = text_length();
    e.cursor = e.cursor < 0 ? 0 : (e.cursor > len ? len : e.cursor);
    int32_t end = e.cursor + e.selection > len ? len : e.cursor + e.selection;
    for (int32_t i = e.cursor; i < end; i++)
        if (e.string[i] == '.' && (e.flags & text_numeric) && e.points > 0)
            e.points--;
    memmove(e.string + e.cursor, e.string + end, (size_t)(len - end + 1));
    e.selection = 0;
}

void text_copy()
{
    text_editrecord &e = text_editstate;
    if (!e.string || !e.selection)
        return;
    int32_t from = e.selection < 0 ? e.cursor + e.selection : e.cursor;
    int32_t n = e.selection < 0 ? -e.selection : e.selection;
    char buf[text_pastemax + 1];
    if (n > text_pastemax)
        n = text_pastemax;
    memcpy(buf, e.string + from, (size_t)n);
    buf[n] = 0;
    gui_calls->setclipboard(buf);
}

static bool text_keeps(char c, uint32_t flags, bool unrestricted)
{
    if (flags & text_hex)
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (flags & text_numeric)
        return c >= '0' && c <= '9';
    if (unrestricted)
        return true;
    if (c == '\n' || c == '\r')
        return (flags & text_enterbreak) != 0;
    if (c == '\t')
        return (flags & text_tabtyped) != 0;
    return true;
}

void text_paste(const char *text)
{
    text_editrecord &e = text_editstate;
    if (!e.string || !text)
        return;
    text_deleteselection();
    bool unrestricted = (e.flags & 0x2A0) == 0xA0;
    char kept[text_pastemax + 1];
    int n = 0;
    for (int i = 0; text[i] && i < text_pastemax; i++) {
        char c = text[i];
        if (!text_keeps(c, e.flags, unrestricted))
            continue;
        if ((e.flags & text_hex) && c >= 'a' && c <= 'f')
            c = (char)(c - 'a' + 'A');
        kept[n++] = c;
    }
    if (!(e.flags & (text_hex | text_numeric)))
        sys_log("%s paste... (%d chars)", unrestricted ? "unrestricted" : "restricted", n);
    int32_t len = text_length();
    int32_t room = e.maxlen - e.cursor;
    int32_t ins = n < room ? n : room;
    int32_t tail = len - e.cursor;
    if (tail > room - ins)
        tail = room - ins;
    memmove(e.string + e.cursor + ins, e.string + e.cursor, (size_t)tail);
    memcpy(e.string + e.cursor, kept, (size_t)ins);
    e.string[e.cursor + ins + tail] = 0;
    e.cursor += ins;
}

// The line of the text box that holds the cursor.
static int text_cursorline()
{
    int line = 0;
    for (int i = 0; i < text_linecount; i++)
        if (text_lines[i][0] <= text_editstate.cursor)
            line = i;
    return line;
}

// A position on a line, kept within [start, start + length] and the text.
static int32_t text_online(int line, int32_t pos)
{
    int32_t start = text_lines[line][0], end = start + text_lines[line][1];
    int32_t len = text_length();
    if (pos > end)
        pos = end;
    if (pos < start)
        pos = start;
    if (pos > len)
        pos = len;
    return pos < 0 ? 0 : pos;
}

// Home, End, Left, Right, Up and Down: the new cursor, or -1 for no move.
static int32_t text_movetarget(int key)
{
    text_editrecord &e = text_editstate;
    bool lines = (e.flags & text_multiline) && text_linecount > 0;
    int line = lines ? text_cursorline() : 0;
    switch (key) {
    case key_home: return lines ? text_online(line, text_lines[line][0]) : 0;
    case key_end:
        return lines ? text_online(line, text_lines[line][0] + text_lines[line][1] - 1) : text_length();
    case key_left: return e.cursor > 0 ? e.cursor - 1 : -1;
    case key_right: return e.cursor < text_length() ? e.cursor + 1 : -1;
    default: break;
    }
    if (!lines)
        return -1;
    int target = key == key_up ? line - 1 : line + 1;
    if (target < 0 || target >= text_linecount)
        return -1;
    int32_t column = e.cursor - text_lines[line][0];
    int32_t last = text_lines[target][1] - 1;
    return text_online(target, text_lines[target][0] + (column < last ? column : last));
}

static void text_move(int key)
{
    text_editrecord &e = text_editstate;
    int32_t to = text_movetarget(key);
    if (to < 0)
        return;
    if (text_held(key_shift))
        e.selection += e.cursor - to;
    else
        e.selection = 0;
    e.cursor = to;
}

static void text_endedit()
{
    text_editrecord &e = text_editstate;
    if ((e.flags & text_evaluated) && !text_evaluate())
        return;
    void (*done)() = e.done;
    if (done)
        done();
    e.string = nullptr;
}

static void text_removeat(int32_t at, bool resetpoints)
{
    text_editrecord &e = text_editstate;
    if (e.string[at] == '.' && (e.flags & text_numeric) && resetpoints)
        e.points = 0;
    memmove(e.string + at, e.string + at + 1, strlen(e.string + at));
}

static void text_ctrlkey(int key)
{
    text_editrecord &e = text_editstate;
    if (key == 1) {
        e.cursor = text_length();
        e.selection = -e.cursor;
    } else if (key == 3) {
        text_copy();
    } else if (key == 22 && !(e.flags & (text_numeric | text_readonly))) {
        text_deleteselection();
        char clip[text_pastemax + 1];
        if (plat_getclipboard(clip, sizeof(clip)) > 0)
            text_paste(clip);
    } else if (key == 24) {
        text_copy();
        if (!(e.flags & text_readonly))
            text_deleteselection();
    }
}

int text_keydown(int key)
{
    text_editrecord &e = text_editstate;
    if (!e.string)
        return 0;
    bool readonly = (e.flags & text_readonly) != 0;
    if (text_held(key_ctrl) && key >= 1 && key <= text_typedkeys) {
        text_ctrlkey(key);
    } else if (key == key_tab) {
        if ((e.flags & 0xC0) != 0x80)
            return 1;
        if (e.selection)
            text_deleteselection();
        else if (e.cursor >= e.maxlen)
            return 1;
        text_typechar(key);
    } else if (key == key_enter && (e.flags & text_enterbreak)) {
        if (e.cursor < e.maxlen)
            text_typechar(key);
    } else if (key == key_enter || key == key_escape) {
        text_endedit();
    } else if (key == key_backspace && !readonly) {
        if (e.selection)
            text_deleteselection();
        else if (e.cursor > 0)
            text_removeat(--e.cursor, !(e.flags & text_integer));
    } else if (key == key_insert) {
        text_insertmode = !text_insertmode;
    } else if (key == key_delete && !readonly) {
        if (e.selection)
            text_deleteselection();
        else if (e.cursor < text_length())
            text_removeat(e.cursor, true);
    } else if (key == key_home || key == key_end || (key >= key_left && key <= key_down)) {
        text_move(key);
    } else if (key >= 1 && key <= text_typedkeys && !readonly) {
        if (e.selection)
            text_deleteselection();
        else if (e.cursor >= e.maxlen)
            return 1;
        text_typechar(key);
    }
    return 1;
}

// Writes the value with d decimals and strips trailing zeros (keeping one);
// 0 when it does not fit the edit's max length.
static int text_writevalue(double value, uint32_t flags, char *out, int32_t cap)
{
    int n;
    if (flags & text_integer) {
        n = snprintf(out, (size_t)cap + 1, "%d", (int32_t)(value + 0.5));
    } else {
        n = snprintf(out, (size_t)cap + 1, "%.*f", gui_fielddecimals(value), value);
        if (n >= 0 && n <= cap && strchr(out, '.')) {
            while (n > 2 && out[n - 1] == '0' && out[n - 2] != '.')
                out[--n] = 0;
        }
    }
    return n >= 0 && n <= cap;
}

int text_evaluate()
{
    text_editrecord &e = text_editstate;
    if (!e.string)
        return 0;
    for (char *p = e.string; *p; p++)
        if (*p == '\\')
            *p = '/';
    int error = 0;
    expr_node *tree = expr_compile(e.string, &error);
    if (!tree) {
        int32_t len = text_length();
        int32_t pos = error < 1 ? 1 : (error > len ? (len > 0 ? len : 1) : error);
        char c = len > 0 ? e.string[pos - 1] : ' ';
        sys_error("Unable to evaluate expression at character #%2d, \"%c\"", pos, c);
        return 0;
    }
    double value = expr_eval(tree);
    expr_free(tree);
    if ((e.flags & text_nominus) && value < 0)
        value = -value;
    // Integers are rounded half up, then truncated toward zero.
    if (!std::isfinite(value) || ((e.flags & text_integer) && (value + 0.5 >= 2147483648.0 || value + 0.5 <= -2147483649.0))) {
        sys_error("text_evaluate: the value of \"%s\" is out of range", e.string);
        return 0;
    }
    char out[64];
    int32_t cap = e.maxlen < (int32_t)sizeof(out) - 1 ? e.maxlen : (int32_t)sizeof(out) - 1;
    if (!text_writevalue(value, e.flags, out, cap)) {
        sys_error("text_evaluate: the value of \"%s\" does not fit the field", e.string);
        return 0;
    }
    memcpy(e.string, out, strlen(out) + 1);
    e.cursor = text_length();
    e.selection = 0;
    e.points = strchr(e.string, '.') ? 1 : 0;
    return 1;
}
