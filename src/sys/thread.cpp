// The worker pool and job queue. Jobs are records of a 1,024-slot table; a
// ring of record indexes with two ever-increasing counters is the queue.
// Adding holds the add-job lock, claiming the check-job lock. Fields shared
// between threads are atomics so the queue is race-free.
#include "sys/thread.h"

#include "render/shader.h"
#include "sys/frame.h"
#include "sys/log.h"
#include "sys/main.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

job sys_jobs[sys_maxjobs];
sys_thread sys_threads[sys_maxthreads];
int sys_numthreads = 0;
std::atomic<int> sys_jobspending{0};

static std::atomic<int> job_ring[sys_maxjobs];
static std::atomic<uint32_t> job_write{0};
static std::atomic<uint32_t> job_read{0};
static SDL_mutex *job_addlock = nullptr;
static SDL_mutex *job_checklock = nullptr;
static SDL_mutex *job_contextlock = nullptr;

// Idle workers sleep on this semaphore until a job is queued or the pool
// quits, so an idle program costs no processor time. A post made before a
// worker sleeps is kept by the count, so no wake-up is lost; the time-out
// only bounds the damage if one ever were. (A condition variable here hung
// the queuing thread inside its signal call now and then under load.)
static std::atomic<SDL_sem *> job_idle{nullptr};
constexpr Uint32 job_idlewaitms = 100;

static std::atomic<SDL_mutex *> sys_mutexes[sys_maxmutexes];
static std::mutex mutex_tablelock; // serialises creating and destroying slots
static thread_local int mutex_held = 0; // see sys_heldmutexes

// Locks a plain SDL mutex for a scope; a missing lock (before start-up or in
// tests that never made one) is simply not taken.
struct job_lock {
    SDL_mutex *m;
    explicit job_lock(SDL_mutex *l) : m(l) { if (m) SDL_LockMutex(m); }
    ~job_lock() { if (m) SDL_UnlockMutex(m); }
};

void sys_threadsinit()
{
    job_addlock = SDL_CreateMutex();
    job_checklock = SDL_CreateMutex();
    job_contextlock = SDL_CreateMutex();
    for (auto &m : sys_mutexes)
        m = nullptr;
}

void sys_threadsstart(int count)
{
    sys_numthreads = 0;
    if (!job_idle.load())
        job_idle = SDL_CreateSemaphore(0);
    for (int i = 0; i < count && i < sys_maxthreads; i++) {
        sys_thread *t = &sys_threads[i];
        snprintf(t->name, sizeof(t->name), "thread%02d", i);
        t->quit = 0;
        t->current = -1;
        sys_log("starting %s...", t->name);
        t->handle = SDL_CreateThread(sys_workerthread, t->name, t);
        if (!t->handle) {
            sys_log("sys_threadsstart: %s failed: %s", t->name, SDL_GetError());
            break;
        }
        sys_numthreads++;
    }
}

// Copies what the overflow report prints, so the log is written without
// holding the add-job lock and without racing workers that finish jobs.
struct job_snapshot {
    std::string name, thread;
    float spawn, start, end;
};

static void job_logoverflow(const std::vector<job_snapshot> &jobs)
{
    for (size_t i = 0; i < jobs.size(); i++) {
        const job_snapshot &j = jobs[i];
        sys_log("job[%d]:%s thrd:%s spawn:%f start:%f end:%f", (int)i, j.name.c_str(),
                j.thread.c_str(), j.spawn, j.start, j.end);
    }
    sys_error("sys_threadjob: threaded jobs overflow!");
}

// Wakes one sleeping worker per post; posts beyond the worker count are
// not made, so a pool with no workers running never piles them up.
static void job_wake(int count)
{
    SDL_sem *sem = job_idle.load();
    if (!sem)
        return;
    for (int i = 0; i < count; i++)
        if ((int)SDL_SemValue(sem) < sys_maxthreads)
            SDL_SemPost(sem);
}

static int job_findfree()
{
    uint32_t first = job_write.load() % sys_maxjobs;
    for (int n = 0; n < sys_maxjobs; n++) {
        int i = (first + n) % sys_maxjobs;
        if (!sys_jobs[i].function.load() && !sys_jobs[i].worker.load())
            return i;
    }
    return -1;
}

static std::vector<job_snapshot> job_snapshotall()
{
    std::vector<job_snapshot> all(sys_maxjobs);
    for (int i = 0; i < sys_maxjobs; i++) {
        job &j = sys_jobs[i];
        sys_thread *w = j.worker.load();
        all[i] = {j.name, w ? w->name : "NULL", j.spawn.load(), j.start.load(), j.end.load()};
    }
    return all;
}

int sys_threadjob(const char *name, job_function function, void *argument)
{
    if (sys_quit)
        return -1;
    std::vector<job_snapshot> full;
    int slot = -1;
    {
        job_lock g(job_addlock);
        int i = job_findfree();
        if (i >= 0) {
            job &j = sys_jobs[i];
            snprintf(j.name, sizeof(j.name), "%s", name ? name : "");
            j.argument = argument;
            j.spawn = (float)sys_seconds();
            j.start = -1.0f;
            j.end = -1.0f;
            j.function = function;
            // The entry is in place before the counter shows it.
            job_ring[job_write.load() % sys_maxjobs].store(i);
            job_write.fetch_add(1);
            sys_jobspending.fetch_add(1);
            slot = i;
        } else {
            full = job_snapshotall();
        }
    }
    if (slot >= 0) {
        job_wake(1);
        return slot;
    }
    job_logoverflow(full);
    return -1;
}

int sys_threadjobrun(const char *name, job_function function, void *argument)
{
    int slot = sys_threadjob(name, function, argument);
    if (slot < 0)
        function(argument);
    return slot;
}

// Claims the job at the read counter, if any; returns its index or -1.
static int job_claim(sys_thread *self)
{
    job_lock g(job_checklock);
    uint32_t r = job_read.load();
    if (r == job_write.load())
        return -1;
    int i = job_ring[r % sys_maxjobs].load();
    if (sys_jobs[i].worker.load())
        return -1;
    sys_jobs[i].worker = self;
    self->current = i;
    job_read.store(r + 1);
    return i;
}

static void job_run(sys_thread *self, int i)
{
    job &j = sys_jobs[i];
    j.start = (float)sys_seconds();
    j.function.load()(j.argument.load());
    j.end = (float)sys_seconds();
    self->current = -1;
    {
        job_lock g(job_addlock);
        sys_jobspending.fetch_sub(1);
    }
    // Function last: a record is free once function and worker are both null.
    j.argument = nullptr;
    j.worker = nullptr;
    j.function = nullptr;
}

int sys_workerthread(void *record)
{
    sys_thread *self = (sys_thread *)record;
    self->id = SDL_ThreadID();
    for (;;) {
        int i = job_claim(self);
        if (i >= 0)
            job_run(self, i);
        if (job_read.load() == job_write.load()) {
            if (self->quit)
                break;
            if (SDL_sem *sem = job_idle.load())
                SDL_SemWaitTimeout(sem, job_idlewaitms);
            else
                SDL_Delay(job_idlewaitms);
        } else {
            SDL_Delay(0);
        }
    }
    sys_log("thread id%02lu returning...", (unsigned long)self->id.load());
    return 0;
}

void sys_threadsquit()
{
    sys_log("sys_threadsquit: killing worker threads...");
    for (int i = 0; i < sys_numthreads; i++)
        sys_threads[i].quit = 1;
    job_wake(sys_numthreads);
    sys_log("sys_threadsquit: waiting for threads...");
    for (int i = 0; i < sys_numthreads; i++) {
        sys_thread *t = &sys_threads[i];
        int cur = t->current;
        if (cur >= 0)
            sys_log("thread[%d] job[%d] = %s spawn:%f start:%f", i, cur, sys_jobs[cur].name,
                    sys_jobs[cur].spawn.load(), sys_jobs[cur].start.load());
        else
            sys_log("thread[%d] job[%d]", i, cur);
        SDL_WaitThread(t->handle, nullptr);
        t->handle = nullptr;
        sys_log("%s returned", t->name);
    }
    sys_numthreads = 0;
}

void sys_threadsdone()
{
    SDL_DestroyMutex(job_addlock);
    job_addlock = nullptr;
    sys_log("destroyed addjob mutex");
    SDL_DestroyMutex(job_checklock);
    job_checklock = nullptr;
    sys_log("destroyed checkjob mutex");
    SDL_DestroyMutex(job_contextlock);
    job_contextlock = nullptr;
    sys_log("destroyed context mutex");
    if (SDL_sem *sem = job_idle.exchange(nullptr))
        SDL_DestroySemaphore(sem);
}

int sys_idleworkers()
{
    int idle = sys_numthreads - sys_jobspending.load();
    return idle > 0 ? idle : 0;
}

int sys_createmutex()
{
    std::lock_guard<std::mutex> g(mutex_tablelock);
    for (int i = 0; i < sys_maxmutexes; i++) {
        if (!sys_mutexes[i].load()) {
            SDL_mutex *m = SDL_CreateMutex();
            if (!m)
                return -1;
            sys_mutexes[i] = m;
            sys_log("created mutex #%d", i);
            return i;
        }
    }
    return -1;
}

static SDL_mutex *mutex_get(int id)
{
    return id >= 0 && id < sys_maxmutexes ? sys_mutexes[id].load() : nullptr;
}

void sys_destroymutex(int id)
{
    std::lock_guard<std::mutex> g(mutex_tablelock);
    SDL_mutex *m = mutex_get(id);
    if (!m)
        return;
    sys_mutexes[id] = nullptr;
    SDL_DestroyMutex(m);
}

void sys_lockmutex(int id)
{
    if (SDL_mutex *m = mutex_get(id)) {
        SDL_LockMutex(m);
        mutex_held += id != sys_framemutex;
    }
}

void sys_unlockmutex(int id)
{
    if (SDL_mutex *m = mutex_get(id)) {
        mutex_held -= id != sys_framemutex;
        SDL_UnlockMutex(m);
    }
}

int sys_heldmutexes()
{
    return mutex_held;
}

void sys_destroymutexes()
{
    for (int i = 0; i < sys_maxmutexes; i++) {
        if (SDL_mutex *m = mutex_get(i)) {
            SDL_LockMutex(m);
            SDL_UnlockMutex(m);
            sys_destroymutex(i);
        }
    }
    sys_log("destroyed subsystem mutexes");
}

int sys_makecurrent(int acquire)
{
    int ok = 1;
    if (acquire) {
        sys_lockmutex(sys_framemutex);
        if (job_contextlock)
            SDL_LockMutex(job_contextlock);
        if (!sys_workercontext) {
            sys_log("sys_makecurrent: no worker context");
            ok = 0;
        } else if (SDL_GL_MakeCurrent(sys_window, sys_workercontext) != 0) {
            sys_log("sys_makecurrent: %s", SDL_GetError());
            ok = 0;
        }
        r_resetbindings(); // the renderer's bind caches described the other context
        return ok;
    }
    if (SDL_GL_MakeCurrent(sys_window, nullptr) != 0) {
        sys_log("sys_makecurrent: %s", SDL_GetError());
        ok = 0;
    }
    r_resetbindings();
    if (job_contextlock)
        SDL_UnlockMutex(job_contextlock);
    sys_unlockmutex(sys_framemutex);
    return ok;
}
