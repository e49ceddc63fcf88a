// The axes at the project's origin, of a constant size on screen, and the
// small axis gizmo with its cube corner at the canvas gizmo's point, drawn
// into the view buffer; the axis ends are left for the GUI's labels in
// view_axisends and view_axisorigin (view/readout.h).
#pragma once

// The axes pass of re-rendered frames.
void view_axes();
// Frees both models; the next pass builds them again.
void view_axesfree();
// The axes and gizmo model slots, -1 until built.
int view_axesmodel();
int view_axesgizmomodel();
