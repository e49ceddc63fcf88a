// The program as a whole under a real display: it comes up with its window
// and both OpenGL contexts, runs frames and shuts down in order.
#include "runprogram.h"

#include <fstream>
#include <regex>
#include <sstream>

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
        "convolution timing skipped (KERFMILL_SKIP_CONVO_TIMING)",
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
    // The first answer accepts the terms of a first run.
    const Case cases[] = {{"yes,no", false}, {"yes,yes", true}};
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

// The log's subsystem lines, time stamps cut and every number but the mutex
// ids masked as "#" (sizes and speeds differ between machines), runs of equal lines (one per
// measured size) folded into one, from the first start to the loop and
// from the first shutdown phase to the configuration.
static std::string startup_golden(const std::string &log)
{
    static const std::regex stamp(R"(^\d+\.\d+ ?)");
    static const std::regex number(R"(\d+(\.\d+)?)");
    static const std::regex wanted(
        R"(^([a-z ]+\.\.\.|created mutex #.*|vertex size: .*|\.\.\.ARB_.* supported|\.\.\..* average elapsed .*)"
        R"(|(CPU|GPU) image processing speed = .*|>> mesh_init: .*|toolpath structure size:.*|contour structure size: .*)"
        R"(|conlib path: .*|\.\.\.program initialized .*|update_check.*|caching .* font names\.\.\.|enumerated .* total fonts)$)");
    std::istringstream in(log);
    std::string line, out, last;
    bool on = false;
    while (std::getline(in, line)) {
        line = std::regex_replace(line, stamp, "");
        if (line == "mutexes..." || line == "update...")
            on = true;
        if (line.find(" LOOP ") != std::string::npos || line == "config...")
            on = false;
        if (!on || !std::regex_match(line, wanted))
            continue;
        if (line.rfind("conlib path: ", 0) == 0)
            line = "conlib path: <user folder>/lib";
        if (line.rfind("created mutex #", 0) != 0)
            line = std::regex_replace(line, number, "#");
        if (line != last)
            out += line + "\n";
        last = line;
    }
    return out;
}

static void startup_removelogs(const fs::path &home)
{
    for (auto &e : fs::directory_iterator(home / "data" / "Halvenstrom" / "Kerfmill"))
        if (e.path().filename().string().ends_with("-log.txt"))
            fs::remove(e.path());
}

// The second start (terms accepted, configuration present so start-up logs
// its debug lines too) starts every subsystem in the fixed order and stops
// them in reverse.
TEST_F(Startup, SubsystemsStartAndStopInTheGoldenOrder)
{
    ASSERT_EQ(startup_run(home, {"KERFMILL_MSGBOX_ANSWERS=yes", "KERFMILL_QUIT_AFTER_FRAMES=3",
                                 "ASAN_OPTIONS=detect_leaks=0"}),
              0);
    EXPECT_NE(startup_log(home).find("sys_messagebox \"Beta Version Disclaimer\""), std::string::npos);
    startup_removelogs(home);
    // The tests switch the start-up convolution timing off; this run keeps it.
    ASSERT_EQ(startup_run(home, {"KERFMILL_MSGBOX_ANSWERS=no", "KERFMILL_QUIT_AFTER_FRAMES=3",
                                 "KERFMILL_SKIP_CONVO_TIMING=0", "ASAN_OPTIONS=detect_leaks=0"}),
              0);
    std::string log = startup_log(home);
    EXPECT_EQ(log.find("Beta Version Disclaimer"), std::string::npos) << "asked again";
    EXPECT_EQ(log.find("[ ERROR ]"), std::string::npos) << log;
    const char *golden = R"(mutexes...
created mutex #0
created mutex #1
created mutex #2
created mutex #3
input...
event...
ttf...
text...
enumerated # total fonts
created mutex #4
created mutex #5
render...
vertex size: #
...ARB_shader_objects supported
...ARB_framebuffer_object supported
image...
created mutex #6
...#s average elapsed (#px)
CPU image processing speed = #ms/Mpx
...#s average elapsed (#px)
GPU image processing speed = #ms/Mpx
model...
font drawing...
view...
mesh...
>> mesh_init: allocated #KB meshes array
toolpath...
toolpath structure size:#b
cnc...
cam...
created mutex #7
contour structure size: #kb
project...
created mutex #8
removing canvas models...
removing simulation models...
gui...
conlib path: <user folder>/lib
...program initialized (#B#D#)
update_check(#): no update service in this build
caching # font names...
update...
gui...
project...
removing canvas models...
removing simulation models...
cam...
mesh...
view...
font...
model...
image...
text...
ttf...
event...
render...
input...
system...
)";
    EXPECT_EQ(startup_golden(log), golden);
    // Masked above; the values themselves are fixed.
    const char *exact[] = {"vertex size: 20", "toolpath structure size:11534416b",
                           "contour structure size: 768kb", ">> mesh_init: allocated 60.84KB meshes array"};
    for (const char *line : exact)
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

// Refusing the terms ends the program before its loop, cleanly and without
// an error box; the refusal is not remembered.
TEST_F(Startup, RefusedTermsEndTheProgramCleanly)
{
    for (int run = 0; run < 2; run++) {
        ASSERT_EQ(startup_run(home, {"KERFMILL_MSGBOX_ANSWERS=no", "ASAN_OPTIONS=detect_leaks=0"}), 0);
        std::string log = startup_log(home);
        EXPECT_NE(log.find("sys_messagebox \"Beta Version Disclaimer\""), std::string::npos) << run;
        EXPECT_NE(log.find("!!! user did not agree to the terms and conditions !!!"), std::string::npos) << run;
        EXPECT_EQ(log.find(" LOOP "), std::string::npos) << log;
        EXPECT_EQ(log.find("[ ERROR ]"), std::string::npos) << log;
        EXPECT_NE(log.find("returning to OS..."), std::string::npos) << log;
        startup_removelogs(home);
    }
}
