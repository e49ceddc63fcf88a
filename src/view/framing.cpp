// The top view's axis rows from the camera's angle about Z.
#include "view/framing.h"

#include "sys/log.h"

#include <cmath>

float view_axisrows[3][3] = {{0, 0, -1}, {0, 1, 0}, {-1, 0, 0}};

void view_rotationrows(float zdegrees, float rows[3][3])
{
    float a = zdegrees * (float)M_PI / 180.0f;
    float c = cosf(a), s = sinf(a);
    const float r[3][3] = {{0.0f, 0.0f, -1.0f}, {-s, c, 0.0f}, {-c, -s, 0.0f}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            rows[i][j] = r[i][j];
}

void view_rotation(const view_camerarecord *camera)
{
    view_rotationrows(camera->rotation[2], view_axisrows);
}

void view_reset(int mode)
{
    sys_log("view_reset: mode %d", mode);
    view_redraw = 1;
}
