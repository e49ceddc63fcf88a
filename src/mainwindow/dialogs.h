// The numbered dialogs of the main window: one table of number, width, title
// icon, title and body, and the one placement that every dialog window gets
// (clamped position, width written, window begun, title bar). A body draws
// inside the window below the title bar and leaves the window's end to the
// pass; a body closing its dialog calls gui_setdialog (0) and returns.
#pragma once
#include <cstdint>

constexpr int32_t dialogs_windowbase = 10400; // window id: base + number
constexpr int32_t dialogs_titlebase = 10500;  // title-bar element id: base + number
constexpr int32_t dialogs_cancelid = 10600;   // the placeholder body's button
constexpr float dialogs_titleheight = 30.0f;
constexpr float dialogs_rowheight = 30.0f;
constexpr float dialogs_bottommargin = 200.0f; // a dialog's top stays this far above the bottom

struct dialogs_entry {
    int32_t number;
    float width;       // pixels; 0 keeps the width the opener set
    int icon;          // title glyph
    const char *title; // the title text, or a format the title function fills
    const char *(*titlefn)(); // null: the title as it stands
    void (*body)();    // null: the placeholder with its "Cancel" button
};

extern dialogs_entry dialogs_table[];
extern const int dialogs_count;

// The entry of dialog number n, null when n names none.
dialogs_entry *dialogs_find(int32_t n);
// Clamps gui_dialogpos, writes the width into gui_dialogsize, begins the
// window and draws the title bar.
void dialogs_place(const dialogs_entry &d);
// Draws the open dialog, if any: at most one a frame.
void dialogs_draw();
