// The grid pass. The tile is rebuilt whenever the configured step or the
// project's scale moves, in any frame; it is drawn only in frames that
// re-render the view, into the view buffer, so idle frames that only copy
// the buffer to the window keep it.
#include "view/grid.h"

#include "cam/simmodels.h"
#include "project/editor.h"
#include "project/project.h"
#include "sys/config.h"
#include "view/view.h"
#include "view/viewcalls.h"

#include <algorithm>
#include <cmath>

void (*view_gridrebuild)() = regengridmodel;

// A hostile field of view can make the tile count explode; beyond this the
// lines are far smaller than a pixel anyway.
static constexpr int grid_maxtiles = 128;

static float grid_step = NAN, grid_scale = NAN; // what the tile was built for

float view_gridtile(unsigned units)
{
    static const float tiles[3] = {1.0f, 12.0f, 100.0f};
    return units < 3 ? tiles[units] : tiles[0];
}

// Step 1: what the overlays left behind.
static void grid_restorestate()
{
    const view_calltable &c = *view_calls;
    c.depthmask(1);
    c.enable(vcap_depthtest, 1);
    c.bindtexture(-1, 0);
    c.bindshader(-1);
    c.enable(vcap_cullface, 1);
    c.cullface(vgl_back);
}

// Step 2: while a layer is being edited the grid lies at its height.
static void grid_lift()
{
    bool editing = project_pathslayeredit != -1 || (project_rastertool >= 2 && project_rastertool <= 8);
    int s = project_selectedlayer;
    if (editing && s >= 0 && s < project_maxlayers)
        view_calls->translate(0.0f, 0.0f, project.layers[s].pos[2] + view_setup.origin[2]);
}

static void grid_fog()
{
    const view_calltable &c = *view_calls;
    float pitch = view_camera.rotation[0] * (float)(M_PI / 180.0);
    float sine = std::sin(pitch), density;
    if (cfg_geti(cfg_perspective))
        density = (sine * sine * 0.25f + 0.2f) / view_camera.distance;
    else
        density = sine * 0.01f + 0.01f;
    const float clear[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    c.fog(density, clear);
    c.enable(vcap_fog, 1);
}

// Steps 7 and 8: the tiles around the camera's centre.
static void grid_tiles(float tile)
{
    const view_calltable &c = *view_calls;
    float mx = std::fmod(-view_setup.origin[0], tile), my = std::fmod(-view_setup.origin[1], tile);
    c.translate(mx < 0.0f ? mx + tile : mx, my < 0.0f ? my + tile : my, -view_setup.origin[2]);
    if (!cfg_geti(cfg_showgrid) || sim_gridmodel < 0)
        return;
    float scale = project.scale > 0.0f ? project.scale : 1.0f;
    float k = 1.0f;
    if (cfg_geti(cfg_perspective))
        k = (float)std::tan(cfg_getf(cfg_fov) * M_PI / 180.0 * 0.5);
    float span = 2.0f * view_camera.distance * k / scale / tile + 1.0f;
    int n = std::isfinite(span) ? (int)std::clamp(span, 0.0f, (float)grid_maxtiles) : grid_maxtiles;
    // floor, not a cast: a centre left of the origin lies in the tile below.
    int cx = (int)std::floor(view_camera.centre[0] / scale / tile - 0.5f);
    int cy = (int)std::floor(view_camera.centre[1] / scale / tile - 0.5f);
    for (int i = -n; i <= n; i++)
        for (int j = -n; j <= n; j++) {
            c.pushmatrix();
            c.translate((float)(cx + i) * tile, (float)(cy + j) * tile, 0.0f);
            c.modeldraw(sim_gridmodel);
            c.popmatrix();
        }
}

void view_grid()
{
    const view_calltable &c = *view_calls;
    grid_restorestate();
    c.pushmatrix();
    grid_lift();
    float step = cfg_getf(cfg_gridsubdiv);
    if (step != grid_step || project.scale != grid_scale) {
        view_gridrebuild();
        grid_step = cfg_getf(cfg_gridsubdiv);
        grid_scale = project.scale;
    }
    if (view_rebuilt) {
        c.bindview();
        c.enable(vcap_depthtest, 0);
        c.enable(vcap_blend, 1);
        c.blendfunc(vgl_srcalpha, vgl_one);
        grid_fog();
        c.linewidth(view_thickness(cfg_gridthickness));
        grid_tiles(view_gridtile(project.units));
        // The fog is for the grid only: later passes draw at full strength.
        c.enable(vcap_fog, 0);
        c.unbindview();
    }
    c.popmatrix();
}
