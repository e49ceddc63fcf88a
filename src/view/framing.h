// Framing the camera on the canvas: the whole canvas in view when a project
// opens or the user asks for the home view, and the axis rows of the flat
// top view, which the viewport and the supershape preview turn by an angle
// about Z.
#pragma once
#include "geom/vec.h" // view_rotationrows
#include "view/view.h"

extern float view_axisrows[3][3];

// Sets view_axisrows from the camera's angle about Z.
void view_rotation(const view_camerarecord *camera);
// Centres the camera on the canvas at a distance that shows all of it;
// mode 2 also turns it to the default angles (45, 0, -22.5), any other mode
// keeps them. With no drawable width yet (minimised, or before the first
// size event) the distance is kept.
void view_reset(int mode);
