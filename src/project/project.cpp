// The project record, its marks of change, and its start and shutdown.
#include "project/project.h"

#include "cam/cam.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "project/layer.h"
#include "render/fontcache.h"
#include "render/text.h"
#include "platform/path.h"
#include "project/surfaceshaders.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "view/view.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

project_record project;
int project_mutex = -1;
uint8_t *project_brush = nullptr;
int32_t project_selectedlayer = -1;
int32_t project_layergroup = 0;
int32_t project_rastertool = -1;
std::atomic<float> project_changetime{0.0f};
uint32_t project_saved = 1;
uint32_t project_hasfile = 0;
char project_filename[256] = "";
std::atomic<int32_t> project_savebusy{0};

const char *const project_unitnames[3] = {"None", "Inches", "Metric"};

static int project_busy()
{
    return project.updatingcanvas || project_savebusy || project.generating[0] || project.generating[1];
}

int project_init()
{
    project_mutex = sys_createmutex();
    if (!project_loadshaders()) {
        // The canvas cannot be drawn without them; start-up stops here and
        // leaves nothing behind for the shutdown to trip over.
        sys_error("project_init: the surface shaders failed to load");
        project_freeshaders();
        sys_destroymutex(project_mutex);
        project_mutex = -1;
        return 0;
    }
    project.updatingcanvas = 0;
    project_savebusy = 0;
    project.generating[0] = project.generating[1] = 0;
    project_brush = (uint8_t *)sys_calloc(1, project_brushbytes);
    if (!project_brush)
        return 0;
    plat_joinpath(sys_backuppath, sizeof(sys_backuppath), sys_userfolder, "backup.kfm");
    project_new();
    return 1;
}

void project_new()
{
    int units = cfg_geti(cfg_units);
    view_redraw = 1;
    sys_settitle("%s (%s)", SYS_TITLE, project_unitnames[units >= 0 && units <= 2 ? units : 0]);
}

void project_waitsave()
{
    while (project_savebusy)
        SDL_Delay(10);
}

void project_reset()
{
    for (int i = 0; i < project_maxlayers; i++) {
        project_layer &l = project.layers[i];
        if (l.type != layer_free)
            project_layerfree(i);
        // Slots never used since start-up become free records like the rest.
        snprintf(l.name, sizeof(l.name), "Unused Layer");
        l.uid = 0xFFFFFFFFu;
        l.blend = layer_blendmaximum;
        l.zfill = 1.0f;
    }
    sys_log("...layers freed");
    for (int i = 0; i < cam_maxprojectops; i++)
        cam_removeoperation(i);
    for (int n = 1; n <= cam_maxtools; n++)
        cam_tools[n - 1].type = tool_none;
    cam_numtools = 0;
    for (int s = 0; s < toolpath_maxslots; s++)
        toolpath_free(s);
    // Text objects no layer held go too, so their fonts can be released.
    for (int t = 0; text_objects && t < text_maxobjects; t++)
        if (text_objects[t].font >= 0)
            text_release(t);
    font_freedata();
    project.path[0] = 0;
    memset(project_meshuses, 0, sizeof(project_meshuses));
    for (int i = 0; i < 3; i++) {
        project.size[i] = cfg_getf(cfg_canvassize + 4 * i);
        project.originfrac[i] = cfg_getf(cfg_canvasorigin + 4 * i);
        project.originoffset[i] = -(project.originfrac[i] * project.size[i]);
    }
    project.ppi = cfg_geti(cfg_ppi);
    project.renderstyle = 0;
    for (int i = 0; i < 19; i++)
        project.rendersettings[i] = i == 0 || (i >= 7 && i <= 17) ? 0.5f : 0.0f;
    project.zfill = 0.0f;
    project.aspect = project.size[0] != 0.0f ? project.size[1] / project.size[0] : 1.0f;
    project_selectedlayer = -1;
    project_layergroup = 0;
    numlayers = 0;
    memset(numlayertypes, 0, sizeof(numlayertypes));
    project_saved = 1;
    sys_status("initialized default project");
    project_hasfile = 0;
    project_changetime = 0.0f;
}

int project_waitidle(double limit)
{
    double start = sys_seconds();
    while (project_busy()) {
        double left = limit - (sys_seconds() - start);
        if (left <= 0.0) {
            sys_log("project_quit: background work still running after %.1fs, going on", limit);
            return 0;
        }
        SDL_Delay((Uint32)(1000.0 * (left < 1.5 ? left : 1.5)) + 1);
        sys_log("project_quit: sleeping...");
    }
    return 1;
}

void project_quit()
{
    project_waitidle(project_quitlimit);
    sys_destroymutex(project_mutex);
    project_mutex = -1;
    sys_log("...layers freed");
    for (int i = 0; i < cam_maxprojectops; i++)
        cam_removeoperation(i);
    sys_free(project_brush);
    project_brush = nullptr;
    project_freeshaders();
}
