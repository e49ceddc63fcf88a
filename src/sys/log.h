// The run's log: time-stamped lines written to the log file and split into
// an in-memory console ring of 4,096 lines, the one-line status text and the
// error report with its throttled message box. Also the seconds clock every
// time stamp and elapsed time is read from. Callable from any thread.
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
void sys_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Allocates the console ring (start-up) and frees it with its lines (exit).
int con_alloc();
void con_free();
