// SPDX-License-Identifier: GPL-3.0-or-later
// The program as an MPRIS 2 media player on the session bus, so the desktop's media keys,
// panels and sound menus can start and stop the noise and show what plays.
//
// While an mpris_player exists, the object /org/mpris/MediaPlayer2 with the interfaces
// org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player is on the session bus under the
// name org.mpris.MediaPlayer2.murmelin (org.mpris.MediaPlayer2.murmelin.instance<pid> when
// another process holds that name). Without a session bus nothing is registered and nothing
// is printed; every call is then a no-op.
//
// The noise is one endless "track": PlaybackStatus is "Playing" or "Stopped" (never
// "Paused": the noise has no pause, so Pause stops it), there is no seeking, no next or
// previous and no track list. The metadata holds the track id, the title "Pink noise" and the
// level: as text in xesam:comment ("-10.0 dB", "-10.0 dB, until 23:45" while a timer runs)
// and as a number in dB in murmelin:level.
// Volume, Rate and Position are read-only (1.0, 1.0, 0); OpenUri answers NotSupported.
//
// Only the UI thread may use it; it needs a QCoreApplication.
#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "desktop_id.h"

namespace murmelin {

struct mpris_callbacks {
  // Runs the play control as the play button does: true to start the noise, false to stop
  // it. Called from the event loop shortly after a Play, Pause, PlayPause or Stop call, and
  // only when the call changes the state last reported by set_playing. What it throws goes
  // to the application's default error handler.
  std::function<void(bool wanted_playing)> request_play;
  // False while the program cannot take such a request (a modal dialog is open); the request
  // is then dropped quietly. Empty: always true.
  std::function<bool()> can_control;
  // Optional: brings the main window to the front. Empty: CanRaise is false.
  std::function<void()> raise;
  // Optional: ends the program, also while a dialog is open (can_control is not asked).
  // Empty: CanQuit is false.
  std::function<void()> quit;
};

class mpris_object;

class mpris_player {
public:
  explicit mpris_player(mpris_callbacks callbacks);
  ~mpris_player();
  mpris_player(const mpris_player&) = delete;
  mpris_player& operator=(const mpris_player&) = delete;

  // The play state, whatever changed it (the button, an overload, an error, a dialog).
  // Listeners get PropertiesChanged when it differs from the last state reported.
  void set_playing(bool playing);
  // The noise level in dB and the clock time at which a timed playback stops (empty: no
  // timer), shown in the metadata. A level that is not finite removes the level from the
  // metadata.
  void set_level(double level_db, const QString& stop_time = QString());

  bool playing() const;
  // True when the player object is exported on the session bus.
  bool on_bus() const;

private:
  std::unique_ptr<mpris_object> fobject;
};

}  // namespace murmelin
