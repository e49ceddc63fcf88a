// The camera framed on the canvas, and the top view's axis rows from the
// camera's angle about Z.
#include "view/framing.h"

#include "project/project.h"
#include "sys/config.h"
#include "sys/log.h"
#include "sys/main.h"

#include <cmath>

float view_axisrows[3][3] = {{0, 0, -1}, {0, 1, 0}, {-1, 0, 0}};

void view_rotation(const view_camerarecord *camera)
{
    view_rotationrows(camera->rotation[2], view_axisrows);
}

void view_reset(int mode)
{
    view_camerarecord &c = view_camera;
    const float *size = project.size;
    float s = project.scale;
    for (int i = 0; i < 3; i++)
        c.centre[i] = 0.5f * size[i] * s;
    int width = sys_drawable[0];
    if (width > 0) {
        // 768 pixels is the width the framing was tuned for: a wider window
        // shows more around the canvas at the same distance.
        float d = 768.0f / (float)width * (0.5f * size[1] + size[0]) * s;
        if (cfg_geti(cfg_perspective))
            d /= (float)std::tan(cfg_getf(cfg_fov) * M_PI / 180.0 * 0.5);
        c.distance = d;
    } else {
        sys_log("view_reset: drawable width %d, distance %f kept", width, c.distance);
    }
    if (mode == 2) {
        c.rotation[0] = 45.0f;
        c.rotation[1] = 0.0f;
        c.rotation[2] = -22.5f;
    }
    view_redraw = 1;
}
