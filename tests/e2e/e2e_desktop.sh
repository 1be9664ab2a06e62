#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program on a desktop with a window manager (openbox): window places that come back to
# the pixel, the keys of the settings dialog, the desktop's Quit while a dialog is open, and
# one instance per session.
set -uo pipefail
. "$(dirname "$0")/rig.sh"

rig_parse_args "$@"
rig_require_commands Xvfb openbox xdotool xprop pulseaudio pactl dbus-daemon dbus-send
SETTINGS_TOOL="$RIG_TOOLS/murmelin_e2e_settings"
SETTINGS_X=87 SETTINGS_Y=18 PLAY_X=29 PLAY_Y=18 LEVEL_X=184 LEVEL_Y=38
rig_init desktop
rig_start_xvfb
rig_start_wm
rig_start_pulse
rig_start_session_bus
SETTINGS_FILE="$XDG_CONFIG_HOME/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile"

mpris() {  # mpris METHOD [INTERFACE]: calls a method of the media-player interface
  timeout 5 dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.murmelin \
    /org/mpris/MediaPlayer2 "${2:-org.mpris.MediaPlayer2}.$1" >/dev/null
}
dialog() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_dialog() { [ -n "$(dialog "$1")" ]; }
start() {
  rig_start_app "$RIG_APP"
  rig_find_main_window 30
  rig_wait_until 10 mpris Raise || rig_fail "the program is not on the session bus"
}
quit() {  # quit WHAT: the desktop's Quit, then a normal end
  mpris Quit || rig_fail "$1: Quit was refused"
  rig_wait_app_exit 5
  [ "$RIG_APP_RC" = 0 ] || rig_fail "$1: exit code $RIG_APP_RC"
}
open_settings() {
  rig_click "$RIG_MAIN_WIN" $SETTINGS_X $SETTINGS_Y
  rig_wait_until 10 has_dialog Settings || rig_fail "the settings dialog did not open"
  DIALOG=$(dialog Settings)
  rig_focus "$DIALOG"
}
level() { "$SETTINGS_TOOL" dump "$SETTINGS_FILE" | awk '$1 == "Noise" && $2 == "Level" {print $4}'; }
keys() { timeout 10 xdotool key --clearmodifiers "$@" || rig_fail "keys $* failed"; }

# ---- five cycles of start, "Settings..." -> Enter, quit: the same outer rectangles each time
for cycle in 1 2 3 4 5; do
  start
  main=$(rig_outer_rect "$RIG_MAIN_WIN")
  open_settings
  settings=$(rig_outer_rect "$DIALOG")
  keys Return
  rig_wait_until 10 eval '! has_dialog Settings' || rig_fail "cycle $cycle: Enter did not close the dialog"
  quit "cycle $cycle"
  rig_log "cycle $cycle: main window $main, settings dialog $settings"
  [ "$cycle" = 1 ] || [ "$main $settings" = "$first" ] \
    || rig_fail "cycle $cycle: the windows are at $main and $settings, not at $first"
  [ "$cycle" = 1 ] && first="$main $settings"
done

# ---- a window put elsewhere by the user comes back there
start
xdotool windowmove "$RIG_MAIN_WIN" 300 200
rig_wait_until 5 eval '[ "$(rig_outer_rect "$RIG_MAIN_WIN")" != "${first% * * * *}" ]' || rig_fail "the window did not move"
moved=$(rig_outer_rect "$RIG_MAIN_WIN")
open_settings; keys Return
rig_wait_until 10 eval '! has_dialog Settings' || rig_fail "Enter did not confirm the dialog"
quit "moved"
start
[ "$(rig_outer_rect "$RIG_MAIN_WIN")" = "$moved" ] \
  || rig_fail "the moved window came back at $(rig_outer_rect "$RIG_MAIN_WIN"), not at $moved"

# ---- Enter presses the focused button: Cancel keeps the file, "..." opens the about box
before=$(md5sum < "$SETTINGS_FILE")
open_settings
keys ctrl+a; xdotool type -- "-30"; keys Tab Tab Tab Return
rig_wait_until 10 eval '! has_dialog Settings' || rig_fail "Enter on Cancel did not close the dialog"
[ "$(md5sum < "$SETTINGS_FILE")" = "$before" ] || rig_fail "Enter on Cancel saved the settings"
open_settings
keys shift+Tab Return
rig_wait_until 10 has_dialog About || rig_fail "Enter on ... did not open the about box"
rig_close_window "$(dialog About)"
rig_wait_until 10 eval '! has_dialog About' || rig_fail "the about box does not close"
rig_focus "$DIALOG"; rig_click "$DIALOG" $LEVEL_X $LEVEL_Y
keys ctrl+a; xdotool type -- "-20"; keys Return
rig_wait_until 10 eval '[ "$(level)" = -20 ]' || rig_fail "Enter in the level field did not save -20 dB (file: $(level))"

# ---- the desktop's Quit with the dialog open: nothing saved, a normal end at once
before=$(md5sum < "$SETTINGS_FILE")
open_settings
keys ctrl+a; xdotool type -- "-40"
quit "Quit with the dialog open"
[ "$(md5sum < "$SETTINGS_FILE")" = "$before" ] || rig_fail "Quit with the dialog open saved the settings"

# ---- one instance: a second start while the first plays raises it and ends, over the bus
# and, without a bus, through the lock; a lock left by a killed instance does not count
second_start() {
  xdotool windowminimize "$RIG_MAIN_WIN"
  rig_wait_until 5 eval '! xdotool search --onlyvisible --name "^Murmelin\$" >/dev/null' || rig_fail "$1: cannot minimise"
  timeout 5 "$RIG_APP" >>"$RIG_LOGS/second.log" 2>&1 || rig_fail "$1: the second start did not end with 0"
  rig_wait_until 5 eval 'xdotool search --onlyvisible --name "^Murmelin\$" >/dev/null' \
    || rig_fail "$1: the first window was not brought back"
  [ "$(rig_sink_inputs)" = 1 ] || rig_fail "$1: $(rig_sink_inputs) streams play"
}
for bus in session none; do
  [ "$bus" = none ] && export DBUS_SESSION_BUS_ADDRESS="unix:path=$RIG_DIR/no-session-bus"
  rig_start_app "$RIG_APP"; rig_find_main_window 30
  rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
  rig_wait_until 10 rig_some_sink_input || rig_fail "no stream after Play"
  second_start "bus: $bus"
  kill -KILL "$RIG_APP_PID"; rig_wait_app_exit 5
done
rig_start_app "$RIG_APP"
rig_find_main_window 30 || rig_fail "a lock left by a killed instance blocks the next start"
rig_log "PASS"
