// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the desktop portal on the rig's private session bus, for the desktop-bus
// scenario: it owns org.freedesktop.portal.Desktop and implements org.freedesktop.portal.Inhibit
// at /org/freedesktop/portal/desktop. Every Inhibit is granted with a request object of its
// own, whose org.freedesktop.portal.Request.Close ends it.
//
//   murmelin_e2e_fake_portal LOGFILE
//
// LOGFILE gets one line per event, written out at once:
//   ready                                     the name is owned; calls are answered
//   inhibit HANDLE flags=F window=W reason=R  an Inhibit call, granted as HANDLE
//   close HANDLE                              Close on a granted request
//   bad-close PATH                            Close on a request not granted or closed already
//   bad-call MEMBER SIGNATURE                 any other call to the portal's objects
//   dropped HANDLE                            the caller left the bus without closing HANDLE
// Exit code 1: no session bus, or the name is taken; 2: bad arguments.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <cstdio>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portal_path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString request_prefix = QStringLiteral("/org/freedesktop/portal/desktop/request/");

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

  void write(const QString& line) {
    flog.write(line.toUtf8() + '\n');
    flog.flush();
  }

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
    const QString handle = request_prefix + sender + QStringLiteral("/t%1").arg(++fcount);
    fowners.insert(handle, m.service());
    fwatcher.addWatchedService(m.service());
    const QVariantMap options = to_map(args.at(2));
    write(QStringLiteral("inhibit %1 flags=%2 window=%3 reason=%4")
              .arg(handle)
              .arg(args.at(1).toUInt())
              .arg(args.at(0).toString(), options.value(QStringLiteral("reason")).toString()));
    connection.send(m.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: murmelin_e2e_fake_portal LOGFILE\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  QFile log(QString::fromLocal8Bit(argv[1]));
  if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 2;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "no session bus: %s\n", qPrintable(bus.lastError().message()));
    return 1;
  }
  fake_portal portal(log, bus);
  if (!bus.registerVirtualObject(portal_path, &portal, QDBusConnection::SubPath)) {
    std::fprintf(stderr, "cannot register %s\n", qPrintable(portal_path));
    return 1;
  }
  if (!bus.registerService(service)) {
    std::fprintf(stderr, "cannot own %s: %s\n", qPrintable(service),
                 qPrintable(bus.lastError().message()));
    return 1;
  }
  portal.write(QStringLiteral("ready"));
  return app.exec();
}
