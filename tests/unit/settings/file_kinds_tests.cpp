// SPDX-License-Identifier: GPL-3.0-or-later
// What a save does with whatever stands at the settings file's name (links, devices, FIFOs,
// sockets, read-only folders), which folder the file lives in, and files too large to be
// settings.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "alloc_probe.h"
#include "settings_test_util.h"
#include "settingsfile_io.h"
#include "userfolders.h"

using namespace murmelin;
using namespace settings_test;

namespace {

struct Store : murmelin_store {
  Store() { s.writeinteger("Soundcard", "fs", 44100); }
  // The bytes a save of this store puts into a regular file.
  QByteArray bytes() {
    Folder dir;
    s.save_file(dir.path("plain.qobfile"));
    return Folder::read(dir.path("plain.qobfile"));
  }
};

template <typename F>
std::string io_error(F f) {
  try {
    f();
  } catch (const EInOutError& e) {
    return e.what();
  }
  return "<no error>";
}

struct stat lstat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

std::string link_target(const std::string& path) {
  char buf[4096];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
  return n < 0 ? std::string("<not a link>") : std::string(buf, static_cast<std::size_t>(n));
}

// Sets or unsets environment variables for the life of the object.
class Env {
public:
  void set(const char* name, const char* value) {
    fsaved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    if (value)
      qputenv(name, value);
    else
      qunsetenv(name);
  }
  ~Env() {
    for (auto it = fsaved.rbegin(); it != fsaved.rend(); ++it) {
      if (it->had)
        qputenv(it->name, it->value);
      else
        qunsetenv(it->name);
    }
  }

private:
  struct saved {
    const char* name;
    QByteArray value;
    bool had;
  };
  std::vector<saved> fsaved;
};

// Runs f in a child process without root's right to write anywhere (as nobody when this runs as
// root); gives f's exit status, or -1 when the child did not end within 30 seconds.
int run_unprivileged(const std::function<int()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    ::_exit(f());
  }
  for (int i = 0; i < 3000; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ::usleep(10000);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

}  // namespace

TEST(QOBFileKinds, LinkToARegularFileStaysAndItsTargetIsReplaced) {
  Folder dir;
  QDir(dir.root()).mkdir("real");
  QDir(dir.root()).mkdir("config");
  const std::string target = dir.write("real/settings.qobfile", "old contents");
  const std::string link = dir.path("config/settings.qobfile");
  ASSERT_EQ(::symlink("../real/settings.qobfile", link.c_str()), 0);  // relative, as people make them
  const ino_t old_inode = stat_of(target).st_ino;

  Store st;
  const QByteArray want = st.bytes();
  st.s.save_file(link);
  EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
  EXPECT_EQ(link_target(link), "../real/settings.qobfile");
  EXPECT_EQ(Folder::read(target), want);
  EXPECT_NE(stat_of(target).st_ino, old_inode);  // replaced as a whole, not overwritten
  EXPECT_EQ(QDir(dir.root() + "/config").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"settings.qobfile"});
  TQOBFile back;
  back.open_file(link);
  EXPECT_EQ(back.readinteger("soundcard", "FS", 0), 44100);

  // A chain of links, and a link whose target does not exist yet.
  const std::string second = dir.path("config/second.qobfile");
  ASSERT_EQ(::symlink(link.c_str(), second.c_str()), 0);
  st.s.writeinteger("Soundcard", "fs", 48000);
  st.s.save_file(second);
  EXPECT_TRUE(S_ISLNK(lstat_of(second).st_mode));
  EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
  back.open_file(target);
  EXPECT_EQ(back.readinteger("soundcard", "FS", 0), 48000);

  const std::string dangling = dir.path("config/new.qobfile");
  ASSERT_EQ(::symlink("../real/new.qobfile", dangling.c_str()), 0);
  st.s.save_file(dangling);
  EXPECT_TRUE(S_ISLNK(lstat_of(dangling).st_mode));
  EXPECT_TRUE(S_ISREG(lstat_of(dir.path("real/new.qobfile")).st_mode));

  // A loop of links is reported.
  const std::string loop = dir.path("config/loop.qobfile");
  ASSERT_EQ(::symlink("loop.qobfile", loop.c_str()), 0);
  EXPECT_NE(io_error([&] { st.s.save_file(loop); }).find("Unable to create file " + loop + ": "),
            std::string::npos);
}

TEST(QOBFileKinds, LinkToDevNullThrowsTheSettingsAwayAndLeavesTheDevice) {
  const struct stat null_before = stat_of("/dev/null");
  ASSERT_TRUE(S_ISCHR(null_before.st_mode));
  Folder dir;
  const std::string link = dir.path("settings.qobfile");
  ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);

  Store st;
  EXPECT_NO_THROW(st.s.save_file(link));
  EXPECT_NO_THROW(st.s.save_file(link));
  EXPECT_EQ(link_target(link), "/dev/null");
  const struct stat null_after = lstat_of("/dev/null");
  EXPECT_TRUE(S_ISCHR(null_after.st_mode));
  EXPECT_EQ(null_after.st_rdev, null_before.st_rdev);
  EXPECT_EQ(null_after.st_ino, null_before.st_ino);
  EXPECT_EQ(dir.entries(), QStringList{"settings.qobfile"});

  // Reading it gives an empty store without complaint.
  TQOBFile back;
  back.set_FileId("mine");
  back.open_file(link);
  EXPECT_EQ(back.nnodes(), 0);
  EXPECT_EQ(back.FileId(), "mine");
  EXPECT_FALSE(back.isQOBfile(link));
}

TEST(QOBFileKinds, FifoIsWrittenWhenReadAndRefusedWithoutWaitingWhenNot) {
  Folder dir;
  const std::string fifo = dir.path("settings.qobfile");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = dir.path("link.qobfile");
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  Store st;

  for (const std::string& name : {fifo, link}) {
    SCOPED_TRACE(name);
    auto save = std::async(std::launch::async, [&] { return io_error([&] { st.s.save_file(name); }); });
    if (save.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      // Let the waiting save go on, so the test can end.
      const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      save.wait();
      ::close(reader);
      FAIL() << "the save waited for a reader";
    }
    const std::string message = save.get();
    EXPECT_EQ(message, "Unable to write file " + name +
                           ": it is a FIFO that nobody reads, and writing would wait for a reader");
    EXPECT_TRUE(S_ISFIFO(lstat_of(fifo).st_mode));
  }
  EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
  EXPECT_EQ(QDir(dir.root()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{"link.qobfile", "settings.qobfile"}));

  // With a reader the file's bytes go down the FIFO.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_NO_THROW(st.s.save_file(link));
  char buf[4096];
  const ssize_t n = ::read(reader, buf, sizeof buf);
  ::close(reader);
  EXPECT_EQ(QByteArray(buf, n > 0 ? static_cast<qsizetype>(n) : 0), st.bytes());
  EXPECT_TRUE(S_ISFIFO(lstat_of(fifo).st_mode));
}

TEST(QOBFileKinds, OnlyARegularFileIsReplaced) {
  Folder dir;
  Store st;
  // A socket.
  const std::string sock = dir.path("socket.qobfile");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(sock.size(), sizeof addr.sun_path);
  std::copy(sock.begin(), sock.end(), addr.sun_path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(io_error([&] { st.s.save_file(sock); }),
            "Unable to create file " + sock + ": a socket is there, and only a regular file is replaced");
  EXPECT_TRUE(S_ISSOCK(lstat_of(sock).st_mode));
  ::close(fd);

  // A folder, also behind a link.
  QDir(dir.root()).mkdir("folder");
  const std::string folder = dir.path("folder");
  const std::string link = dir.path("link");
  ASSERT_EQ(::symlink(folder.c_str(), link.c_str()), 0);
  EXPECT_EQ(io_error([&] { st.s.save_file(link); }),
            "Unable to create file " + link + ": a folder is there, and only a regular file is replaced");
  EXPECT_TRUE(S_ISDIR(lstat_of(folder).st_mode));
  EXPECT_TRUE(S_ISLNK(lstat_of(link).st_mode));
}

TEST(QOBFileKinds, WritableFileInAReadOnlyFolderIsWrittenInPlace) {
  Folder dir;
  ASSERT_EQ(::chmod(dir.root().toUtf8().constData(), 0755), 0);  // reachable by the child
  QDir(dir.root()).mkdir("locked");
  const std::string name = dir.write("locked/settings.qobfile", "old contents");
  ASSERT_EQ(::chmod(name.c_str(), 0666), 0);
  const std::string locked = dir.path("locked");
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  const ino_t inode = stat_of(name).st_ino;

  Store st;
  const QByteArray want = st.bytes();
  const int status = run_unprivileged([&] {
    // The folder really takes no new file here.
    const int probe = ::open((locked + "/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (probe >= 0) return 2;
    try {
      st.s.save_file(name);
    } catch (const Exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    // A new file, not writable, cannot be made there at all.
    try {
      st.s.save_file(locked + "/other.qobfile");
      return 3;
    } catch (const EInOutError&) {
    }
    return 0;
  });
  ::chmod(locked.c_str(), 0755);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(Folder::read(name), want);
  EXPECT_EQ(stat_of(name).st_ino, inode);
  EXPECT_EQ(QDir(QString::fromStdString(locked)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"settings.qobfile"});
}

TEST(QOBFolders, RelativeConfigHomeIsIgnoredAndMissingHomeFallsBackToTheAccount) {
  Folder home;
  const QString h = home.root();
  Env env;
  env.set("HOME", h.toUtf8().constData());
  env.set("XDG_CONFIG_HOME", "relative/config");
  EXPECT_EQ(user_home_folder(), h);
  EXPECT_EQ(user_config_folder(), h + "/.config");
  env.set("XDG_CONFIG_HOME", "");
  EXPECT_EQ(user_config_folder(), h + "/.config");
  env.set("XDG_CONFIG_HOME", "/somewhere/else");
  EXPECT_EQ(user_config_folder(), "/somewhere/else");

  // The settings file follows: under HOME, nothing under the folder the program started in.
  env.set("XDG_CONFIG_HOME", "relative");
  Store st;
  EXPECT_EQ(st.s.settings_filename(), h + "/.config/BriskoData/Murmelin/0.1/settings.qobfile");
  EXPECT_TRUE(QFileInfo(h + "/.config/BriskoData/Murmelin/0.1").isDir());
  EXPECT_FALSE(QFileInfo::exists("relative"));

  // Without HOME, or with a relative one, the account's home folder from the user database.
  const passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const QString account = QString::fromLocal8Bit(pw->pw_dir);
  env.set("XDG_CONFIG_HOME", nullptr);
  for (const char* value : {static_cast<const char*>(nullptr), "", "not/absolute"}) {
    env.set("HOME", value);
    EXPECT_EQ(user_home_folder(), account);
    EXPECT_EQ(user_config_folder(), QDir(account).filePath(".config"));
  }
}

TEST(QOBFileKinds, FilesAboveSixteenMebibytesReadAsDamagedWithoutBeingRead) {
  Folder dir;
  // A valid file of exactly the limit: one node whose payload fills it.
  const QByteArray head = header() + i32(1) + counted("Big") + counted("Blob") + i32(13);
  const qsizetype payload = kMaxSettingsFileSize - head.size() - 4;
  QByteArray file = head + i32(static_cast<int32_t>(payload)) + QByteArray(payload, 'x');
  ASSERT_EQ(file.size(), kMaxSettingsFileSize);
  const std::string name = dir.write("limit.qobfile", file);
  TQOBFile s;
  s.set_FileId("mine");
  s.open_file(name);
  ASSERT_EQ(s.nnodes(), 1);
  EXPECT_EQ(s.readstring("big", "blob", "").size(), static_cast<std::size_t>(payload));

  // One byte more (which would be ignored in a smaller file) and it is damaged.
  file.append('\0');
  const std::string over = dir.write("over.qobfile", file);
  file.clear();
  s.set_FileId("mine");
  reset_largest_allocation();
  s.open_file(over);
  EXPECT_LT(largest_allocation(), 1u << 20);  // not read
  EXPECT_EQ(s.nnodes(), 0);
  EXPECT_EQ(s.FileId(), "mine");
  EXPECT_EQ(s.readproductname(), "");
  EXPECT_TRUE(s.isQOBfile(over));  // which needs only the first four bytes

  // Far larger, as a sparse file.
  const std::string huge = dir.write("huge.qobfile", header() + i32(0));
  ASSERT_TRUE(QFile::resize(QString::fromStdString(huge), qint64{400} << 20));
  reset_largest_allocation();
  s.open_file(huge);
  EXPECT_LT(largest_allocation(), 1u << 20);
  EXPECT_EQ(s.readproductname(), "");
}
