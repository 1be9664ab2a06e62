#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A timed playback with the real program: "Stop after" 1 min in the settings file, "Play", and
# the null sink's monitor recorded. The noise plays at full level until 30 s, falls (about
# -6 dB at 45 s) and is silent from 60 s on; playback then stops as by "Play": no stream, the
# stopped display and title, "Stopped" over the media-player interface, the inhibitor closed.
# The next "Play" plays again.
#
#   tests/e2e/e2e_timer.sh [--app BINARY] [--tools DIR]
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb xdotool pulseaudio pactl parec dbus-daemon dbus-send awk
SETTINGS_TOOL="$RIG_TOOLS/murmelin_e2e_settings"
PLAY_X=29 PLAY_Y=18
rig_init timer
rig_start_xvfb
rig_start_pulse
rig_start_session_bus
PORTAL_LOG="$RIG_DIR/portal-events.txt"
"$RIG_TOOLS/murmelin_e2e_fake_portal" "$PORTAL_LOG" > "$RIG_LOGS/portal.log" 2>&1 &
RIG_PIDS+=("$!")
rig_wait_until 10 grep -qx ready "$PORTAL_LOG" || rig_fail "the fake portal did not come up within 10 s"
SETTINGS_FILE="$XDG_CONFIG_HOME/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile"
mkdir -p "$(dirname "$SETTINGS_FILE")"
"$SETTINGS_TOOL" setint "$SETTINGS_FILE" Noise StopAfter 1 || rig_fail "cannot write the settings file"

status() {
  timeout 10 dbus-send --session --print-reply=literal --dest=org.mpris.MediaPlayer2.murmelin \
    /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get \
    string:org.mpris.MediaPlayer2.Player string:PlaybackStatus | sed 's/^[[:space:]]*variant[[:space:]]*//'
}
inhibitors() { echo $(( $(grep -c '^inhibit ' "$PORTAL_LOG") - $(grep -c '^close ' "$PORTAL_LOG") )); }
title() { xdotool getwindowname "$RIG_MAIN_WIN" 2>/dev/null; }
stopped() { [ "$(title)" = Murmelin ] && [ "$(status)" = Stopped ] && rig_no_sink_inputs; }
# level FROM TO: the level (right channel, first difference) over seconds FROM to TO after Play.
level() {
  "$SETTINGS_TOOL" levels "$RIG_REC/all.raw" $(( play + $1 * 44100 / 10 )) $(( play + $2 * 44100 / 10 )) | awk '{print $3}'
}

rig_start_parec "$RIG_REC/all.raw"
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
play=$(( $(rig_rec_pos) / 4 ))
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream 15 s after Play"
rig_wait_until 10 test "$(inhibitors)" = 1 || rig_fail "no inhibitor while playing"
[[ "$(title)" =~ ^Murmelin\ –\ until\ [0-9] ]] || rig_fail "while the timer runs the title is \"$(title)\""
[ "$(status)" = Playing ] || rig_fail "playing, but the media-player interface says $(status)"
rig_wait_until 75 stopped || rig_fail "75 s after Play: title \"$(title)\", $(status), $(rig_sink_inputs) streams"
rig_wait_until 10 test "$(inhibitors)" = 0 || rig_fail "the inhibitor is still held after the timer stopped playback"
rig_wait_recorded $(( (play + 63 * 44100) * 4 )) 15 || rig_fail "the recording stalled"

# Full level to 30 s, then falling, -6 dB at 45 s; silence from 60 s (and a buffer) on.
full=$(level 50 250) l35=$(level 345 355) l45=$(level 445 455) l55=$(level 545 555)
rig_log "levels: full $full, 35 s $l35, 45 s $l45, 55 s $l55"
awk -v f="$full" -v a="$l35" -v b="$l45" -v c="$l55" 'BEGIN {
  d = 20 * log(b / f) / log(10); exit !(f > 1000 && a < f && b < a && c < b && d > -7.5 && d < -4.5) }' \
  || rig_fail "the envelope is not a fade from 30 s to 60 s"
read -r _ _ _ nonzero < <("$SETTINGS_TOOL" levels "$RIG_REC/all.raw" $(( play + 60 * 44100 + 2048 )) $(( play + 63 * 44100 )))
[ "$nonzero" = 0 ] || rig_fail "$nonzero samples of sound after 60 s"

rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "the next Play did not play"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 stopped || rig_fail "Play again did not stop"
rig_log "PASS"
