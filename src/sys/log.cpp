// Log lines, the console ring, status and error reports, and the clock.
// A line is formatted once into a 2,048-character buffer, written and flushed
// to the log file, then split at newlines into console lines; both happen
// under the log mutex so lines from different threads never interleave.
#include "sys/log.h"

#include "sys/config.h"
#include "sys/dialog.h"
#include "sys/file.h"
#include "sys/frame.h"
#include "sys/main.h"
#include "sys/mem.h"
#include "sys/thread.h"

#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

char **sys_console = nullptr;
uint32_t sys_consolecount = 0;
int sys_logfile = -1;
int sys_logmutex = -1;
int sys_statusmutex = -1;
char sys_statustext[sys_statusmax];
float sys_statustime = 0;
std::atomic<float> sys_errortime{-99999.0f};

// Static initialisation runs on the thread that starts the process, which
// is the one that creates the window and runs the frame loop.
static const SDL_threadID log_mainthread = SDL_ThreadID();

// Pending notices, oldest first. A plain lock of their own: posting must
// work on any thread, with or without table mutexes held.
static std::mutex notice_lock;
static sys_notice notice_queue[sys_maxnotices];
static int notice_first = 0, notice_count = 0;

static int clock_ready = 0;
static double clock_tick = 0;  // seconds per performance-counter tick
static double clock_start = 0; // subtracted from counter x tick

double sys_seconds()
{
    if (clock_ready)
        return (double)SDL_GetPerformanceCounter() * clock_tick - clock_start;
    // Before SDL's counter is set up: a monotonic clock from the first call.
    static const auto origin = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - origin).count();
}

void sys_startclock()
{
    double before = sys_seconds();
    clock_tick = 1.0 / (double)SDL_GetPerformanceFrequency();
    clock_start = (double)SDL_GetPerformanceCounter() * clock_tick - before;
    clock_ready = 1;
}

// Stores one console line in the ring slot of the write counter.
static void con_store(const char *piece, size_t len)
{
    char **slot = &sys_console[sys_consolecount++ % sys_consolelines];
    sys_free(*slot);
    *slot = (char *)sys_calloc((int32_t)len + 1, 1);
    if (*slot)
        memcpy(*slot, piece, len);
}

// Splits a line at newlines: a run of newlines is one separator and a
// trailing run adds no empty line.
static void con_append(const char *line)
{
    const char *p = line;
    while (*p) {
        size_t len = strcspn(p, "\n");
        if (len)
            con_store(p, len);
        p += len;
        while (*p == '\n')
            p++;
    }
}

static void log_write(const char *line)
{
    if (sys_logfile < 0 || sys_logfile >= sys_maxfiles) {
        printf("!!! file_print: invalid index %d (%s)\n", sys_logfile, line);
        return;
    }
    FILE *f = sys_files ? sys_files[sys_logfile] : nullptr;
    if (!f) {
        printf("!!! file_print: index %d not open (%s)\n", sys_logfile, line);
        return;
    }
    fprintf(f, "%s\n", line);
    fflush(f);
}

void file_print(const char *prefix, const char *format, va_list args)
{
    char line[sys_loglinemax];
    int n = snprintf(line, sizeof(line), "%5.4f ", (float)sys_seconds());
    if (prefix && n < (int)sizeof(line))
        n += snprintf(line + n, sizeof(line) - n, "%s ", prefix);
    if (n < (int)sizeof(line))
        vsnprintf(line + n, sizeof(line) - n, format, args);

    sys_mutexguard g(sys_logmutex);
    log_write(line);
    if (sys_console && !sys_quit && line[0])
        con_append(line);
}

void sys_log(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    file_print(nullptr, format, args);
    va_end(args);
}

void sys_debuglog(const char *format, ...)
{
    if (!cfg_geti(cfg_debuginfo))
        return;
    va_list args;
    va_start(args, format);
    file_print(">>", format, args);
    va_end(args);
}

void sys_status(const char *format, ...)
{
    char text[sys_statusmax];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);

    sys_mutexguard g(sys_statusmutex);
    if (strcmp(text, sys_statustext) != 0) {
        memcpy(sys_statustext, text, sizeof(text));
        sys_log("[ STATUS ] %s", text);
    }
    sys_statustime = (float)sys_seconds();
}

// Claims the error box of this error: the throttle's read and write are one
// step, so errors racing on several threads get one box between them.
static bool log_claimerrorbox(float now)
{
    float last = sys_errortime.load();
    bool box;
    do
        box = now - last > 1.0f;
    while (!sys_errortime.compare_exchange_weak(last, now));
    return box;
}

void sys_error(const char *format, ...)
{
    char text[sys_statusmax];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);

    sys_log("[ ERROR ] %s", text);
    // A burst of errors shows only its first box; errors of one frame share
    // the frame's time and so show at most one.
    if (log_claimerrorbox((float)sys_time))
        sys_notify("Error", 6, text);
}

void sys_notify(const char *caption, int icon, const char *text)
{
    // A box blocks its thread until answered: off the main thread SDL may
    // not open it, and with a lock held it would stall every thread that
    // waits for that lock. The next frame shows it instead.
    if (sys_onmainthread() && !sys_heldmutexes())
        sys_messagebox(caption, text, 0, icon, 0);
    else
        sys_postnotice(caption, icon, text);
}

int sys_onmainthread()
{
    return SDL_ThreadID() == log_mainthread;
}

void sys_postnotice(const char *caption, int icon, const char *text)
{
    std::lock_guard<std::mutex> g(notice_lock);
    if (notice_count == sys_maxnotices)
        return;
    sys_notice &n = notice_queue[(notice_first + notice_count++) % sys_maxnotices];
    n.icon = icon;
    snprintf(n.caption, sizeof(n.caption), "%s", caption);
    snprintf(n.text, sizeof(n.text), "%s", text);
}

int sys_takenotice(sys_notice *out)
{
    std::lock_guard<std::mutex> g(notice_lock);
    if (!notice_count)
        return 0;
    *out = notice_queue[notice_first];
    notice_first = (notice_first + 1) % sys_maxnotices;
    notice_count--;
    return 1;
}

int con_alloc()
{
    sys_console = (char **)sys_calloc(sys_consolelines, sizeof(char *));
    sys_consolecount = 0;
    return sys_console != nullptr;
}

void con_free()
{
    if (!sys_console)
        return;
    char **ring = sys_console;
    sys_console = nullptr;
    for (int i = 0; i < sys_consolelines; i++)
        sys_free(ring[i]);
    sys_free(ring);
}
