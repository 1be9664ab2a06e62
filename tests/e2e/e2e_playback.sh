#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Plays pink noise with the real program on a private sound server and checks what was
# really played: silence before Play, the soft onset, the level, the spectrum against the
# filter bank's computed response, identical channels, and silence with no stream left
# open after Play is pressed again; then closes the window and expects exit code 0.
#
#   tests/e2e/e2e_playback.sh [--app BINARY] [--tools DIR]
#
# Needs Xvfb, xdotool, pulseaudio and pulseaudio-utils (scripts/install-deps.sh).
# MURMELIN_E2E_KEEP=1 keeps the private folder with the recording and the logs.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb xdotool pulseaudio pactl parec

PLAY_X=29 PLAY_Y=18          # the "Play" button, client coordinates
PLAY_SECONDS=24              # sound recorded after the stream opened

rig_init playback
rig_start_xvfb
rig_start_pulse
rig_start_parec "$RIG_REC/all.raw"

rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_log "main window $RIG_MAIN_WIN"

# At least a second of what the sink plays before anything is pressed.
start=$(rig_rec_pos)
rig_wait_recorded $(( start + RIG_BYTES_PER_SECOND )) 15 || rig_fail "recording stalled before Play"
rig_no_sink_inputs || rig_fail "the program holds a stream open before Play was pressed"
before_play=$(rig_rec_pos)
# The null sink renders a little ahead of the clock, so the recording may already hold what
# it will play in the next few milliseconds: half a second more before Play keeps the start
# of the sound well after the cut.
rig_wait_recorded $(( before_play + RIG_BYTES_PER_SECOND / 2 )) 15 || rig_fail "recording stalled before Play"

rig_log "Play"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream on the sound server 15 s after Play"
specs=$(rig_sink_input_specs)
[ "$specs" = "s16le 2ch 44100Hz" ] || rig_fail "expected one stream of s16le 2ch 44100Hz, found: ${specs:-none}"
# Counted from the stream's opening, so a slow start never shortens what is analysed.
stream_open=$(rig_rec_pos)
rig_wait_recorded $(( stream_open + PLAY_SECONDS * RIG_BYTES_PER_SECOND )) $(( PLAY_SECONDS + 60 )) \
  || rig_fail "recording stalled while playing"
rig_app_running || rig_fail "the program ended while playing"
rig_some_sink_input || rig_fail "the stream vanished while playing"

rig_log "Play again"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_no_sink_inputs || rig_fail "a stream is still open 15 s after Play was pressed again"
rig_split_recording "$before_play"

failed=0
rig_log "before Play:"
"$RIG_TOOLS/murmelin_e2e_analyze" silence "$RIG_REC/before.raw" 0.9 || failed=1
rig_log "playing:"
"$RIG_TOOLS/murmelin_e2e_analyze" playback "$RIG_REC/playing.raw" || failed=1
rig_log "after Play again:"
"$RIG_TOOLS/murmelin_e2e_analyze" silence "$RIG_REC/after.raw" 0.9 || failed=1
rig_no_sink_inputs || { rig_log "FAIL: a stream was opened again after stopping"; failed=1; }

rig_app_running || rig_fail "the program ended after stopping"
rig_close_window "$RIG_MAIN_WIN"
rig_wait_app_exit 15
[ "$RIG_APP_RC" = 0 ] || { rig_log "FAIL: the program ended with exit code $RIG_APP_RC"; failed=1; }

# Nothing is saved at exit.
saved=$(find "$HOME" "$XDG_CONFIG_HOME" -name 'MurmelinSettings.qobfile' 2>/dev/null)
[ -z "$saved" ] || { rig_log "FAIL: a settings file was written without confirming the settings: $saved"; failed=1; }

[ $failed = 0 ] || rig_fail "checks of the playback failed (see above)"

# A logout or a plain kill ends the program even while it plays: SIGTERM keeps its default
# meaning, and the sound server sees the stream go.
rig_log "SIGTERM while playing"
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream on the sound server 15 s after Play (second start)"
kill -s TERM "$RIG_APP_PID"
rig_wait_app_exit 10
[ "$RIG_APP_RC" = 143 ] || rig_fail "the program did not end by SIGTERM (exit code $RIG_APP_RC)"
rig_wait_until 15 rig_no_sink_inputs || rig_fail "a stream is still open 15 s after the program ended"
rig_log "PASS"
