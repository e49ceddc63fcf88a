// Project file actions shared by the File menu and the toolbar, and the
// G-code export opener. Message boxes go through the toolkit's call table so
// the headless tests see what was asked.
#include "mainwindow/fileactions.h"

#include "cam/cam.h"
#include "cam/cnc.h"
#include "gui/calls.h"
#include "gui/dialog.h"
#include "gui/numbers.h"
#include "platform/path.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/convert.h"
#include "sys/dialog.h"
#include "sys/log.h"
#include "sys/main.h"
#include "view/modes.h"

#include <cstdio>
#include <cstring>

fileact_exportrecord fileact_export;

int fileact_blocked()
{
    return cam_generatingop != -1;
}

void fileact_refuse(const char *action)
{
    sys_status("...cannot %s while an operation is being generated", action);
}

int fileact_unsaved()
{
    return project_changetime.load() != 0.0f;
}

int fileact_mayreplace()
{
    if (!fileact_unsaved())
        return 1;
    return gui_calls->messagebox("Unsaved Project Changes",
                                 "Changes have been made to this project and will be lost if not saved. Would you "
                                 "like to continue without saving?",
                                 2, 4, 0);
}

// Whether the open project may give way: no generator runs, and nothing
// unsaved is lost without the user's Yes.
static int fileact_mayleave(const char *action)
{
    if (fileact_blocked()) {
        fileact_refuse(action);
        return 0;
    }
    return fileact_mayreplace();
}

int fileact_new()
{
    if (!fileact_mayleave("start a new project"))
        return 0;
    project_new();
    gui_sidepanel = 0;
    return 1;
}

int fileact_open()
{
    if (!fileact_mayleave("open a project"))
        return 0;
    if (!file_opendialog("Open Project", cfg_gettext(cfg_projectpath), "Kerfmill Project File\0*.kfm\0")) {
        sys_log("failed to get fileopen path");
        return 0;
    }
    char path[sys_dialogpathmax];
    snprintf(path, sizeof(path), "%s", file_lastopenpath);
    if (!project_load(path, 1))
        return 0;
    gui_sidepanel = 0;
    return 1;
}

int fileact_save()
{
    if (fileact_blocked()) {
        fileact_refuse("save the project");
        return 0;
    }
    if (!project_hasfile)
        return proj_saveas();
    return project_save(project.path, 0);
}

int fileact_saveas()
{
    if (fileact_blocked()) {
        fileact_refuse("save the project");
        return 0;
    }
    return proj_saveas();
}

// The spacing as its text field shows it: the unit's decimals, trailing
// zeros cut.
static void fileact_formatlength(char *out, int cap, float value)
{
    snprintf(out, (size_t)cap, "%.*f", (int)gui_unitdecimals((int32_t)project.units, value), value);
    str_trimzeros(out);
}

void fileact_exportgcode()
{
    // Post-processor paths are relative to the program folder.
    if (!plat_chdir(sys_programfolder))
        sys_log("fileact_exportgcode: cannot make \"%s\" current", sys_programfolder);
    const char *post = cfg_gettext(cfg_postpath);
    const char *sep = plat_lastsep(post);
    snprintf(fileact_export.postname, sizeof(fileact_export.postname), "%s", sep ? sep + 1 : post);
    cnc_loadpost();
    fileact_export.repeat[0] = (float)cfg_geti(cfg_exportrepeatx);
    fileact_export.repeat[1] = (float)cfg_geti(cfg_exportrepeaty);
    fileact_formatlength(fileact_export.spacing[0], (int)sizeof(fileact_export.spacing[0]),
                         cfg_getf(cfg_exportspacingx));
    fileact_formatlength(fileact_export.spacing[1], (int)sizeof(fileact_export.spacing[1]),
                         cfg_getf(cfg_exportspacingy));
    gui_setdialog(20);
}
