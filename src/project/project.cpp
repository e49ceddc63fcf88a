// The project record, its marks of change, and its start and shutdown.
#include "project/project.h"

#include "cam/cam.h"
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

project_record project;
int project_mutex = -1;
uint8_t *project_brush = nullptr;
int32_t project_selectedlayer = -1;
int32_t project_layergroup = 0;
int32_t project_rastertool = -1;
std::atomic<float> project_changetime{0.0f};
uint32_t project_saved = 1;
uint32_t project_hasfile = 0;

const char *const project_unitnames[3] = {"None", "Inches", "Metric"};

static int project_busy()
{
    return project.updatingcanvas || project.saving || project.generating[0] || project.generating[1];
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
    project.saving = 0;
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

int project_load(const char *path, int asproject)
{
    sys_error("project_load: cannot open \"%s\": this version reads no project files yet", path);
    (void)asproject;
    return 0;
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
