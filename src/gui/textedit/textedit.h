// The one in-place text edit: a caller's buffer edited with the keyboard,
// with a cursor, a selection, insert or overwrite mode, the clipboard,
// input restricted to numbers or hexadecimal digits, and a callback when
// the edit ends. The buffer holds maxlen characters plus the terminator.
#pragma once
#include <cstdint>

enum text_flags : uint32_t {
    text_numeric = 1,
    text_integer = 2,   // no decimal point
    text_nominus = 4,
    text_evaluated = 8, // evaluated as an expression when the edit ends
    text_hex = 16,
    text_enterbreak = 0x20, // Enter types a line break
    text_readonly = 0x40,
    text_tabtyped = 0x80,   // Tab types a tab
    text_multiline = 0x100, // the cursor keys use the line table
};

struct text_editrecord {
    char *string;      // the caller's buffer being edited; null when none
    int32_t cursor;    // 0..length
    int32_t selection; // signed length of the selection from the cursor
    uint32_t flags;
    int32_t maxlen;    // characters; the buffer holds maxlen + 1 bytes
    int32_t points;    // decimal points in a numeric text
    void (*done)();    // called when the edit ends by Enter or Escape
};
extern text_editrecord text_editstate;

constexpr int text_maxlines = 512;
constexpr int text_pastemax = 1023; // clipboard characters one paste takes
extern int32_t text_insertmode;     // 1 insert, 0 overwrite
// The text box's lines: start and length of each, set by the box.
extern int32_t text_linecount;
extern int32_t text_lines[text_maxlines][2];

void text_beginedit(char *buffer, int32_t maxlen, uint32_t flags, void (*donecb)());
// Offers a key to the edit: 0 when none is in progress, else 1 (consumed).
int text_keydown(int key);
// The number of characters the key inserted at the cursor, 0 when refused.
int text_typechar(int key);
void text_deleteselection();
void text_copy();
void text_paste(const char *text);
// Replaces the edited text by the value of the expression it holds: 1 on
// success, 0 after reporting the error (the text then stays as typed).
int text_evaluate();
