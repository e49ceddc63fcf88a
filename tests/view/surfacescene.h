// The scene the canvas surface is drawn in by the GL tests and by the
// surface benchmark: the real call table, direct mode (the passes draw into
// whatever target is bound), the canvas seen straight down, fixed colours,
// light and gloss, and a full selection so the surface shows unmarked.
#pragma once
#include "img/image.h"
#include "project/canvas.h"
#include "project/project.h"
#include "render/texture.h"
#include "view/backup.h"
#include "view/modes.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <cmath>
#include <cstring>

// The selection texture's slot, -1 when it could not be made.
static inline int surfacescene_set(const float size[3], int selectionw, int selectionh)
{
    view_calls = &view_realcalls;
    view_direct = 1;
    view_rebuilt = 1;
    view_fastview = 0;
    view_dirclass = 5;
    projectmode = 1;
    memcpy(project.size, size, sizeof(float) * 3);
    project.scale = 1.0f;
    const float top[3] = {0.9f, 0.7f, 0.5f}, bottom[3] = {0.2f, 0.3f, 0.6f};
    memcpy(project.canvascolor[0], top, sizeof(top));
    memcpy(project.canvascolor[1], bottom, sizeof(bottom));
    memcpy(project.simcolor[0], bottom, sizeof(bottom));
    memcpy(project.simcolor[1], top, sizeof(top));
    project.colorcurve[0] = 0.3f;
    project.colorcurve[1] = 0.6f;
    project.renderstyle = 0;
    view_framesetuprecord &v = view_setup;
    const float light[3] = {0.3f, 0.4f, 0.866f};
    float len = std::sqrt(light[0] * light[0] + light[1] * light[1] + light[2] * light[2]);
    for (int i = 0; i < 3; i++)
        v.light[i] = light[i] / len;
    v.gloss = 0.5f;
    v.glossstrength = 0.5f;
    v.glossexponent = (float)(500.0 * std::pow(0.5, 5.0) + 2.0 * (1.0 - std::pow(0.5, 5.0)));
    v.camvec[0] = v.camvec[1] = 0.0f;
    v.camvec[2] = -1.0f;
    image *all = img_allocfloat("selection", selectionw, selectionh);
    if (!all)
        return -1;
    float *p = (float *)all->pixels;
    for (size_t i = 0; i < (size_t)selectionw * selectionh; i++)
        p[i] = 1.0f;
    project_canvas.selectiontexture = img_texture("selection", all, 1);
    img_free(all);
    return project_canvas.selectiontexture;
}
