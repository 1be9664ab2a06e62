// SPDX-License-Identifier: GPL-3.0-or-later
// The MPRIS player driven as the desktop drives it: calls and property reads from another
// connection on a private session bus, with a window stand-in that does what the main window
// does with a play request (it reports the new state back at once).
#include "bus_rig.h"
#include "mpris.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QProcess>

#include <limits>
#include <memory>
#include <vector>

namespace {

using bus_rig::wait_for;

const QString service = QStringLiteral("org.mpris.MediaPlayer2.murmelin");
const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
const QString root_if = QStringLiteral("org.mpris.MediaPlayer2");
const QString player_if = QStringLiteral("org.mpris.MediaPlayer2.Player");

struct window_stand_in {
  std::vector<bool> requests;
  bool modal_open = false;
  int raised = 0;
  int quits = 0;
  std::unique_ptr<murmelin::mpris_player> player;

  explicit window_stand_in(bool with_raise_and_quit = false) {
    murmelin::mpris_callbacks cb;
    cb.request_play = [this](bool wanted) {
      requests.push_back(wanted);
      player->set_playing(wanted);
    };
    cb.can_control = [this] { return !modal_open; };
    if (with_raise_and_quit) {
      cb.raise = [this] { ++raised; };
      cb.quit = [this] { ++quits; };
    }
    player = std::make_unique<murmelin::mpris_player>(cb);
  }
};

class Mpris : public ::testing::Test {
protected:
  bus_rig::client desktop{"DBUS_SESSION_BUS_ADDRESS"};

  void call_player(const QString& method) {
    const QDBusMessage reply = desktop.call(service, path, player_if, method);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString() << ": "
                                                        << reply.errorMessage().toStdString();
  }
  void wait_until_owned(const QString& name = service) {
    ASSERT_TRUE(wait_for([&] { return desktop.has_owner(name); })) << name.toStdString();
  }
};

TEST_F(Mpris, AnnouncesItselfAsAnEndlessPinkNoisePlayer) {
  window_stand_in window;
  ASSERT_TRUE(window.player->on_bus());
  wait_until_owned();
  window.player->set_level(-10.0);

  const QVariantMap root = desktop.all_properties(service, root_if);
  EXPECT_EQ(root.value("Identity").toString(), "Murmelin");
  EXPECT_EQ(root.value("DesktopEntry").toString(), murmelin::murmelin_desktop_entry);
  EXPECT_EQ(root.value("CanQuit"), false);
  EXPECT_EQ(root.value("CanRaise"), false);
  EXPECT_EQ(root.value("HasTrackList"), false);
  EXPECT_TRUE(root.contains("SupportedUriSchemes"));
  EXPECT_TRUE(root.contains("SupportedMimeTypes"));

  const QVariantMap player = desktop.all_properties(service, player_if);
  EXPECT_EQ(player.value("PlaybackStatus").toString(), "Stopped");
  for (const char* yes : {"CanPlay", "CanPause", "CanControl"}) EXPECT_EQ(player.value(yes), true) << yes;
  for (const char* no : {"CanSeek", "CanGoNext", "CanGoPrevious"}) EXPECT_EQ(player.value(no), false) << no;
  EXPECT_EQ(player.value("Rate").toDouble(), 1.0);
  EXPECT_EQ(player.value("Volume").toDouble(), 1.0);

  const QVariantMap metadata = bus_rig::to_map(player.value("Metadata"));
  ASSERT_TRUE(metadata.value("mpris:trackid").canConvert<QDBusObjectPath>());
  EXPECT_FALSE(metadata.value("mpris:trackid").value<QDBusObjectPath>().path().startsWith("/org/mpris"));
  EXPECT_EQ(metadata.value("xesam:title").toString(), "Pink noise");
  EXPECT_EQ(metadata.value("murmelin:level").toDouble(), -10.0);
  const QStringList comment = metadata.value("xesam:comment").toStringList();
  ASSERT_EQ(comment.size(), 1);
  EXPECT_TRUE(comment.at(0).endsWith(" dB")) << comment.at(0).toStdString();
  EXPECT_TRUE(comment.at(0).contains("10")) << comment.at(0).toStdString();
}

TEST_F(Mpris, ControlsRunThePlayControlAndTheStatusFollows) {
  window_stand_in window;
  wait_until_owned();
  bus_rig::properties_recorder recorder(desktop.bus(), path);

  call_player("PlayPause");
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 1; }));
  EXPECT_EQ(desktop.property(service, player_if, "PlaybackStatus").toString(), "Playing");
  call_player("Play");       // already playing: no second start
  call_player("PlayPause");  // stops
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 2; }));
  EXPECT_EQ(desktop.property(service, player_if, "PlaybackStatus").toString(), "Stopped");
  call_player("Stop");   // already stopped
  call_player("Pause");  // already stopped
  call_player("Play");
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 3; }));
  call_player("Pause");  // the noise has no pause: it stops
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 4; }));
  call_player("Play");
  call_player("Stop");
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 6; }));

  EXPECT_EQ(window.requests, (std::vector<bool>{true, false, true, false, true, false}));
  ASSERT_TRUE(wait_for([&] { return recorder.values_of("PlaybackStatus").size() == 6; }));
  EXPECT_EQ(recorder.values_of("PlaybackStatus"),
            (QVariantList{"Playing", "Stopped", "Playing", "Stopped", "Playing", "Stopped"}));
  for (const auto& change : recorder.changes) EXPECT_EQ(change.interface, player_if);
}

TEST_F(Mpris, FollowsEveryStateChangeOfTheWindowOnce) {
  window_stand_in window;
  wait_until_owned();
  bus_rig::properties_recorder recorder(desktop.bus(), path);

  // The button, then an overload or an error stopping the noise: the window reports both.
  window.player->set_playing(true);
  window.player->set_playing(true);
  window.player->set_level(-20.0);
  window.player->set_level(-20.0);
  window.player->set_playing(false);
  ASSERT_TRUE(wait_for([&] { return recorder.values_of("PlaybackStatus").size() == 2; }));
  EXPECT_EQ(recorder.values_of("PlaybackStatus"), (QVariantList{"Playing", "Stopped"}));
  const QVariantList metadata = recorder.values_of("Metadata");
  ASSERT_EQ(metadata.size(), 1);
  EXPECT_EQ(bus_rig::to_map(metadata.at(0)).value("murmelin:level").toDouble(), -20.0);
  EXPECT_EQ(bus_rig::to_map(metadata.at(0)).value("xesam:title").toString(), "Pink noise");
  EXPECT_TRUE(window.requests.empty()) << "the player only reports what the window did";
  EXPECT_EQ(desktop.property(service, player_if, "PlaybackStatus").toString(), "Stopped");

  // A level that is not a number leaves the metadata without a level, not with "nan dB".
  window.player->set_level(std::numeric_limits<double>::quiet_NaN());
  const QVariantMap now = bus_rig::to_map(desktop.property(service, player_if, "Metadata"));
  EXPECT_FALSE(now.contains("murmelin:level"));
  EXPECT_FALSE(now.contains("xesam:comment"));
  EXPECT_EQ(now.value("xesam:title").toString(), "Pink noise");
}

// Play requests wait for the dialog; Quit, the desktop ending the program, does not.
TEST_F(Mpris, RequestsWhileADialogIsOpenAreRefusedQuietlyButQuit) {
  window_stand_in window(true);
  wait_until_owned();

  window.modal_open = true;
  call_player("Play");
  call_player("PlayPause");
  const QDBusMessage quit = desktop.call(service, path, root_if, "Quit");
  EXPECT_EQ(quit.type(), QDBusMessage::ReplyMessage) << "refused without an error";
  EXPECT_EQ(desktop.property(service, player_if, "PlaybackStatus").toString(), "Stopped");

  // Requests run in the order they came: once this one has run, the refused ones have too.
  window.modal_open = false;
  call_player("PlayPause");
  ASSERT_TRUE(wait_for([&] { return !window.requests.empty(); }));
  EXPECT_EQ(window.requests, std::vector<bool>{true});
  EXPECT_EQ(window.quits, 1);
}

TEST_F(Mpris, RaiseQuitAndWhatANoisePlayerCannotDo) {
  window_stand_in window(true);
  wait_until_owned();
  EXPECT_EQ(desktop.property(service, root_if, "CanRaise"), true);
  EXPECT_EQ(desktop.property(service, root_if, "CanQuit"), true);

  ASSERT_EQ(desktop.call(service, path, root_if, "Raise").type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(wait_for([&] { return window.raised == 1; }));
  ASSERT_EQ(desktop.call(service, path, root_if, "Quit").type(), QDBusMessage::ReplyMessage);
  ASSERT_TRUE(wait_for([&] { return window.quits == 1; }));

  const QDBusMessage open = desktop.call(service, path, player_if, "OpenUri",
                                         {QStringLiteral("file:///tmp/song.ogg")});
  EXPECT_EQ(open.type(), QDBusMessage::ErrorMessage);
  EXPECT_EQ(open.errorName(), "org.freedesktop.DBus.Error.NotSupported");

  // A volume the noise does not have cannot be set; the caller hears so.
  const QDBusMessage set_volume =
      desktop.call(service, path, "org.freedesktop.DBus.Properties", "Set",
                   {player_if, QStringLiteral("Volume"), QVariant::fromValue(QDBusVariant(0.5))});
  EXPECT_EQ(set_volume.type(), QDBusMessage::ErrorMessage);

  for (const char* m : {"Next", "Previous"}) call_player(m);
  EXPECT_EQ(desktop.call(service, path, player_if, "Seek", {qlonglong(1'000'000)}).type(),
            QDBusMessage::ReplyMessage);
  call_player("PlayPause");
  ASSERT_TRUE(wait_for([&] { return !window.requests.empty(); }));
  EXPECT_EQ(window.requests, std::vector<bool>{true}) << "Next, Previous and Seek change nothing";
}

TEST_F(Mpris, ASecondInstanceTakesItsOwnNameAndEveryNameGoesWithThePlayer) {
  const QString instance_name =
      service + ".instance" + QString::number(QCoreApplication::applicationPid());
  {
    // Another Murmelin already plays under the plain name.
    bus_rig::client other("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_TRUE(other.bus().registerService(service));
    {
      window_stand_in window;
      wait_until_owned(instance_name);
      const QDBusMessage reply = desktop.call(instance_name, path, player_if, "PlayPause");
      ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage);
      ASSERT_TRUE(wait_for([&] { return window.requests.size() == 1; }));
    }
    EXPECT_TRUE(wait_for([&] { return !desktop.has_owner(instance_name); }));
  }
  window_stand_in window;
  wait_until_owned();
  window.player.reset();
  EXPECT_TRUE(wait_for([&] { return !desktop.has_owner(service); }));
}

TEST_F(Mpris, DbusSendPlayPauseStartsAndStopsTheNoise) {
  window_stand_in window;
  wait_until_owned();
  auto play_pause = [&] {
    QProcess send;
    send.start("dbus-send", {"--session", "--print-reply", "--dest=" + service, path,
                             player_if + ".PlayPause"});
    // The player answers from this thread's event loop, so run it while dbus-send waits.
    const bool finished = wait_for([&] { return send.state() == QProcess::NotRunning; }, 20);
    if (!finished) send.kill();
    return finished && send.exitStatus() == QProcess::NormalExit && send.exitCode() == 0;
  };
  ASSERT_TRUE(play_pause()) << "dbus-send failed";
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 1; }));
  EXPECT_TRUE(window.player->playing());
  ASSERT_TRUE(play_pause()) << "dbus-send failed";
  ASSERT_TRUE(wait_for([&] { return window.requests.size() == 2; }));
  EXPECT_FALSE(window.player->playing());
  EXPECT_EQ(desktop.property(service, player_if, "PlaybackStatus").toString(), "Stopped");
}

}  // namespace
