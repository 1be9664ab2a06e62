#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program as a screen reader meets it, read over the accessibility bus, under a window
# manager: with LANGUAGE=de the main window, the settings dialog and the about box show German
# texts and none of the English ones, which the C locale shows; every control that takes the
# focus has a name, its own or its label's. Tab reaches "Play", and Space there presses it:
# its checked state, the status text and the name-change event a screen reader announces.
set -uo pipefail
. "$(dirname "$0")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb openbox xdotool dbus-daemon dbus-send /usr/libexec/at-spi-bus-launcher /usr/bin/python3
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "missing python3-pyatspi" >&2; exit 2; }
atspi() { timeout 20 /usr/bin/python3 "$(dirname "$0")/murmelin_e2e_atspi.py" "$@"; }
rig_init accessibility
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0
rig_start_xvfb
rig_start_wm
rig_start_pulse
rig_start_session_bus
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$RIG_LOGS/atspi.log" 2>&1 &
RIG_PIDS+=("$!")
ENGLISH=("Play" "Settings..." "Press play to play pink noise" "Level [dB]" "Sample rate [Hz]" "Ok"
         "Cancel" "Channels" "Soft onset" "Soundcard" "Stop after" "System default soundcard" "Never"
         "About Murmelin" "Pink noise, simply")
windows_are() { [ "$(atspi windows | grep -c .)" = "$1" ]; }

# texts_in LANGUAGE ABOUT: all three windows open in LANGUAGE ("..." is named ABOUT there);
# their texts go to $RIG_REC/LANGUAGE.txt.
texts_in() {
  LANGUAGE=$1 LANG=$1.UTF-8 rig_start_app "$RIG_APP"
  rig_find_main_window 30
  rig_key "$RIG_MAIN_WIN" ctrl+comma
  rig_wait_until 15 windows_are 2 || rig_fail "$1: the settings dialog did not open"
  atspi press "$2" && rig_wait_until 15 windows_are 3 || rig_fail "$1: the about box did not open"
  atspi texts > "$RIG_REC/$1.txt" 2> "$RIG_LOGS/texts.log" || rig_fail "$1: cannot read the windows"
  rig_stop "$RIG_APP_PID" TERM 5
  ! grep '^UNNAMED' "$RIG_REC/$1.txt" || rig_fail "$1: controls without a name"
}
texts_in C "About Murmelin"
for t in "${ENGLISH[@]}"; do grep -qxF "$t" "$RIG_REC/C.txt" || rig_fail "C: \"$t\" is not shown"; done
texts_in de "Über Murmelin"
for t in "${ENGLISH[@]}"; do grep -qxF "$t" "$RIG_REC/de.txt" && rig_fail "German: \"$t\" is shown in English"; done
for t in Abspielen "Pegel [dB]" Abbrechen "Stoppen nach" Nie "Rosa Rauschen, ganz einfach"; do
  grep -qxF "$t" "$RIG_REC/de.txt" || rig_fail "German: \"$t\" is not shown"
done

# ---- Tab to "Play", Space: pressed, the status text, and the event
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
on_play() { [[ "$(atspi focused)" == *": Play" ]]; }
for tab in 1 2; do on_play || { xdotool key Tab; rig_wait_until 5 on_play; }; done
on_play || rig_fail "Tab does not reach Play (focus: $(atspi focused))"
atspi listen 15 > "$RIG_REC/events.txt" &
listener=$!
rig_wait_until 10 grep -q listening "$RIG_REC/events.txt" || rig_fail "the event listener did not start"
xdotool key space
rig_wait_until 10 eval 'atspi states Play | grep -qw checked' || rig_fail "Space did not press Play: $(atspi states Play)"
rig_wait_until 10 grep -qx "label: Playing pink noise" "$RIG_REC/events.txt" \
  || rig_fail "no name-change event for the status text: $(tr '\n' '|' < "$RIG_REC/events.txt")"
rig_wait_until 10 rig_some_sink_input || rig_fail "Space on Play did not play"
kill "$listener" 2>/dev/null
xdotool key space
rig_wait_until 10 eval '! atspi states Play | grep -qw checked' || rig_fail "Space again did not release Play"
rig_wait_until 10 rig_no_sink_inputs || rig_fail "Space again did not stop"
rig_log "PASS"
