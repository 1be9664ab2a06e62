// SPDX-License-Identifier: GPL-3.0-or-later
// libpulse's main loop interface (pa_mainloop_api) on the Qt event loop of the thread that
// creates it: descriptors are watched with QSocketNotifier, timers are QTimers on the
// monotonic clock, and deferred events run when a dispatch ends or, when enabled outside
// one, on the event loop's next pass. So a sound-server connection lives on the UI thread and
// needs no thread of its own.
//
// wait() runs the same event sources without the Qt event loop, for calls that must answer at
// once: it polls the connection's own descriptors and fires due timers until a condition holds
// or a time limit passes. Nothing else of the program runs meanwhile.
//
// Only for the thread that created it. Every event libpulse creates must be freed before the
// loop is destroyed (unreferencing every context does that).
#pragma once

#include <pulse/mainloop-api.h>

#include <functional>
#include <vector>

class QTimer;

namespace murmelin {

class pa_qt_mainloop {
public:
  pa_qt_mainloop();
  ~pa_qt_mainloop();
  pa_qt_mainloop(const pa_qt_mainloop&) = delete;
  pa_qt_mainloop& operator=(const pa_qt_mainloop&) = delete;

  pa_mainloop_api* api() { return &fapi; }

  // Runs f as the loop runs a callback of libpulse's: what f makes libpulse enable (the
  // sending of a write, say) runs as soon as f returns, not on a later pass of the event loop.
  void dispatch(const std::function<void()>& f);

  // Dispatches the loop's events until done() holds or timeout_ms have passed; returns done().
  // done() is checked before anything is dispatched.
  bool wait(const std::function<bool()>& done, int timeout_ms);

  // Implementation details shared with the event callbacks.
  struct impl;

private:
  pa_mainloop_api fapi;
  impl* fimpl;
};

}  // namespace murmelin
