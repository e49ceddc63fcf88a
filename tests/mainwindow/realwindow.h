// Test helper: the program as a person uses it. It runs as a child on an X
// server of its own (1280 x 800), with a written configuration (its window at
// 0,0 the size of the screen, not maximised, the terms accepted) and the test
// seams set; the test clicks, drags and types through xdotool at the places
// the program writes to its element file (KERFMILL_ELEMENTS), waits for log
// lines and element states with a bound, and compares screenshots taken by
// ImageMagick's import with golden images. Every child runs without a shell
// and every wait has a limit; the program is ended by its window's close
// request, then SIGKILL.
#pragma once
#include "gui/goldenimage.h"
#include "sys/runprogram.h"
#include "sys/xdisplay.h"
#include "testchild.h"
#include "testenv.h"
#include "testfolder.h"

#include "sys/config.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct realwindow_rect {
    int x = 0, y = 0, w = 0, h = 0;
};

// One line of the element file: "<name or -> <window> <x> <y> <w> <h>".
struct realwindow_element {
    std::string name; // "-" for an entry without a name
    int window = 0;
    realwindow_rect r;
    int cx() const { return r.x + r.w / 2; }
    int cy() const { return r.y + r.h / 2; }
};

// The element file: its head "frame <n> mode <projectmode> dialog
// <gui_dialogid> open <gui_openid>", then the elements in call order.
struct realwindow_elements {
    long frame = -1; // -1 until a file has been read
    int mode = 0, dialog = 0, open = 0;
    std::vector<realwindow_element> items;

    const realwindow_element *find(const std::string &name) const
    {
        for (const realwindow_element &e : items)
            if (e.name == name)
                return &e;
        return nullptr;
    }
    // The index-th entry (from 0) of a window, named or not: the entries of
    // drop-down lists have no names and are taken by their order.
    const realwindow_element *nth(int window, int index) const
    {
        for (const realwindow_element &e : items)
            if (e.window == window && index-- == 0)
                return &e;
        return nullptr;
    }
};

// Reads the element file's text; false (out untouched) when the head is not
// there or a line is not an element. A name may hold blanks: the five
// numbers are read from the line's end.
inline bool realwindow_parseelements(const std::string &text, realwindow_elements &out)
{
    std::istringstream in(text);
    std::string line;
    realwindow_elements got;
    if (!std::getline(in, line) || sscanf(line.c_str(), "frame %ld mode %d dialog %d open %d", &got.frame,
                                          &got.mode, &got.dialog, &got.open) != 4)
        return false;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        realwindow_element e;
        int *fields[] = {&e.r.h, &e.r.w, &e.r.y, &e.r.x, &e.window};
        size_t end = line.size();
        for (int *f : fields) {
            size_t blank = line.rfind(' ', end - 1);
            if (blank == std::string::npos || blank == 0)
                return false;
            char *stop = nullptr;
            std::string number = line.substr(blank + 1, end - blank - 1);
            *f = (int)strtol(number.c_str(), &stop, 10);
            if (number.empty() || *stop)
                return false;
            end = blank;
        }
        e.name = line.substr(0, end);
        got.items.push_back(e);
    }
    out = got;
    return true;
}

struct realwindow_options {
    bool termsaccepted = true;
    // The message boxes' answers in turn; null shows the real boxes.
    const char *msgboxanswers = "ok";
    // KERFMILL_DIALOG_PATHS: the file dialogs' answers, newline-separated.
    std::string dialogpaths;
    // More for the program's environment: "NAME=value" replaces, a bare
    // "NAME" removes an inherited variable.
    std::vector<std::string> env;
    // More arguments for the X server.
    std::vector<std::string> xvfbargs;
    // The program's command-line arguments (a project to open).
    std::vector<std::string> args;
    // Changes to the configuration record before it is written.
    std::function<void(std::vector<uint8_t> &record)> configure;
};

class realwindow {
public:
    static constexpr int width = 1280, height = 800;
    static constexpr double stepseconds = 10; // the bound of each xdotool and import run
    static constexpr double framewaitseconds = 90; // one frame, a detailed redraw under load included

    testfolder home{"realwindow"};
    private_display display;
    std::string why; // what the last failing call could not do
    realwindow_elements last; // the element file as last read

    explicit realwindow(const realwindow_options &opt = {}) : display("1280x800x24", opt.xvfbargs)
    {
        if (display.name.empty()) {
            why = "no X server of the test's own";
            return;
        }
        // xdotool and import reach the display through the environment.
        env.set("DISPLAY", display.name.c_str());
        writeconfig(opt);
        std::vector<std::string> childenv = {
            "DISPLAY=" + display.name,
            // Never SDL's invisible stand-in drivers: a window nobody can
            // click would only time the test out.
            "SDL_VIDEODRIVER=x11",
            "LIBGL_ALWAYS_SOFTWARE=1",
            "ASAN_OPTIONS=detect_leaks=0:log_path=" + home.at("asan"),
            "KERFMILL_SHELL_LOG=1",
            "KERFMILL_SKIP_CONVO_TIMING=1",
            "KERFMILL_DIALOG_PATHS=" + opt.dialogpaths,
            "KERFMILL_ELEMENTS=" + elementpath().string(),
            opt.msgboxanswers ? std::string("KERFMILL_MSGBOX_ANSWERS=") + opt.msgboxanswers
                              : std::string("KERFMILL_MSGBOX_ANSWERS"),
            "KERFMILL_QUIT_AFTER_FRAMES",
        };
        for (const std::string &e : opt.env) {
            std::string key = e.substr(0, e.find('=')) + "=";
            std::erase_if(childenv, [&](const std::string &c) { return (c + "=").starts_with(key); });
            childenv.push_back(e);
        }
        pid = startup_spawn(home.path, childenv, opt.args);
        // On a loaded machine SDL now and then fails to reach a server that
        // has just started ("SDL init failed: x11 not available"); one more
        // start, on the same server, tells that apart from a real fault.
        if (pid > 0 && sdlfailed()) {
            std::error_code ec;
            for (auto &e : std::filesystem::directory_iterator(userfolder(), ec))
                if (e.path().string().ends_with("-log.txt"))
                    std::filesystem::remove(e.path(), ec);
            ended = false;
            pid = startup_spawn(home.path, childenv, opt.args);
        }
        if (pid < 0)
            why = std::string("cannot start ") + KERFMILL_BIN;
    }
    ~realwindow() { end(); }
    realwindow(const realwindow &) = delete;
    realwindow &operator=(const realwindow &) = delete;

    bool started() const { return pid > 0 || ended; }
    std::filesystem::path userfolder() const { return home.path / "data" / "Halvenstrom" / "Kerfmill"; }
    std::filesystem::path elementpath() const { return home.path / "elements.txt"; }

    // Waits, at most 20 s, until SDL has started in the program; true when
    // the program ended because SDL could not.
    bool sdlfailed()
    {
        auto until = clock::now() + std::chrono::seconds(20);
        while (clock::now() < until) {
            bool alive = running();
            std::string text = log();
            if (text.find("...initialized SDL") != std::string::npos)
                return false;
            if (!alive)
                return text.find("SDL init failed") != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // True while the program runs; once it has ended, its exit code is kept.
    bool running()
    {
        if (pid <= 0)
            return false;
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == 0)
            return true;
        code = r == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid = -1;
        ended = true;
        return false;
    }

    // The program's log so far, empty until it has made its folder.
    std::string log() const
    {
        std::error_code ec;
        return std::filesystem::exists(userfolder(), ec) ? startup_log(home.path) : "";
    }
    // Waits up to seconds for text to appear in the log at or after byte
    // from (a length of log() taken earlier: lines that come after it).
    bool waitlog(const std::string &text, double seconds, size_t from = 0)
    {
        auto until = clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            bool alive = running();
            std::string now = log();
            if (now.size() > from && now.find(text, from) != std::string::npos)
                return true;
            if (!alive || clock::now() >= until) {
                why = "no \"" + text + "\" in the log after " + std::to_string(seconds) + " s" +
                      (alive ? "" : " (the program has ended)");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // The element file now; frame -1 when there is none yet.
    realwindow_elements elements() const
    {
        realwindow_elements got;
        std::ifstream in(elementpath());
        std::stringstream text;
        text << in.rdbuf();
        realwindow_parseelements(text.str(), got);
        return got;
    }
    // Waits up to seconds for an element file that pleases the predicate;
    // the last file read is kept in last either way.
    bool waitelements(const std::function<bool(const realwindow_elements &)> &ok, double seconds)
    {
        auto until = clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            bool alive = running();
            last = elements();
            if (last.frame >= 0 && ok(last))
                return true;
            if (!alive || clock::now() >= until) {
                why = "the element file (frame " + std::to_string(last.frame) + ") never matched within " +
                      std::to_string(seconds) + " s" + (alive ? "" : " (the program has ended)");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
    }
    // The named element, once it is in the element file (at most seconds).
    const realwindow_element *element(const std::string &name, double seconds = stepseconds)
    {
        if (!waitelements([&](const realwindow_elements &e) { return e.find(name) != nullptr; }, seconds)) {
            why = "no element \"" + name + "\": " + why;
            return nullptr;
        }
        return last.find(name);
    }

    // xdotool with args; its output in *out when asked. False when it failed
    // or ran longer than stepseconds.
    bool xdotool(const std::vector<std::string> &args, std::string *out = nullptr)
    {
        std::vector<std::string> argv = {"xdotool"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string file = home.at("xdotool.out");
        int status = testchild_run(argv, stepseconds, file);
        if (out) {
            std::ifstream in(file);
            std::stringstream text;
            text << in.rdbuf();
            *out = text.str();
        }
        if (status != 0)
            why = "xdotool " + (args.empty() ? std::string() : args[0]) + " failed (" + std::to_string(status) + ")";
        return status == 0;
    }
    // Puts the pointer at x, y of the screen. xdotool's --sync waits for the
    // pointer to move, which it never does when it is there already.
    bool moveto(int x, int y)
    {
        std::string at;
        if (!xdotool({"getmouselocation", "--shell"}, &at))
            return false;
        if (at.find("X=" + std::to_string(x) + "\n") != std::string::npos &&
            at.find("Y=" + std::to_string(y) + "\n") != std::string::npos)
            return true;
        return xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y)});
    }
    // The element file's head as the last written frame saw the pointer:
    // its place and its buttons (bits 1, 2, 4: left, middle, right).
    struct pointerstate {
        long frame = -1;
        int x = -1, y = -1, buttons = -1;
    };
    pointerstate pointer() const
    {
        std::ifstream in(elementpath());
        std::string head;
        std::getline(in, head);
        pointerstate p;
        if (sscanf(head.c_str(), "frame %ld", &p.frame) != 1)
            p.frame = -1;
        size_t at = head.rfind(" pointer ");
        if (at == std::string::npos || sscanf(head.c_str() + at, " pointer %d %d %d", &p.x, &p.y, &p.buttons) != 3)
            p.buttons = -1;
        return p;
    }
    // Waits until a frame has seen the pointer at x, y with these buttons.
    // The bound covers a detailed redraw, tens of seconds under the
    // sanitizers on a loaded machine.
    bool pointerseen(int x, int y, int buttons, double seconds = framewaitseconds)
    {
        auto until = clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            pointerstate p = pointer();
            if (p.x == x && p.y == y && p.buttons == buttons)
                return true;
            if (!running() || clock::now() >= until) {
                why = "no frame saw the pointer at " + std::to_string(x) + "," + std::to_string(y) + " buttons " +
                      std::to_string(buttons) + " (last: frame " + std::to_string(p.frame) + " at " +
                      std::to_string(p.x) + "," + std::to_string(p.y) + " buttons " + std::to_string(p.buttons) + ")";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Presses a button (1..3) over x, y once a frame has seen the pointer
    // there, and waits for a frame that holds it. A frame over a second long
    // makes the program ignore buttons for a moment after it, as it should
    // for a person's impatient clicks, so a press can be lost while slow
    // redraws follow each other under load: a lost press is told apart from
    // a late one by two later frames that still show no button (the program
    // rewrites its element file at least four times a second), and made
    // again until the program has come to rest, within a bound.
    bool press(int x, int y, int button)
    {
        const int bit = button == 1 ? 1 : button == 2 ? 2 : 4;
        const std::string b = std::to_string(button);
        if (!moveto(x, y) || !pointerseen(x, y, 0))
            return false;
        auto until = clock::now() + std::chrono::duration<double>(framewaitseconds);
        for (int attempt = 1;; attempt++) {
            if (!xdotool({"mousedown", b}))
                return false;
            // The X server may hand the event over a little after xdotool
            // returns: frames counted from here polled after it.
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            const long from = pointer().frame;
            for (;;) {
                pointerstate p = pointer();
                if (p.buttons >= 0 && (p.buttons & bit))
                    return true;
                if (p.frame >= from + 2)
                    break; // two frames went by without it: ignored
                if (!running() || clock::now() >= until) {
                    why = "no frame after the press (last frame " + std::to_string(p.frame) + ")";
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!xdotool({"mouseup", b}))
                return false;
            if (clock::now() >= until) {
                why = std::to_string(attempt) + " presses at " + std::to_string(x) + "," + std::to_string(y) +
                      " were all ignored";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }
    // Lets go of a pressed button and waits for a frame that saw it go.
    bool release(int x, int y, int button)
    {
        return xdotool({"mouseup", std::to_string(button)}) && pointerseen(x, y, 0);
    }
    // A click in the program's window: the press and the release each taken
    // by a frame of its own, after a frame has seen the pointer over the
    // element (a button takes a press only then). The wheel (4, 5) has no
    // held state and is clicked at once.
    bool clickat(int x, int y, int button = 1)
    {
        if (button > 3)
            return moveto(x, y) && pointerseen(x, y, 0) && xdotool({"click", std::to_string(button)});
        return press(x, y, button) && release(x, y, button);
    }
    // A click in another program's window (a message box), whose frames this
    // program does not see: the pointer rests, then the press is held.
    bool clickforeign(int x, int y)
    {
        if (!moveto(x, y))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        if (!xdotool({"mousedown", "1"}))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return xdotool({"mouseup", "1"});
    }
    // Clicks the centre of the named element.
    bool click(const std::string &name, int button = 1)
    {
        const realwindow_element *e = element(name);
        return e && clickat(e->cx(), e->cy(), button);
    }
    // Presses at x0, y0, moves to x1, y1 in steps, each taken by a frame
    // with the button held before the next is made, and lets go: how far a
    // drag goes then does not hang on how the machine's load groups the
    // events into frames.
    bool dragat(int x0, int y0, int x1, int y1, int steps = 8, int button = 1)
    {
        const int bit = button == 1 ? 1 : button == 2 ? 2 : 4;
        if (!press(x0, y0, button))
            return false;
        for (int i = 1; i <= steps; i++) {
            int x = x0 + (x1 - x0) * i / steps, y = y0 + (y1 - y0) * i / steps;
            if (!moveto(x, y) || !pointerseen(x, y, bit))
                return false;
        }
        return release(x1, y1, button);
    }
    // Drags the named element's centre by dx, dy.
    bool drag(const std::string &name, int dx, int dy)
    {
        const realwindow_element *e = element(name);
        return e && dragat(e->cx(), e->cy(), e->cx() + dx, e->cy() + dy);
    }
    // Gives the keyboard focus to the window of that X id (from findwindow):
    // there is no window manager to do it, and the program's window takes
    // the focus when it is shown.
    bool focus(const std::string &id) { return xdotool({"windowfocus", "--sync", id}); }
    // Types text into the window with the keyboard focus.
    bool type(const std::string &text) { return xdotool({"type", "--delay", "40", "--", text}); }
    // Presses a key combination in xdotool's names ("ctrl+s", "Return").
    bool key(const std::string &combo) { return xdotool({"key", "--delay", "40", combo}); }

    // A top-level window of the display by its title (the program's message
    // boxes, zenity's): its place and size, and its X id in *id when asked,
    // waiting up to seconds for it. xdotool's own name search misses UTF-8
    // titles, so every window's name is asked.
    bool findwindow(const std::string &title, double seconds, realwindow_rect &r, std::string *id = nullptr)
    {
        auto until = clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            std::string ids, name, geometry;
            if (xdotool({"search", "--maxdepth", "1", "--name", "--class", "--classname", ""}, &ids)) {
                std::istringstream list(ids);
                for (std::string window; list >> window;) {
                    if (!xdotool({"getwindowname", window}, &name) || name != title + "\n")
                        continue;
                    if (!xdotool({"getwindowgeometry", "--shell", window}, &geometry))
                        continue;
                    auto field = [&](const char *key) {
                        size_t at = geometry.find(std::string("\n") + key + "=");
                        return at == std::string::npos ? 0 : atoi(geometry.c_str() + at + strlen(key) + 2);
                    };
                    r = {field("X"), field("Y"), field("WIDTH"), field("HEIGHT")};
                    if (id)
                        *id = window;
                    return true;
                }
            }
            if (clock::now() >= until || !running()) {
                why = "no window \"" + title + "\" within " + std::to_string(seconds) + " s" +
                      (running() ? "" : " (the program has ended)");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // The whole screen into png (ImageMagick's import), read back into image
    // when one is given.
    bool screenshot(const std::filesystem::path &png, rgbimage *image = nullptr)
    {
        int status = testchild_run({"import", "-display", display.name, "-window", "root", png.string()}, stepseconds);
        if (status != 0) {
            why = "import failed (" + std::to_string(status) + ")";
            return false;
        }
        if (image && !golden_readpng(png, *image)) {
            why = "cannot read " + png.string();
            return false;
        }
        return true;
    }
    // A screenshot against the golden png: the masked rectangles are filled
    // in both, then compare -metric AE -fuzz 5% must find no pixel apart.
    // KERFMILL_UPDATE_GOLDEN=1 writes the golden from this screen instead
    // (look at it before checking it in). On a difference the images stay in
    // a folder named in why.
    bool compare(const std::filesystem::path &golden, const std::vector<realwindow_rect> &masks)
    {
        namespace fs = std::filesystem;
        rgbimage actual, expected;
        const char *update = getenv("KERFMILL_UPDATE_GOLDEN");
        if (update && strcmp(update, "1") == 0)
            return screenshot(golden);
        if (!screenshot(home.at("actual.png"), &actual))
            return false;
        if (!golden_readpng(golden, expected)) {
            why = "cannot read the golden " + golden.string();
            return false;
        }
        if (expected.width != actual.width || expected.height != actual.height) {
            why = "the golden " + golden.string() + " is not " + std::to_string(actual.width) + "x" +
                  std::to_string(actual.height);
            return false;
        }
        for (rgbimage *img : {&actual, &expected})
            for (const realwindow_rect &m : masks)
                realwindow_fill(*img, m);
        fs::path dir = fs::temp_directory_path() /
                       ("kerfmill_" + golden.stem().string() + "_" + std::to_string(getpid()));
        fs::create_directories(dir);
        std::string count;
        int status = -1;
        if (golden_writepng(actual, dir / "actual.png") && golden_writepng(expected, dir / "expected.png"))
            status = golden_compare(dir / "actual.png", dir / "expected.png", dir / "diff.png", count);
        if (status == 0 && count == "0") {
            fs::remove_all(dir);
            return true;
        }
        why = status < 0 ? "compare could not be run (scripts/deps.sh installs imagemagick)"
                         : count + " pixels differ by more than 5% from " + golden.string() + "; see " + dir.string();
        return false;
    }

    // compare, taken again until the frames after the last input are drawn
    // (at most seconds); with KERFMILL_UPDATE_GOLDEN=1 once, after 3 s.
    bool matches(const std::filesystem::path &golden, const std::vector<realwindow_rect> &masks, double seconds)
    {
        const char *update = getenv("KERFMILL_UPDATE_GOLDEN");
        if (update && strcmp(update, "1") == 0) {
            // A golden is written from a picture at rest: the slow redraws
            // of a loaded machine are given their time first.
            std::this_thread::sleep_for(std::chrono::duration<double>(std::clamp(seconds / 2, 3.0, 15.0)));
            return compare(golden, masks);
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            if (compare(golden, masks))
                return true;
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }

    // ASan's reports of the program, empty when it found nothing.
    // What to show when a step fails: the end of the log and ASan's reports.
    std::string tail(size_t chars = 12000) const
    {
        std::string text = log();
        return "\n... " + text.substr(text.size() > chars ? text.size() - chars : 0) + "\n" + asanreport();
    }
    std::string asanreport() const
    {
        std::string text;
        for (auto &e : std::filesystem::directory_iterator(home.path))
            if (e.path().filename().string().starts_with("asan")) {
                std::ifstream in(e.path());
                std::stringstream s;
                s << in.rdbuf();
                text += s.str();
            }
        return text;
    }

    // Ends the program as a person does: the close request to its window,
    // up to seconds for it to quit, then SIGKILL. Its exit code; -1 when it
    // was ended by a signal, testchild_timedout when it had to be killed.
    int end(double seconds = 30)
    {
        if (!running())
            return code;
        auto until = clock::now() + std::chrono::duration<double>(seconds);
        x11_api x;
        const pid_t child = pid;
        while (clock::now() < until && running() &&
               !xdisplay_closewindow(x, display.name.c_str(), [&](pid_t p) { return p == child; }))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!running())
            return code;
        double left = std::chrono::duration<double>(until - clock::now()).count();
        code = testchild_wait(pid, left > 0 ? left : 0);
        pid = -1;
        ended = true;
        return code;
    }

private:
    using clock = std::chrono::steady_clock;
    scoped_env env;
    pid_t pid = -1;
    bool ended = false;
    int code = -1;

    static void realwindow_fill(rgbimage &img, const realwindow_rect &m)
    {
        for (int y = std::max(m.y, 0); y < std::min(m.y + m.h, img.height); y++)
            for (int x = std::max(m.x, 0); x < std::min(m.x + m.w, img.width); x++)
                memset(&img.rgb[3 * ((size_t)y * img.width + x)], 0, 3);
    }

    // The built-in record with the window on the whole screen.
    void writeconfig(const realwindow_options &opt)
    {
        std::vector<uint8_t> rec(cfg_defaults, cfg_defaults + cfg_size);
        auto put = [&](int offset, int32_t value) { memcpy(rec.data() + offset, &value, 4); };
        put(cfg_termsaccepted, opt.termsaccepted);
        put(cfg_windowmaximised, 0);
        put(cfg_windowx, 0);
        put(cfg_windowy, 0);
        put(cfg_windowwidth, width);
        put(cfg_windowheight, height);
        if (opt.configure)
            opt.configure(rec);
        std::filesystem::create_directories(userfolder());
        std::ofstream(userfolder() / "config.dat", std::ios::binary)
            .write((const char *)rec.data(), (std::streamsize)rec.size());
    }
};
