// SPDX-License-Identifier: GPL-3.0-or-later
// Small X11 helpers for the e2e rig, which runs an X server without a window manager.
//
//   murmelin_e2e_x11 close WINDOW_ID
//       Asks a top-level window to close the way a window manager does: a WM_DELETE_WINDOW
//       client message (destroying the window instead would not be a clean close).
//       Exit code 1 when the window does not take WM_DELETE_WINDOW.
//   murmelin_e2e_x11 wait-map NAME SECONDS
//       Prints "ready" once it listens, then waits for a top-level window named NAME to be
//       mapped and prints "<CLOCK_REALTIME nanoseconds> <window id>" at that moment.
//       Exit code 1 when none is mapped within SECONDS.
// Both use $DISPLAY. Exit code 2: bad arguments or no display.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/select.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: murmelin_e2e_x11 close WINDOW_ID\n"
               "       murmelin_e2e_x11 wait-map NAME SECONDS\n");
  return 2;
}

long long realtime_ns() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double monotonic_s() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

int close_window(Display* dpy, const char* id_text) {
  char* end = nullptr;
  const unsigned long id = std::strtoul(id_text, &end, 0);
  if (end == id_text || *end != '\0' || id == 0) {
    std::fprintf(stderr, "murmelin_e2e_x11: bad window id '%s'\n", id_text);
    return 2;
  }
  const Window win = static_cast<Window>(id);
  const Atom wm_protocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
  const Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);

  Atom* protocols = nullptr;
  int count = 0;
  bool takes_delete = false;
  if (XGetWMProtocols(dpy, win, &protocols, &count)) {
    for (int i = 0; i < count; ++i)
      if (protocols[i] == wm_delete) takes_delete = true;
    XFree(protocols);
  }
  if (!takes_delete) {
    std::fprintf(stderr, "murmelin_e2e_x11: window 0x%lx does not take WM_DELETE_WINDOW\n", id);
    return 1;
  }

  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = win;
  ev.xclient.message_type = wm_protocols;
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(wm_delete);
  ev.xclient.data.l[1] = CurrentTime;
  const Status ok = XSendEvent(dpy, win, False, NoEventMask, &ev);
  XSync(dpy, False);
  if (!ok) {
    std::fprintf(stderr, "murmelin_e2e_x11: sending to window 0x%lx failed\n", id);
    return 2;
  }
  return 0;
}

bool has_name(Display* dpy, Window w, const std::string& name) {
  char* wm_name = nullptr;
  if (!XFetchName(dpy, w, &wm_name) || !wm_name) return false;
  const bool same = name == wm_name;
  XFree(wm_name);
  return same;
}

int wait_map(Display* dpy, const std::string& name, double seconds) {
  XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);
  XSync(dpy, False);
  std::printf("ready\n");
  std::fflush(stdout);
  const double deadline = monotonic_s() + seconds;
  const int fd = ConnectionNumber(dpy);
  for (;;) {
    while (XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type == MapNotify && has_name(dpy, ev.xmap.window, name)) {
        const long long t = realtime_ns();
        std::printf("%lld %lu\n", t, static_cast<unsigned long>(ev.xmap.window));
        std::fflush(stdout);
        return 0;
      }
    }
    const double left = deadline - monotonic_s();
    if (left <= 0.0) {
      std::fprintf(stderr, "murmelin_e2e_x11: no window '%s' mapped within %.1f s\n", name.c_str(),
                   seconds);
      return 1;
    }
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fd, &fds);
    timeval tv{};
    tv.tv_sec = static_cast<long>(left);
    tv.tv_usec = static_cast<long>((left - double(tv.tv_sec)) * 1e6);
    select(fd + 1, &fds, nullptr, nullptr, &tv);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string cmd = argv[1];
  if (!((cmd == "close" && argc == 3) || (cmd == "wait-map" && argc == 4))) return usage();
  double seconds = 0.0;
  if (cmd == "wait-map") {
    char* end = nullptr;
    seconds = std::strtod(argv[3], &end);
    if (end == argv[3] || *end != '\0' || !(seconds > 0.0 && seconds < 3600.0)) return usage();
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "murmelin_e2e_x11: cannot open display\n");
    return 2;
  }
  const int rc = cmd == "close" ? close_window(dpy, argv[2]) : wait_map(dpy, argv[2], seconds);
  XCloseDisplay(dpy);
  return rc;
}
