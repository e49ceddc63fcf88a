// The GUI toolkit as the frame loop sees it: the per-frame GUI pass with the
// style it reads from the configuration, the overlays it draws above every
// window (guide line, tooltip, presentation aids, console), the key handler
// of in-place text editing, and the element state that decides whether the
// mouse belongs to the interface or to the 3D view.
#pragma once
#include "gui/textedit/textedit.h"

#include <cstdint>

extern int32_t gui_hotid;        // element under the pointer, -1 none
extern int32_t gui_activeid;     // element pressed and not released, -1 none
extern int32_t gui_wheelclaimed; // an element took this frame's wheel


constexpr int gui_zeroslength = 24;
extern int32_t gui_fileextensionvar; // variable "FileExtension" of the post-processor, -1 none
extern char gui_zeros[gui_zeroslength + 1]; // a run of "0" characters for number fields
extern float gui_dialogsize[2];  // default dialog size: a fifth of the window
extern float gui_panelwidths[2]; // left and right side panels, from the configuration

// The style, copied from the configuration at the start of every pass, and
// the shades derived from it.
extern float gui_textcolour[3];
extern float gui_hitextcolour[3];
extern float gui_widgetcolour[3];
extern float gui_panelcolour[3];
extern float gui_hotcolour[3];
extern float gui_presscolour[3];
extern float gui_accentcolour[3];
extern float gui_panelalpha;
extern float gui_shadestep;
extern int32_t gui_spacing;
extern int32_t gui_padding;
extern int32_t gui_borderwidth;

extern int32_t gui_fps;              // frames counted in the last second
extern int32_t gui_dropdownwindow;   // the drop-down open in this pass, -1 none
extern int32_t gui_pressposition[2]; // pointer at the last left press
extern int32_t gui_consoleopen;
extern int32_t gui_consolescroll;    // lines back from the newest

// The main window's pass, null for none: start-up aims it at the main
// window, the tests at a scene of their own.
extern void (*gui_mainwindowpass)(int fps);

// Reads the style from the configuration and derives its shades.
void gui_readstyle();

// The "gui..." start: no element hot, pressed or edited; the values the
// panels start from.
void gui_init();
// The GUI pass, run by the frame loop after the 3D view.
void gui_refresh();
