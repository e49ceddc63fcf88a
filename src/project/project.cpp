// The project record and its shutdown.
#include "project/project.h"

#include "cam/cam.h"
#include "sys/log.h"
#include "sys/thread.h"

#include <SDL.h>

project_record project;
int project_mutex = -1;

static int project_busy()
{
    return project.updatingcanvas || project.saving || project.generating[0] || project.generating[1];
}

int project_load(const char *path, int asproject)
{
    sys_error("project_load: cannot open \"%s\": this version reads no project files yet", path);
    (void)asproject;
    return 0;
}

void project_quit()
{
    while (project_busy()) {
        SDL_Delay(1500);
        sys_log("project_quit: sleeping...");
    }
    sys_destroymutex(project_mutex);
    project_mutex = -1;
    sys_log("...layers freed");
    for (int i = 0; i < cam_maxprojectops; i++)
        cam_removeoperation(i);
}
