// SPDX-License-Identifier: GPL-3.0-or-later
#include "settingsfile_io.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "exceptions.h"

namespace murmelin {

namespace {

// Closes a descriptor when it goes out of scope.
class descriptor {
public:
  explicit descriptor(int fd) : ffd(fd) {}
  ~descriptor() {
    if (ffd >= 0) ::close(ffd);
  }
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  int get() const { return ffd; }
  // Closes now and says whether that went well (a write may only report its failure here).
  bool close() {
    const int fd = ffd;
    ffd = -1;
    return ::close(fd) == 0;
  }

private:
  int ffd;
};

QByteArray native(const QString& path) { return QFile::encodeName(path); }

std::string why(int err) { return std::strerror(err); }

// The path with every symbolic link on it followed, as the system would (at most 40 links);
// the file at the end need not exist.
QString final_target(const QString& path, const std::string& name) {
  QString p = path;
  for (int links = 0;; ++links) {
    const QByteArray n = native(p);
    struct stat st {};
    if (::lstat(n.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    if (links == 40) throw EInOutError("Unable to create file " + name + ": " + why(ELOOP));
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t len = ::readlink(n.constData(), target.data(), target.size());
    if (len < 0 || static_cast<std::size_t>(len) >= target.size())
      throw EInOutError("Unable to create file " + name + ": " + why(len < 0 ? errno : ENAMETOOLONG));
    target.resize(static_cast<std::size_t>(len));
    p = QFileInfo(p).dir().filePath(QFile::decodeName(QByteArray::fromStdString(target)));
  }
}

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// Writes all bytes to an open character device or FIFO without ever waiting.
void write_directly(int fd, const std::string& name, const QByteArray& bytes) {
  const char* p = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, static_cast<std::size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      throw EInOutError("Unable to write file " + name + ": nothing takes the data now, and " +
                        "writing would wait for it");
    if (n <= 0) throw EInOutError("Unable to write file " + name + ": " + why(n < 0 ? errno : EIO));
    p += n;
    left -= n;
  }
}

}  // namespace

std::optional<QByteArray> read_regular_file(const QString& path, qint64 max_bytes, qint64 max_size) {
  // Not blocking: a FIFO put there after any test made on the name must not hang the reader.
  descriptor fd(::open(native(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > max_size)
    return std::nullopt;
  const qint64 want = std::min<qint64>(max_bytes, st.st_size);
  QByteArray bytes(want, Qt::Uninitialized);
  qint64 have = 0;
  while (have < want) {
    const ssize_t n = ::read(fd.get(), bytes.data() + have, static_cast<std::size_t>(want - have));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;  // shorter than it was a moment ago
    have += n;
  }
  bytes.truncate(have);
  return bytes;
}

void write_file_bytes(const QString& path, const std::string& name, const QByteArray& bytes) {
  const QString target = final_target(path, name);
  struct stat st {};
  if (::stat(native(target).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode))
      throw EInOutError("Unable to create file " + name + ": " + kind_of(st.st_mode) +
                        " is there, and only a regular file is replaced");
    // O_NONBLOCK: a FIFO that nobody reads refuses at once instead of waiting for a reader.
    descriptor fd(::open(native(target).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
      if (errno == ENXIO && S_ISFIFO(st.st_mode))
        throw EInOutError("Unable to write file " + name + ": it is a FIFO that nobody reads, " +
                          "and writing would wait for a reader");
      throw EInOutError("Unable to write file " + name + ": " + why(errno));
    }
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0 || !(S_ISCHR(opened.st_mode) || S_ISFIFO(opened.st_mode)))
      throw EInOutError("Unable to write file " + name + ": it changed while it was opened");
    write_directly(fd.get(), name, bytes);
    if (!fd.close()) throw EInOutError("Unable to write file " + name + ": " + why(errno));
    return;
  }

  QSaveFile f(target);
  f.setDirectWriteFallback(true);  // a writable file in a folder that takes no new files
  // Unbuffered: a buffered write of a small file fails only in commit's flush, and the save
  // file then loses that error and replaces the previous file with a truncated one.
  if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    throw EInOutError("Unable to create file " + name + ": " + f.errorString().toStdString());
  if (f.write(bytes) != bytes.size()) {
    const std::string reason = f.errorString().toStdString();
    f.cancelWriting();
    throw EInOutError("Unable to write file " + name + ": " + reason);
  }
  if (!f.commit())
    throw EInOutError("Unable to write file " + name + ": " + f.errorString().toStdString());
}

}  // namespace murmelin
