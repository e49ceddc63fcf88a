// Framing the camera on the canvas. For now the axis rows of the flat top
// view, which the viewport and the supershape preview turn by an angle
// about Z.
#pragma once
#include "geom/vec.h" // view_rotationrows
#include "view/view.h"

extern float view_axisrows[3][3];

// Sets view_axisrows from the camera's angle about Z.
void view_rotation(const view_camerarecord *camera);
