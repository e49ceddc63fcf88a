// Live previews of a shape being set up: the outline of a supershape stamp
// with its rotation and squash, and the cross-section of a brush at its true
// depth-to-width proportion. Passive: each pops a sector, draws a box and
// queues raw vertices; an empty sector stack makes them do nothing.
#pragma once

// count: outline segments (at most 510 used); params: a, b, m, n1, n2, n3.
void gui_supershape(int count, float angle, float squash, const float params[6]);
// flat: the square of the centre-flat fraction of the diameter.
void gui_brushprofile(float diameter, float depth, float radius1, float radius2, float flat);
// The brush's height 0..1 at u, 0 at the rim and 1 at the centre, for the
// proportion k = depth / diameter; the preview samples it.
float gui_brushheight(float u, float k, float flat, float radius1, float radius2);
