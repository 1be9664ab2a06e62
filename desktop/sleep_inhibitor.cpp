// SPDX-License-Identifier: GPL-3.0-or-later
#include "sleep_inhibitor.h"

#include "translation.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace murmelin {

namespace {

// Why the computer stays awake, as the desktop shows it.
QString reason() { return translated("sleep_inhibitor", "Playing pink noise"); }

const QString portal_service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portal_path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portal_interface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString portal_request_interface = QStringLiteral("org.freedesktop.portal.Request");
// Suspend only: the portal's "idle" flag (8) would also keep the screen from blanking and
// locking.
constexpr uint portal_flag_suspend = 4;
// A portal whose permissions allow no inhibitor at all never answers the request.
constexpr int portal_answer_wait_ms = 3000;

const QString logind_service = QStringLiteral("org.freedesktop.login1");
const QString logind_path = QStringLiteral("/org/freedesktop/login1");
const QString logind_interface = QStringLiteral("org.freedesktop.login1.Manager");

// The path of the request object the portal makes for TOKEN: our unique bus name without its
// colon and with its dots as underscores, then the token.
QString portal_request_path(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return portal_path + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

void say_sleep_not_held() {
  static bool said = false;
  if (said) return;
  said = true;
  const QString text = translated(
      "sleep_inhibitor",
      "murmelin: the computer may suspend while the noise plays: neither the desktop portal "
      "nor logind holds off suspend for it");
  std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
}

}  // namespace

// The portal's answer to one request: its Response signal, or nothing within the time a
// portal that answers takes. Lives until then, also after the sleep_inhibitor is gone.
class portal_answer : public QObject {
  Q_OBJECT
public:
  using handler = std::function<void(const QString& path, uint response)>;
  static constexpr uint no_answer = ~0u;

  portal_answer(QString path, handler answered)
      : QObject(QCoreApplication::instance()), fpath(std::move(path)),
        fanswered(std::move(answered)) {
    listen(true);
    QTimer::singleShot(portal_answer_wait_ms, this, [this] { finish(no_answer); });
  }
  // Older portals choose the path themselves and name it in the call's reply.
  void follow(const QString& path) {
    if (path == fpath) return;
    listen(false);
    fpath = path;
    listen(true);
  }
  // No request was made: nothing will answer.
  void drop() {
    fanswered = nullptr;
    deleteLater();
  }

public Q_SLOTS:
  void on_response(uint response, const QVariantMap&) { finish(response); }

private:
  void listen(bool on) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString signal = QStringLiteral("Response");
    const char* slot = SLOT(on_response(uint, QVariantMap));
    if (on)
      bus.connect(portal_service, fpath, portal_request_interface, signal, this, slot);
    else
      bus.disconnect(portal_service, fpath, portal_request_interface, signal, this, slot);
  }
  void finish(uint response) {
    if (!fanswered) return;
    const handler answered = std::move(fanswered);
    drop();
    answered(fpath, response);
  }
  QString fpath;
  handler fanswered;
};

// Shared with the calls on their way, so an answer that comes after the sleep_inhibitor is
// gone still finds where to release what it grants.
struct sleep_inhibitor_state : std::enable_shared_from_this<sleep_inhibitor_state> {
  bool wanted = false;
  bool pending = false;
  QString portal_handle;  // request object of a granted portal inhibitor
  int logind_fd = -1;     // a granted logind inhibitor is this descriptor

  bool holding() const { return !portal_handle.isEmpty() || logind_fd >= 0; }

  void inhibit() {
    pending = true;
    if (!ask_portal()) next_after_portal();
  }

  // Starts the call; false when it could not be sent (no bus).
  bool ask_portal() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // A token of its own for every request of the process.
    static uint requests = 0;
    const QString token = QStringLiteral("murmelin%1").arg(++requests);
    // Listening starts before the call, so that no answer can come first.
    QPointer<portal_answer> answer = new portal_answer(
        portal_request_path(bus, token),
        [self = shared_from_this()](const QString& path, uint response) {
          self->portal_answered(path, response);
        });
    QDBusMessage m =
        QDBusMessage::createMethodCall(portal_service, portal_path, portal_interface,
                                       QStringLiteral("Inhibit"));
    m << QString() << portal_flag_suspend
      << QVariantMap{{QStringLiteral("handle_token"), token}, {QStringLiteral("reason"), reason()}};
    watch(bus.asyncCall(m), [answer](sleep_inhibitor_state& s, const QDBusPendingCall& call) {
      if (!answer) return;  // answered, or given up, before the reply came
      QDBusPendingReply<QDBusObjectPath> reply = call;
      if (!reply.isError()) {
        answer->follow(reply.value().path());
        return;
      }
      // No portal, or no inhibit portal in it.
      answer->drop();
      s.next_after_portal();
    });
    return true;
  }

  // Response 0: the request object is the inhibitor until it is closed. Any other answer
  // ends the request (it is gone; closing it would be an error); one that never came is
  // closed, so that a late grant does not linger.
  void portal_answered(const QString& path, uint response) {
    if (response == 0) {
      portal_handle = path;
      pending = false;
      if (!wanted) release();
      return;
    }
    if (response == portal_answer::no_answer) send_close(path);
    next_after_portal();
  }

  void send_close(const QString& request) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
      bus.send(QDBusMessage::createMethodCall(portal_service, request, portal_request_interface,
                                              QStringLiteral("Close")));
  }

  void next_after_portal() {
    if (!wanted || !ask_logind()) finish_asking();
  }

  void finish_asking() {
    pending = false;
    if (wanted && !holding()) say_sleep_not_held();
  }

  bool ask_logind() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    QDBusMessage m = QDBusMessage::createMethodCall(logind_service, logind_path,
                                                    logind_interface, QStringLiteral("Inhibit"));
    m << QStringLiteral("sleep") << QStringLiteral("Murmelin") << reason()
      << QStringLiteral("block");
    watch(bus.asyncCall(m), [](sleep_inhibitor_state& s, const QDBusPendingCall& call) {
      QDBusPendingReply<QDBusUnixFileDescriptor> reply = call;
      if (!reply.isError() && reply.value().isValid()) {
        // Our own descriptor: the reply's copy goes away with the reply.
        s.logind_fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
        if (!s.wanted) s.release();
      }
      s.finish_asking();
    });
    return true;
  }

  using answer_handler = std::function<void(sleep_inhibitor_state&, const QDBusPendingCall&)>;

  // The watcher belongs to the application, not to the sleep_inhibitor, so it outlives the
  // latter and still sees its answer.
  void watch(const QDBusPendingCall& call, answer_handler handler) {
    auto* watcher = new QDBusPendingCallWatcher(call, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [self = shared_from_this(), handler](QDBusPendingCallWatcher* w) {
                       w->deleteLater();
                       handler(*self, *w);
                     });
  }

  void release() {
    // A granted request is the inhibitor: closing it ends it. After the application is gone
    // the portal drops it with our connection.
    if (!portal_handle.isEmpty() && QCoreApplication::instance()) send_close(portal_handle);
    portal_handle.clear();
    if (logind_fd >= 0) {
      ::close(logind_fd);
      logind_fd = -1;
    }
  }
};

sleep_inhibitor::sleep_inhibitor() : fstate(std::make_shared<sleep_inhibitor_state>()) {}

sleep_inhibitor::~sleep_inhibitor() {
  fstate->wanted = false;
  fstate->release();
}

void sleep_inhibitor::set_active(bool playing) {
  if (!QCoreApplication::instance()) return;
  sleep_inhibitor_state& s = *fstate;
  if (playing == s.wanted) return;
  s.wanted = playing;
  if (!playing)
    s.release();
  else if (!s.holding() && !s.pending)
    s.inhibit();
}

bool sleep_inhibitor::holding() const { return fstate->holding(); }

bool sleep_inhibitor::asking() const { return fstate->pending; }

}  // namespace murmelin

#include "sleep_inhibitor.moc"
