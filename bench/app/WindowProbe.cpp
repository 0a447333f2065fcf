// SPDX-License-Identifier: Apache-2.0
// Starts a program and tells, from outside it, when its window came on screen: the X
// server is watched for a viewable window whose WM_CLASS instance is the program's file
// name ("mapped"), then one pixel of that window is read until it has the expected colour
// ("drawn", i.e. the program has painted it). Times are milliseconds since the fork.
//   window_probe [--timeout S] [--pixel X,Y,RRGGBB] -- PROGRAM [ARGS...]
// Prints "mapped MS drawn MS" and exits 0; exits 1 when the window was not drawn within
// the timeout (default 20 s). The program's output goes to the probe's stderr; it runs in
// a process group of its own, which is stopped (SIGTERM, then SIGKILL after 3 s) before
// the probe exits.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Windows come and go while they are looked at; a request on one that is gone fails
// quietly instead of ending the probe.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

bool HasInstance(Display* d, Window w, const std::string& instance) {
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint)) return false;
    const bool match = hint.res_name && instance == hint.res_name;
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return match;
}

// The viewable window at or below w with that instance name (a window manager may have
// put it into a frame), or 0.
Window FindViewable(Display* d, Window w, const std::string& instance, bool isRoot) {
    XWindowAttributes attr;
    if (!isRoot && (!XGetWindowAttributes(d, w, &attr) || attr.map_state != IsViewable)) return 0;
    if (!isRoot && HasInstance(d, w, instance)) return w;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) found = FindViewable(d, children[i], instance, false);
    if (children) XFree(children);
    return found;
}

bool PixelIs(Display* d, Window w, int x, int y, unsigned long rgb) {
    XImage* img = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img) return false;
    const unsigned long pixel = XGetPixel(img, 0, 0) & 0xFFFFFFul;
    XDestroyImage(img);
    return pixel == rgb;
}

void StopGroup(pid_t pid) {
    kill(-pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) break;
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, WNOHANG);
}

}  // namespace

int main(int argc, char** argv) {
    double timeoutMs = 20000;
    int px = 3, py = 3;
    unsigned long rgb = 0xECE9D8;  // the main window's background, RGB(236, 233, 216)
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) {
            timeoutMs = std::atof(argv[++i]) * 1000;
        } else if (!std::strcmp(argv[i], "--pixel") && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%d,%d,%lx", &px, &py, &rgb) != 3) return 2;
        } else {
            break;
        }
    }
    if (i + 1 >= argc || std::strcmp(argv[i], "--") != 0) {
        std::fprintf(stderr, "usage: window_probe [--timeout S] [--pixel X,Y,RRGGBB] -- PROGRAM [ARGS...]\n");
        return 2;
    }
    char** program = argv + i + 1;
    const char* slash = std::strrchr(program[0], '/');
    const std::string instance = slash ? slash + 1 : program[0];

    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "window_probe: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(IgnoreXErrors);
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);  // wakes the probe when top-levels map
    XSync(d, False);

    const double start = NowMs();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(2, 1);  // the probe's own output stays its one line
        execvp(program[0], program);
        _exit(127);
    }
    setpgid(pid, pid);

    Window client = 0;
    double mapped = -1, drawn = -1;
    while (NowMs() - start < timeoutMs) {
        while (XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
        }
        if (!client && (client = FindViewable(d, root, instance, true))) mapped = NowMs() - start;
        if (client && PixelIs(d, client, px, py, rgb)) {
            drawn = NowMs() - start;
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) break;
        pollfd pfd{ConnectionNumber(d), POLLIN, 0};
        poll(&pfd, 1, client ? 2 : 5);
    }
    StopGroup(pid);
    XCloseDisplay(d);
    if (drawn < 0) {
        std::fprintf(stderr, "window_probe: no drawn window of %s within %.0f ms (mapped %.1f)\n", instance.c_str(),
                     timeoutMs, mapped);
        return 1;
    }
    std::printf("mapped %.1f drawn %.1f\n", mapped, drawn);
    return 0;
}
