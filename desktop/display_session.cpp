// SPDX-License-Identifier: GPL-3.0-or-later
#include "display_session.h"

#include "desktop_id.h"
#include "translation.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QList>
#include <QMessageLogContext>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

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

// True when Qt's platform plugin FILE (libqxcb.so, ...) lies where Qt looks for it:
// QT_QPA_PLATFORM_PLUGIN_PATH, and the "platforms" folder under each library path (those of
// QT_PLUGIN_PATH and Qt's own). Qt aborts when the chosen platform's plugin is missing.
bool platform_plugin_installed(const char* file) {
  QStringList folders;
  const QByteArray plugin_path = qgetenv("QT_QPA_PLATFORM_PLUGIN_PATH");
  if (!plugin_path.isEmpty()) folders << QString::fromLocal8Bit(plugin_path);
  for (const QString& path : QCoreApplication::libraryPaths()) folders << path + "/platforms";
  for (const QString& folder : folders) {
    if (QFileInfo(folder + '/' + QLatin1String(file)).isFile()) return true;
  }
  return false;
}

bool x11_plugin_installed() { return platform_plugin_installed("libqxcb.so"); }

// The name of an installed Wayland platform, or nothing.
QByteArray wayland_platform() {
  if (platform_plugin_installed("libqwayland-egl.so")) return "wayland";
  if (platform_plugin_installed("libqwayland-generic.so")) return "wayland-generic";
  return {};
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
      if (x11_plugin_installed() && (entry.contains(":display=") || x11_display_reachable()))
        return true;
    } else if (name.startsWith("wayland")) {
      if (!wayland_platform().isEmpty() && wayland_display_reachable()) return true;
    } else {
      only_desktop_platforms = false;
    }
  }
  return !only_desktop_platforms;
}

constexpr char wayland_plugin_missing[] = QT_TRANSLATE_NOOP(
    "display_session",
    "Murmelin needs Qt's Wayland platform plugin to open a window on this Wayland session; "
    "install the package qt6-wayland.");
constexpr char x11_plugin_missing[] = QT_TRANSLATE_NOOP(
    "display_session",
    "Murmelin needs Qt's X11 platform plugin to open a window on this X11 session; install the "
    "package libqt6gui6.");
constexpr char no_session[] = QT_TRANSLATE_NOOP(
    "display_session",
    "Murmelin needs a graphical desktop session (X11 or Wayland), and none could be reached.");

// One line on standard error, in the user's language.
void say(const char* text) {
  std::fputs((translated("display_session", text) + QLatin1Char('\n')).toLocal8Bit().constData(),
             stderr);
}

// While the application object is being made, Qt's messages are held back: a platform plugin
// that cannot be loaded ends in a fatal message and an abort, which becomes the program's own
// line and exit code 1 instead; otherwise what was held is passed on once the window system
// is open.
struct held_message {
  QtMsgType type;
  QString category;
  QString text;
};
void hold_messages(QtMsgType type, const QMessageLogContext& context, const QString& text);
QtMessageHandler previous_handler = nullptr;
bool holding = false;
std::vector<held_message> held;

void start_holding_messages() {
  holding = true;
  previous_handler = qInstallMessageHandler(hold_messages);
}

void hold_messages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    say(chosen.startsWith("wayland") ? wayland_plugin_missing
        : chosen.startsWith("xcb")   ? x11_plugin_missing
                                     : QT_TRANSLATE_NOOP("display_session",
                                                         "Murmelin could not open its window system."));
    std::fflush(stderr);
    ::_exit(1);
  }
  held.push_back({type, QString::fromUtf8(context.category), text});
}

}  // namespace

void display_session_opened() {
  if (!holding) return;
  holding = false;
  qInstallMessageHandler(previous_handler);
  for (const held_message& m : held) {
    const QByteArray category = m.category.toUtf8();
    const QMessageLogContext context(nullptr, 0, nullptr, category.constData());
    qt_message_output(m.type, context, m.text);
  }
  held.clear();
}

bool prepare_display_session() {
  QGuiApplication::setDesktopFileName(QString::fromLatin1(murmelin_desktop_entry));
  // The X11 window class, whatever name the program was started by; docks match it with the
  // desktop entry's StartupWMClass.
  QCoreApplication::setApplicationName(QString::fromLatin1(murmelin_window_class));

  const QByteArray choice = qgetenv("QT_QPA_PLATFORM");
  if (!choice.trimmed().isEmpty()) {
    if (chosen_platform_reachable(choice)) {
      start_holding_messages();
      return true;
    }
    say(no_session);
    return false;
  }
  const bool x11 = x11_display_reachable();
  const bool wayland = wayland_display_reachable();
  const bool x11_plugin = x11_plugin_installed();
  const QByteArray wayland_plugin = wayland_platform();
  if (x11 && x11_plugin) {
    qputenv("QT_QPA_PLATFORM", wayland && !wayland_plugin.isEmpty() ? "xcb;" + wayland_plugin
                                                                     : QByteArray("xcb"));
    start_holding_messages();
    return true;
  }
  if (wayland && !wayland_plugin.isEmpty()) {
    qputenv("QT_QPA_PLATFORM", wayland_plugin);
    start_holding_messages();
    return true;
  }
  say(wayland ? wayland_plugin_missing : x11 ? x11_plugin_missing : no_session);
  return false;
}

}  // namespace murmelin
