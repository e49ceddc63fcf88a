// The passive members of the widget family (labels, value read-outs, icon
// labels and images) and the drop-down head, which opens a window of its own
// for the caller's list. Passive members run the element check with id 0:
// they can show a tooltip but never click.
#pragma once
#include <cstdint>

int gui_label(int icon, int whiteglyph, int font, const char *fmt, ...) __attribute__((format(printf, 4, 5)));
int gui_valuetext(int font, int centred, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
int gui_centerlabel(int font, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// Glyph from the second icon family and a text, both in colour; unframed.
void gui_iconlabel(int icon, int font, const float colour[3], const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
// A texture of w x h pixels: scaled into the text area keeping its aspect,
// or at its own size centred in the box.
int gui_image(int texture, float w, float h, const float rgba[4], int keepaspect);
// 1 on every frame this drop-down is open: the caller fills the window the
// call began and ends it with gui_endwindow.
int gui_dropdown(int32_t id, float x, float y, float w, float h, const char *fmt, ...)
    __attribute__((format(printf, 6, 7)));
