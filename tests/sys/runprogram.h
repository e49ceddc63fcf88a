// Test helper: runs the kerfmill program as a child process with its own
// per-user folder and reads back the log it wrote.
#pragma once
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

// Runs the kerfmill binary with HOME and XDG_DATA_HOME in a scratch folder;
// returns its exit code, or -1 when it could not be run.
inline int startup_run(const std::filesystem::path &home, const std::vector<std::string> &extraenv)
{
    const char *bin = KERFMILL_BIN;
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        std::string v = *e;
        if (v.rfind("HOME=", 0) != 0 && v.rfind("XDG_DATA_HOME=", 0) != 0)
            env.push_back(v);
    }
    env.push_back("HOME=" + home.string());
    env.push_back("XDG_DATA_HOME=" + (home / "data").string());
    // The program's own leak report skips what SDL's D-Bus use keeps alive.
    env.push_back("LSAN_OPTIONS=suppressions=" KERFMILL_LSAN_SUPP);
    env.insert(env.end(), extraenv.begin(), extraenv.end());
    std::vector<char *> envp;
    for (auto &v : env)
        envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string path = bin;
    char *argv[] = {path.data(), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, bin, nullptr, nullptr, argv, envp.data()) != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

