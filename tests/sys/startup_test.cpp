// The program as a whole: started as a child process with its own per-user
// folder, it must come up, write its log and shut down in order.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char **environ;

// Runs the kerfmill binary with HOME and XDG_DATA_HOME in a scratch folder;
// returns its exit code, or -1 when it could not be run.
static int startup_run(const fs::path &home, const std::vector<std::string> &extraenv)
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

static std::string startup_log(const fs::path &home)
{
    fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
    for (auto &e : fs::directory_iterator(user)) {
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
    fs::path home;
    void SetUp() override
    {
        home = fs::temp_directory_path() / ("kerfmill-home-" + std::to_string(getpid()));
        fs::remove_all(home);
        fs::create_directories(home);
    }
    void TearDown() override { fs::remove_all(home); }
};

TEST_F(Startup, StartsAndShutsDownInOrder)
{
    // A left-over updater and backup are removed by a normal run.
    fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
    fs::create_directories(user);
    std::ofstream(user / "updater.exe") << "x";
    std::ofstream(user / "backup.kfm") << "x";

    ASSERT_EQ(startup_run(home, {"SDL_VIDEODRIVER=dummy"}), 0);
    std::string log = startup_log(home);
    ASSERT_FALSE(log.empty());
    const char *order[] = {
        " [ Kerfmill v1.86b 64-bit  - Jan  2 2025 ]",
        "EXE: ",
        "USER: " ,
        "LOG: ",
        "CFG: ",
        " ------------------------------------------ INIT ------------------------------------------ ",
        "configuration...",
        "...initialized SDL",
        "...initialized SDL_image",
        "logical CPUs: ",
        "starting thread00...",
        "created mutex #0",
        " ------------------------------------------ QUIT ------------------------------------------ ",
        "sys_threadsquit: waiting for threads...",
        "thread00 returned",
        "...no update downloaded",
        "cam_removeoperation id10",
        "destroyed subsystem mutexes",
        "...shutdown SDL",
        "0.0mb allocations remaining",
        " ------------------------------------------ DONE ------------------------------------------ ",
        "returning to OS...",
    };
    size_t at = 0;
    for (const char *line : order) {
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found;
    }
    EXPECT_FALSE(fs::exists(user / "updater.exe"));
    EXPECT_FALSE(fs::exists(user / "backup.kfm"));
}

TEST_F(Startup, FailedPlatformStillShutsDownCleanly)
{
    ASSERT_EQ(startup_run(home, {"SDL_VIDEODRIVER=no-such-driver"}), 0);
    std::string log = startup_log(home);
    EXPECT_NE(log.find("SDL init failed: "), std::string::npos) << log;
    EXPECT_NE(log.find(" ------------------------------------------ DONE"), std::string::npos) << log;
    EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
}
