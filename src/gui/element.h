// The element model: one call per interactive widget per frame decides
// whether the pointer is over it, whether it is pressed and whether this
// frame completes its click. The state between frames is a few ids; the
// name and tooltip of the next element live until its gui_element call.
#pragma once
#include "gui/sector.h"

#include <cstdint>

constexpr int gui_maxtooltiptext = 512;
constexpr int gui_maxelementtext = 128; // a formatted name, terminator included

extern int32_t gui_openid;   // open drop-down or menu, -1 none
extern int32_t gui_cursor;   // pointer shape wanted this frame
// The viewport holds the pointer (a drag in the 3D view): no element is
// hovered meanwhile. The viewport sets it; it lives here, where it is read,
// so that the toolkit needs nothing of the viewport.
extern int32_t view_capture;
extern int32_t gui_copylatch; // an element name was copied this frame
extern const char *gui_elementname; // format of the next element's name; null none
extern char gui_elementtext[gui_maxelementtext]; // that name formatted
extern char gui_nexttooltip[gui_maxtooltiptext];
extern float gui_hoverstart;
extern int32_t *gui_pressflag; // set to 1 by the next press of any element
// The scroll region registered by the scroll bar: extent > 0 takes the wheel.
extern float gui_scrollextent;
extern float gui_scrolloffset;

// Test builds set it to see every element of a frame; the program never does.
typedef void (*gui_elementhookfn)(const char *name, int32_t id, const gui_rect &rect, int32_t window, int result);
extern gui_elementhookfn gui_elementhook;

// 1 when this frame completes a click on the element.
int gui_element(int32_t id, const gui_rect &rect, int storeopen);
void gui_elementid(const char *format, ...) __attribute__((format(printf, 1, 2)));
void gui_tooltip(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Frame bracket of the element model: a hot id of 0 or below (a label) that
// no element under the pointer claimed in this frame is let go at its end.
void gui_elementbeginframe();
void gui_elementendframe();
