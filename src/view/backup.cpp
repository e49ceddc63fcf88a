// The last step of the viewport's frame. A change arms the automatic
// backup; the first frame at which the project has been still for three
// seconds, the last backup is an interval ago and the program is idle takes
// one backup through the save job and disarms it. Then the redraw requests
// of the fast view and of a new raster tool.
#include "view/backup.h"

#include "cam/cam.h"
#include "cam/simulate.h"
#include "project/brush.h"
#include "project/canvas.h"
#include "project/editor.h"
#include "project/genraster.h"
#include "view/gizmo.h"
#include "project/project.h"
#include "project/rasteredit.h"
#include "sys/config.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/thread.h"
#include "view/modes.h"
#include "view/simview.h"
#include "view/view.h"

uint32_t view_manipulating = 0;
uint32_t view_fastview = 0;
int32_t view_lastrastertool = -1;

static int32_t backup_nodialog() { return 0; }
int32_t (*view_dialogid)() = backup_nodialog;

// The change time the last backup decision examined: the edit paths only
// stamp project_changetime, so a new stamp is what re-arms the backup.
static float backup_examined = 0.0f;

// Step 1: a change a worker posted becomes the project's, stamped now.
static void backup_takepost()
{
    if (project_jobchangetime.load() > 0.0f) {
        project_changetime = (float)sys_seconds();
        project_jobchangetime = 0.0f;
        project_backupdone = 0;
    }
    if (project_backupdone && project_changetime.load() != backup_examined)
        project_backupdone = 0;
}

// No job, no drag and no dialog holds the project.
static int backup_idle()
{
    if (sys_jobspending.load() > 0 || project_canvasjob.updating.load() || project.updatingcanvas.load() ||
        layer_gentex.load() || cam_simgenerating.load() || sim_updating || sim_jobcount.load() > 0 ||
        brush_busy.load() || project.generating[0].load() || project.generating[1].load() || layer_genkind.load())
        return 0;
    for (uint32_t drag : view_dragstates)
        if (drag)
            return 0;
    if (view_gizmodrag[0] || view_gizmodrag[1] || view_dialogid() != 0)
        return 0;
    // The interaction modes: each is -1 when off, so one AND tells them all.
    return (cam_generatingop & project_rastertool & project_pathslayeredit & project_textlayeredit &
            project_removelayer) == -1;
}

// Step 2.
static void backup_decide()
{
    double now = sys_time;
    float changed = project_changetime.load();
    if (changed <= 0.0f || project_savebusy.load() || project_backupdone)
        return;
    if (now - changed <= 3.0 || now - project_backuptime <= cfg_getf(cfg_backupinterval))
        return;
    if (!project_canvas.img || !backup_idle())
        return;
    project_backupdone = 1;
    project_backuptime = (float)now;
    backup_examined = changed;
    if (!cfg_geti(cfg_autobackup))
        return;
    sys_log("!!! backing up project !!!");
    if (project_save(sys_backuppath, 1))
        config_save();
}

// Steps 3 and 4. A manipulation lasts only while a drag of the view runs:
// clearing it in the first frame without one lets the fast view end.
static void backup_redraws()
{
    int dragging = view_rasterdrag || view_moved || view_gizmodrag[0] || view_gizmodrag[1];
    for (uint32_t drag : view_dragstates)
        dragging |= drag != 0;
    if (!dragging)
        view_manipulating = 0;
    uint32_t fast = cfg_geti(cfg_fastview) ? view_manipulating : 0;
    if (fast != view_fastview)
        view_redraw = 1;
    view_fastview = fast;
    if (project_rastertool != view_lastrastertool) {
        view_redraw = 1;
        view_lastrastertool = project_rastertool;
    }
}

void view_backup()
{
    backup_takepost();
    backup_decide();
    backup_redraws();
}
