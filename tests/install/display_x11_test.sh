#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# On a session that offers both Wayland and X11 (XWayland), the program chooses X11 by itself:
# with QT_QPA_PLATFORM unset, DISPLAY on a private Xvfb and WAYLAND_DISPLAY on a socket that
# accepts connections but never speaks Wayland, the main window appears on the X server and the
# program ends normally when it is closed. Had it chosen Wayland, no X window would appear.
set -uo pipefail
. "$(dirname "$0")/../e2e/rig.sh"

rig_parse_args "$@"
rig_require_commands Xvfb xdotool xprop python3
rig_init display-x11
rig_start_xvfb

# A stand-in compositor socket: it accepts connections and says nothing.
wayland_socket="$XDG_RUNTIME_DIR/wayland-murmelin"
python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind(sys.argv[1]); s.listen(8)
while True: time.sleep(60)
' "$wayland_socket" >"$RIG_LOGS/wayland-socket.log" 2>&1 &
RIG_PIDS+=("$!")
rig_wait_until 10 test -S "$wayland_socket" || rig_fail "the stand-in Wayland socket did not appear"

# run_until_closed NAME: starts the program, waits for its main window on the X server,
# closes it and expects a normal exit.
run_until_closed() {
  rig_start_app "$RIG_APP"
  rig_find_main_window 30
  rig_log "$1: main window $RIG_MAIN_WIN on $DISPLAY"
  ${RIG_AFTER_FIND:-:}
  rig_close_window "$RIG_MAIN_WIN"
  rig_wait_app_exit 20
  [ "$RIG_APP_RC" = 0 ] || rig_fail "$1: the program exited with code $RIG_APP_RC after its window was closed"
  grep -qi 'needs a graphical desktop session' "$RIG_LOGS/app.log" && rig_fail "$1: the program refused a reachable display"
}

export WAYLAND_DISPLAY=wayland-murmelin XDG_SESSION_TYPE=wayland

# A platform the user chose stands when its display answers.
export QT_QPA_PLATFORM=xcb
run_until_closed "X11 chosen"
export QT_QPA_PLATFORM="xcb:display=$DISPLAY;wayland"
run_until_closed "a list of platforms with options"

# Nothing chosen: X11 through the X server, not the Wayland socket.
# The window class is the desktop entry's StartupWMClass, so docks show the entry's icon.
unset QT_QPA_PLATFORM
check_window_class() {
  local entry wanted class
  entry="$(dirname "$0")/../../packaging/com.briskodata.Murmelin.desktop"
  wanted=$(sed -n 's/^StartupWMClass=//p' "$entry")
  class=$(xprop -id "$RIG_MAIN_WIN" WM_CLASS | sed -n 's/.*= ".*", "\(.*\)"$/\1/p')
  [ -n "$wanted" ] && [ "$class" = "$wanted" ] \
    || rig_fail "window class \"$class\", the desktop entry's StartupWMClass is \"$wanted\""
}
RIG_AFTER_FIND=check_window_class run_until_closed "nothing chosen"
rig_log "PASS"
