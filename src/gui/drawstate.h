// The GUI toolkit's 2D draw state: the texture and blend mode that its
// triangles are drawn with. The renderer's r_begintriangles makes the
// default state the current one before it opens a triangles primitive.
#pragma once

struct gui_drawstate {
    int texture; // texture slot to bind, -1 none
    int blend;   // blend mode 0..7 of the renderer's blend pairs
};

extern gui_drawstate gui_defaultdrawstate;
extern const gui_drawstate *gui_currentdrawstate;
