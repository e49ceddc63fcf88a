// The GUI toolkit's one door to OpenGL, the renderer and SDL: a small table
// of calls that the draw-list flush and the frame pass go through. The real
// table is the default; the headless tests aim gui_calls at a recording
// table, so a whole frame runs and is checked without a window.
#pragma once
#include <cstdint>

// A vertex as the flush hands it on: colour already bytes.
struct gui_drawvertex {
    float x, y, z;
    uint8_t r, g, b, a;
};

enum gui_blendkind {
    gui_blendoff,
    gui_blendalpha,    // source alpha, one minus source alpha
    gui_blendmultiply, // destination colour, source colour
};

struct gui_calltable {
    // Clears depth, sets the window-sized orthographic projection and an
    // identity modelview, depth writes on, depth test less-or-equal.
    void (*projection)(int width, int height);
    // One immediate primitive (GL numbering), untextured.
    void (*primitive)(int kind, const gui_drawvertex *verts, int count, float linewidth);
    // A textured quad {x, y, w, h} at depth z; texture -1 draws untextured.
    void (*image)(int texture, const uint8_t colour[4], const float rect[4], float z);
    void (*blend)(int kind);
    void (*depth)(int test, int write);
    // Scissor box in GL's bottom-up pixels; on 0 switches the test off.
    void (*scissor)(int on, int x, int y, int w, int h);
    // A text in a data font at its top-left; colour 0..1, angle in degrees.
    void (*text)(int font, int x, int y, float depth, float angle, const float colour[4], const char *text);
    // Pointer shape code 0..9 (0 hides the pointer).
    void (*cursor)(int code);
    void (*relativemode)(int on);
    void (*capture)(int on);
    void (*warp)(int x, int y);
    // 1 when the window has the pointer.
    int (*mousefocus)();
    // 1 when the text went to the clipboard; failures are logged.
    int (*setclipboard)(const char *text);
    // A modal message box (buttons 0 OK, 1 OK/Cancel, 2 Yes/No; icon 3
    // information, 4 warning); 1 for OK or Yes.
    int (*messagebox)(const char *caption, const char *text, int buttons, int icon, int defbutton);
};

extern const gui_calltable gui_realcalls;
extern const gui_calltable *gui_calls;
