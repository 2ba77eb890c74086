// Times a program from launch until one of its top-level windows is shown with a given
// caption. It waits on the X server's events instead of asking it again and again, so that
// the timing takes no processor time from the program it times. The windows are followed
// from their creation as children of the root, so a window manager's frames around them do
// not hide them.
//
// usage: tarnwick_launch_timer CAPTION PROGRAM [ARGS...]
// Prints the milliseconds; the program's own output goes to standard error. Exits 1 when
// the program ends (or cannot start) first or after 20 s without the window, 2 on bad
// arguments or without a display.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The window's caption, from the UTF-8 name Qt sets, else the plain one.
std::string Caption(Display* display, Window window) {
    static const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string caption;
    if (XGetWindowProperty(display, window, netName, 0, 4096, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data && type == utf8) {
        caption.assign(reinterpret_cast<char*>(data), count);
    } else {
        XTextProperty text{};
        if (XGetWMName(display, window, &text) && text.value)
            caption.assign(reinterpret_cast<char*>(text.value), text.nitems);
        if (text.value)
            XFree(text.value);
    }
    if (data)
        XFree(data);
    return caption;
}

// A window may go away while it is asked about: its errors are ignored.
int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// Starts the program in a process group of its own, so that what it starts goes with it.
pid_t Launch(Display* display, char** argv) {
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    const pid_t child = fork();
    if (child == 0) {
        // Nothing of the X connection is touched here: it closes at the exec, and a call on
        // it from this copy would write into the parent's stream. The program's output must
        // not be taken for the time.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        setpgid(0, 0);
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    if (child > 0)
        setpgid(child, child); // as the child does, whichever runs first
    return child;
}

// The top-level windows shown, followed through the server's events: the window whose
// caption the event may have changed, or 0.
class ShownWindows {
public:
    explicit ShownWindows(Display* display) : m_display(display) {}

    Window Take(const XEvent& event) {
        switch (event.type) {
        case CreateNotify: {
            // Its caption changes and its showing are heard from now on, wherever a window
            // manager puts it; one shown before that is asked about now.
            const Window window = event.xcreatewindow.window;
            XSelectInput(m_display, window, PropertyChangeMask | StructureNotifyMask);
            XWindowAttributes attributes;
            if (XGetWindowAttributes(m_display, window, &attributes) &&
                attributes.map_state != IsUnmapped)
                m_shown.insert(window);
            return window;
        }
        case MapNotify:
            m_shown.insert(event.xmap.window);
            return event.xmap.window;
        case UnmapNotify:
            m_shown.erase(event.xunmap.window);
            return 0;
        case DestroyNotify:
            m_shown.erase(event.xdestroywindow.window);
            return 0;
        case PropertyNotify:
            return event.xproperty.window;
        default:
            return 0;
        }
    }

    bool Shows(Window window, const std::string& caption) const {
        return window && m_shown.count(window) && Caption(m_display, window) == caption;
    }

private:
    Display* m_display;
    std::set<Window> m_shown;
};

// Waits until a window shows the caption (0), the program ends (1) or 20 s pass (1).
int WaitForCaption(Display* display, pid_t child, const std::string& caption,
                   Clock::time_point start, const char* name) {
    ShownWindows windows(display);
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (windows.Shows(windows.Take(event), caption)) {
                const auto ms = std::chrono::duration<double, std::milli>(Clock::now() - start);
                std::printf("%.0f\n", ms.count());
                return 0;
            }
        }
        if (waitpid(child, nullptr, WNOHANG) == child) {
            std::fprintf(stderr, "%s: the program ended before its window showed\n", name);
            return 1;
        }
        if (Clock::now() - start > std::chrono::seconds(20)) {
            std::fprintf(stderr, "%s: no window \"%s\" after 20 s\n", name, caption.c_str());
            return 1;
        }
        // Asleep until the server says something, or a while has passed to look at the child.
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, 100);
    }
}

// Ends the program and what it started; a program that refuses is made to end after 2 s.
void LetGo(pid_t child) {
    kill(-child, SIGTERM);
    for (int i = 0; i < 100 && waitpid(child, nullptr, WNOHANG) == 0; ++i)
        usleep(20000);
    kill(-child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CAPTION PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const std::string caption = argv[1];
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "%s: no X display\n", argv[0]);
        return 2;
    }
    XSetErrorHandler(IgnoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const Clock::time_point start = Clock::now();
    const pid_t child = Launch(display, argv + 2);
    if (child < 0) {
        std::perror("fork");
        return 2;
    }
    const int status = WaitForCaption(display, child, caption, start, argv[0]);
    // The time is out before the program is let go, which it may refuse for a while.
    std::fflush(stdout);
    LetGo(child);
    XCloseDisplay(display);
    return status;
}
