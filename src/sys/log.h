// The run's log: time-stamped lines written to the log file and split into
// an in-memory console ring of 4,096 lines, the one-line status text and the
// error report with its throttled message box. Also the seconds clock every
// time stamp and elapsed time is read from, and the pending notices that
// threads which may not show a box leave for the main thread's next frame.
// Callable from any thread.
#pragma once
#include <cstdarg>
#include <atomic>
#include <cstdint>

constexpr int sys_consolelines = 4096;
constexpr int sys_loglinemax = 2048;  // time stamp, prefix and message
constexpr int sys_statusmax = 1024;   // status and error texts

extern char **sys_console;          // 4,096 line pointers; null before start-up
extern uint32_t sys_consolecount;   // lines written; slot = count mod 4,096
extern int sys_logfile;             // file-table slot of the log; -1 none
extern int sys_logmutex;            // mutex ids; -1 until start-up makes them
extern int sys_statusmutex;
extern char sys_statustext[sys_statusmax];
extern float sys_statustime;
extern std::atomic<float> sys_errortime; // frame time of the last error report

double sys_seconds();
// Switches the clock to the performance counter without a jump in its value.
void sys_startclock();

void file_print(const char *prefix, const char *format, va_list args);
void sys_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
void sys_debuglog(const char *format, ...) __attribute__((format(printf, 1, 2)));
void sys_status(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Logs "[ ERROR ] text"; at most one error a second gets the "Error" box.
// The box opens at once only on the main thread holding no lock but the
// frame mutex; anywhere else it becomes a pending notice.
void sys_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A message box owed to the user: button set 0 (OK), the given icon.
struct sys_notice {
    int32_t icon;
    char caption[64];
    char text[sys_statusmax];
};
constexpr int sys_maxnotices = 8;

// 1 on the thread that started the process (the one that owns the window).
int sys_onmainthread();
// Shows the box now on the main thread when it holds no lock but the frame
// mutex; anywhere else leaves it as a pending notice.
void sys_notify(const char *caption, int icon, const char *text);
// Leaves a notice for the main thread; when sys_maxnotices are already
// waiting the new one is dropped (it is in the log).
void sys_postnotice(const char *caption, int icon, const char *text);
// Takes the oldest pending notice into out; 1 when there was one.
int sys_takenotice(sys_notice *out);

// Allocates the console ring (start-up) and frees it with its lines (exit).
int con_alloc();
void con_free();
