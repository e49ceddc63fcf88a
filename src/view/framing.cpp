// The top view's axis rows from the camera's angle about Z.
#include "view/framing.h"

#include <cmath>

float view_axisrows[3][3] = {{0, 0, -1}, {0, 1, 0}, {-1, 0, 0}};

void view_rotation(const view_camerarecord *camera)
{
    view_rotationrows(camera->rotation[2], view_axisrows);
}
