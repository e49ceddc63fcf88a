// Layout: the stack of sectors that widgets pop their cells from, the row
// and column splits that fill it, and the windows that nest by depth level,
// each remembering where the stack and the draw lists stood when it began so
// that its end flushes and restores exactly its own part.
#pragma once
#include <cstdint>

constexpr int gui_maxsectors = 256;
constexpr int gui_maxwindows = 16;

struct gui_rect {
    float x, y, w, h;
};

struct gui_windowrecord {
    int32_t previouswindow; // gui_curwindow before the begin
    int32_t sectors;        // sector count at begin
    int32_t verts, draws, images, texts, chars; // list counts at begin
    gui_rect rect;
};

extern gui_rect gui_sectors[gui_maxsectors];
extern int32_t gui_sectorcount;
extern int32_t gui_depth; // window depth level, 0 outside every window
extern gui_windowrecord gui_window[gui_maxwindows];
extern int32_t gui_curwindow;
extern int32_t gui_mousewindow;  // topmost window under the pointer, -1 none
extern int32_t gui_mouseovergui; // some window held the pointer this frame
extern int32_t gui_popupwindow;  // drop-down window of the previous frame
extern float gui_dialogpos[2];
// Begins refused for lack of depth levels and not yet ended.
extern int32_t gui_refusedwindows;

void gui_beginwindow(int32_t id, float x, float y, float w, float h, int screen, const float *backdrop);
void gui_endwindow();
// Split the top sector into n cells; sizes are doubles (pixels above 1 and
// 0, weights in (0, 1] and below 0). The first cell ends on top.
void gui_rowsector(int n, ...);
void gui_colsector(int n, ...);
// Pops the top sector and queues its background box.
void gui_popsector();
// Pops the top sector; the box only with the flag.
void gui_popframe(int flag);
// The top sector, null with none in use.
const gui_rect *gui_topsector();
