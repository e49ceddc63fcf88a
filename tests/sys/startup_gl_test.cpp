// The program as a whole under a real display: it comes up with its window
// and both OpenGL contexts, runs frames and shuts down in order.
#include "runprogram.h"

#include <fstream>

namespace fs = std::filesystem;

TEST_F(Startup, StartsAndShutsDownInOrder)
{
    // A left-over updater and backup are removed by a normal run.
    fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
    fs::create_directories(user);
    std::ofstream(user / "updater.exe") << "x";
    std::ofstream(user / "backup.kfm") << "x";

    ASSERT_EQ(startup_run(home, {"KERFMILL_QUIT_AFTER_FRAMES=5", "ASAN_OPTIONS=detect_leaks=0"}), 0);
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
        "GL_RENDERER: ",
        "OpenGL version integer: ",
        "...created workerthread OpenGL rendering context",
        "...created window OpenGL rendering context",
        "max texture size:",
        "maximum renderbuffer size = ",
        "...initialized system (delta:00000000)",
        "created mutex #0",
        "ttf...",
        "text...",
        "enumerating system fonts (",
        "enumerated ",
        "created mutex #5",
        "font drawing...",
        "caching ",
        " ------------------------------------------ LOOP ------------------------------------------ ",
        " ------------------------------------------ QUIT ------------------------------------------ ",
        "sys_threadsquit: waiting for threads...",
        "thread00 returned",
        "...no update downloaded",
        "cam_removeoperation id10",
        "destroyed subsystem mutexes",
        "...destroyed window",
        "...destroyed rendering context",
        "...destroyed worker context",
        "...shutdown SDL",
        "... freed GL strings",
        "mb allocations remaining",
        " ------------------------------------------ DONE ------------------------------------------ ",
        "returning to OS...",
    };
    size_t at = 0;
    for (const char *line : order) {
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << log;
        at = found;
    }
    // The figure includes the console's own lines, which grow with what
    // start-up logs (a line per font file of the machine, for one), so it is
    // bounded rather than zero.
    size_t remaining = log.find("mb allocations remaining");
    size_t number = log.rfind(' ', remaining) + 1;
    EXPECT_LT(std::stod(log.substr(number, remaining - number)), 0.5) << log.substr(number, remaining - number);
    EXPECT_FALSE(fs::exists(user / "updater.exe"));
    EXPECT_FALSE(fs::exists(user / "backup.kfm"));
}


TEST_F(Startup, TooOldOpenGlEndsCleanly)
{
    // Mesa reports whatever version it is told to; 2.0 is below the minimum.
    ASSERT_EQ(startup_run(home, {"MESA_GL_VERSION_OVERRIDE=2.0", "KERFMILL_QUIT_AFTER_FRAMES=5",
                                 "ASAN_OPTIONS=detect_leaks=0"}),
              0);
    std::string log = startup_log(home);
    EXPECT_NE(log.find("OpenGL version integer: 20"), std::string::npos) << log;
    EXPECT_NE(log.find("[ ERROR ] The graphics hardware/drivers do not support the minimum required version of OpenGL v2.1"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(" LOOP "), std::string::npos) << log;
    EXPECT_EQ(log.find("...created window OpenGL rendering context"), std::string::npos) << log;
    EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
}

TEST_F(Startup, LeftOverBackupIsOfferedAndRemovedAtExit)
{
    struct Case {
        const char *answer;
        bool loads;
    };
    const Case cases[] = {{"no", false}, {"yes", true}};
    for (const Case &c : cases) {
        fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
        fs::remove_all(home / "data");
        fs::create_directories(user);
        std::ofstream(user / "backup.kfm") << "x";
        ASSERT_EQ(startup_run(home, {std::string("KERFMILL_MSGBOX_ANSWERS=") + c.answer,
                                     "KERFMILL_QUIT_AFTER_FRAMES=5", "ASAN_OPTIONS=detect_leaks=0"}),
                  0);
        std::string log = startup_log(home);
        EXPECT_NE(log.find("sys_messagebox \"Recover Automatic Backup\""), std::string::npos) << log;
        EXPECT_EQ(log.find("project_load: ") != std::string::npos, c.loads) << c.answer << "\n" << log;
        EXPECT_FALSE(fs::exists(user / "backup.kfm"));
    }
}
