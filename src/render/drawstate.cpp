// The GUI toolkit's default 2D draw state and the one in use (untextured,
// unblended until the toolkit sets them), the text drawing state (white,
// unturned) and the tooltip record.
#include "render/drawstate.h"

#include <cmath>

gui_drawstate gui_defaultdrawstate = {-1, 0};
const gui_drawstate *gui_currentdrawstate = &gui_defaultdrawstate;
gui_textdrawstate gui_textstate = {{1.0f, 1.0f, 1.0f, 1.0f}, 0.0f, 0.0f, 1.0f, 0.0f, 0};
int gui_interfacefont = 0;
gui_tooltiprecord gui_tooltipstate;

void gui_settextangle(float angle)
{
    gui_textstate.angle = angle;
    gui_textstate.sine = sinf(angle);
    gui_textstate.cosine = cosf(angle);
}
