// The running program as a person first sees it: started on an X server of
// its own, its window photographed from the server's framebuffer with
// ImageMagick, then ended by a termination signal. libpng, not the
// program's own reader, decodes the screenshot.
#include "runprogram.h"
#include "xdisplay.h"

#include "sys/config.h"

#include <png.h>
#include <signal.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace fs = std::filesystem;
using shot_clock = std::chrono::steady_clock;

// The window's place on the 1024 x 768 screen, and background colours that
// differ from the built-in ones in every channel.
constexpr int shot_x = 64, shot_y = 48, shot_w = 800, shot_h = 600;
constexpr float shot_lower[3] = {0.25f, 0.5f, 0.75f};    // the gradient at parameter 0
constexpr float shot_upper[3] = {0.875f, 0.625f, 0.125f}; // the gradient at parameter 1

// A first run's configuration: the terms are not yet accepted, the window is
// placed and sized, the view keeps its angles and hides the grid, the background has
// the colours above.
static void shot_writeconfig(const fs::path &home)
{
    std::vector<uint8_t> rec(cfg_defaults, cfg_defaults + cfg_size);
    auto put = [&](int offset, auto value) { memcpy(rec.data() + offset, &value, 4); };
    put(cfg_termsaccepted, (int32_t)0);
    put(cfg_windowmaximised, (int32_t)0);
    put(cfg_windowx, (int32_t)shot_x);
    put(cfg_windowy, (int32_t)shot_y);
    put(cfg_windowwidth, (int32_t)shot_w);
    put(cfg_windowheight, (int32_t)shot_h);
    // The new project's framing keeps the camera's angles: it looks down.
    put(cfg_keepview, (int32_t)1);
    // The grid's lines would cross the sampled column of the background.
    put(cfg_showgrid, (int32_t)0);
    for (int i = 0; i < 3; i++) {
        put(cfg_backgroundcolor1 + 4 * i, shot_lower[i]);
        put(cfg_backgroundcolor2 + 4 * i, shot_upper[i]);
    }
    fs::path user = home / "data" / "Halvenstrom" / "Kerfmill";
    fs::create_directories(user);
    std::ofstream(user / "config.dat", std::ios::binary).write((const char *)rec.data(), (std::streamsize)rec.size());
}

// A child process that never outlives the test: killed and reaped on any
// path that leaves it running.
struct shot_child {
    pid_t pid = -1;
    int status = 0;

    // True once the child has ended, after waiting up to seconds.
    bool wait(double seconds)
    {
        auto until = shot_clock::now() + std::chrono::duration<double>(seconds);
        while (pid > 0) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r != 0) {
                pid = -1;
                return r > 0;
            }
            if (shot_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    int exitcode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
    ~shot_child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// The log in the scratch home, empty until the program has made its folder.
static std::string shot_log(const fs::path &home)
{
    std::error_code ec;
    return fs::exists(home / "data" / "Halvenstrom" / "Kerfmill", ec) ? startup_log(home) : "";
}

struct shot_image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t *at(int x, int y) const { return &rgb[3 * ((size_t)y * width + x)]; }
};

// The whole screen of the display, through ImageMagick's import; false when
// it could not be taken or read within ten seconds.
static bool shot_take(const std::string &display, const fs::path &png, shot_image &image)
{
    std::string path = png.string();
    const char *argv[] = {"import", "-display", display.c_str(), "-window", "root", path.c_str(), nullptr};
    shot_child import;
    if (posix_spawnp(&import.pid, "import", nullptr, nullptr, (char *const *)argv, environ) != 0) {
        import.pid = -1;
        return false;
    }
    if (!import.wait(10.0) || import.exitcode() != 0)
        return false;
    png_image decoder = {};
    decoder.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&decoder, path.c_str()))
        return false;
    decoder.format = PNG_FORMAT_RGB;
    image.width = (int)decoder.width;
    image.height = (int)decoder.height;
    image.rgb.resize(PNG_IMAGE_SIZE(decoder));
    return png_image_finish_read(&decoder, nullptr, image.rgb.data(), 0, nullptr) != 0;
}

TEST_F(Startup, WindowShowsTheBackgroundGradientAndNoErrorBox)
{
    private_display display("1024x768x24");
    ASSERT_FALSE(display.name.empty()) << "no X server of the test's own";
    shot_writeconfig(home);
    // The frame limit only ends a child the termination signal never reached.
    shot_child program;
    program.pid = startup_spawn(home, {"DISPLAY=" + display.name, "KERFMILL_MSGBOX_ANSWERS=yes",
                                       "LIBGL_ALWAYS_SOFTWARE=1", "ASAN_OPTIONS=detect_leaks=0",
                                       "KERFMILL_QUIT_AFTER_FRAMES=6000"});
    ASSERT_GT(program.pid, 0) << "could not start " << KERFMILL_BIN;

    // The view's column halfway between the side panels, and three rows of
    // the view area in it.
    int left = 0, right = 0;
    memcpy(&left, cfg_defaults + cfg_leftpanelwidth, 4);
    memcpy(&right, cfg_defaults + cfg_rightpanelwidth, 4);
    const int column = shot_x + left + (shot_w - left - right) / 2;
    struct Row {
        const char *name;
        int y;
    };
    // The view area lies below the toolbar strip (38 px) and above the
    // status strip (34 px).
    const int viewtop = shot_y + 38, viewbottom = shot_y + shot_h - 34 - 1;
    const Row rows[] = {{"top", viewtop}, {"middle", shot_y + shot_h / 2}, {"bottom", viewbottom}};

    // First the loop banner, then a frame on screen: until one is shown the
    // window is as black as the screen around it.
    auto deadline = shot_clock::now() + std::chrono::seconds(60);
    bool looping = false, shown = false;
    while (!looping && !program.wait(0.0) && shot_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        looping = shot_log(home).find(" LOOP ") != std::string::npos;
    }
    ASSERT_TRUE(looping) << shot_log(home);
    fs::path png = home / "shot.png";
    shot_image screen;
    while (!shown && !program.wait(0.0) && shot_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(shot_take(display.name, png, screen)) << "no screenshot of " << display.name;
        ASSERT_EQ(screen.width, 1024);
        ASSERT_EQ(screen.height, 768);
        const uint8_t *p = screen.at(column, rows[1].y);
        shown = p[0] || p[1] || p[2];
    }
    ASSERT_GT(program.pid, 0) << "the program ended by itself\n" << shot_log(home);
    kill(program.pid, SIGTERM);
    ASSERT_TRUE(program.wait(30.0)) << "the program did not end on the termination signal";
    EXPECT_EQ(program.exitcode(), 0);
    EXPECT_TRUE(shown) << "the window stayed black";

    // Looking straight down, as the program starts, the gradient's parameter
    // is 0 from top to bottom: the lower colour, which the ordered dither
    // moves up to 0.05 of the way to the upper one.
    for (const Row &r : rows) {
        const uint8_t *p = screen.at(column, r.y);
        for (int i = 0; i < 3; i++) {
            float plain = shot_lower[i] * 255.0f;
            float dithered = (shot_lower[i] + 0.05f * (shot_upper[i] - shot_lower[i])) * 255.0f;
            EXPECT_GE(p[i], std::min(plain, dithered) - 2.0f) << r.name << " row, channel " << i;
            EXPECT_LE(p[i], std::max(plain, dithered) + 2.0f) << r.name << " row, channel " << i;
        }
    }

    // The terms question, answered yes, is the only box; nothing failed, and
    // the shutdown ran to its end.
    std::string log = shot_log(home);
    auto count = [&](const char *text) {
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            n++;
        return n;
    };
    EXPECT_EQ(count("sys_messagebox \"Beta Version Disclaimer\""), 1) << log;
    EXPECT_EQ(count("sys_messagebox \""), 1) << log;
    EXPECT_EQ(count("[ ERROR ]"), 0) << log;
    size_t end = log.find_last_not_of(" \r\n");
    std::string last = "returning to OS...";
    EXPECT_TRUE(end != std::string::npos && end + 1 >= last.size() &&
                log.compare(end + 1 - last.size(), last.size(), last) == 0)
        << log;
}
