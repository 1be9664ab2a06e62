// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the machine from suspending by itself while noise plays.
//
// While active, it holds one inhibitor against suspend: through the desktop portal
// (org.freedesktop.portal.Inhibit, "suspend" only) when the portal answers the request with a
// grant (Response 0), else through logind's Inhibit on the system bus ("sleep", mode "block"),
// whose descriptor it keeps open until it releases it. A portal that refuses (any other
// Response), answers with an error, is missing or does not answer within 3 s leaves it to
// logind. The reason shown to the user is "Playing pink noise". It never asks for the
// session's idle inhibition, so the screen still blanks and locks as usual.
//
// Every bus call is asynchronous; the UI thread never waits for an answer. A release asked
// for while the inhibit call is on its way happens as soon as the call is answered, also when
// the sleep_inhibitor has been destroyed meanwhile. When neither service grants an inhibitor
// (or there is no bus), nothing is held, playback goes on, and the first time this happens
// the program says on standard error that the computer may suspend while it plays; the next
// activation asks again.
//
// Only the UI thread may use it; it needs a QCoreApplication.
#pragma once

#include <memory>

namespace murmelin {

struct sleep_inhibitor_state;

class sleep_inhibitor {
public:
  sleep_inhibitor();
  // Releases the inhibitor it holds, or the one still being granted once it is granted.
  ~sleep_inhibitor();
  sleep_inhibitor(const sleep_inhibitor&) = delete;
  sleep_inhibitor& operator=(const sleep_inhibitor&) = delete;

  // True while noise plays: takes an inhibitor when none is held or on its way; false
  // releases it. Repeating the current state does nothing.
  void set_active(bool playing);

  // True while an inhibitor is granted and not yet released.
  bool holding() const;
  // True while an inhibit request (to the portal, then to logind) awaits its answer.
  bool asking() const;

private:
  std::shared_ptr<sleep_inhibitor_state> fstate;
};

}  // namespace murmelin
