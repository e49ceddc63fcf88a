// Test helper: an X server of the test's own (Xvfb on a free display
// number), for tests that run the program as a child and need its window to
// be the only one on the screen.
#pragma once
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

extern char **environ;

// On the shared display the windows of tests running beside the child take
// the focus from it, and an unfocused window runs at 20 Hz whatever the
// configuration says; a screenshot of the shared display shows them too.
struct private_display {
    pid_t pid = -1;
    std::string name; // ":n", empty when no server started

    explicit private_display(const char *screen = "640x480x24")
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        std::string fd = std::to_string(fds[1]);
        const char *argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-nolisten", "tcp",
                              nullptr};
        if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, (char *const *)argv, environ) != 0)
            pid = -1;
        close(fds[1]);
        // The server writes its display number once it accepts clients.
        pollfd ready = {fds[0], POLLIN, 0};
        char number[16] = {};
        if (pid > 0 && poll(&ready, 1, 10000) == 1 && read(fds[0], number, sizeof(number) - 1) > 0)
            name = ":" + std::to_string(atoi(number));
        close(fds[0]);
    }
    ~private_display()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
};
