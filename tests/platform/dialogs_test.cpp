// The zenity and xdg-open side of the dialogs: argument vectors and filter
// translation as data, colour parsing, and the child-process paths run
// against small stand-in programs put first on PATH.
#include "platform/dialogs.h"
#include "platform/msgbox.h"
#include "platform/seam.h"
#include "platform/shell.h"
#include "testlog.h"

#include "testenv.h"
#include "testfolder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using strings = std::vector<std::string>;


TEST(DialogArgs, FilterTranslation)
{
    struct Case {
        std::string filter; // NUL-separated, as callers pass it
        strings want;
    };
    using namespace std::string_literals;
    const Case cases[] = {
        {"G-Code (*.nc;*.cnc)\0*.nc;*.cnc\0\0"s, {"--file-filter=G-Code (*.nc;*.cnc) | *.nc *.cnc"}},
        {"Images\0*.png; *.jpg ;*.tif\0All Files\0*.*\0\0"s,
         {"--file-filter=Images | *.png *.jpg *.tif", "--file-filter=All Files | *"}},
        {"Stray\0;;\0Projects\0*.kfm\0\0"s, {"--file-filter=Projects | *.kfm"}},
        {"No patterns\0\0"s, {}},
        {"\0"s, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(plat_filefilters(c.filter.c_str()), c.want) << c.filter;
    EXPECT_TRUE(plat_filefilters(nullptr).empty());
}

TEST(DialogArgs, FileDialogVectors)
{
    std::string cwd = fs::current_path().string();
    const char *filter = "Tool Library\0*.ktl\0";
    struct Case {
        int save;
        const char *title, *folder, *last;
        strings want;
    };
    const Case cases[] = {
        {1, "Save Tools", "/home/u/cnc", "",
         {"zenity", "--file-selection", "--save", "--confirm-overwrite", "--title=Save Tools",
          "--filename=/home/u/cnc/", "--file-filter=Tool Library | *.ktl"}},
        {1, "Save Tools", "/home/u/cnc/", "mill.ktl",
         {"zenity", "--file-selection", "--save", "--confirm-overwrite", "--title=Save Tools",
          "--filename=/home/u/cnc/mill.ktl", "--file-filter=Tool Library | *.ktl"}},
        // A last path with its own folder wins over the initial folder.
        {0, "Open", "/home/u/cnc", "/srv/jobs/part.ktl",
         {"zenity", "--file-selection", "--title=Open", "--filename=/srv/jobs/part.ktl",
          "--file-filter=Tool Library | *.ktl"}},
        // Relative names are made absolute: zenity ignores their folder.
        {0, nullptr, "posts", "",
         {"zenity", "--file-selection", "--filename=" + cwd + "/posts/", "--file-filter=Tool Library | *.ktl"}},
        {0, "", nullptr, "part.ktl",
         {"zenity", "--file-selection", "--filename=" + cwd + "/part.ktl", "--file-filter=Tool Library | *.ktl"}},
        {0, "Open", nullptr, nullptr, {"zenity", "--file-selection", "--title=Open", "--file-filter=Tool Library | *.ktl"}},
    };
    for (const Case &c : cases) {
        plat_filerequest req = {c.save, c.title, c.folder, filter, "ktl"};
        EXPECT_EQ(plat_filedialogargs(req, c.last), c.want) << (c.folder ? c.folder : "") << " " << (c.last ? c.last : "");
    }
}

TEST(DialogArgs, ColorAndShellVectors)
{
    const uint8_t rgb[3] = {255, 0, 128};
    EXPECT_EQ(plat_colorargs(rgb), (strings{"zenity", "--color-selection", "--show-palette", "--color=rgb(255,0,128)"}));

    struct Case {
        const char *target;
        strings want;
    };
    const Case cases[] = {
        {"changes.txt", {"xdg-open", "changes.txt"}},
        {"https://example.com/a b?x=1&y=$2", {"xdg-open", "https://example.com/a b?x=1&y=$2"}},
        {"/home/u/My Files", {"xdg-open", "/home/u/My Files"}},
        {"-rf", {"xdg-open", "./-rf"}}, // never read as an option
    };
    for (const Case &c : cases)
        EXPECT_EQ(plat_shellargs(c.target), c.want) << c.target;
}

TEST(DialogArgs, ParseColor)
{
    struct Case {
        const char *text;
        int ok;
        uint8_t r, g, b;
    };
    const Case cases[] = {
        {"rgb(10,20,30)", 1, 10, 20, 30},
        {"rgba(255,0,7,0.5)", 1, 255, 0, 7},
        {"#1a2B3c", 1, 0x1a, 0x2b, 0x3c},
        {"#FFFFFF", 1, 255, 255, 255},
        {"rgb(256,0,0)", 0, 0, 0, 0},
        {"rgb(-1,0,0)", 0, 0, 0, 0},
        {"rgb(1000,0,0)", 0, 0, 0, 0},
        {"rgb(1,2)", 0, 0, 0, 0},
        {"rgb(1,2,3)x", 0, 0, 0, 0},
        {"#12345", 0, 0, 0, 0},
        {"#12345g", 0, 0, 0, 0},
        {"", 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        uint8_t rgb[3] = {9, 9, 9};
        ASSERT_EQ(plat_parsecolor(c.text, rgb), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(rgb[0], c.r) << c.text;
            EXPECT_EQ(rgb[1], c.g) << c.text;
            EXPECT_EQ(rgb[2], c.b) << c.text;
        }
    }
}

TEST(DialogSeam, SaveAddsDefaultExtensionAndChecksRoom)
{
    scoped_env env;
    struct Case {
        const char *answer, *defext;
        int ok;
        const char *want;
    };
    const Case cases[] = {
        {"/w/part", "nc", 1, "/w/part.nc"},
        {"/w/part", ".nc", 1, "/w/part.nc"},
        {"/w/part.tap", "nc", 1, "/w/part.tap"},
        {"/w/v1.2/part", "nc", 1, "/w/v1.2/part.nc"},
        {"/w/part", nullptr, 1, "/w/part"},
        {"/w/a-name-too-long-for-the-buffer", "nc", 0, "kept"},
        {"/w/31-bytes-long-path-name-x.nc", nullptr, 0, "kept"},
        {"/w/30-bytes-long-path-name-.nc", nullptr, 1, "/w/30-bytes-long-path-name-.nc"},
    };
    for (const Case &c : cases) {
        env.set("KERFMILL_DIALOG_PATHS", c.answer);
        char path[31] = "kept"; // room for 30 bytes and the NUL
        int error = -1;
        plat_filerequest req = {1, "Save", nullptr, nullptr, c.defext};
        EXPECT_EQ(plat_filedialog(req, path, sizeof(path), &error), c.ok) << c.answer;
        EXPECT_STREQ(path, c.want) << c.answer;
        EXPECT_EQ(error, c.ok ? 0 : 1) << c.answer;
    }
}

TEST(DialogSeam, ColorAnswersInTurn)
{
    scoped_env env;
    env.set("KERFMILL_COLOR_ANSWERS", "#102030,cancel,#010203,purple");
    uint8_t rgb[3] = {7, 8, 9};
    EXPECT_EQ(plat_choosecolor(rgb), 1);
    EXPECT_EQ(rgb[0] * 65536 + rgb[1] * 256 + rgb[2], 0x102030);
    EXPECT_EQ(plat_choosecolor(rgb), 0);
    EXPECT_EQ(plat_choosecolor(rgb), 1);
    EXPECT_EQ(rgb[0] * 65536 + rgb[1] * 256 + rgb[2], 0x010203);
    testlog_capture cap;
    EXPECT_EQ(plat_choosecolor(rgb), 0);
    EXPECT_EQ(rgb[2], 3);
    EXPECT_TRUE(cap.contains("plat_choosecolor: unreadable colour \"purple\""));
}

// Stand-ins for zenity and xdg-open in a scratch folder that is the whole
// PATH: each writes its arguments one per line, prints KERFMILL_FAKE_OUT
// (and KERFMILL_FAKE_ERR on stderr) and exits with KERFMILL_FAKE_STATUS, or
// for the status "slow" writes its process id beside the arguments and
// sleeps a minute. The seams are off.
class FakeTools : public testing::Test {
protected:
    testfolder dir{"tools"};
    fs::path argsfile;
    scoped_env env;

    void SetUp() override
    {
        argsfile = dir.path / "args.txt";
        const char *script = "#!/bin/sh\n"
                             "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$KERFMILL_FAKE_ARGS\"\n"
                             "printf '%s' \"$KERFMILL_FAKE_OUT\"\n"
                             "printf '%s' \"$KERFMILL_FAKE_ERR\" >&2\n"
                             "[ \"$KERFMILL_FAKE_STATUS\" = slow ] && echo $$ > \"$KERFMILL_FAKE_ARGS.pid\" &&\n"
                             "  exec /bin/sleep 60 >/dev/null 2>&1\n"
                             "exit \"$KERFMILL_FAKE_STATUS\"\n";
        for (const char *tool : {"zenity", "xdg-open"}) {
            std::ofstream(dir.path / tool) << script;
            chmod((dir.path / tool).c_str(), 0755);
        }
        env.set("PATH", dir.path.c_str());
        env.set("KERFMILL_DIALOG_PATHS", nullptr);
        env.set("KERFMILL_COLOR_ANSWERS", nullptr);
        env.set("KERFMILL_SHELL_LOG", nullptr);
        env.set("KERFMILL_FAKE_ARGS", argsfile.c_str());
    }
    void answer(const char *out, const char *status)
    {
        env.set("KERFMILL_FAKE_OUT", out);
        env.set("KERFMILL_FAKE_STATUS", status);
    }
    strings received() const
    {
        strings args;
        std::ifstream in(argsfile);
        for (std::string line; std::getline(in, line);)
            args.push_back(line);
        return args;
    }
};

TEST_F(FakeTools, FileDialogExitStatus)
{
    struct Case {
        const char *out, *status;
        int ok, error;
        const char *want;
    };
    const Case cases[] = {
        {"/home/u/Fräs Teile/Deckel ü.nc\n", "0", 1, 0, "/home/u/Fräs Teile/Deckel ü.nc"},
        {"", "1", 0, 0, "kept"},
        {"", "5", 0, 1, "kept"},
        {"\n", "0", 0, 1, "kept"},
    };
    std::string before = fs::current_path().string();
    for (const Case &c : cases) {
        answer(c.out, c.status);
        char path[1024] = "kept";
        int error = -1;
        plat_filerequest req = {0, "Open \"Part\" $HOME; true", "/srv", nullptr, nullptr};
        EXPECT_EQ(plat_filedialog(req, path, sizeof(path), &error), c.ok) << c.status;
        EXPECT_STREQ(path, c.want) << c.status;
        EXPECT_EQ(error, c.error) << c.status;
    }
    // The title reached zenity untouched by any shell, and the chooser ran
    // in a child: this process never left its folder.
    EXPECT_EQ(received(), (strings{"--file-selection", "--title=Open \"Part\" $HOME; true", "--filename=/srv/kept"}));
    EXPECT_EQ(fs::current_path().string(), before);
}

TEST_F(FakeTools, MissingZenityCountsAsCancel)
{
    fs::remove(dir.path / "zenity");
    testlog_capture cap;
    char path[64] = "kept";
    int error = -1;
    plat_filerequest req = {1, "Save", nullptr, nullptr, "nc"};
    EXPECT_EQ(plat_filedialog(req, path, sizeof(path), &error), 0);
    EXPECT_STREQ(path, "kept");
    EXPECT_EQ(error, 0);
    uint8_t rgb[3] = {1, 2, 3};
    EXPECT_EQ(plat_choosecolor(rgb), 0);
    EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 6);
    EXPECT_EQ(cap.count("plat_runcapture: cannot run zenity: No such file or directory"), 2);
}

// A message box's answer is zenity's exit status; status 1 is also GTK
// failing to reach the display, which only its stderr tells apart.
TEST_F(FakeTools, MessageBoxThroughZenity)
{
    struct Case {
        const char *err, *status;
        int shown, answer;
        const char *why;
    };
    const Case cases[] = {
        {"", "0", 1, 1, ""},
        {"", "1", 1, 0, ""},
        // GTK's chatter about a box it did show changes nothing.
        {"Gtk-Message: GtkDialog mapped without a transient parent", "1", 1, 0, ""},
        {"(zenity:42): Gtk-WARNING **: cannot open display: :9", "1", 0, -1, "zenity cannot open the display"},
        {"", "5", 0, -1, "zenity failed with status 5"},
    };
    for (const Case &c : cases) {
        answer("", c.status);
        env.set("KERFMILL_FAKE_ERR", c.err);
        int got = -1;
        std::string why;
        EXPECT_EQ(plat_zenitybox("Beta", "Agree?", 2, 4, 0, &got, &why), c.shown) << c.err << c.status;
        EXPECT_EQ(got, c.answer) << c.err << c.status;
        EXPECT_EQ(why, c.why) << c.err << c.status;
    }
    EXPECT_EQ(received(), (strings{"--question", "--ok-label=Yes", "--cancel-label=No", "--icon-name=dialog-warning",
                                   "--title=Beta", "--text=Agree?", "--no-wrap", "--no-markup"}));
}

// With no display for SDL and no zenity, the refusal stands and the reason
// is in the log and on stderr, with the question itself.
TEST_F(FakeTools, MessageBoxNobodyCanShow)
{
    fs::remove(dir.path / "zenity");
    env.set("DISPLAY", nullptr);
    env.set("WAYLAND_DISPLAY", nullptr);
    env.set("KERFMILL_MSGBOX_ANSWERS", nullptr);
    int got = -1;
    std::string why;
    EXPECT_EQ(plat_zenitybox("Beta", "Agree?", 2, 4, 0, &got, &why), 0);
    EXPECT_EQ(why, "zenity could not be run");
    testlog_capture cap;
    testing::internal::CaptureStderr();
    EXPECT_EQ(plat_messagebox("Beta Version Disclaimer", "Do you agree to these terms?", 2, 4, 0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(cap.contains("plat_messagebox: no box could be shown for \"Beta Version Disclaimer\" (SDL: "))
        << cap.text();
    EXPECT_TRUE(cap.contains("zenity could not be run), taken as refused")) << cap.text();
    EXPECT_NE(err.find("no message box could be shown for \"Beta Version Disclaimer\""), std::string::npos) << err;
    EXPECT_NE(err.find("Do you agree to these terms?"), std::string::npos) << err;
}

TEST_F(FakeTools, ColorPickerReadsZenityAnswer)
{
    struct Case {
        const char *out, *status;
        int ok;
        uint8_t want[3];
    };
    const Case cases[] = {
        {"rgb(12,34,56)\n", "0", 1, {12, 34, 56}},
        {"#a0b0c0\n", "0", 1, {0xa0, 0xb0, 0xc0}},
        {"", "1", 0, {5, 6, 7}},
        {"rgb(12,34\n", "0", 0, {5, 6, 7}},
    };
    for (const Case &c : cases) {
        answer(c.out, c.status);
        uint8_t rgb[3] = {5, 6, 7};
        EXPECT_EQ(plat_choosecolor(rgb), c.ok) << c.out;
        EXPECT_EQ(memcmp(rgb, c.want, 3), 0) << c.out;
    }
    EXPECT_EQ(received(), (strings{"--color-selection", "--show-palette", "--color=rgb(5,6,7)"}));
}

// The verdict is waited for with a bound a loaded machine cannot reach, so
// the exit status always decides.
TEST_F(FakeTools, ShellOpenVerdict)
{
    struct Case {
        const char *status;
        int ok;
    };
    const Case cases[] = {{"0", 1}, {"4", 0}};
    for (const Case &c : cases) {
        answer("", c.status);
        EXPECT_EQ(plat_shellopen("UserGuide.html", 60000), c.ok) << c.status;
        EXPECT_EQ(received(), (strings{"UserGuide.html"})) << c.status;
    }
    fs::remove(dir.path / "xdg-open");
    EXPECT_EQ(plat_shellopen("UserGuide.html"), 0);
}

// An xdg-open that waits for its application is left to the reaper: the call
// returns while the tool still runs, which the test then ends itself.
TEST_F(FakeTools, ShellOpenLeavesASlowToolRunning)
{
    answer("", "slow");
    EXPECT_EQ(plat_shellopen("UserGuide.html"), 1);
    fs::path pidfile = argsfile.string() + ".pid";
    pid_t pid = 0;
    for (int i = 0; i < 3000 && pid <= 0; i++) {
        std::ifstream(pidfile) >> pid;
        if (pid <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(pid, 0) << "the slow tool never started";
    EXPECT_EQ(kill(pid, 0), 0) << "the call waited for the tool to end";
    kill(pid, SIGKILL);
    EXPECT_EQ(received(), (strings{"UserGuide.html"}));
}

TEST_F(FakeTools, ShellLogSeamRunsNothing)
{
    env.set("KERFMILL_SHELL_LOG", "1");
    testlog_capture cap;
    EXPECT_EQ(plat_shellopen("changes.txt"), 1);
    EXPECT_TRUE(cap.contains("plat_shellopen: not run (KERFMILL_SHELL_LOG): \"xdg-open\" \"changes.txt\""));
    EXPECT_FALSE(fs::exists(argsfile));
}
