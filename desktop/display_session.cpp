#include "display_session.h"

#include "desktop_id.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QList>
#include <QString>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace murmelin {

namespace {

// True when a server listens on the Unix stream socket at PATH; a leading '@' names an
// abstract socket. A non-blocking connect to a local socket answers at once; a listener whose
// queue is full (EAGAIN) is busy, not absent.
bool socket_answers(const QByteArray& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  if (path.startsWith('@')) address.sun_path[0] = '\0';
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  const bool listening = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 ||
                         errno == EAGAIN || errno == EINPROGRESS;
  ::close(fd);
  return listening;
}

// DISPLAY is [host]:number[.screen]. A local display (no host, or "unix") answers on its
// socket; a remote one (X forwarding over the network) is taken on trust, since reaching it
// could take as long as the network does.
bool x11_display_reachable() {
  const QByteArray display = qgetenv("DISPLAY");
  const qsizetype colon = display.lastIndexOf(':');
  if (colon < 0) return false;
  const QByteArray host = display.left(colon);
  QByteArray number = display.mid(colon + 1);
  if (const qsizetype dot = number.indexOf('.'); dot >= 0) number.truncate(dot);
  bool numeric = false;
  number.toUInt(&numeric);
  if (!numeric) return false;
  if (host.startsWith('/')) return socket_answers(display.left(colon));  // a socket path
  if (!host.isEmpty() && host != "unix") return true;
  const QByteArray path = "/tmp/.X11-unix/X" + number;
  return socket_answers('@' + path) || socket_answers(path);
}

// WAYLAND_DISPLAY names a socket in XDG_RUNTIME_DIR, or is an absolute path; unset means
// "wayland-0", as the Wayland client library reads it.
bool wayland_display_reachable() {
  QByteArray name = qgetenv("WAYLAND_DISPLAY");
  if (name.isEmpty()) name = "wayland-0";
  if (name.startsWith('/')) return socket_answers(name);
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) return false;
  return socket_answers(runtime + '/' + name);
}

// QT_QPA_PLATFORM may list several platforms separated by ';', each with ':' options.
// Only the two desktop platforms can be checked; any other choice (offscreen, vnc, ...)
// stands as it is.
bool chosen_platform_reachable(const QByteArray& choice) {
  bool only_desktop_platforms = true;
  for (const QByteArray& entry : choice.split(';')) {
    const qsizetype colon = entry.indexOf(':');
    const QByteArray name = (colon < 0 ? entry : entry.first(colon)).trimmed();
    if (name.isEmpty()) continue;
    if (name == "xcb") {
      if (entry.contains(":display=") || x11_display_reachable()) return true;
    } else if (name.startsWith("wayland")) {
      if (wayland_display_reachable()) return true;
    } else {
      only_desktop_platforms = false;
    }
  }
  return !only_desktop_platforms;
}

}  // namespace

bool prepare_display_session() {
  QGuiApplication::setDesktopFileName(QString::fromLatin1(murmelin_desktop_entry));

  const QByteArray choice = qgetenv("QT_QPA_PLATFORM");
  bool reachable = false;
  if (!choice.trimmed().isEmpty()) {
    reachable = chosen_platform_reachable(choice);
  } else if (x11_display_reachable()) {
    qputenv("QT_QPA_PLATFORM", wayland_display_reachable() ? "xcb;wayland" : "xcb");
    reachable = true;
  } else if (wayland_display_reachable()) {
    qputenv("QT_QPA_PLATFORM", "wayland");
    reachable = true;
  }
  if (!reachable) {
    std::fputs(
        "Murmelin needs a graphical desktop session (X11 or Wayland), and none could be "
        "reached.\n",
        stderr);
  }
  return reachable;
}

}  // namespace murmelin
