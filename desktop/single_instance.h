// SPDX-License-Identifier: GPL-3.0-or-later
// One instance of the program per user session: a second start brings the running window to
// the front and ends, so that two noises never play on top of each other and two writers
// never share one settings file.
#pragma once

#include <QString>

#include <functional>

namespace murmelin {

// What the launcher handed to this start so that the window it shows may take the focus:
// the Wayland activation token (XDG_ACTIVATION_TOKEN) and the X11 startup id
// (DESKTOP_STARTUP_ID). Read before the application object exists, which takes them over.
struct launch_activation {
  QString token;
  QString startup_id;
  static launch_activation from_environment();
};

class single_instance {
public:
  single_instance() = default;
  ~single_instance();
  single_instance(const single_instance&) = delete;
  single_instance& operator=(const single_instance&) = delete;

  // Takes the session's lock: a file in $XDG_RUNTIME_DIR (or, where that is not set, in the
  // program's folder under the config folder), locked while this process lives; the kernel
  // drops the lock when the process ends in any way, so a crashed instance never blocks the
  // next start. False when another instance holds it. True, too, when no lock file can be
  // made: the program then runs as it would without one.
  bool acquire();

  // From a second start: asks the running instance to bring its window to the front, handing
  // it this start's activation, through org.freedesktop.Application's Activate on the session
  // bus (the running instance owns the desktop entry's name); where that does not answer,
  // through the media-player interface's Raise, and without a bus with SIGUSR1 to the process
  // that holds the lock. Waits at most a second for each; fails quietly.
  void raise_running(const launch_activation& launch) const;

  // Brings the window to the front; WITH_ACTIVATION is false when the start that asks handed
  // over nothing that lets the window take the focus, so it should rather ask for attention.
  using raise_handler = std::function<void(bool with_activation)>;

  // In the running instance: RAISE runs from the event loop whenever another start asks, by
  // Activate on the session bus or by SIGUSR1. While it runs, XDG_ACTIVATION_TOKEN holds the
  // token the other start handed over (its activation token, else its startup id, which on
  // Wayland is one too), so that the compositor lets the window take the focus (Qt's Wayland
  // plugin uses it for the next activation). On X11 the window in front is activated with
  // the time of the launch that the startup id carries, and the launcher's startup
  // notification for that start ends. Needs the application object.
  void on_raise_request(raise_handler raise);

private:
  int flock_fd = -1;
};

}  // namespace murmelin
