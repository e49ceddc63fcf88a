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

char **sys_console = nullptr;
uint32_t sys_consolecount = 0;
int sys_logfile = -1;
int sys_logmutex = -1;
int sys_statusmutex = -1;
char sys_statustext[sys_statusmax];
float sys_statustime = 0;
std::atomic<float> sys_errortime{-99999.0f};

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
    float now = (float)sys_time;
    if (now - sys_errortime > 1.0f)
        sys_messagebox("Error", text, 0, 6, 0);
    sys_errortime = now;
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
