// SPDX-License-Identifier: GPL-3.0-or-later
#include "single_instance.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariant>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QWindow>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bus_name.h"
#include "desktop_id.h"
#include "error_boundary.h"

namespace murmelin {

namespace {

// The desktop's interface for starting an application that runs already, on the object
// path that its bus name (the desktop entry's) gives.
const QString application_interface = QStringLiteral("org.freedesktop.Application");
// The application's object path: its bus name with the dots as slashes.
const QString application_path =
    QLatin1Char('/') + QString::fromLatin1(murmelin_desktop_entry).replace(QLatin1Char('.'), QLatin1Char('/'));

}  // namespace

namespace {

// The toolkit's own connection to the X server, where the program runs on X11.
struct x11_link {
  xcb_connection_t* c = nullptr;
  xcb_window_t root = 0;

  static x11_link open() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return {};
    return {x11->connection(), xcb_setup_roots_iterator(xcb_get_setup(x11->connection())).data->root};
  }
  xcb_atom_t atom(const char* name) const {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, std::strlen(name), name), nullptr);
    xcb_atom_t a = XCB_ATOM_NONE;
    if (r != nullptr) a = r->atom;
    std::free(r);
    return a;
  }
  void send_to_root(xcb_client_message_event_t& e, uint32_t mask) const {
    e.response_type = XCB_CLIENT_MESSAGE;
    xcb_send_event(c, false, root, mask, reinterpret_cast<const char*>(&e));
  }
};

// Ends the launcher's startup notification (its busy cursor) for the X11 startup id ID: the
// "remove" message of the startup-notification protocol, sent to the root window in pieces of
// 20 bytes.
void end_startup_notification(const x11_link& x, const QString& id) {
  QByteArray message = "remove: ID=";
  for (const char ch : id.toUtf8()) {
    if (ch == ' ' || ch == '"' || ch == '\\') message += '\\';
    message += ch;
  }
  message += '\0';
  const xcb_atom_t begin = x.atom("_NET_STARTUP_INFO_BEGIN"), more = x.atom("_NET_STARTUP_INFO");
  for (qsizetype at = 0; at < message.size(); at += 20) {
    xcb_client_message_event_t e = {};
    e.format = 8;
    e.window = x.root;
    e.type = at == 0 ? begin : more;
    std::memcpy(e.data.data8, message.constData() + at, std::min<qsizetype>(20, message.size() - at));
    x.send_to_root(e, XCB_EVENT_MASK_PROPERTY_CHANGE);
  }
}

// Window managers that keep windows from stealing the focus (mutter, KWin) let a window take
// it only for an activation at least as recent as the user's last input, and the toolkit
// activates with the time of the last event the program saw. The launcher's startup id
// carries the time of the click that started the second start ("..._TIME<n>"): the window
// in front (a modal dialog, else the main window) is activated with that time.
void activate_at_launch_time(const x11_link& x, const QString& id) {
  const qsizetype at = id.lastIndexOf(QStringLiteral("_TIME"));
  bool ok = false;
  const uint time = at < 0 ? 0 : id.mid(at + 5).toUInt(&ok);
  if (!ok) return;
  QWindow* w = QGuiApplication::modalWindow();
  for (QWindow* t : QGuiApplication::topLevelWindows())
    if (w == nullptr && t->isVisible() && t->transientParent() == nullptr) w = t;
  if (w == nullptr) return;
  xcb_client_message_event_t e = {};
  e.format = 32;
  e.window = static_cast<xcb_window_t>(w->winId());
  e.type = x.atom("_NET_ACTIVE_WINDOW");
  e.data.data32[0] = 1;  // from an application
  e.data.data32[1] = time;
  x.send_to_root(e, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
}

}  // namespace

// The running instance on the session bus: Activate and Open raise the window, with the
// activation of the start that asks.
class application_service : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
  explicit application_service(single_instance::raise_handler raise, QObject* parent)
      : QObject(parent), fraise(std::move(raise)) {}

public Q_SLOTS:
  Q_SCRIPTABLE void Activate(const QVariantMap& platform_data) { post(platform_data); }
  Q_SCRIPTABLE void Open(const QStringList&, const QVariantMap& platform_data) { post(platform_data); }
  Q_SCRIPTABLE void ActivateAction(const QString&, const QVariantList&, const QVariantMap& platform_data) {
    post(platform_data);
  }

private:
  // Raises from the event loop, after the caller has its answer.
  void post(const QVariantMap& platform_data) {
    const launch_activation launch{platform_data.value(QStringLiteral("activation-token")).toString(),
                                   platform_data.value(QStringLiteral("desktop-startup-id")).toString()};
    QMetaObject::invokeMethod(this, [this, launch] { raise_with(launch, fraise); }, Qt::QueuedConnection);
  }

public:
  static void raise_with(const launch_activation& launch, const single_instance::raise_handler& raise) {
    // On Wayland a launcher's startup id is an activation token too.
    const QString token = launch.token.isEmpty() ? launch.startup_id : launch.token;
    if (!token.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    guarded([&] { raise(!token.isEmpty()); });
    // A token is good for one activation; one the window did not use must not linger.
    qunsetenv("XDG_ACTIVATION_TOKEN");
    if (const x11_link x = x11_link::open(); x.c != nullptr && !launch.startup_id.isEmpty()) {
      activate_at_launch_time(x, launch.startup_id);
      end_startup_notification(x, launch.startup_id);
      xcb_flush(x.c);
    }
  }

private:
  single_instance::raise_handler fraise;
};

launch_activation launch_activation::from_environment() {
  return {qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), qEnvironmentVariable("DESKTOP_STARTUP_ID")};
}

namespace {

QString lock_path() {
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  if (runtime.startsWith('/') && QDir(QString::fromLocal8Bit(runtime)).exists())
    return QString::fromLocal8Bit(runtime) + QStringLiteral("/murmelin.lock");
  QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
  if (!config.startsWith(QChar(u'/'))) config = QDir::homePath() + QStringLiteral("/.config");
  const QString folder = config + QStringLiteral("/BriskoData/Murmelin");
  QDir().mkpath(folder);
  return folder + QStringLiteral("/instance.lock");
}

// The pid written in the lock file by the instance that holds it; 0 when there is none.
pid_t lock_holder(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  return pid > 1 && end != text ? static_cast<pid_t>(pid) : 0;
}

// SIGUSR1 reaches the event loop through a pipe: the handler only writes a byte.
int raise_pipe[2] = {-1, -1};
void on_sigusr1(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(raise_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

single_instance::~single_instance() {
  if (flock_fd >= 0) ::close(flock_fd);
}

bool single_instance::acquire() {
  const QByteArray path = QFile::encodeName(lock_path());
  const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    flock_fd = held ? fd : -1;  // kept to read the holder's pid
    if (!held) ::close(fd);
    return !held;
  }
  const std::string pid = std::to_string(::getpid()) + '\n';
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock holds all the same; only a start without a session bus cannot raise us.
  }
  flock_fd = fd;
  return true;
}

void single_instance::raise_running(const launch_activation& launch) const {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QVariantMap platform_data;
    if (!launch.token.isEmpty()) platform_data[QStringLiteral("activation-token")] = launch.token;
    if (!launch.startup_id.isEmpty())
      platform_data[QStringLiteral("desktop-startup-id")] = launch.startup_id;
    QDBusMessage activate = QDBusMessage::createMethodCall(
        QString::fromLatin1(murmelin_desktop_entry), application_path, application_interface,
        QStringLiteral("Activate"));
    activate << platform_data;
    if (bus.call(activate, QDBus::Block, 1000).type() == QDBusMessage::ReplyMessage) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(murmelin_media_player_name), QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    if (bus.call(call, QDBus::Block, 1000).type() == QDBusMessage::ReplyMessage) return;
  }
  if (flock_fd < 0) return;
  if (const pid_t pid = lock_holder(flock_fd); pid != 0 && pid != ::getpid()) ::kill(pid, SIGUSR1);
}

void single_instance::on_raise_request(raise_handler raise) {
  if (QDBusConnection bus = QDBusConnection::sessionBus(); bus.isConnected()) {
    auto* service = new application_service(raise, QCoreApplication::instance());
    if (bus.registerObject(application_path, service, QDBusConnection::ExportScriptableSlots)) {
      // The lock makes this the only instance; no answer is needed.
      bus.send(request_name_call(QString::fromLatin1(murmelin_desktop_entry)));
    }
  }
  if (raise_pipe[0] >= 0 || ::pipe2(raise_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier =
      new QSocketNotifier(raise_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [raise = std::move(raise)] {
    char bytes[16];
    while (::read(raise_pipe[0], bytes, sizeof bytes) > 0) {
    }
    application_service::raise_with({}, raise);
  });
  struct sigaction action = {};
  action.sa_handler = on_sigusr1;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace murmelin

#include "single_instance.moc"
