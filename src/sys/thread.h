// Worker threads, the job queue and the mutex table. All long work runs as
// named jobs on a fixed pool of workers; a job never reports back, its owner
// polls state the job sets. Mutex ids name slots of a 64-slot table; -1 is
// "no mutex" and every operation on it does nothing.
#pragma once
#include <SDL.h>

#include <atomic>
#include <cstdint>

constexpr int sys_maxjobs = 1024;
constexpr int sys_maxthreads = 64;
constexpr int sys_maxmutexes = 64;

struct sys_thread;
typedef void (*job_function)(void *arg);

struct job {
    char name[256];
    std::atomic<job_function> function;
    std::atomic<void *> argument;
    std::atomic<sys_thread *> worker; // claiming worker; null while queued or free
    std::atomic<float> spawn, start, end; // seconds; start and end -1 until set
};

struct sys_thread {
    char name[32];
    SDL_Thread *handle;
    std::atomic<SDL_threadID> id;
    std::atomic<int> current; // job index, -1 idle
    std::atomic<int> quit;
};

extern job sys_jobs[sys_maxjobs];
extern sys_thread sys_threads[sys_maxthreads];
extern int sys_numthreads;
extern std::atomic<int> sys_jobspending; // queued or running

// Creates the queue's own locks and clears the mutex table.
void sys_threadsinit();
// Starts count workers (count already clamped to 2..64 by the caller).
void sys_threadsstart(int count);
int sys_threadjob(const char *name, job_function function, void *argument);
// Queues a job, or runs it on the calling thread when the queue refuses it,
// so that a caller waiting for the job's result is never left waiting.
int sys_threadjobrun(const char *name, job_function function, void *argument);
int sys_workerthread(void *record);
void sys_threadsquit();
// Destroys the queue's locks (shutdown, after the workers are joined).
void sys_threadsdone();
// Workers not busy with a queued or running job (never below 0).
int sys_idleworkers();

int sys_createmutex();
void sys_destroymutex(int id);
void sys_lockmutex(int id);
void sys_unlockmutex(int id);
// Table mutexes the calling thread holds, the frame mutex not counted (the
// main thread holds it for its whole frame).
int sys_heldmutexes();
// Destroys every mutex of the table, locking and unlocking each first so that
// no holder is cut off.
void sys_destroymutexes();

// Holds a table mutex for a scope.
struct sys_mutexguard {
    int id;
    explicit sys_mutexguard(int m) : id(m) { sys_lockmutex(id); }
    ~sys_mutexguard() { sys_unlockmutex(id); }
    sys_mutexguard(const sys_mutexguard &) = delete;
    sys_mutexguard &operator=(const sys_mutexguard &) = delete;
};

// The workers' shared OpenGL context, borrowed by jobs that draw: acquire
// locks the frame mutex, then the context mutex, then makes the context
// current; release undoes it in reverse order. 1 when the switch worked; 0
// (logged) when SDL refused it: an acquire then still holds both mutexes,
// and the caller must release to let them go.
int sys_makecurrent(int acquire);
