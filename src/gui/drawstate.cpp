// The GUI toolkit's default 2D draw state and the one in use: untextured,
// unblended until the toolkit sets them.
#include "gui/drawstate.h"

gui_drawstate gui_defaultdrawstate = {-1, 0};
const gui_drawstate *gui_currentdrawstate = &gui_defaultdrawstate;
