// Test helper: runs the kerfmill program as a child process with its own
// per-user folder, never waiting for it without a bound, and reads back the
// log it wrote.
#pragma once
#include "testchild.h"

#include <gtest/gtest.h>

#include <spawn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Starts the kerfmill binary with HOME and XDG_DATA_HOME in a scratch folder
// and returns at once: its process id, or -1 when it could not be started.
// extraenv holds "NAME=value" settings, and bare "NAME"s the child must not
// inherit (a seam the test process sets for itself, say).
// args follow the program's name on its command line (a project to open).
inline pid_t startup_spawn(const std::filesystem::path &home, const std::vector<std::string> &extraenv,
                           const std::vector<std::string> &args = {})
{
    const char *bin = KERFMILL_BIN;
    // The scratch home and the caller's settings replace inherited ones.
    std::vector<std::string> overrides = {"HOME=" + home.string(), "XDG_DATA_HOME=" + (home / "data").string(),
                                          std::string("LSAN_OPTIONS=suppressions=") + KERFMILL_LSAN_SUPP};
    overrides.insert(overrides.end(), extraenv.begin(), extraenv.end());
    auto key = [](const std::string &v) { return v.substr(0, v.find('=')) + "="; };
    auto overridden = [&](const std::string &v) {
        for (const std::string &o : overrides)
            if (v.starts_with(key(o)))
                return true;
        return false;
    };
    std::vector<std::string> env;
    for (char **e = environ; *e; e++)
        if (!overridden(*e))
            env.push_back(*e);
    for (const std::string &o : overrides)
        if (o.find('=') != std::string::npos)
            env.push_back(o);
    std::vector<char *> envp;
    for (auto &v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string path = bin;
    std::vector<std::string> words = args;
    std::vector<char *> argv = {path.data()};
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, bin, nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
}

// Runs the kerfmill binary as startup_spawn does and waits for it, at most
// seconds; returns its exit code, or -1 when it could not be run, was ended
// by a signal or ran too long (killed, and a failure of the test).
inline int startup_run(const std::filesystem::path &home, const std::vector<std::string> &extraenv,
                       double seconds = 120)
{
    pid_t pid = startup_spawn(home, extraenv);
    if (pid < 0)
        return -1;
    int code = testchild_wait(pid, seconds);
    if (code == testchild_timedout) {
        ADD_FAILURE() << "kerfmill still ran after " << seconds << " s and was killed";
        return -1;
    }
    return code;
}

inline std::string startup_log(const std::filesystem::path &home)
{
    std::filesystem::path user = home / "data" / "Halvenstrom" / "Kerfmill";
    for (auto &e : std::filesystem::directory_iterator(user)) {
        std::string name = e.path().filename().string();
        if (name.size() > 8 && name.substr(name.size() - 8) == "-log.txt") {
            std::ifstream in(e.path());
            std::stringstream ss;
            ss << in.rdbuf();
            return ss.str();
        }
    }
    return "";
}


class Startup : public testing::Test {
protected:
    std::filesystem::path home;
    void SetUp() override
    {
        home = std::filesystem::temp_directory_path() / ("kerfmill-home-" + std::to_string(getpid()));
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
    }
    void TearDown() override { std::filesystem::remove_all(home); }
};

