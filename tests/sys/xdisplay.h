// Test helper: an X server of the test's own (Xvfb on a free display
// number), for tests that run the program as a child and need its window to
// be the only one on the screen; and the window manager's close request,
// sent to a child's window through the X library looked up at run time.
#pragma once
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

extern char **environ;

// On the shared display the windows of tests running beside the child take
// the focus from it, and an unfocused window runs at 20 Hz whatever the
// configuration says; a screenshot of the shared display shows them too.
struct private_display {
    pid_t pid = -1;
    std::string name; // ":n", empty when no server started

    // extra: more Xvfb arguments ("-fp", "built-ins" leaves the server
    // without the core fonts of a fresh machine).
    explicit private_display(const char *screen = "640x480x24", const std::vector<std::string> &extra = {})
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        std::string fd = std::to_string(fds[1]);
        std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", screen, "-nolisten", "tcp"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, argv.data(), environ) != 0)
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
    private_display(const private_display &) = delete;
    private_display &operator=(const private_display &) = delete;
};

// The X library, looked up at run time: only the tests that press a window's
// close button, as a window manager does, talk to the X server themselves.
struct x11_api {
    void *lib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    template <typename F> F get(const char *name) { return lib ? (F)dlsym(lib, name) : nullptr; }
    decltype(&XOpenDisplay) opendisplay = get<decltype(&XOpenDisplay)>("XOpenDisplay");
    decltype(&XCloseDisplay) closedisplay = get<decltype(&XCloseDisplay)>("XCloseDisplay");
    decltype(&XDefaultRootWindow) rootwindow = get<decltype(&XDefaultRootWindow)>("XDefaultRootWindow");
    decltype(&XInternAtom) internatom = get<decltype(&XInternAtom)>("XInternAtom");
    decltype(&XQueryTree) querytree = get<decltype(&XQueryTree)>("XQueryTree");
    decltype(&XGetWindowProperty) getproperty = get<decltype(&XGetWindowProperty)>("XGetWindowProperty");
    decltype(&XFree) free = get<decltype(&XFree)>("XFree");
    decltype(&XSendEvent) sendevent = get<decltype(&XSendEvent)>("XSendEvent");
    decltype(&XFlush) flush = get<decltype(&XFlush)>("XFlush");
    ~x11_api()
    {
        if (lib)
            dlclose(lib);
    }
    x11_api() = default;
    x11_api(const x11_api &) = delete;
    x11_api &operator=(const x11_api &) = delete;
    bool ready() const
    {
        return opendisplay && closedisplay && rootwindow && internatom && querytree && getproperty && free &&
               sendevent && flush;
    }
};

// Sends the close request (WM_DELETE_WINDOW) to the first top-level window
// of the display (null: $DISPLAY) whose _NET_WM_PID owner accepts; true when
// one was found.
inline bool xdisplay_closewindow(x11_api &x, const char *name, const std::function<bool(pid_t)> &owner)
{
    if (!x.ready())
        return false;
    Display *display = x.opendisplay(name);
    if (!display)
        return false;
    Atom pidatom = x.internatom(display, "_NET_WM_PID", False);
    Atom protocols = x.internatom(display, "WM_PROTOCOLS", False);
    Atom deletewindow = x.internatom(display, "WM_DELETE_WINDOW", False);
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    bool sent = false;
    if (x.querytree(display, x.rootwindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !sent; i++) {
            Atom type;
            int format;
            unsigned long items, after;
            unsigned char *data = nullptr;
            if (x.getproperty(display, children[i], pidatom, 0, 1, False, XA_CARDINAL, &type, &format, &items,
                              &after, &data) != Success || !data)
                continue;
            pid_t pid = items ? (pid_t) * (unsigned long *)data : -1;
            x.free(data);
            if (pid <= 0 || !owner(pid))
                continue;
            XEvent e = {};
            e.xclient.type = ClientMessage;
            e.xclient.window = children[i];
            e.xclient.message_type = protocols;
            e.xclient.format = 32;
            e.xclient.data.l[0] = (long)deletewindow;
            e.xclient.data.l[1] = CurrentTime;
            sent = x.sendevent(display, children[i], False, NoEventMask, &e) != 0;
        }
        if (children)
            x.free(children);
    }
    x.flush(display);
    x.closedisplay(display);
    return sent;
}
