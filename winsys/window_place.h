// SPDX-License-Identifier: GPL-3.0-or-later
// Window places in screen pixels, and the rule that keeps a window reachable on the desktop.
#pragma once

#include <cstdint>

class QWidget;

namespace murmelin {

// A rectangle given by its left and top edge and its size.
struct screen_rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  friend bool operator==(const screen_rect&, const screen_rect&) = default;
};

// The place a window gets so that enough of it lies on the desktop, given its outer place and
// the desktop's bounding rectangle. Four rules, in this order, each seeing the ones before:
//   1. left beyond the desktop's right edge - 50      -> left = right edge - 50
//   2. top beyond the desktop's bottom edge - 100     -> top = bottom edge - 100
//   3. top + height above the desktop's top + 50      -> top = the desktop's top
//   4. left + width left of the desktop's left + 100  -> left = desktop left - width + 100
// The size never changes. All sums in checked 32-bit arithmetic: EIntOverflow instead of a
// wrapped result.
screen_rect kept_on_desktop(screen_rect window, const screen_rect& desktop);

// The bounding rectangle of all screens.
screen_rect desktop_rect();

// A top-level window's place as the settings file keeps it: the top-left corner of its frame
// and its outer size, in screen pixels. The frame is the one the window manager gives the
// window, counted once it is known: on X11 once the window manager has published it
// (_NET_FRAME_EXTENTS), elsewhere once the toolkit has it (on Wayland the toolkit draws it).
// Before that, and without a window manager (or with one that publishes no frame), the places
// are the client area's.
int32_t window_top(const QWidget& w);
int32_t window_left(const QWidget& w);
int32_t window_height(const QWidget& w);
int32_t window_width(const QWidget& w);

// Puts the window's frame at OUTER's place, and gives it OUTER's size too when WITH_SIZE; a
// coordinate beyond what the toolkit takes (QWIDGETSIZE_MAX) is brought to it, a negative size
// to 0, and the window's minimum and maximum size still apply. With the frame known, at once.
// Before the window is framed the position holds at once (the window manager is told it is
// the frame's); the size goes to the client area until the frame is known, and then, in one
// step, the client area gets OUTER's size less the frame, and where places are the program's
// (window_places_are_ours) its place inside OUTER. Nothing is ever computed from a frame that
// is not known yet.
void set_outer_place(QWidget& w, const screen_rect& outer, bool with_size);

// WINDOW brought to what W can take (coordinates the toolkit computes with, a size within W's
// minimum and maximum), then kept_on_desktop over all screens, and its top edge, where the
// title bar is, inside the screens' work area.
screen_rect kept_on_work_area(const QWidget& w, const screen_rect& window);

// False where the window system keeps the windows' places to itself (a Wayland session: a
// program can neither read nor set them there); sizes are the program's everywhere.
bool window_places_are_ours();

// A window hidden and shown again comes back with its frame where it was.
void keep_place_across_shows(QWidget& w);

}  // namespace murmelin
