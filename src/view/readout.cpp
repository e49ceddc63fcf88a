// The viewport's read-outs for the GUI pass; the layer gizmo that draws the
// handles is view/gizmo.cpp.
#include "view/readout.h"

view_axisend view_axisends[3] = {{0, 0, 2.0f}, {0, 0, 2.0f}, {0, 0, 2.0f}};
view_axisend view_axisorigin = {0, 0, 2.0f};
view_measurerecord view_measuretool;
int32_t view_toolpathsvisible = 1;
float view_cursorpoint[3];
int32_t view_gizmodrag[2] = {0, 0};
