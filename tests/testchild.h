// Test helper: child processes with a bounded wait. A child still running at
// its bound is killed and reaped and the wait says so, so that a hung tool or
// program fails its test instead of holding the whole run.
#pragma once
#include "testtemp.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

constexpr int testchild_timedout = -2; // the child outlived its bound

// Waits up to seconds for pid to end: its exit status, -1 when it was ended
// by a signal or cannot be waited for, or testchild_timedout when it was
// still running (it is then killed and reaped).
inline int testchild_wait(pid_t pid, double seconds)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() >= until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0); // a killed child ends at once
            return testchild_timedout;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Runs args[0], found on PATH, without a shell: stdin from /dev/null, stdout
// into outfile when one is named. Its status as testchild_wait gives it, or
// -1 when it could not be started.
inline int testchild_run(const std::vector<std::string> &args, double seconds, const std::string &outfile = "")
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back((char *)a.c_str());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!outfile.empty())
        posix_spawn_file_actions_addopen(&actions, 1, outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? testchild_wait(pid, seconds) : -1;
}

// Runs the python3 script (a path under the tests folder) as an oracle on a
// request written to a scratch file: the lines of its answer file, empty
// when it failed. Both scratch files are removed again.
inline std::vector<std::string> testchild_ask(const char *script, const std::string &request)
{
    const std::string in = testtemp_file("askq"), out = testtemp_file("aska");
    std::ofstream(in, std::ios::binary) << request;
    std::vector<std::string> lines;
    if (testchild_run({"/usr/bin/python3", std::string(KERFMILL_TESTS_DIR "/") + script, in, out}, 120) == 0) {
        std::ifstream f(out);
        for (std::string line; std::getline(f, line);)
            lines.push_back(line);
    }
    remove(in.c_str());
    remove(out.c_str());
    return lines;
}

// Every number of an oracle's JSON answer in order, brackets and commas
// read as spaces; empty when it failed.
inline std::vector<double> testchild_asknumbers(const char *script, const std::string &request)
{
    std::string text;
    for (const std::string &line : testchild_ask(script, request))
        text += line + "\n";
    for (char &c : text)
        if (c == '[' || c == ']' || c == ',')
            c = ' ';
    std::istringstream s(text);
    std::vector<double> result;
    for (double v; s >> v;)
        result.push_back(v);
    return result;
}
