// Asks a top-level window to close the way a window manager does: a WM_DELETE_WINDOW
// client message. The rig's X server runs no window manager, and destroying the window
// instead would not be a clean close.
//   murmelin_e2e_wmclose WINDOW_ID      (decimal or 0x hex; uses $DISPLAY)
// Exit code 0: sent; 1: the window does not take WM_DELETE_WINDOW; 2: other errors.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: murmelin_e2e_wmclose WINDOW_ID\n");
    return 2;
  }
  char* end = nullptr;
  const unsigned long id = std::strtoul(argv[1], &end, 0);
  if (end == argv[1] || *end != '\0' || id == 0) {
    std::fprintf(stderr, "murmelin_e2e_wmclose: bad window id '%s'\n", argv[1]);
    return 2;
  }
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "murmelin_e2e_wmclose: cannot open display\n");
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
    std::fprintf(stderr, "murmelin_e2e_wmclose: window 0x%lx does not take WM_DELETE_WINDOW\n", id);
    XCloseDisplay(dpy);
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
  XCloseDisplay(dpy);
  if (!ok) {
    std::fprintf(stderr, "murmelin_e2e_wmclose: sending to window 0x%lx failed\n", id);
    return 2;
  }
  return 0;
}
