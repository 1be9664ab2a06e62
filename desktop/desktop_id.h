// SPDX-License-Identifier: GPL-3.0-or-later
// The program's name on the desktop: the base name of its desktop entry (the .desktop file
// without its extension). The media-player interface reports it as DesktopEntry, Wayland
// compositors match windows with it, and panels show the entry's icon and name for both.
#pragma once

namespace murmelin {

inline constexpr char murmelin_desktop_entry[] = "com.briskodata.Murmelin";

// The class of the program's X11 windows (the second part of WM_CLASS); the desktop entry's
// StartupWMClass names the same.
inline constexpr char murmelin_window_class[] = "murmelin";

// The media-player interface's bus name ends in the command's name, the one people type
// (playerctl -p murmelin).
inline constexpr char murmelin_media_player_name[] = "org.mpris.MediaPlayer2.murmelin";

}  // namespace murmelin
