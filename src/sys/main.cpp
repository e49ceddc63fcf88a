// Start-up and shutdown. sys_main prepares the per-user folder, the log and
// the platform, has sys_init start every subsystem, runs the frame loop
// until sys_quit is set and then takes everything down in a fixed order. A
// failed step sets sys_quit and falls through to the same shutdown, which
// tests every handle before it releases it.
#include "sys/main.h"

#include "platform/xerrors.h"

#include "cam/cam.h"
#include "geom/mesh.h"
#include "geom/meshshader.h"
#include "img/convolve.h"
#include "img/image.h"
#include "online/conlib.h"
#include "online/update.h"
#include "online/upload.h"
#include "platform/path.h"
#include "project/project.h"
#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/download.h"
#include "sys/event.h"
#include "sys/file.h"
#include "sys/frame.h"
#include "sys/init.h"
#include "sys/log.h"
#include "sys/mem.h"
#include "sys/thread.h"
#include "sys/waits.h"
#include "sys/var.h"
#include "sys/window.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/shader.h"
#include "render/sysfont.h"
#include "view/view.h"

#include <SDL_image.h>
#include <curl/curl.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

std::atomic<int> sys_quit{0};
char sys_runstamp[32];
char sys_userfolder[1024];
char sys_programfolder[1024];
char sys_configpath[1024];
char sys_logpath[1024];
char sys_backuppath[1024];
int sys_drawable[2];
float sys_aspect = 1.0f;
int sys_maximised = 0;
int sys_memorymb = 0;
int sys_cpucount = 0;
SDL_Window *sys_window = nullptr;
SDL_GLContext sys_workercontext = nullptr;
SDL_GLContext sys_context = nullptr;

static int main_sdlready = 0;
static int main_framesheld = 0; // the main thread holds the frame mutex

static const char *const main_builddate = "Jan  2 2025";

static void main_banner(const char *phase)
{
    sys_log("");
    sys_log(" ------------------------------------------ %s ------------------------------------------ ", phase);
}

static void main_phase(const char *name)
{
    sys_log("");
    sys_log("%s", name);
}

// Failure exit: the user gets a moment to read the error before shutdown.
static void main_fail()
{
    if (!sys_quit) {
        sys_quit = 1;
        SDL_Delay(1000);
    }
}

int sys_workersfor(int cpus)
{
    return cpus < 2 ? 2 : cpus > sys_maxthreads ? sys_maxthreads : cpus;
}

int sys_multicoreprompt(const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    int yes = sys_messagebox("Error", text, 2, 5, 0);
    sys_log("[ ERROR ] %s = %s", text, yes ? "YES" : "NO");
    return yes;
}

// Steps 1-2: run stamp, per-user folder, the paths built from it.
static void main_paths(int argc, char **argv)
{
    time_t now = time(nullptr);
    struct tm t;
    localtime_r(&now, &t);
    snprintf(sys_runstamp, sizeof(sys_runstamp), "%2d%02d%02d-%02d%02d%02d", t.tm_year - 100,
             t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);

    if (!plat_userfolder("Halvenstrom", "Kerfmill", sys_userfolder, sizeof(sys_userfolder)))
        printf("!!! failed to find the per-user folder: %s\n", SDL_GetError());
    plat_joinpath(sys_configpath, sizeof(sys_configpath), sys_userfolder, "config.dat");
    char logname[64];
    snprintf(logname, sizeof(logname), "%s-log.txt", sys_runstamp);
    plat_joinpath(sys_logpath, sizeof(sys_logpath), sys_userfolder, logname);
    char updater[1024];
    if (plat_joinpath(updater, sizeof(updater), sys_userfolder, "updater.exe"))
        plat_remove(updater);
    if (!plat_programfolder(argc > 0 ? argv[0] : nullptr, sys_programfolder, sizeof(sys_programfolder)))
        snprintf(sys_programfolder, sizeof(sys_programfolder), ".");
}

// Steps 3-7: file table and log, console ring, program folder, identification.
static void main_log()
{
    if (file_tablealloc())
        sys_logfile = file_open(sys_logpath, "at");
    con_alloc();
    if (!plat_chdir(sys_programfolder))
        sys_log("failed to enter the program folder \"%s\"", sys_programfolder);
    sys_log(" ");
    sys_log(" [ %s - %s ]", SYS_TITLE, main_builddate);
    sys_log(" [ %s - %s ]", "Halvenstrom CNC software", "https://kerfmill.example");
    sys_log(" ");
    sys_log("EXE: %s (%d)", sys_programfolder, (int)strlen(sys_programfolder));
    sys_log("USER: %s (%d)", sys_userfolder, (int)strlen(sys_userfolder));
    sys_log("LOG: %s (%d)", sys_logpath, (int)strlen(sys_logpath));
    sys_log("CFG: %s (%d)", sys_configpath, (int)strlen(sys_configpath));
    main_banner("INIT");
}

// Steps 8-10: configuration, script variables, window state.
static void main_settings()
{
    main_phase("configuration...");
    config_init();
    main_phase("script...");
    for (int i = 0; i < 4; i++) {
        char name[8];
        snprintf(name, sizeof(name), "arg%d", i);
        var_new(name);
    }
    srand((unsigned)time(nullptr));
    main_phase("system...");
    sys_drawable[0] = cfg_geti(cfg_windowwidth);
    sys_drawable[1] = cfg_geti(cfg_windowheight);
    sys_maximised = cfg_geti(cfg_windowmaximised);
}

static void main_curl()
{
    main_phase("libcurl initialization...");
    CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (rc != CURLE_OK) {
        sys_log("...libcurl initialization failed!!! (%d)", (int)rc);
        return;
    }
    sys_log("...libcurl initialization success (%s)", curl_version());
    sys_downloadinit();
}

// Step 12: SDL with video, its version, the high-resolution clock, drivers.
static int main_sdl()
{
    // The window's close button is the frame loop's to answer; a quit event
    // then only comes from a termination signal.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        sys_log("SDL init failed: %s", SDL_GetError());
        return 0;
    }
    main_sdlready = 1;
    plat_xerrors();
    sys_log("...initialized SDL");
    SDL_version v;
    SDL_GetVersion(&v);
    sys_log("system version: %d.%d.%d", v.major, v.minor, v.patch);
    sys_startclock();
    for (int i = 0; i < SDL_GetNumVideoDrivers(); i++)
        sys_log("driver #%02d = \"%s\"", i, SDL_GetVideoDriver(i));
    SDL_GetNumVideoDisplays();
    return 1;
}

// Step 13: all four image formats are required.
static int main_sdlimage()
{
    int want = IMG_INIT_JPG | IMG_INIT_PNG | IMG_INIT_TIF | IMG_INIT_WEBP;
    int got = IMG_Init(want);
    if (got != want) {
        sys_log("IMG_Init = JPG:%d PNG:%d TIF:%d WEBP:%d", got & 1, got & 2, got & 4, got & 8);
        sys_error("failed to initialize all image libraries! (%04X)", got);
        return 0;
    }
    sys_log("...initialized SDL_image");
    return 1;
}

// Steps 15-18: memory and CPUs, the multi-core question, the worker pool.
static int main_workers()
{
    sys_memorymb = SDL_GetSystemRAM();
    sys_cpucount = SDL_GetCPUCount();
    sys_log("system memory: %dmb", sys_memorymb);
    sys_log("logical CPUs: %d", sys_cpucount);
    if (sys_cpucount < 2 &&
        !sys_multicoreprompt("Multi-core CPU not found! Program may not run properly or as designed. Force-run anyway?"))
        return 0;
    sys_threadsinit();
    sys_threadsstart(sys_workersfor(sys_cpucount));
    return 1;
}

static int main_startup(int argc, char **argv)
{
    main_paths(argc, argv);
    main_log();
    main_settings();
    main_curl();
    if (!main_sdl() || !main_sdlimage() || !main_workers())
        return 0;
    if (!sys_openwindow())
        return 0;
    return sys_init();
}

// Loop steps 27-31: a few frames first, so the first canvas is composed,
// then frames until something sets sys_quit.
// Step 29: a project named on the command line, else a backup left by a
// crash is offered.
static void main_openproject(const char *path)
{
    if (path) {
        project_load(path, 1);
        return;
    }
    FILE *backup = sys_fopen(sys_backuppath, "rb");
    if (!backup)
        return;
    fclose(backup);
    const char *text =
        "An automatic project backup has been found indicating that Kerfmill may have experienced a crash. "
        "\n\nPlease help us find and fix crashes: e-mail the recent log files (under the File menu) "
        "and any details of what happened to support@kerfmill.example."
        "\n\nWould you like to recover the project backup?";
    if (sys_messagebox("Recover Automatic Backup", text, 2, 4, 0))
        project_load(sys_backuppath, 0);
}

// Step 30: after an upgrade of the configuration, point to the change list.
static void main_announceupdate()
{
    if (!cfg_updated)
        return;
    if (sys_messagebox("New Update Installed",
                       "Kerfmill has updated to a new version. Would you like to visit our News page to learn about "
                       "what is included with this update?",
                       2, 5, 0))
        sys_shellexecute("%s", "https://kerfmill.example/news");
    sys_log("update installed, opening changelist...");
    sys_shellexecute("%s", "changes.txt");
}

static void main_loop(const char *projectpath)
{
    main_banner("LOOP");
    sys_lockmutex(sys_framemutex);
    main_framesheld = 1;
    sys_frame();
    sys_waituntil([] { return !project.updatingcanvas.load(); }, 10.0, "main_loop");
    sys_frame();
    sys_frame();
    main_openproject(projectpath);
    main_announceupdate();
    while (!sys_quit) {
        sys_frame();
        sys_framecount++;
    }
}

// Shutdown steps 1-4: the frame mutex, the workers, the log locks.
static void main_stopworkers()
{
    if (main_framesheld) {
        sys_unlockmutex(sys_framemutex);
        main_framesheld = 0;
    }
    main_banner("QUIT");
    sys_threadsquit();
    SDL_Delay(250);
    int *ids[] = {&sys_logmutex, &sys_statusmutex, &sys_framemutex};
    for (int *id : ids) {
        sys_destroymutex(*id);
        *id = -1;
    }
}

static void main_stopupdate()
{
    main_phase("update...");
    if (!update_downloaded)
        sys_log("...no update downloaded");
    else if (!update_complete)
        sys_log("...update download not finished!!!");
    else
        update_install();
}

// The two convolution programs go with the image start's shutdown; the
// other image programs live as long as the context.
static void main_freeimageshaders()
{
    int *slots[] = {&img_convolveshader, &img_minkowskishader};
    for (int *slot : slots) {
        if (*slot >= 0)
            r_freeshader(*slot);
        *slot = -1;
    }
}

// Shutdown steps 6-17: every subsystem, in reverse order of its start.
static void main_stopsubsystems()
{
    main_phase("gui...");
    main_phase("project...");
    project_quit();
    main_phase("cam...");
    cam_quit();
    main_phase("mesh...");
    mesh_quit();
    main_phase("view...");
    view_quit();
    main_phase("font...");
    main_phase("model...");
    if (gl_version >= 20)
        model_quit();
    main_phase("image...");
    main_freeimageshaders();
    sys_destroymutex(img_mutex);
    img_mutex = -1;
    main_phase("text...");
    sys_quitfonts();
    main_phase("ttf...");
    sys_quitfreetype();
    main_phase("event...");
    event_free();
    main_phase("render...");
    r_quitdraw();
    main_phase("input...");
    sys_destroymutex(sys_memmutex);
    sys_memmutex = -1;
}

// Shutdown steps 18-21: libcurl, SDL2_image, the locks, the window, SDL.
static void main_stopplatform()
{
    main_phase("system...");
    if (sys_downloadready) {
        sys_downloadquit();
        curl_global_cleanup();
        sys_log("...shutdown libcurl");
    }
    conlib_uploadquit();
    conlib_quit();
    IMG_Quit();
    sys_storewindowstate();
    sys_threadsdone();
    sys_destroymutexes();
    sys_closewindow();
    if (main_sdlready)
        SDL_Quit();
    sys_log("...shutdown SDL");
    char **strings[] = {&gl_renderer, &gl_versionstring, &gl_vendor, &gl_extensions};
    for (char **str : strings) {
        sys_free(*str);
        *str = nullptr;
    }
    sys_log("... freed GL strings");
}

// Shutdown steps 22-25: configuration, the remaining memory, the log.
static void main_stoplog()
{
    main_phase("config...");
    config_save();
    sys_log("%3.1fmb allocations remaining", sys_memtotal / 1048576.0);
    main_banner("DONE");
    // A normal exit leaves no backup behind.
    if (sys_backuppath[0])
        remove(sys_backuppath);
    sys_log("returning to OS...");
    file_close(sys_logfile);
    sys_logfile = -1;
    printf("...closed logfile\n");
    con_free();
    file_tablefree();
    printf("...freed console lines (%d bytes allocated)\n", (int)sys_memtotal);
}

int sys_main(int argc, char **argv)
{
    if (main_startup(argc, argv))
        main_loop(argc >= 2 ? argv[1] : nullptr);
    else
        main_fail();
    main_stopworkers();
    main_stopupdate();
    main_stopsubsystems();
    main_stopplatform();
    main_stoplog();
    return 0;
}
