// The clickable members of the widget family: buttons with text, icon and
// glyph buttons, the dialog title bar that drags its dialog, check box, radio
// button, colour swatch, and the info and alert buttons that open a message
// box. Each pops one sector, queues its box and texts, runs the element
// check and returns 1 on the frame a click completes (the check box: its
// new value). An empty sector stack makes every call a no-op returning 0.
#pragma once
#include <cstdint>

int gui_button(int32_t id, int font, int centred, const char *fmt, ...) __attribute__((format(printf, 4, 5)));
// The third argument has no effect; kept for the callers' argument lists.
int gui_iconbutton(int32_t id, int icon, int ignored, int font, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
// As gui_iconbutton; with whiteglyph the glyph is opaque white.
int gui_iconbuttonrect(int32_t id, int icon, int whiteglyph, int font, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
// The title bar of a movable dialog: dragging it moves gui_dialogpos.
int gui_glyphbutton(int32_t id, int icon, int ignored, int font, const char *fmt, ...)
    __attribute__((format(printf, 5, 6)));
// The value toggled on the frame of a click, else the value unchanged.
int gui_checkbox(int32_t id, int value, const char *label);
// 1 on a click even when already selected; the caller sets the selection.
int gui_radiobutton(int32_t id, int selected, int font, const char *fmt, ...) __attribute__((format(printf, 4, 5)));
int gui_rgbbutton(int32_t id, const float rgb[3]);
// On a click the text goes to a message box; its result, else 0.
int gui_infobutton(int32_t id, const char *text);
int gui_alertbutton(int32_t id, const char *text);
