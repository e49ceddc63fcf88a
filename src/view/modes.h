// The mode globals that tie the main window to the viewport: the main window
// writes them, the viewport reads them to choose what it draws and how the
// mouse edits. The toolkit never sees them.
#pragma once
#include <cstdint>

extern int32_t projectmode;          // 1 canvas, 2 tools, 3 operations, 4 simulation
extern int32_t gui_selectedlayer;    // the layer chosen in the main window, -1 none
extern int32_t gui_layerfromlist;    // the selection came from the layers list (no scroll to it)
extern float gui_layerscroll;        // layers list position, 0 top (highest slots) .. 1 bottom
extern int32_t gui_unappliedchanges; // the open editor's working copy differs from its record
extern int32_t gui_selectedop;       // selected operation: list index, -1 none
extern int32_t gui_selectedtool;     // selected tool: 0-based project tool index, -1 none
extern int32_t gui_sidepanel;        // property panel of the right column, 0 none .. 8
// Requests the viewport serves at its next frame (-1 or 0 none).
extern int32_t project_removelayer;     // layer slot to remove, -1 none
extern int32_t project_mergedownlayer;  // layer slot to merge down, -1 none
extern int32_t gui_undorequest;         // 1: undo one canvas event
extern int32_t gui_redorequest;         // 1: redo one canvas event
