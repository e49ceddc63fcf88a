// Start-up and shutdown: the process-wide values that start-up sets and the
// rest of the program reads, and sys_main, which runs the whole program.
#pragma once
#include <SDL.h>

#include <atomic>
#include <cstdint>

#define SYS_TITLE "Kerfmill v1.86b 64-bit "

extern std::atomic<int> sys_quit;    // once set, no job is queued and the loop ends
extern char sys_runstamp[32];        // local start time, names the log file
extern char sys_userfolder[1024];    // per-user folder, no trailing separator
extern char sys_programfolder[1024]; // folder of the executable, the current directory
extern char sys_configpath[1024];
extern char sys_logpath[1024];
extern char sys_backuppath[1024];
extern int sys_drawable[2];
extern float sys_aspect;
extern int sys_maximised;
extern int sys_memorymb;
extern int sys_cpucount;
extern SDL_Window *sys_window;
extern SDL_GLContext sys_workercontext;
extern SDL_GLContext sys_context;

int sys_main(int argc, char **argv);
// Asks whether to run without a multi-core CPU; 1 for yes.
int sys_multicoreprompt(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Worker count for a CPU count: at least 2, at most 64.
int sys_workersfor(int cpus);
