// SPDX-License-Identifier: GPL-3.0-or-later
// Where the settings file lives, folder creation, the identity checks, and saving that never
// leaves a half-written file behind.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <csignal>
#include <sys/resource.h>

#include "settings_test_util.h"

using namespace murmelin;
using namespace settings_test;

namespace {

// Points the per-user config folder at a private folder for the life of the object.
class ConfigHome {
public:
  ConfigHome() : fold(qgetenv("XDG_CONFIG_HOME")), fhad(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", fdir.root().toUtf8());
  }
  ~ConfigHome() {
    if (fhad)
      qputenv("XDG_CONFIG_HOME", fold);
    else
      qunsetenv("XDG_CONFIG_HOME");
  }
  QString root() const { return fdir.root(); }

private:
  Folder fdir;
  QByteArray fold;
  bool fhad;
};

// The program's store holding one value.
struct Store : murmelin_store {
  Store() { s.writeinteger("Soundcard", "fs", 44100); }
};

template <typename E, typename F>
std::string error_of(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "<no error>";
}

// Temporarily lowers a resource limit of this process.
class Limit {
public:
  Limit(int resource, rlim_t soft) : fresource(resource) {
    getrlimit(resource, &fold);
    rlimit l = fold;
    l.rlim_cur = soft;
    fok = setrlimit(resource, &l) == 0;
  }
  ~Limit() { setrlimit(fresource, &fold); }
  bool ok() const { return fok; }

private:
  int fresource;
  rlimit fold;
  bool fok;
};

}  // namespace

TEST(QOBLocation, DefaultFileLivesInTheConfigFolderWhichIsCreated) {
  ConfigHome home;
  Store st;
  const QString expected = home.root() + "/BriskoData/Murmelin/0.1/settings.qobfile";
  EXPECT_EQ(st.s.settings_filename(), expected);
  EXPECT_TRUE(QFileInfo(home.root() + "/BriskoData/Murmelin/0.1").isDir());
  EXPECT_FALSE(QFileInfo::exists(expected));

  // An empty name means that file, for saving and for reading.
  st.s.save_file("");
  EXPECT_TRUE(QFileInfo(expected).isFile());
  TQOBFile other;
  other.set_ProgId(&st.id);
  other.set_SettingsFileName("settings.qobfile");
  other.open_file("");
  EXPECT_EQ(other.readinteger("Soundcard", "fs", 0), 44100);

  st.id.set_AutoVersion(true);
  EXPECT_EQ(st.s.settings_filename(), home.root() + "/BriskoData/Murmelin/3.0/settings.qobfile");
}

TEST(QOBLocation, HomeFolderStandsInWhenThereIsNoConfigFolder) {
  TProgId id;
  set_murmelin(id);
  EXPECT_EQ(settings_path_for("", "/home/user", id, "settings.qobfile"),
            "/home/user/Murmelin.qobfile");
  EXPECT_EQ(settings_path_for("/cfg/", "/home/user", id, "s.qobfile"),
            "/cfg/BriskoData/Murmelin/0.1/s.qobfile");
}

TEST(QOBLocation, MissingIdentityIsReportedWhereItIsNeeded) {
  ConfigHome home;
  Folder dir;
  TQOBFile s;
  s.set_FileId("id");
  s.set_FileVersion("0.0");
  s.writebool("a", "b", true);
  const auto message = [](auto f) { return error_of<EQOBfileError>(f); };
  EXPECT_EQ(message([&] { s.settings_filename(); }), "Nothing assigned to ProgId");
  EXPECT_EQ(message([&] { s.save_file(""); }), "Nothing assigned to ProgId");
  const std::string existing = dir.write("old.qobfile", "previous contents");
  EXPECT_EQ(message([&] { s.save_file(existing); }), "Nothing assigned to ProgId");
  EXPECT_EQ(Folder::read(existing), "previous contents");
  EXPECT_EQ(s.nnodes(), 1);
  EXPECT_EQ(message([&] { s.open_file(""); }), "Nothing assigned to ProgId");
  // Reading a named file and testing one need no identity.
  s.open_file(dir.write("ok.qobfile", header() + i32(1) + node("x", "y", 11, i32(3))));
  EXPECT_EQ(s.readinteger("x", "y", 0), 3);
  EXPECT_TRUE(s.isQOBfile(dir.path("ok.qobfile")));
}

TEST(QOBSave, CreatesTheFolderChainOrFailsWithoutTouchingAnything) {
  Folder dir;
  Store st;
  const std::string deep = dir.root().toStdString() + "/one/two/three/s.qobfile";
  st.s.save_file(deep);
  EXPECT_TRUE(QFileInfo(QString::fromStdString(deep)).isFile());

  const auto io_error = [](auto f) { return error_of<EInOutError>(f); };
  const std::string bare = "murmelin-settings-test-no-folder.qobfile";
  EXPECT_EQ(io_error([&] { st.s.save_file(bare); }), "Unable to create directory");
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(bare)));

  dir.write("blocker", "a file where a folder should be");
  EXPECT_EQ(io_error([&] { st.s.save_file(dir.path("blocker") + "/sub/s.qobfile"); }),
            "Unable to create directory");
  EXPECT_EQ(Folder::read(dir.path("blocker")), "a file where a folder should be");

  // A folder where the file should be cannot be replaced.
  QDir(dir.root()).mkdir("taken");
  EXPECT_NE(io_error([&] { st.s.save_file(dir.path("taken")); }), "<no error>");
  EXPECT_TRUE(QFileInfo(dir.root() + "/taken").isDir());
}

TEST(QOBSave, FailedSaveLeavesThePreviousFileByteForByte) {
  Folder dir;
  const QByteArray previous = header() + i32(1) + node("Noise", "Level", 11, i32(-10));
  const std::string name = dir.write("s.qobfile", previous);
  struct Case {
    const char* what;
    void (*spoil)(Store&);
  };
  const Case cases[] = {
      {"empty key", [](Store& st) { st.s.writebool("Noise", "", true); }},
      {"empty section", [](Store& st) { st.s.writebool("", "Key", true); }},
      {"empty file id", [](Store& st) { st.s.set_FileId(""); }},
      {"empty file version", [](Store& st) { st.s.set_FileVersion(""); }},
      {"empty product name", [](Store& st) { st.id.set_ProductName(""); }},
      {"empty version", [](Store& st) { st.id.set_Version(""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Store st;
    c.spoil(st);
    const int32_t before = st.s.nnodes();
    EXPECT_THROW(st.s.save_file(name), ERangeError);
    EXPECT_EQ(Folder::read(name), previous);
    EXPECT_EQ(dir.entries(), QStringList{"s.qobfile"});
    EXPECT_EQ(st.s.nnodes(), before);
  }
  // With AutoVersion on, the stored empty version is not used.
  Store st;
  st.id.set_Version("");
  st.id.set_AutoVersion(true);
  EXPECT_NO_THROW(st.s.save_file(name));
}

TEST(QOBSave, FullDiskLeavesThePreviousFileAndNoTemporaryFile) {
  Folder dir;
  const QByteArray previous = header() + i32(0);
  const std::string name = dir.write("s.qobfile", previous);
  Store st;
  st.s.writesmallintarr("Big", "Samples", tsmallintarr(100000, 7));  // 200 kB
  {
    // Writes past 64 kB fail as on a full disk (EFBIG instead of the signal).
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    Limit limit(RLIMIT_FSIZE, 64 * 1024);
    ASSERT_TRUE(limit.ok());
    EXPECT_THROW(st.s.save_file(name), EInOutError);
    std::signal(SIGXFSZ, old_handler);
  }
  EXPECT_EQ(Folder::read(name), previous);
  EXPECT_EQ(dir.entries(), QStringList{"s.qobfile"});
  // The same store saves once there is room.
  st.s.save_file(name);
  TQOBFile back;
  back.open_file(name);
  EXPECT_EQ(back.readsmallintarr("big", "samples", {}).size(), 100000u);
}

TEST(QOBSave, FileThatCannotBeCreatedIsReported) {
  // No file can be created in the process information folder, not even by root.
  ASSERT_TRUE(QFileInfo("/proc/self").isDir());
  Store st;
  const std::string name = "/proc/self/murmelin-settings.qobfile";
  const std::string message = error_of<EInOutError>([&] { st.s.save_file(name); });
  EXPECT_EQ(message.rfind("Unable to create file " + name + ": ", 0), 0u) << message;
  EXPECT_GT(message.size(), name.size() + 24);  // says why
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(name)));
  EXPECT_EQ(st.s.nnodes(), 1);
}
