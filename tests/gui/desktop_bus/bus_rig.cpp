// SPDX-License-Identifier: GPL-3.0-or-later
#include "bus_rig.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace bus_rig {

namespace {

int next_connection_number() {
  static int n = 0;
  return ++n;
}

// A bus that answers only us: no service activation, so a name nobody owns is unknown at once.
// Its socket is an abstract one, so nothing of it stays in the file system when a test dies.
std::string bus_config(const std::string& socket) {
  return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig>\n"
         "  <type>session</type>\n"
         "  <listen>unix:abstract=" + socket + "</listen>\n"
         "  <auth>EXTERNAL</auth>\n"
         "  <policy context=\"default\">\n"
         "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
         "    <allow eavesdrop=\"true\"/>\n"
         "    <allow own=\"*\"/>\n"
         "  </policy>\n"
         "</busconfig>\n";
}

bool stop_process(int pid) {
  if (pid <= 0) return true;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {  // 5 s
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    usleep(50'000);
  }
  kill(pid, SIGKILL);
  return waitpid(pid, nullptr, 0) == pid;
}

}  // namespace

bool private_buses::start(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/murmelin-bus.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    error = "cannot make a private folder";
    return false;
  }
  fdir = pattern;
  const bool started =
      start_one("session", fsession, error) && start_one("system", fsystem, error);
  // The daemons have read their configuration: the folder has done its work.
  std::error_code ignored;
  std::filesystem::remove_all(fdir, ignored);
  if (!started) {
    stop();
    return false;
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", fsession.address.c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", fsystem.address.c_str(), 1);
  unsetenv("DBUS_STARTER_ADDRESS");
  unsetenv("DBUS_STARTER_BUS_TYPE");
  return true;
}

bool private_buses::start_one(const std::string& name, daemon& d, std::string& error) {
  const std::string config = fdir + "/" + name + ".conf";
  std::ofstream(config) << bus_config(fdir + "/" + name);

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return false;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    error = "fork failed";
    return false;
  }
  if (pid == 0) {
    // The daemon must not outlive a test that crashes or is killed on a timeout.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // What the daemon says goes to the test's own standard error.
    dup2(2, 1);
    const int out = dup(fds[1]);  // without close-on-exec
    if (out != 3) {
      dup2(out, 3);
    }
    const std::string config_arg = "--config-file=" + config;
    execlp("dbus-daemon", "dbus-daemon", config_arg.c_str(), "--print-address=3", "--nofork",
           "--nopidfile", "--nosyslog", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  d.pid = pid;

  std::string line;
  const QDeadlineTimer deadline(10'000);
  while (line.find('\n') == std::string::npos) {
    pollfd p{fds[0], POLLIN, 0};
    const int left = static_cast<int>(deadline.remainingTime());
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    char buf[256];
    const ssize_t n = read(fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  const auto end = line.find('\n');
  if (end == std::string::npos || end == 0) {
    error = "dbus-daemon for the " + name + " bus did not report its address within 10 s";
    return false;
  }
  d.address = line.substr(0, end);
  return true;
}

void private_buses::stop() {
  stop_process(fsession.pid);
  stop_process(fsystem.pid);
  fsession = {};
  fsystem = {};
}

int run_with_private_buses(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) {
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
  }
  private_buses buses;
  std::string error;
  if (!buses.start(error)) {
    std::fprintf(stderr, "cannot start the private buses: %s\n", error.c_str());
    return 1;
  }
  int rc = 1;
  {
    QCoreApplication app(argc, argv);
    rc = RUN_ALL_TESTS();
  }
  buses.stop();
  return rc;
}

bool wait_for(const std::function<bool()>& done, int seconds) {
  return QTest::qWaitFor(done, seconds * 1000);
}

client::client(const char* address_variable)
    : fname(QStringLiteral("test-client-%1").arg(next_connection_number())),
      fbus(QDBusConnection::connectToBus(qEnvironmentVariable(address_variable), fname)) {}

client::~client() { QDBusConnection::disconnectFromBus(fname); }

QDBusMessage client::call(const QDBusMessage& m) {
  QDBusPendingCall pending = fbus.asyncCall(m);
  if (!wait_for([&] { return pending.isFinished(); }))
    return m.createErrorReply(QStringLiteral("test.NoAnswer"), QStringLiteral("no answer"));
  return pending.reply();
}

QDBusMessage client::call(const QString& service, const QString& path, const QString& interface,
                          const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
  m.setArguments(args);
  return call(m);
}

QVariant client::property(const QString& service, const QString& interface,
                          const QString& name) {
  const QDBusMessage reply =
      call(service, QStringLiteral("/org/mpris/MediaPlayer2"),
           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
           {interface, name});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return reply.arguments().at(0).value<QDBusVariant>().variant();
}

QVariantMap client::all_properties(const QString& service, const QString& interface) {
  const QDBusMessage reply =
      call(service, QStringLiteral("/org/mpris/MediaPlayer2"),
           QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"),
           {interface});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return to_map(reply.arguments().at(0));
}

bool client::has_owner(const QString& name) {
  const QDBusMessage reply =
      call(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
           QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"), {name});
  return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
         reply.arguments().at(0).toBool();
}

QVariantMap to_map(const QVariant& v) {
  if (v.canConvert<QDBusArgument>()) return qdbus_cast<QVariantMap>(v.value<QDBusArgument>());
  return v.toMap();
}

properties_recorder::properties_recorder(QDBusConnection& bus, const QString& path) {
  bus.connect(QString(), path, QStringLiteral("org.freedesktop.DBus.Properties"),
              QStringLiteral("PropertiesChanged"), this, SLOT(on_signal(QDBusMessage)));
}

void properties_recorder::on_signal(const QDBusMessage& m) {
  const QVariantList args = m.arguments();
  change c;
  if (args.size() > 0) c.interface = args.at(0).toString();
  if (args.size() > 1) c.changed = to_map(args.at(1));
  if (args.size() > 2) c.invalidated = args.at(2).toStringList();
  changes.push_back(c);
}

QVariantList properties_recorder::values_of(const QString& property) const {
  QVariantList values;
  for (const change& c : changes)
    if (c.changed.contains(property)) values << c.changed.value(property);
  return values;
}

// The portal -----------------------------------------------------------------------------

namespace {
const QString portal_path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString request_prefix = QStringLiteral("/org/freedesktop/portal/desktop/request/");
}  // namespace

fake_portal::fake_portal()
    : fname(QStringLiteral("fake-portal-%1").arg(next_connection_number())),
      fbus(QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                         fname)) {
  EXPECT_TRUE(fbus.registerVirtualObject(portal_path, this, QDBusConnection::SubPath));
  EXPECT_TRUE(fbus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
}

fake_portal::~fake_portal() {
  fbus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
  fbus.unregisterObject(portal_path, QDBusConnection::UnregisterTree);
  QDBusConnection::disconnectFromBus(fname);
}

QString fake_portal::introspect(const QString&) const { return {}; }

bool fake_portal::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  if (message.path() == portal_path &&
      message.interface() == QStringLiteral("org.freedesktop.portal.Inhibit") &&
      message.member() == QStringLiteral("Inhibit") && message.signature() == "sua{sv}") {
    const QVariantList args = message.arguments();
    calls.push_back({args.at(0).toString(), args.at(1).toUInt(), to_map(args.at(2))});
    message.setDelayedReply(true);
    if (hold_answers)
      held.push_back(message);
    else
      answer(message);
    return true;
  }
  if (message.path().startsWith(request_prefix) &&
      message.interface() == QStringLiteral("org.freedesktop.portal.Request") &&
      message.member() == QStringLiteral("Close")) {
    const QString handle = message.path();
    const auto in = [&handle](const std::vector<QString>& v) {
      return std::find(v.begin(), v.end(), handle) != v.end();
    };
    const bool known = in(granted) || in(unanswered);
    const bool again = in(closed);
    if (known && !again) {
      closed.push_back(handle);
      connection.send(message.createReply());
    } else {
      ++bad_closes;
      connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
                                               QStringLiteral("no such request")));
    }
    return true;
  }
  return false;
}

void fake_portal::answer(const QDBusMessage& call) {
  if (!refuse_with.isEmpty()) {
    fbus.send(call.createErrorReply(refuse_with, QStringLiteral("refused by the test")));
    return;
  }
  // The request's path as the portal makes it: the caller's name, then its token.
  const QString token = to_map(call.arguments().at(2)).value(QStringLiteral("handle_token")).toString();
  const QString handle =
      request_prefix + call.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_')) +
      QLatin1Char('/') + (token.isEmpty() ? QStringLiteral("t%1").arg(calls.size()) : token);
  fbus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
  if (response < 0) {
    unanswered.push_back(handle);
    return;
  }
  if (response == 0) granted.push_back(handle);
  QDBusMessage answer = QDBusMessage::createSignal(
      handle, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
  answer << uint(response) << QVariantMap();
  fbus.send(answer);
}

void fake_portal::answer_held() {
  std::vector<QDBusMessage> calls_held;
  calls_held.swap(held);
  for (const QDBusMessage& m : calls_held) answer(m);
}

// logind ---------------------------------------------------------------------------------

namespace {
const QString logind_path = QStringLiteral("/org/freedesktop/login1");
}

fake_logind::fake_logind()
    : fname(QStringLiteral("fake-logind-%1").arg(next_connection_number())),
      fbus(QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS"),
                                         fname)) {
  EXPECT_TRUE(fbus.registerVirtualObject(logind_path, this));
  EXPECT_TRUE(fbus.registerService(QStringLiteral("org.freedesktop.login1")));
}

fake_logind::~fake_logind() {
  fbus.unregisterService(QStringLiteral("org.freedesktop.login1"));
  fbus.unregisterObject(logind_path);
  QDBusConnection::disconnectFromBus(fname);
  for (int fd : fread_ends) close(fd);
}

QString fake_logind::introspect(const QString&) const { return {}; }

bool fake_logind::handleMessage(const QDBusMessage& message, const QDBusConnection&) {
  if (message.type() != QDBusMessage::MethodCallMessage || message.path() != logind_path ||
      message.interface() != QStringLiteral("org.freedesktop.login1.Manager") ||
      message.member() != QStringLiteral("Inhibit") || message.signature() != "ssss")
    return false;
  QStringList args;
  for (const QVariant& a : message.arguments()) args << a.toString();
  calls.push_back(args);
  message.setDelayedReply(true);
  if (hold_answers)
    held.push_back(message);
  else
    answer(message);
  return true;
}

void fake_logind::answer(const QDBusMessage& call) {
  if (!refuse_with.isEmpty()) {
    fbus.send(call.createErrorReply(refuse_with, QStringLiteral("refused by the test")));
    return;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  fread_ends.push_back(fds[0]);
  // The reply keeps a copy of the write end until it is sent; ours goes at once.
  fbus.send(call.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]))));
  close(fds[1]);
}

void fake_logind::answer_held() {
  std::vector<QDBusMessage> calls_held;
  calls_held.swap(held);
  for (const QDBusMessage& m : calls_held) answer(m);
}

int fake_logind::active() const {
  int n = 0;
  for (int fd : fread_ends) {
    pollfd p{fd, 0, 0};
    if (poll(&p, 1, 0) == 0 || !(p.revents & POLLHUP)) ++n;
  }
  return n;
}

}  // namespace bus_rig
