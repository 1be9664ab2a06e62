// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the desktop portal on the rig's private session bus, for the desktop-bus
// scenario: it owns org.freedesktop.portal.Desktop and implements org.freedesktop.portal.Inhibit
// at /org/freedesktop/portal/desktop. Every Inhibit is granted with a request object of its
// own, named as the real portal names it, and answered after the reply with the Response
// signal (0, granted) on it; org.freedesktop.portal.Request.Close ends it.
// With --logind it stands in for logind on the system bus instead: Inhibit(ssss) of
// org.freedesktop.login1.Manager gets the write end of a pipe, which holds the inhibitor
// until every copy of it is closed.
//
//   murmelin_e2e_fake_portal [--logind] LOGFILE
//
// LOGFILE gets one line per event, written out at once:
//   ready                                     the name is owned; calls are answered
//   inhibit HANDLE flags=F window=W reason=R  an Inhibit call, granted as HANDLE
//   close HANDLE                              Close on a granted request
//   bad-close PATH                            Close on a request not granted or closed already
//   bad-call MEMBER SIGNATURE                 any other call to the portal's (logind's) objects
//   dropped HANDLE                            the caller left the bus without closing HANDLE
//   inhibit what=W who=O why=Y mode=M         with --logind: an Inhibit call, granted
//   released who=O                            with --logind: that inhibitor's end
// Exit code 1: no bus, or the name is taken; 2: bad arguments.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMap>
#include <QSocketNotifier>
#include <QString>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portal_path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString request_prefix = QStringLiteral("/org/freedesktop/portal/desktop/request/");

void write_line(QFile& log, const QString& line) {
  log.write(line.toUtf8() + '\n');
  log.flush();
}

// a{sv} as it comes out of a call's arguments.
QVariantMap to_map(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) {
    QVariantMap m;
    v.value<QDBusArgument>() >> m;
    return m;
  }
  return v.toMap();
}

class fake_portal : public QDBusVirtualObject {
public:
  fake_portal(QFile& log, QDBusConnection bus) : flog(log), fbus(bus), fwatcher(this) {
    fwatcher.setConnection(fbus);
    fwatcher.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(&fwatcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this](const QString& name) { caller_gone(name); });
  }

  void write(const QString& line) { write_line(flog, line); }

  QString introspect(const QString& path) const override {
    if (path == portal_path)
      return QStringLiteral(
          "<interface name=\"org.freedesktop.portal.Inhibit\">"
          "<method name=\"Inhibit\"><arg type=\"s\" name=\"window\" direction=\"in\"/>"
          "<arg type=\"u\" name=\"flags\" direction=\"in\"/>"
          "<arg type=\"a{sv}\" name=\"options\" direction=\"in\"/>"
          "<arg type=\"o\" name=\"handle\" direction=\"out\"/></method></interface>");
    if (fowners.contains(path))
      return QStringLiteral(
          "<interface name=\"org.freedesktop.portal.Request\">"
          "<method name=\"Close\"/></interface>");
    return {};
  }

  bool handleMessage(const QDBusMessage& m, const QDBusConnection& connection) override {
    if (m.type() != QDBusMessage::MethodCallMessage) return false;
    if (m.path() == portal_path && m.interface() == QStringLiteral("org.freedesktop.portal.Inhibit") &&
        m.member() == QStringLiteral("Inhibit") && m.signature() == QStringLiteral("sua{sv}")) {
      inhibit(m, connection);
      return true;
    }
    if (m.path().startsWith(request_prefix) &&
        m.interface() == QStringLiteral("org.freedesktop.portal.Request") &&
        m.member() == QStringLiteral("Close")) {
      close(m, connection);
      return true;
    }
    write(QStringLiteral("bad-call %1 %2").arg(m.member(), m.signature()));
    connection.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                       QStringLiteral("the test portal knows only Inhibit")));
    return true;
  }

private:
  void inhibit(const QDBusMessage& m, const QDBusConnection& connection) {
    const QVariantList args = m.arguments();
    // As the real portal names them: the caller's unique name without ':' and with '_' for
    // '.', then a token.
    QString sender = m.service();
    sender.remove(QChar(u':')).replace(QChar(u'.'), QChar(u'_'));
    const QVariantMap options = to_map(args.at(2));
    QString token = options.value(QStringLiteral("handle_token")).toString();
    if (token.isEmpty()) token = QStringLiteral("t%1").arg(++fcount);
    const QString handle = request_prefix + sender + QChar(u'/') + token;
    fowners.insert(handle, m.service());
    fwatcher.addWatchedService(m.service());
    write(QStringLiteral("inhibit %1 flags=%2 window=%3 reason=%4")
              .arg(handle)
              .arg(args.at(1).toUInt())
              .arg(args.at(0).toString(), options.value(QStringLiteral("reason")).toString()));
    connection.send(m.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
    QDBusMessage response = QDBusMessage::createTargetedSignal(
        m.service(), handle, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Response"));
    response << 0u << QVariantMap();
    connection.send(response);
  }

  void close(const QDBusMessage& m, const QDBusConnection& connection) {
    const QString handle = m.path();
    if (fowners.value(handle) != m.service()) {
      write(QStringLiteral("bad-close %1").arg(handle));
      connection.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                                         QStringLiteral("no such request")));
      return;
    }
    fowners.remove(handle);
    write(QStringLiteral("close %1").arg(handle));
    connection.send(m.createReply());
  }

  void caller_gone(const QString& name) {
    for (auto it = fowners.begin(); it != fowners.end();) {
      if (it.value() == name) {
        write(QStringLiteral("dropped %1").arg(it.key()));
        it = fowners.erase(it);
      } else {
        ++it;
      }
    }
    fwatcher.removeWatchedService(name);
  }

  QFile& flog;
  QDBusConnection fbus;
  QDBusServiceWatcher fwatcher;
  QMap<QString, QString> fowners;  // open request handle -> caller's unique name
  int fcount = 0;
};

class fake_logind : public QDBusVirtualObject {
public:
  explicit fake_logind(QFile& log) : flog(log) {}
  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& m, const QDBusConnection& connection) override {
    if (m.type() != QDBusMessage::MethodCallMessage) return false;
    const QVariantList a = m.arguments();
    int fds[2];
    if (m.interface() != QStringLiteral("org.freedesktop.login1.Manager") ||
        m.member() != QStringLiteral("Inhibit") || m.signature() != QStringLiteral("ssss") ||
        ::pipe2(fds, O_CLOEXEC) != 0) {
      write_line(flog, QStringLiteral("bad-call %1 %2").arg(m.member(), m.signature()));
      connection.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                         QStringLiteral("the test logind knows only Inhibit")));
      return true;
    }
    const QString who = a.at(1).toString();
    write_line(flog, QStringLiteral("inhibit what=%1 who=%2 why=%3 mode=%4")
                         .arg(a.at(0).toString(), who, a.at(2).toString(), a.at(3).toString()));
    // The reply holds a copy of the write end; ours goes at once, so the read end sees the
    // end of the file when the caller has closed every copy it has.
    connection.send(m.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))));
    ::close(fds[1]);
    auto* notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, who] {
      char byte;
      if (::read(notifier->socket(), &byte, 1) > 0) return;
      write_line(flog, QStringLiteral("released who=%1").arg(who));
      notifier->setEnabled(false);
      ::close(notifier->socket());
      notifier->deleteLater();
    });
    return true;
  }

private:
  QFile& flog;
};

}  // namespace

int main(int argc, char** argv) {
  const bool logind = argc == 3 && std::strcmp(argv[1], "--logind") == 0;
  if ((argc != 2 || argv[1][0] == '-') && !logind) {
    std::fprintf(stderr, "usage: murmelin_e2e_fake_portal [--logind] LOGFILE\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  QFile log(QString::fromLocal8Bit(argv[argc - 1]));
  if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
    std::fprintf(stderr, "cannot write %s\n", argv[argc - 1]);
    return 2;
  }
  QDBusConnection bus = logind ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "no %s bus: %s\n", logind ? "system" : "session",
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  fake_portal portal(log, bus);
  fake_logind login(log);
  const QString path = logind ? QStringLiteral("/org/freedesktop/login1") : portal_path;
  const QString name = logind ? QStringLiteral("org.freedesktop.login1") : service;
  QDBusVirtualObject* object = logind ? static_cast<QDBusVirtualObject*>(&login) : &portal;
  if (!bus.registerVirtualObject(path, object, QDBusConnection::SubPath)) {
    std::fprintf(stderr, "cannot register %s\n", qPrintable(path));
    return 1;
  }
  if (!bus.registerService(name)) {
    std::fprintf(stderr, "cannot own %s: %s\n", qPrintable(name),
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  write_line(log, QStringLiteral("ready"));
  return app.exec();
}
