// The GUI's per-frame draw lists: coloured vertices grouped into draws,
// textured images and clipped texts with their character pool. Widgets only
// append; gui_end draws what the current window queued, in a fixed order,
// and truncates the lists back to the window's begin.
#pragma once
#include "gui/sector.h"

#include <cstdint>

constexpr int gui_maxverts = 16384;
constexpr int gui_maxdraws = 16;
constexpr int gui_maximages = 64;
constexpr int gui_maxtexts = 256;
constexpr int gui_maxchars = 8192;
constexpr int gui_maxshapepoints = 64; // points of one circle or arc

struct gui_vertex {
    float x, y, z, r, g, b, a;
};
struct gui_draw {
    int32_t primitive; // GL numbering
    int32_t count;
};
struct gui_imageitem {
    int32_t texture; // -1 none
    float r, g, b, a;
    gui_rect rect;
};
struct gui_textitem {
    int32_t font;
    int32_t x, y;
    float depth;
    float angle; // degrees
    float r, g, b, a;
    const char *text; // in the character pool
    gui_rect clip;
};
struct gui_listcounts {
    int32_t verts, draws, images, texts, chars;
};
struct gui_stats {
    int64_t draws, verts, texts;
};

extern gui_vertex gui_verts[gui_maxverts];
extern gui_draw gui_draws[gui_maxdraws];
extern gui_imageitem gui_images[gui_maximages];
extern gui_textitem gui_texts[gui_maxtexts];
extern char gui_chars[gui_maxchars];
extern gui_listcounts gui_counts;
extern float gui_zbase;
extern gui_rect gui_attentionrect; // zero width: none
extern gui_rect gui_highlightrect; // zero width: none
extern float gui_highlightcentre[3]; // x 0: none
extern gui_stats gui_framestats;
// Width of the lines the flush draws; 1 at the start of a frame, the main
// window sets its own.
extern float gui_linewidth;

// The depth of items queued now.
float gui_itemz();
gui_textitem *gui_addtext(int x, int y, int font, float angle, float r, float g, float b, const char *text,
                          const gui_rect &clip);
void gui_addverts(int primitive, int n, const gui_vertex *verts, int nomerge);
void gui_addline(const float a[2], const float b[2], float r, float g, float bl, float al);
void gui_addarrow(const float a[2], const float b[2], float r, float g, float bl, float al);
void gui_addcircle(float cx, float cy, float radius, float step, float r, float g, float b, float a,
                   const gui_rect &clip);
void gui_drawshape(float cx, float cy, float radius, float start, float end, float r, float g, float b, float a,
                   const gui_rect &clip);
void gui_addbox(const gui_rect &rect, float r, float g, float b, float opacity, int framed);
gui_imageitem *gui_addimage(int texture, float r, float g, float b, float a, const gui_rect &rect);
// Flushes and pops the current window; outside every window it does nothing.
void gui_end();
// Empties the lists and the stack (start of a frame).
void gui_resetlists();
