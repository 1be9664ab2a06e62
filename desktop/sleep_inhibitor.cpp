// SPDX-License-Identifier: GPL-3.0-or-later
#include "sleep_inhibitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

#include <functional>

namespace murmelin {

namespace {

const QString reason = QStringLiteral("Playing pink noise");

const QString portal_service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portal_path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portal_interface = QStringLiteral("org.freedesktop.portal.Inhibit");
const QString portal_request_interface = QStringLiteral("org.freedesktop.portal.Request");
// Suspend only: the portal's "idle" flag (8) would also keep the screen from blanking and
// locking.
constexpr uint portal_flag_suspend = 4;

const QString logind_service = QStringLiteral("org.freedesktop.login1");
const QString logind_path = QStringLiteral("/org/freedesktop/login1");
const QString logind_interface = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

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
    if (!ask_portal() && !ask_logind()) pending = false;
  }

  // Starts the call; false when it could not be sent (no bus).
  bool ask_portal() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage m =
        QDBusMessage::createMethodCall(portal_service, portal_path, portal_interface,
                                       QStringLiteral("Inhibit"));
    m << QString() << portal_flag_suspend
      << QVariantMap{{QStringLiteral("reason"), reason}};
    watch(bus.asyncCall(m), [](sleep_inhibitor_state& s, const QDBusPendingCall& call) {
      QDBusPendingReply<QDBusObjectPath> reply = call;
      if (!reply.isError()) {
        s.pending = false;
        s.portal_handle = reply.value().path();
        if (!s.wanted) s.release();
        return;
      }
      // No portal, no inhibit portal in it, or refused: logind is the next best.
      if (!s.wanted || !s.ask_logind()) s.pending = false;
    });
    return true;
  }

  bool ask_logind() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    QDBusMessage m = QDBusMessage::createMethodCall(logind_service, logind_path,
                                                    logind_interface, QStringLiteral("Inhibit"));
    m << QStringLiteral("sleep:idle") << QStringLiteral("Murmelin") << reason
      << QStringLiteral("block");
    watch(bus.asyncCall(m), [](sleep_inhibitor_state& s, const QDBusPendingCall& call) {
      s.pending = false;
      QDBusPendingReply<QDBusUnixFileDescriptor> reply = call;
      if (reply.isError() || !reply.value().isValid()) return;
      // Our own descriptor: the reply's copy goes away with the reply.
      s.logind_fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
      if (!s.wanted) s.release();
    });
    return true;
  }

  using answer_handler = void (*)(sleep_inhibitor_state&, const QDBusPendingCall&);

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
    // After the application is gone the portal drops the request with our connection.
    if (!portal_handle.isEmpty() && QCoreApplication::instance()) {
      QDBusConnection bus = QDBusConnection::sessionBus();
      if (bus.isConnected())
        bus.send(QDBusMessage::createMethodCall(portal_service, portal_handle,
                                                portal_request_interface,
                                                QStringLiteral("Close")));
    }
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
