// The project record, its marks of change, and its lifecycle: start and
// shutdown, reset to the configured defaults, a new project, the switch of
// units, and saving (by name, through the save dialog, or as the backup) on
// a worker thread. The file format itself is projectfile.cpp.
#include "project/project.h"

#include "cam/cam.h"
#include "cam/simulate.h"
#include "cam/tool.h"
#include "cam/toolpath.h"
#include "img/image.h"
#include "project/canvas.h"
#include "project/genraster.h"
#include "project/layer.h"
#include "project/projectfile.h"
#include "project/transform.h"
#include "project/undo.h"
#include "render/fontcache.h"
#include "render/text.h"
#include "platform/path.h"
#include "project/surfaceshaders.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/event.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "sys/waits.h"

#include <SDL.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

project_record project;
int project_mutex = -1;
uint8_t *project_brush = nullptr;
int32_t project_selectedlayer = -1;
int32_t project_layergroup = 0;
int32_t project_rastertool = -1;
std::atomic<float> project_changetime{0.0f};
std::atomic<float> project_jobchangetime{0.0f};
uint32_t project_backupdone = 0;
float project_backuptime = 0.0f;
uint32_t project_saved = 1;
uint32_t project_hasfile = 0;
char project_filename[256] = "";
std::atomic<int32_t> project_savebusy{0};
std::atomic<int32_t> project_savingbackup{0};
float project_viewunitfactor = 1.0f;
// Long enough for a simulation step or a short generator to finish, short
// enough that a refused open or new project does not feel like a hang.
double project_worklimit = 5.0;
// The path of the running save: the job reads it, and a second save waits
// for the first before it writes here.
static char project_savepath[sizeof(project_record::path)];
// The save's outcome, for the main thread to take (project_takesave): the
// marks, the title and the file name change only after a good write.
enum project_saveoutcome { project_saveidle, project_saverunning, project_savewritten, project_savefailed };
static std::atomic<int32_t> project_saveoutcome{project_saveidle};
// Set when the project is reset while a save runs or its outcome waits:
// the outcome then names a project that is gone.
static std::atomic<int32_t> project_saveforgotten{0};
// project_changetime when the save was asked for: a change since then
// keeps the project unsaved whatever the outcome.
static float project_savestamp = 0.0f;

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

const char *project_unitname(uint32_t units)
{
    return project_unitnames[units <= 2 ? units : 0];
}

void project_new()
{
    if (!project_waitsave())
        return;
    project_setunits((uint32_t)cfg_geti(cfg_units));
    if (!project_reset())
        return;
    cam_settooldefaults();
    view_redraw = 1;
    sys_settitle("%s (%s)", SYS_TITLE, project_unitname(project.units));
    project_updatecanvas(1, 1, (uint32_t)project_layergroup);
    project_changetime = 0.0f;
    project_frameview();
}

void (*project_viewreset)(int mode) = nullptr;

void project_frameview()
{
    if (project_viewreset)
        project_viewreset(cfg_geti(cfg_keepview) ? 0 : 2);
}

int project_waitsave()
{
    return sys_waituntil([] { return !project_savebusy.load(); }, project_savelimit, "project_waitsave");
}

static int project_stepimages()
{
    for (const projop &o : project.ops)
        if (o.simbusy.load(std::memory_order_acquire))
            return 1;
    return 0;
}

static int project_simulating()
{
    return project_stepimages() || sim_jobcount.load(std::memory_order_acquire) > 0 || cam_simgenerating.load(std::memory_order_acquire);
}

static int project_camgenerating()
{
    for (const camop &op : cam_ops)
        if (op.generating.load(std::memory_order_acquire))
            return 1;
    return 0;
}

// Everything that reads or fills the project's tables from a worker.
static int project_workrunning()
{
    return project_camgenerating() || project_simulating() || project.generating[0] || project.generating[1] ||
           project_canvasjob.updating.load() || project_savebusy;
}

int project_workidle(const char *caller)
{
    // The simulation's and the layer generators' GPU steps need the frame
    // mutex: sys_waitunlocked lets it go for the wait.
    if (sys_waitunlocked([] { return !project_workrunning(); }, project_worklimit, caller))
        return 1;
    if (project_camgenerating() || project_stepimages()) {
        sys_log("%s: a toolpath or its simulation is still being calculated, the project is kept", caller);
        sys_status("...busy: try again when the toolpath is calculated");
    } else {
        sys_log("%s: background work (simulation, layer, canvas or save) still runs, the project is kept", caller);
        sys_status("...busy: try again when the background work is done");
    }
    return 0;
}

// A 2 x 2 selection of all ones: everything selected.
static void project_resetselection()
{
    img_free(selectionmap);
    selectionmap = nullptr;
    image *all = img_allocfloat("selection", 2, 2);
    if (!all)
        return;
    std::fill((float *)all->pixels, (float *)all->pixels + 4, 1.0f);
    if (project_selectiontexture)
        project_selectiontexture(all);
    img_free(all);
}

// A layer generator's result that the view has not installed was made from
// the old project: drop it, and let the generators start again. Only once
// the job has ended (a quit can end the wait before it does).
static void project_dropgenerated()
{
    if (project.generating[0] || project.generating[1])
        return;
    if (layer_gendone.load(std::memory_order_acquire) && layer_genrequest.result) {
        img_free(layer_genrequest.result);
        layer_genrequest.result = nullptr;
    }
    layer_gendone.store(0, std::memory_order_release);
    layer_genkind.store(0, std::memory_order_release);
}

// The surfaces' colours of a new project, from the view colours and the
// appearance colours of the configuration: canvas top and bottom, simulation
// gradient top and bottom, wood grain primary and ring.
static void project_resetcolours()
{
    struct colourfrom {
        float *to;
        int from;
    };
    const colourfrom table[] = {
        {project.canvascolor[0], cfg_viewcolor1}, {project.canvascolor[1], cfg_viewcolor2},
        {project.simcolor[0], cfg_viewcolor3},    {project.simcolor[1], cfg_viewcolor4},
        {project.woodcolor[0], cfg_appearcolor1}, {project.woodcolor[1], cfg_appearcolor2},
    };
    for (const colourfrom &c : table)
        for (int k = 0; k < 3; k++)
            c.to[k] = cfg_getf(c.from + 4 * k);
}

int project_reset()
{
    if (!project_workidle("project_reset"))
        return 0;
    project_dropgenerated();
    event_clear();
    project_freecanvas(1, 1, 1, 1);
    if (image *pending = project_canvasjob.pendingcanvas.exchange(nullptr))
        img_free(pending);
    project_canvasjob.installs = 0;
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
    project_resetcolours();
    project.colorcurve[0] = cfg_getf(cfg_canvascurve);
    project.colorcurve[1] = cfg_getf(cfg_simcurve);
    project.renderstyle = 0;
    for (int i = 0; i < 19; i++)
        project.rendersettings[i] = i == 0 || (i >= 7 && i <= 17) ? 0.5f : 0.0f;
    project.zfill = 0.0f;
    project.aspect = project.size[0] != 0.0f ? project.size[1] / project.size[0] : 1.0f;
    for (projop &o : project.ops)
        o.simbusy = 0;
    project_selectedlayer = -1;
    project_layergroup = 0;
    numlayers = 0;
    memset(numlayertypes, 0, sizeof(numlayertypes));
    project_saved = 1;
    if (project_saveoutcome.load(std::memory_order_acquire) != project_saveidle)
        project_saveforgotten = 1;
    sys_status("initialized default project");
    project_hasfile = 0;
    project_changetime = 0.0f;
    project_resetselection();
    return 1;
}

// The six configuration lengths held in PROJUNITS: the default canvas size,
// the minimum and maximum path lengths and the further length kept with
// them. Scaled together both ways, so a round trip restores them.
static void project_scaleconfiglengths(float factor)
{
    const int fields[6] = {cfg_canvassize, cfg_canvassize + 4, cfg_canvassize + 8,
                           cfg_pathminlength, cfg_pathmaxlength, cfg_value276};
    for (int f : fields)
        cfg_setf(f, cfg_getf(f) * factor);
}

void project_setunits(uint32_t units)
{
    int32_t projunits = cfg_geti(cfg_projunits);
    sys_log("! ! ! ! ! ! ! ! ! ! PROJECT_SETUNITS ! ! ! ! ! ! ! ! ! ! ! !");
    sys_log("cfg:%s / proj:%s", projunits == 2 ? "metric" : "inches", units == 2 ? "metric" : "inches");
    sys_log("minlen:%f maxlen:%f", cfg_getf(cfg_pathminlength), cfg_getf(cfg_pathmaxlength));
    sys_log("proj_size: %fx%fx%f", project.size[0], project.size[1], project.size[2]);
    if (units == 1) {
        cfg_setf(cfg_gridsubdiv, 0.25f);
        project.scale = 1.0f;
        project_viewunitfactor = 1.0f;
        if (projunits == 1) {
            project.units = units;
            return;
        }
        if (projunits == 2) {
            project_scaleconfiglengths(1.0f / 25.4f);
            sys_log("#### INCHES (min:%f max:%f scale:%f)", cfg_getf(cfg_pathminlength),
                    cfg_getf(cfg_pathmaxlength), 1.0);
        }
    } else {
        cfg_setf(cfg_gridsubdiv, 2.5f);
        project.scale = 0.03937008f;
        project_viewunitfactor = 25.0f;
        if ((uint32_t)projunits == units) {
            project.units = units;
            return;
        }
        if (units == 2 && projunits == 1) {
            project_scaleconfiglengths(25.4f);
            sys_log("#### METRIC (min:%f max:%f scale:%f)", cfg_getf(cfg_pathminlength),
                    cfg_getf(cfg_pathmaxlength), 0.03937007859349251);
        }
    }
    sys_log("default project size: %fx%fx%f", cfg_getf(cfg_canvassize), cfg_getf(cfg_canvassize + 4),
            cfg_getf(cfg_canvassize + 8));
    cfg_seti(cfg_projunits, (int32_t)units);
    config_save();
    project.units = units;
}

void job_saveproject(void *arg)
{
    const char *path = (const char *)arg;
    double elapsed = 0.0;
    int32_t bytes = project_write(path, &elapsed);
    int backup = project_savingbackup;
    double mb = bytes * 9.536743e-7;
    if (backup) {
        if (bytes < 1)
            sys_status("...failed to save backup!");
        else
            sys_status("...saved backup (%.2fmb, %.3fs)", mb, elapsed);
    } else if (bytes > 0) {
        sys_status("...saved project (%.2fmb, %.3fs)", mb, elapsed);
    } else {
        sys_error("Failed to save project file!");
        // The work is on no disk, even if it was clean before (a save to a
        // new name): New, Open and quit must ask. A change made meanwhile
        // has set a newer stamp already.
        float stamp = project_savestamp;
        project_changetime.compare_exchange_strong(stamp, (float)sys_seconds());
    }
    project_saveoutcome.store(bytes > 0 ? project_savewritten : project_savefailed, std::memory_order_release);
    project_savebusy = 0;
}

void project_takesave()
{
    int32_t outcome = project_saveoutcome.load(std::memory_order_acquire);
    if (outcome != project_savewritten && outcome != project_savefailed)
        return;
    project_saveoutcome.store(project_saveidle, std::memory_order_relaxed);
    if (project_saveforgotten.exchange(0) || project_savingbackup)
        return;
    if (outcome == project_savefailed) {
        project_saved = 0;
        return;
    }
    const char *name = project_savepath;
    for (const char *c = project_savepath; *c; c++)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    sys_settitle("%s - %s (%s)", SYS_TITLE, name, project_unitname(project.units));
    snprintf(project_filename, sizeof(project_filename), "%.255s", name);
    if (strcmp(project.path, project_savepath) != 0)
        snprintf(project.path, sizeof(project.path), "%s", project_savepath);
    cfg_settext(cfg_projectpath, project.path);
    project_hasfile = 1;
    float stamp = project_savestamp;
    if (project_changetime.compare_exchange_strong(stamp, 0.0f))
        project_saved = 1;
}

int project_save(const char *path, int backup)
{
    // Two saves would share the busy flag, the path buffer and the file.
    project_waitsave();
    if (project_savebusy) {
        sys_log("project_save: the previous save is still running, nothing saved");
        return 0;
    }
    project_takesave();
    if (strlen(path) >= sizeof(project_savepath)) {
        sys_log("project_save: path of %d bytes too long", (int)strlen(path));
        return 0;
    }
    snprintf(project_savepath, sizeof(project_savepath), "%s", path);
    project_savingbackup = backup ? 1 : 0;
    project_savestamp = project_changetime;
    project_saveforgotten = 0;
    project_saveoutcome = project_saverunning;
    project_savebusy = 1;
    if (sys_threadjob("saveproject", job_saveproject, project_savepath) < 0) {
        sys_log("project_save: the save job could not be queued");
        project_saveoutcome = project_saveidle;
        project_savebusy = 0;
        return 0;
    }
    return 1;
}

int project_haskfm(const char *path)
{
    size_t n = strlen(path);
    return n >= 4 && path[n - 4] == '.' && tolower((unsigned char)path[n - 3]) == 'k' &&
           tolower((unsigned char)path[n - 2]) == 'f' && tolower((unsigned char)path[n - 1]) == 'm';
}

// The dialog's proposal: the known path with the extension of its last
// component made ".kfm"; nothing when the path names no folder.
static std::string project_proposal(const char *known)
{
    std::string p = known;
    size_t slash = p.find_last_of("/\\");
    if (slash == std::string::npos)
        return "";
    size_t dot = p.find_last_of('.');
    if (dot != std::string::npos && dot > slash)
        p.erase(dot);
    return p + ".kfm";
}

int proj_saveas()
{
    const char *known = project.path[0] ? project.path : cfg_gettext(cfg_projectpath);
    sys_log("known path: [%s]", known);
    std::string start = project_proposal(known);
    sys_log("proposing [%s]", start.c_str());
    static const char filter[] = "Kerfmill Project File\0*.kfm\0";
    if (!file_savedialog("Save Project", start.c_str(), filter, "kfm")) {
        sys_log("failed to get filesave path");
        return 0;
    }
    std::string chosen = file_lastsavepath;
    if (!project_haskfm(chosen.c_str()))
        chosen += ".kfm";
    if (chosen.size() >= sizeof(project.path)) {
        sys_log("proj_saveas: path of %d bytes too long", (int)chosen.size());
        return 0;
    }
    sys_log("%s", chosen.c_str());
    return project_save(chosen.c_str(), 0);
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
    // A new project asks for its canvas at once: the composition is freed here.
    project_freecanvas(1, 1, 1, 1);
    if (image *pending = project_canvasjob.pendingcanvas.exchange(nullptr))
        img_free(pending);
    sys_destroymutex(project_mutex);
    project_mutex = -1;
    sys_log("...layers freed");
    for (int i = 0; i < cam_maxprojectops; i++)
        cam_removeoperation(i);
    sys_free(project_brush);
    project_brush = nullptr;
    project_freeshaders();
}
