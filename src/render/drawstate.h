// The GUI toolkit's 2D draw state: the texture and blend mode that its
// triangles are drawn with, the state the data-font text drawing reads (colour,
// angle, depth, blend override) and the tooltip that gui_showtooltip places.
// The renderer's r_begintriangles makes the default state the current one
// before it opens a triangles primitive. The state lives here, with the
// renderer that reads it, so that the renderer never reaches up into the
// toolkit; the toolkit sets it and keeps its gui_ names.
#pragma once
#include <cstdint>

struct gui_drawstate {
    int texture; // texture slot to bind, -1 none
    int blend;   // blend mode 0..7 of the renderer's blend pairs
};

extern gui_drawstate gui_defaultdrawstate;
extern const gui_drawstate *gui_currentdrawstate;

// Set by the GUI pass before it draws text with the data fonts.
struct gui_textdrawstate {
    float color[4]; // 0..1
    float angle;    // radians; magnitudes up to 0.0001 draw unturned
    float sine, cosine;
    float depth;    // z of every glyph vertex
    int blend;      // blend mode used instead of the font's own; 0 none
};

extern gui_textdrawstate gui_textstate;
// Sets the text angle with its sine and cosine.
void gui_settextangle(float angle);

// The interface font (a data-font index) the tooltip is measured and drawn in.
extern int gui_interfacefont;

constexpr int gui_maxtooltip = 1024;
struct gui_tooltiprecord {
    char text[gui_maxtooltip];
    int32_t position[2]; // top-left of the text in window pixels
    float box[4];        // left, top, right, bottom
};
extern gui_tooltiprecord gui_tooltipstate;
