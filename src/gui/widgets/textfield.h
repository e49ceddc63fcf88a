// The two editable text widgets: the one-line field that names and numbers
// are typed into, and the multi-line text box of descriptions. Both start
// the one in-place edit on a click, hand the keyboard focus on with Tab and
// Shift+Tab in the order they are called, and return 1 when an edit of
// theirs has ended, so the caller reads the new text then.
#pragma once
#include <cstdint>

// Focus state shared by every field; element ids, -1 none. The open field
// is the element model's gui_openid.
extern int32_t gui_finishedid;     // edit just ended: the field's next call returns 1
extern int32_t gui_lastfinishedid; // edited last: drawn highlighted, Enter reopens it
extern int32_t gui_nextfield;      // Tab: the next field called takes the focus
extern int32_t gui_previousfield;  // Shift+Tab: the field called before the open one takes it

// The end-of-edit callback both widgets give text_beginedit.
void gui_editdone();
// No field finished, none asked to take the focus (start-up).
void gui_resetfocus();

// flags as text_editstate's: 1 numeric, 2 integer, 4 no minus, 8 expression,
// 16 hexadecimal, 0x40 read-only. label, suffix null for none; icon 0 none.
int gui_textfield(int32_t id, int icon, const char *label, const char *suffix, char *buffer, uint32_t flags,
                  int32_t maxlen);
// Word-wrapped into the line table; text past the box's last line is cut.
int gui_textbox(int32_t id, int icon, const char *label, char *buffer, int32_t maxlen, int readonly);
