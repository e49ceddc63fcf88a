// Helper programs started with posix_spawnp: a pipe carries a dialog's answer
// back, and xdg-open gets a bounded wait for its verdict before a reaper
// thread takes over, so no child is left a zombie.
#include "platform/shell.h"

#include "sys/log.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char **environ;

// Starts args[0] with stdin from /dev/null and, when outfd >= 0, stdout (and
// with witherrors stderr too) into outfd. SDL's threads block signals and libraries may ignore SIGPIPE; both
// would carry over into the child, so it starts with a clean mask and the
// default handlers. Returns 0 or the errno of the failure.
static int shell_spawn(const std::vector<std::string> &args, int outfd, pid_t *pid, int witherrors = 0)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outfd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outfd, 1);
    if (outfd >= 0 && witherrors)
        posix_spawn_file_actions_adddup2(&actions, outfd, 2);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    int err = posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return err;
}

// Reads fd to its end; bytes beyond plat_outputmax are read and dropped so
// the child never blocks on a full pipe.
static void shell_drain(int fd, std::string *out)
{
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        size_t room = plat_outputmax - out->size();
        out->append(chunk, (size_t)n < room ? (size_t)n : room);
    }
}

static int shell_exitstatus(const char *name, int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    sys_log("plat_runcapture: %s ended by signal %d", name, WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return -1;
}

int plat_runcapture(const std::vector<std::string> &args, std::string *out, int witherrors)
{
    out->clear();
    if (args.empty())
        return -1;
    const char *name = args[0].c_str();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        sys_log("plat_runcapture: no pipe for %s: %s", name, strerror(errno));
        return -1;
    }
    pid_t pid;
    int err = shell_spawn(args, fds[1], &pid, witherrors);
    close(fds[1]);
    if (err) {
        close(fds[0]);
        sys_log("plat_runcapture: cannot run %s: %s", name, strerror(err));
        return -1;
    }
    shell_drain(fds[0], out);
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            sys_log("plat_runcapture: lost %s: %s", name, strerror(errno));
            return -1;
        }
    }
    return shell_exitstatus(name, status);
}

std::vector<std::string> plat_shellargs(const char *target)
{
    std::string t = target ? target : "";
    // A leading '-' would be read as an option; "./" keeps it a relative name.
    if (!t.empty() && t[0] == '-')
        t = "./" + t;
    return {"xdg-open", t};
}

static std::string shell_join(const std::vector<std::string> &args)
{
    std::string line;
    for (const std::string &a : args)
        line += (line.empty() ? "" : " ") + ("\"" + a + "\"");
    return line;
}

// xdg-open's own exit status: 0 opened, anything else a refusal it explains
// on stderr.
static int shell_verdict(int status)
{
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return 1;
    sys_log("plat_shellopen: xdg-open failed (status %d)", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}

int plat_shellopen(const char *target, int verdictms)
{
    std::vector<std::string> args = plat_shellargs(target);
    const char *seam = getenv("KERFMILL_SHELL_LOG");
    if (seam && strcmp(seam, "1") == 0) {
        sys_log("plat_shellopen: not run (KERFMILL_SHELL_LOG): %s", shell_join(args).c_str());
        return 1;
    }
    pid_t pid;
    int err = shell_spawn(args, -1, &pid);
    if (err) {
        sys_log("plat_shellopen: cannot run xdg-open: %s", strerror(err));
        return 0;
    }
    // Most desktops hand the target over and xdg-open exits at once; a
    // fallback that waits for the application must not hold the caller.
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(verdictms);
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return shell_verdict(status);
        if (done < 0 && errno != EINTR) {
            sys_log("plat_shellopen: lost xdg-open: %s", strerror(errno));
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 1;
}
