// Framing the camera on the canvas. For now the axis rows of the flat top
// view, which the viewport and the supershape preview turn by an angle
// about Z.
#pragma once
#include "view/view.h"

extern float view_axisrows[3][3];

// The rows of a Z angle in degrees: (0, 0, -1), (-sin, cos, 0), (-cos, -sin, 0).
void view_rotationrows(float zdegrees, float rows[3][3]);
// Sets view_axisrows from the camera's angle about Z.
void view_rotation(const view_camerarecord *camera);
// Returns the camera to its framing of the canvas; mode 2 is the default
// position and orientation. Until the camera framing lands it only asks for
// a redraw.
void view_reset(int mode);
