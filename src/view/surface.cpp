// The canvas and simulation surface passes. Both draw the slice stack of the
// current view direction (or 32 slices at once while the fast view is in
// effect) through "canvas_slices"; they differ in textures, colours, the
// wood grain and the sign of isize.z, which tells the shader a depth-map
// seen from above from a heightfield.
#include "view/surface.h"

#include "cam/simulate.h"
#include "geom/vec.h"
#include "project/canvas.h"
#include "project/project.h"
#include "project/surfaceshaders.h"
#include "render/gl.h"
#include "sys/config.h"
#include "view/backup.h"
#include "view/canvasinstall.h"
#include "view/modes.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <algorithm>
#include <cmath>
#include <cstring>

float view_bendcolor(float c)
{
    c = std::isfinite(c) ? std::clamp(c, 0.0f, 1.0f) : 0.5f;
    return 0.02f + 0.96f * c;
}

// What differs between the two passes.
struct surface_input {
    int texture;             // heights on unit 0
    const float *top, *bottom; // rgb1, rgb2
    float curve;
    const int32_t *slices;   // slices across X, Y, Z
    float isize[4];
    int flip;                // the fallback's slice order
};

// The slice stack of the view direction, or 32 slices at once while the
// simplified drawing is in effect or no stack was made. The stacks are drawn
// straight from their counts: render models of them drew nothing in the
// program (see the report of the install's stacks).
static void surface_draw(const surface_input &in, int detail)
{
    int dir = std::clamp(view_dirclass, 0, 5);
    if (detail && dir == 2)
        return; // from below the relief has nothing to show
    int n = in.slices[dir % 3];
    if (detail && n > 0)
        view_slices(n, in.flip, dir);
    else
        view_slices(32, in.flip, 5);
}

static void surface_setcommon(const surface_input &in, int detail)
{
    const view_calltable &c = *view_calls;
    const view_framesetuprecord &v = view_setup;
    c.uniformint("texdepth", 0);
    c.uniformint("texselect", 1);
    c.uniformvec("camvec", 3, 1, v.camvec);
    c.uniformvec("light", 3, 1, v.light);
    const float specular[3] = {v.glossexponent, v.glossstrength, v.gloss};
    c.uniformvec("specular", 3, 1, specular);
    c.uniformvec("rgb1", 3, 1, in.top);
    c.uniformvec("rgb2", 3, 1, in.bottom);
    float bend = view_bendcolor(in.curve);
    c.uniformfloat("bendcolor", 1, &bend);
    int n = in.slices[std::clamp(view_dirclass, 0, 5) % 3];
    float step = cfg_geti(cfg_highquality) && detail && n > 0 ? 1.0f / (float)n : 0.0f;
    c.uniformfloat("stepsize", 1, &step);
    c.uniformvec("isize", 4, 1, in.isize);
}

// The wood grain's uniforms from the project's appearance settings; the
// grain's axes are the rows of its orientation, the third turned by 90
// degrees, handed over last row first.
static void surface_setgrain()
{
    const view_calltable &c = *view_calls;
    const float *r = project.rendersettings;
    float g = r[render_grainscale];
    float scale = 40.0f / std::pow(1.0f + g, 4.0f);
    c.uniformfloat("grain_scale", 1, &scale);
    float saved[3][3];
    memcpy(saved, view_basis, sizeof(saved));
    const float angles[3] = {r[render_angles], r[render_angles + 1], r[render_angles + 2] + 90.0f};
    vec3_anglevectors(angles);
    float rows[9];
    for (int i = 0; i < 3; i++)
        memcpy(rows + 3 * i, view_basis[2 - i], sizeof(float) * 3);
    memcpy(view_basis, saved, sizeof(saved));
    c.uniformvec("grain_vector", 3, 3, rows);
    c.uniformvec("grain_offset", 3, 1, r + render_offset);
    c.uniformvec("grain_freq", 3, 1, r + render_freq);
    c.uniformvec("grain_amp", 3, 1, r + render_amp);
    c.uniformvec("grain_rad", 3, 1, r + render_rad);
    c.uniformvec("grain_tubes", 3, 1, r + render_tubes);
}

// Both passes: into the view buffer, the heights on unit 0 and the
// selection on unit 1, and the program with the shared uniforms (no shader
// below GL 2.0). True when the program is bound.
static bool surface_begin(const surface_input &in, int detail)
{
    const view_calltable &c = *view_calls;
    c.bindview();
    // A slice is seen from either side as the camera turns within its stack.
    c.enable(vcap_cullface, 0);
    c.bindtexture(in.texture, 0);
    c.bindtexture(project_canvas.selectiontexture, 1);
    bool shader = gl_version >= 20 && project_slices.slot >= 0;
    if (shader) {
        c.bindshader(project_slices.slot);
        surface_setcommon(in, detail);
    }
    return shader;
}

static void surface_end(bool shader)
{
    const view_calltable &c = *view_calls;
    if (shader)
        c.bindshader(-1);
    c.enable(vcap_alphatest, 0);
    c.bindtexture(-1, 1);
    c.bindtexture(-1, 0);
    c.depthmask(1);
    c.enable(vcap_blend, 0);
    c.enable(vcap_cullface, 1);
    c.unbindview();
}

static void surface_canvas(int detail)
{
    const project_canvasrecord &pc = project_canvas;
    const image *img = pc.img;
    float w = img ? (float)img->width : 1.0f, h = img ? (float)img->height : 1.0f;
    surface_input in = {pc.depthtexture,
                        project.canvascolor[0],
                        project.canvascolor[1],
                        project.colorcurve[0],
                        pc.slices,
                        {1.0f / w, 1.0f / h, 1.0f / (w * project.size[2] / project.size[0]),
                         cfg_getf(cfg_shadecontrast)},
                        0};
    bool shader = surface_begin(in, detail);
    if (shader) {
        float none = 0.0f;
        view_calls->uniformfloat("grain_scale", 1, &none);
    }
    surface_draw(in, detail);
    surface_end(shader);
}

static void surface_simulation(int detail)
{
    const project_canvasrecord &pc = project_canvas;
    const view_calltable &c = *view_calls;
    bool wood = project.renderstyle != 0;
    float w = sim_width > 0 ? (float)sim_width : 1.0f, h = sim_height > 0 ? (float)sim_height : 1.0f;
    surface_input in = {pc.simtexture,
                        wood ? project.woodcolor[0] : project.simcolor[0],
                        wood ? project.woodcolor[1] : project.simcolor[1],
                        project.colorcurve[1],
                        pc.simslices,
                        {1.0f / w, 1.0f / h, 1.0f / (w * -project.size[2] / project.size[0]),
                         cfg_getf(cfg_shadecontrast)},
                        1};
    bool shader = surface_begin(in, detail);
    if (shader) {
        float s = project.scale;
        const float psize[3] = {project.size[0] * s, project.size[1] * s, project.size[2] * s};
        c.uniformvec("psize", 3, 1, psize);
        if (wood) {
            surface_setgrain();
        } else {
            float none = 0.0f;
            c.uniformfloat("grain_scale", 1, &none);
        }
    }
    c.enable(vcap_blend, 1);
    c.blendfunc(vgl_srcalpha, vgl_oneminussrcalpha);
    c.enable(vcap_alphatest, 1);
    c.alphafunc(vgl_greater, 0.0f);
    c.pushmatrix();
    surface_draw(in, detail);
    c.popmatrix();
    surface_end(shader);
}

void view_drawsurface()
{
    if (!view_rebuilt)
        return;
    const project_canvasrecord &pc = project_canvas;
    // A canvas without depth or width has no box to slice: nothing to draw.
    if (!(project.size[0] > 0.0f && project.size[2] > 0.0f))
        return;
    int detail = view_fastview ? 0 : 1;
    if (projectmode == 4) {
        if (pc.simtexture >= 0)
            surface_simulation(detail);
    } else if (pc.depthtexture >= 0) {
        surface_canvas(detail);
    }
}
