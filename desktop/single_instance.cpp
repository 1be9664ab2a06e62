// SPDX-License-Identifier: GPL-3.0-or-later
#include "single_instance.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "error_boundary.h"

namespace murmelin {

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

void single_instance::raise_running() const {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (bus.isConnected()) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.mpris.MediaPlayer2.Murmelin"), QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"));
    if (bus.call(call, QDBus::Block, 1000).type() == QDBusMessage::ReplyMessage) return;
  }
  if (flock_fd < 0) return;
  if (const pid_t pid = lock_holder(flock_fd); pid != 0 && pid != ::getpid()) ::kill(pid, SIGUSR1);
}

void single_instance::on_raise_request(std::function<void()> raise) {
  if (raise_pipe[0] >= 0 || ::pipe2(raise_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier =
      new QSocketNotifier(raise_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [raise = std::move(raise)] {
    char bytes[16];
    while (::read(raise_pipe[0], bytes, sizeof bytes) > 0) {
    }
    guarded([&] { raise(); });
  });
  struct sigaction action = {};
  action.sa_handler = on_sigusr1;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace murmelin
