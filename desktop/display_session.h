// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop session the windows go to, chosen before the application object exists.
#pragma once

namespace murmelin {

// Chooses Qt's windowing platform for this process and names the installed desktop entry
// (murmelin_desktop_entry), which Wayland compositors match windows with. Call it before the
// application object is created.
// - QT_QPA_PLATFORM set: that choice stands.
// - Otherwise X11 when its display answers (on a Wayland session that is XWayland, where
//   window places can be restored), with native Wayland as the fallback; Wayland alone when
//   there is no X11 display. A platform whose Qt plugin is not installed is never chosen.
// Returns false after printing one line on standard error when no graphical session can be
// reached, or only one whose plugin is missing (Qt would abort with a core dump there); the
// caller then exits with code 1.
bool prepare_display_session();

// Call once the application object exists. Until then Qt's messages are held back, and a
// platform plugin that Qt cannot load ends the program with one line on standard error and
// exit code 1 instead of Qt's abort.
void display_session_opened();

}  // namespace murmelin
