// SPDX-License-Identifier: GPL-3.0-or-later
// Without any bus (both bus addresses lead nowhere) the desktop-bus pieces do nothing and say
// nothing: the program plays as it does on a machine without D-Bus.
#include "mpris.h"
#include "sleep_inhibitor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<QString> qt_messages;

void record_qt_message(QtMsgType, const QMessageLogContext&, const QString& text) {
  qt_messages.push_back(text);
}

// What the process writes to standard error while it lives.
class stderr_capture {
public:
  explicit stderr_capture(std::string file) : ffile(std::move(file)) {
    std::fflush(stderr);
    fsaved = dup(2);
    const int fd = open(ffile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 2);
    close(fd);
  }
  std::string finish() {
    std::fflush(stderr);
    dup2(fsaved, 2);
    close(fsaved);
    std::ifstream in(ffile);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

private:
  std::string ffile;
  int fsaved = -1;
};

std::string private_dir;

TEST(NoBus, BothPiecesAreSilentNoOps) {
  qt_messages.clear();
  QtMessageHandler previous = qInstallMessageHandler(record_qt_message);
  stderr_capture err(private_dir + "/stderr");
  int requests = 0;
  {
    murmelin::mpris_callbacks cb;
    cb.request_play = [&](bool) { ++requests; };
    murmelin::mpris_player player(cb);
    murmelin::sleep_inhibitor inhibitor;
    EXPECT_FALSE(player.on_bus());

    player.set_level(-10.0);
    player.set_playing(true);
    inhibitor.set_active(true);
    EXPECT_FALSE(inhibitor.asking()) << "there is nobody to ask";
    QTest::qWait(0);
    EXPECT_TRUE(player.playing());
    EXPECT_FALSE(inhibitor.holding());
    player.set_playing(false);
    inhibitor.set_active(false);
    inhibitor.set_active(true);
    EXPECT_FALSE(inhibitor.holding());
  }
  QCoreApplication::processEvents();
  const std::string written = err.finish();
  qInstallMessageHandler(previous);
  // One line, once for all the plays: nothing holds off suspend.
  EXPECT_EQ(written, "murmelin: the computer may suspend while the noise plays: neither the "
                     "desktop portal nor logind holds off suspend for it\n");
  EXPECT_TRUE(qt_messages.empty()) << qt_messages.front().toStdString();
  EXPECT_EQ(requests, 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/murmelin-nobus.XXXXXX";
  if (!mkdtemp(pattern.data())) return 1;
  private_dir = pattern;
  const std::string nowhere = "unix:path=" + private_dir + "/no-bus";
  setenv("DBUS_SESSION_BUS_ADDRESS", nowhere.c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", nowhere.c_str(), 1);
  int rc = 1;
  {
    QCoreApplication app(argc, argv);
    rc = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  std::filesystem::remove_all(private_dir, ignored);
  return rc;
}
