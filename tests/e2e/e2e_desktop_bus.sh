#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program on the desktop's session bus, with the real program, a private session bus, a
# stand-in for the desktop portal and a private sound server:
#  - without a session bus it plays and stops as before, and says once that the computer may
#    suspend while it plays;
#  - PlayPause over MPRIS starts the noise (a stream at the default level, PlaybackStatus
#    "Playing", the window looks as after a click on Play, one inhibitor against suspend);
#    a click on Play stops it (no stream, "Stopped", the window as before, the inhibitor
#    closed), and the other way round;
#  - an overload (level +10 dB set through the settings dialog) stops playback and opens the
#    dialog: "Stopped", no stream, no inhibitor; Play over MPRIS while the dialog is open
#    changes nothing, and once it is closed Play starts again;
#  - closing the window while playing closes the inhibitor before the program ends; with
#    --lost-server instead: a sound server that goes away while playing leaves no inhibitor
#    behind once the program has noticed, and the next Play stops;
#  - without any sound output, Play fails with the open error and holds no inhibitor.
#
#   tests/e2e/e2e_desktop_bus.sh [--app BINARY] [--tools DIR] [--lost-server]
#
# Needs Xvfb, xdotool, xwd, pulseaudio, pulseaudio-utils, dbus-daemon and dbus-send
# (scripts/install-deps.sh). MURMELIN_E2E_KEEP=1 keeps the private folder with the
# recordings, the window images, the portal's log and the other logs.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
LOST_SERVER=0
args=()
for a in "$@"; do
  if [ "$a" = --lost-server ]; then LOST_SERVER=1; else args+=("$a"); fi
done
rig_parse_args "${args[@]}"
rig_require_commands Xvfb xdotool xwd pulseaudio pactl parec dbus-daemon dbus-send awk cmp
for tool in murmelin_e2e_fake_portal murmelin_e2e_settings; do
  [ -x "$RIG_TOOLS/$tool" ] || { echo "missing $RIG_TOOLS/$tool (build the release preset first)" >&2; exit 2; }
done

PLAY_X=29 PLAY_Y=18            # "Play", main window client coordinates
SETTINGS_X=87 SETTINGS_Y=18    # "Settings..."
LEVEL_X=184 LEVEL_Y=38         # settings dialog client coordinates
OK_X=53 OK_Y=194
CANCEL_X=145 CANCEL_Y=194
DEFAULT_RMS=3200               # RMS of each channel at the default level of -10 dB

rig_init desktop-bus
rig_start_xvfb
rig_start_pulse

# ---- helpers

settings_window() { xdotool search --onlyvisible --name '^Settings$' 2>/dev/null | head -n 1; }
has_settings_window() { [ -n "$(settings_window)" ]; }
no_settings_window() { [ -z "$(settings_window)" ]; }

# set_level_in_dialog LEVEL: types LEVEL into the open settings dialog and presses Ok.
set_level_in_dialog() {
  local dialog
  dialog=$(settings_window)
  [ -n "$dialog" ] || rig_fail "no settings dialog to set the level in"
  rig_focus "$dialog"
  rig_click "$dialog" $LEVEL_X $LEVEL_Y
  timeout 10 xdotool key --clearmodifiers ctrl+a BackSpace || rig_fail "cannot clear the level field"
  timeout 10 xdotool type --delay 30 -- "$1" || rig_fail "cannot type the level"
  rig_click "$dialog" $OK_X $OK_Y
  rig_wait_until 15 no_settings_window || rig_fail "the settings dialog did not close on Ok"
}

quit_app() {
  rig_close_window "$RIG_MAIN_WIN"
  rig_wait_app_exit 15
  [ "$RIG_APP_RC" = 0 ] || rig_fail "the program ended with exit code $RIG_APP_RC"
}

# An image of the main window's contents with the pointer off it, so that no hover
# highlight shows: two images are equal exactly when the window shows the same.
shot() {
  timeout 10 xdotool mousemove 1000 740 || rig_fail "cannot move the pointer away"
  timeout 10 xwd -silent -id "$RIG_MAIN_WIN" -out "$RIG_REC/$1.xwd" || rig_fail "cannot take an image of the window"
}
# shot_equals NAME REF: takes image NAME and compares it with image REF.
shot_equals() { shot "$1" && cmp -s "$RIG_REC/$1.xwd" "$RIG_REC/$2.xwd"; }
shot_differs() { shot "$1" && ! cmp -s "$RIG_REC/$1.xwd" "$RIG_REC/$2.xwd"; }

# MPRIS over the bus, as a panel or a media key would call it.
MPRIS_NAME=org.mpris.MediaPlayer2.murmelin
MPRIS_PATH=/org/mpris/MediaPlayer2
bus_call() { timeout 10 dbus-send --session --reply-timeout=5000 --print-reply=literal "$@"; }
mpris() {
  bus_call --dest=$MPRIS_NAME $MPRIS_PATH "org.mpris.MediaPlayer2.Player.$1" >/dev/null \
    || rig_fail "the MPRIS call $1 failed"
}
# property INTERFACE NAME: the value as dbus-send prints it, without "variant".
property() {
  bus_call --dest=$MPRIS_NAME $MPRIS_PATH org.freedesktop.DBus.Properties.Get \
    string:"$1" string:"$2" | sed 's/^[[:space:]]*variant[[:space:]]*//'
}
status() { property org.mpris.MediaPlayer2.Player PlaybackStatus; }
status_is() { [ "$(status)" = "$1" ]; }
mpris_on_bus() {
  bus_call --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
    string:$MPRIS_NAME | grep -q true
}
# The level in the metadata, as a number.
metadata_level() {
  timeout 10 dbus-send --session --reply-timeout=5000 --print-reply --dest=$MPRIS_NAME $MPRIS_PATH \
    org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player string:Metadata \
    | awk '/"murmelin:level"/ {found = 1; next} found && /double/ {print $NF; exit}'
}
metadata_level_is() { [ "$(metadata_level)" = "$1" ]; }

# The portal's log: inhibitors granted, closed, and dropped because the caller left the bus.
PORTAL_LOG="$RIG_DIR/portal-events.txt"
portal_count() { grep -c "^$1 " "$PORTAL_LOG"; }
portal_active() {
  echo $(( $(portal_count inhibit) - $(portal_count close) - $(portal_count dropped) ))
}
portal_inhibits_are() { [ "$(portal_count inhibit)" = "$1" ]; }
portal_active_is() { [ "$(portal_active)" = "$1" ]; }
# The handle of the n-th inhibitor granted.
portal_handle() { awk -v n="$1" '$1 == "inhibit" && ++i == n {print $2}' "$PORTAL_LOG"; }
portal_closed() { grep -qx "close $1" "$PORTAL_LOG"; }
no_bad_portal_calls() {
  local bad
  bad=$(grep -v -e '^ready$' -e '^inhibit ' -e '^close ' -e '^dropped ' "$PORTAL_LOG")
  [ -z "$bad" ] || rig_fail "unexpected calls to the portal: $bad"
}

# ---- no bus: plays and stops as before, and says once that nothing holds off suspend
rig_log "without a session bus"
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
for round in 1 2; do
  rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
  rig_wait_until 15 rig_some_sink_input || rig_fail "without a session bus: no stream 15 s after Play"
  rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
  rig_wait_until 15 rig_no_sink_inputs || rig_fail "without a session bus: a stream is still open 15 s after Play again"
done
quit_app
[ "$(grep -c . "$RIG_LOGS/app.log")" = 1 ] && grep -q '^murmelin: the computer may suspend while the noise plays' "$RIG_LOGS/app.log" \
  || rig_fail "without a bus the program should say once that the computer may suspend; it printed: $(head -c 500 "$RIG_LOGS/app.log")"

# ---- a private session bus with the portal on it
rig_start_session_bus
"$RIG_TOOLS/murmelin_e2e_fake_portal" "$PORTAL_LOG" > "$RIG_LOGS/portal.log" 2>&1 &
RIG_PIDS+=("$!")
rig_wait_until 10 grep -qx ready "$PORTAL_LOG" || rig_fail "the fake portal did not come up within 10 s"

rig_start_parec "$RIG_REC/all.raw"
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_wait_until 15 mpris_on_bus || rig_fail "$MPRIS_NAME is not on the session bus 15 s after the start"
identity=$(property org.mpris.MediaPlayer2 Identity)
[ "$identity" = Murmelin ] || rig_fail "Identity is \"$identity\", not Murmelin"
rig_wait_until 10 status_is Stopped || rig_fail "PlaybackStatus is \"$(status)\" before anything was played"
portal_inhibits_are 0 || rig_fail "an inhibitor was taken before anything was played"
# The reference image once the window has settled: two images in a row are the same.
settled() { shot stopped && shot stopped_again && cmp -s "$RIG_REC/stopped.xwd" "$RIG_REC/stopped_again.xwd"; }
rig_wait_until 10 settled || rig_fail "the window does not settle into one image"

# ---- 1. PlayPause over the bus starts the noise
rig_log "PlayPause over MPRIS"
before_play=$(rig_rec_pos)
mpris PlayPause
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream on the sound server 15 s after PlayPause"
stream_open=$(rig_rec_pos)
rig_wait_until 10 status_is Playing || rig_fail "PlaybackStatus is \"$(status)\" while playing"
rig_wait_until 10 portal_inhibits_are 1 || rig_fail "no inhibitor asked for 10 s after PlayPause"
inhibit=$(grep '^inhibit ' "$PORTAL_LOG")
case $inhibit in
  *" flags=4 window= reason=Playing pink noise") ;;
  *) rig_fail "the inhibitor is not one against suspend only with the program's reason: $inhibit" ;;
esac
rig_wait_until 10 shot_differs playing_bus stopped || rig_fail "the window looks the same while playing as when stopped"
# What is played: past the two seconds of the soft onset, at the default level on both channels.
rig_wait_recorded $(( stream_open + 4 * RIG_BYTES_PER_SECOND )) 30 || rig_fail "recording stalled while playing"
read -r left right _ _ < <("$RIG_TOOLS/murmelin_e2e_settings" levels "$RIG_REC/all.raw" \
  $(( stream_open / 4 + 5 * RIG_SAMPLE_RATE / 2 )) $(( stream_open / 4 + 4 * RIG_SAMPLE_RATE ))) \
  || rig_fail "cannot measure the recording"
rig_log "playing: RMS left $left, right $right"
awk -v l="$left" -v r="$right" -v ref=$DEFAULT_RMS 'BEGIN {
  if (l <= 0 || r <= 0) exit 1
  dl = 20 * log(l / ref) / log(10); dr = 20 * log(r / ref) / log(10)
  exit !(dl > -2 && dl < 2 && dr > -2 && dr < 2)
}' || rig_fail "the noise started over MPRIS does not play at the default level on both channels"
rig_cut "$RIG_REC/all.raw" 0 "$before_play" "$RIG_REC/before.raw"
"$RIG_TOOLS/murmelin_e2e_analyze" silence "$RIG_REC/before.raw" 0.5 >/dev/null \
  || rig_fail "the sink played something before PlayPause"

# ---- 2. a click on Play stops it
rig_log "Play clicked"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_no_sink_inputs || rig_fail "a stream is still open 15 s after Play was clicked"
rig_wait_until 10 status_is Stopped || rig_fail "PlaybackStatus is \"$(status)\" after Play was clicked"
first=$(portal_handle 1)
rig_wait_until 10 portal_closed "$first" || rig_fail "the inhibitor $first was not closed after Play was clicked"
portal_active_is 0 || rig_fail "$(portal_active) inhibitors are held after Play was clicked"
rig_wait_until 10 shot_equals stopped_button stopped || rig_fail "the window does not look as before PlayPause after Play was clicked"

# And the other way round: started by the button, stopped over the bus.
rig_log "Play clicked, then PlayPause over MPRIS"
rig_focus "$RIG_MAIN_WIN"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream 15 s after Play was clicked"
rig_wait_until 10 status_is Playing || rig_fail "PlaybackStatus is \"$(status)\" after Play was clicked"
rig_wait_until 10 portal_inhibits_are 2 || rig_fail "no inhibitor asked for after Play was clicked"
rig_wait_until 10 shot_equals playing_button playing_bus \
  || rig_fail "the window looks different when playing by a click than when playing by PlayPause"
mpris PlayPause
rig_wait_until 15 rig_no_sink_inputs || rig_fail "a stream is still open 15 s after PlayPause"
rig_wait_until 10 status_is Stopped || rig_fail "PlaybackStatus is \"$(status)\" after PlayPause"
rig_wait_until 10 portal_active_is 0 || rig_fail "$(portal_active) inhibitors are held after PlayPause stopped"
rig_wait_until 10 shot_equals stopped_bus stopped || rig_fail "the window does not look stopped after PlayPause stopped"
rig_stop_parec

# ---- 3. an overload stops playback and opens the settings dialog
rig_log "level +10 dB through the settings dialog"
rig_focus "$RIG_MAIN_WIN"
rig_click "$RIG_MAIN_WIN" $SETTINGS_X $SETTINGS_Y
rig_wait_until 15 has_settings_window || rig_fail "the settings dialog did not open"
set_level_in_dialog 10
rig_wait_until 10 metadata_level_is 10 || rig_fail "the metadata show level $(metadata_level), not 10"

# overload_over_bus WHAT: Play over MPRIS must play (an inhibitor is asked for) until the
# overload stops it and opens the settings dialog; the clipped block never reaches the sink.
overload_over_bus() {
  local n peak
  n=$(portal_count inhibit)
  rig_start_parec "$RIG_REC/overload.raw"
  mpris Play
  rig_wait_until 20 has_settings_window || rig_fail "$1: no settings dialog 20 s after Play at +10 dB"
  rig_wait_until 10 status_is Stopped || rig_fail "$1: PlaybackStatus is \"$(status)\" after the overload"
  rig_wait_until 10 rig_no_sink_inputs || rig_fail "$1: a stream is still open after the overload"
  rig_wait_until 10 portal_inhibits_are $(( n + 1 )) \
    || rig_fail "$1: $(( $(portal_count inhibit) - n )) inhibitors asked for while playing up to the overload, not 1"
  rig_wait_until 10 portal_active_is 0 || rig_fail "$1: $(portal_active) inhibitors are held after the overload"
  has_settings_window || rig_fail "$1: the settings dialog closed by itself"
  rig_wait_recorded $(( $(rig_rec_pos) + RIG_BYTES_PER_SECOND / 2 )) 15 || rig_fail "recording stalled"
  rig_stop_parec
  peak=$(rig_peak "$RIG_REC/overload.raw")
  rig_log "$1: peak $peak at the sink"
  [ "$peak" -lt 32767 ] || rig_fail "$1: the clipped block reached the sink (peak $peak)"
}
rig_log "Play over MPRIS at +10 dB"
overload_over_bus "overload"

rig_log "Play over MPRIS while the settings dialog is open"
inhibits=$(portal_count inhibit)
mpris Play
# The property is answered after the request has been handled.
status_is Stopped || rig_fail "Play while the settings dialog is open: PlaybackStatus is \"$(status)\""
rig_no_sink_inputs || rig_fail "Play while the settings dialog is open opened a stream"
portal_inhibits_are "$inhibits" || rig_fail "Play while the settings dialog is open asked for an inhibitor"
has_settings_window || rig_fail "the settings dialog closed on Play"

# The same Play plays once the dialog is closed.
dialog=$(settings_window)
rig_focus "$dialog"
rig_click "$dialog" $CANCEL_X $CANCEL_Y
rig_wait_until 15 no_settings_window || rig_fail "the settings dialog did not close on Cancel"
rig_log "Play over MPRIS at +10 dB after Cancel"
overload_over_bus "overload after Cancel"
set_level_in_dialog -10
rig_wait_until 10 metadata_level_is -10 || rig_fail "the metadata show level $(metadata_level), not -10"
no_bad_portal_calls
[ ! -s "$RIG_LOGS/app.log" ] || rig_fail "the program printed: $(head -c 500 "$RIG_LOGS/app.log")"

# ---- 4. the sound server goes away while playing
if [ $LOST_SERVER = 1 ]; then
  rig_log "lost server: PlayPause over MPRIS, then the sound server ends"
  inhibits=$(portal_count inhibit)
  mpris PlayPause
  rig_wait_until 15 rig_some_sink_input || rig_fail "lost server: no stream 15 s after PlayPause"
  rig_wait_until 10 status_is Playing || rig_fail "lost server: PlaybackStatus is \"$(status)\" while playing"
  rig_wait_until 10 portal_inhibits_are $(( inhibits + 1 )) || rig_fail "lost server: no inhibitor asked for after PlayPause"
  rig_stop_pulse
  rig_wait_until 20 portal_active_is 0 \
    || rig_fail "lost server: $(portal_active) inhibitors held 20 s after the server ended (PlaybackStatus \"$(status)\")"
  rig_app_running || rig_fail "lost server: the program ended when the sound server went away"
  rig_log "lost server: inhibitor closed, PlaybackStatus \"$(status)\""
  # The error about the lost server is dismissed; the window and the media controls show
  # that nothing plays.
  if rig_has_other_window; then rig_key "$(rig_other_window)" Return; fi
  rig_wait_until 15 rig_no_other_window || rig_fail "lost server: the message box did not close on Return"
  rig_focus "$RIG_MAIN_WIN"
  rig_wait_until 10 status_is Stopped || rig_fail "lost server: PlaybackStatus is \"$(status)\" after the server went away"
  portal_active_is 0 || rig_fail "lost server: $(portal_active) inhibitors held after Play stopped"
  rig_log "lost server: PASS"
else
  # ---- the window closed while playing: the inhibitor is closed before the program goes,
  # not merely dropped with its connection.
  rig_log "PlayPause over MPRIS, then the window is closed"
  inhibits=$(portal_count inhibit)
  mpris PlayPause
  rig_wait_until 15 rig_some_sink_input || rig_fail "no stream 15 s after PlayPause"
  rig_wait_until 10 portal_inhibits_are $(( inhibits + 1 )) || rig_fail "no inhibitor asked for after PlayPause"
fi
quit_app
rig_wait_until 10 portal_active_is 0 || rig_fail "$(portal_active) inhibitors left after the program ended"
[ "$(portal_count dropped)" = 0 ] || rig_fail "the program ended holding an inhibitor: $(grep '^dropped ' "$PORTAL_LOG")"

# ---- 5. no sound output at all: Play fails with the open error, no inhibitor is held while
# its message box is up, and the window shows that nothing plays.
rig_log "no sound output: Play"
[ -z "$RIG_PULSE_PID" ] || rig_stop_pulse
: > "$RIG_DIR/asound.conf"
export ALSA_CONFIG_PATH="$RIG_DIR/asound.conf"
export PIPEWIRE_REMOTE="$RIG_DIR/no-pipewire"
export JACK_NO_START_SERVER=1
inhibits=$(portal_count inhibit)
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_wait_until 15 mpris_on_bus || rig_fail "no sound output: $MPRIS_NAME is not on the bus"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 20 rig_has_other_window || rig_fail "no sound output: no message box 20 s after Play"
rig_wait_until 10 portal_active_is 0 \
  || rig_fail "no sound output: $(portal_active) inhibitors held while the open error is shown"
rig_key "$(rig_other_window)" Return
rig_wait_until 15 rig_no_other_window || rig_fail "no sound output: the message box did not close on Return"
rig_wait_until 10 status_is Stopped || rig_fail "no sound output: PlaybackStatus is \"$(status)\" after the failed Play"
portal_active_is 0 || rig_fail "no sound output: $(portal_active) inhibitors held after the failed Play"
rig_log "no sound output: $(( $(portal_count inhibit) - inhibits )) inhibitors asked for and closed"
quit_app
no_bad_portal_calls
rig_log "PASS"
