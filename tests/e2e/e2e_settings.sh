#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The settings dialog and the settings file with the real program, on a private sound server
# with two outputs. First run: "Settings..." sets level -20 dB, 48000 Hz, the right channel
# only and the second output, the windows are moved, "&Ok" writes the file with its
# rows in order. Second run: both windows come back at their places, and "Play" plays on the
# second output only, at 48000 Hz, with the left channel silent and the right channel 10 dB
# below the default level. Third run, with a settings file of another program holding a main
# window place far off the screen: the wrong-file box, the window back on the screen, and
# playback with the defaults on the default output (the reference for the level).
#
#   tests/e2e/e2e_settings.sh [--app BINARY] [--tools DIR]
#
# Needs Xvfb, xdotool, pulseaudio and pulseaudio-utils (scripts/install-deps.sh).
# MURMELIN_E2E_KEEP=1 keeps the private folder with the recordings and the logs.
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb xdotool pulseaudio pactl parec awk
SETTINGS_TOOL="$RIG_TOOLS/murmelin_e2e_settings"
[ -x "$SETTINGS_TOOL" ] || { echo "missing $SETTINGS_TOOL (build the release preset first)" >&2; exit 2; }

PLAY_X=29 PLAY_Y=18            # "Play", main window client coordinates
SETTINGS_X=87 SETTINGS_Y=18    # "Settings..."
LEVEL_X=184 LEVEL_Y=38         # settings dialog client coordinates
RATE_X=184 RATE_Y=85
LEFT_X=24 LEFT_Y=33
COMBO_X=110 COMBO_Y=137
OK_X=53 OK_Y=194
CANCEL_X=145 CANCEL_Y=194
SECOND_SINK=secondsink
SECOND_RATE=48000
PLAY_SECONDS=8

rig_init settings
rig_start_xvfb
rig_start_pulse
rig_pactl load-module module-null-sink sink_name=$SECOND_SINK rate=$SECOND_RATE channels=2 \
  format=s16le sink_properties=device.description=Second_Sink >/dev/null \
  || rig_fail "cannot load the second null sink"
SETTINGS_FILE="$XDG_CONFIG_HOME/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile"

# Position of a window as the X server has it: "X Y".
window_position() {
  xdotool getwindowgeometry "$1" 2>/dev/null | sed -n 's/^ *Position: \([-0-9]*\),\([-0-9]*\).*/\1 \2/p'
}
position_is() { [ "$(window_position "$1")" = "$2" ]; }

settings_window() { xdotool search --onlyvisible --name '^Settings$' 2>/dev/null | head -n 1; }
has_settings_window() { [ -n "$(settings_window)" ]; }
no_settings_window() { [ -z "$(settings_window)" ]; }

open_settings() {
  rig_focus "$RIG_MAIN_WIN"
  rig_click "$RIG_MAIN_WIN" $SETTINGS_X $SETTINGS_Y
  rig_wait_until 15 has_settings_window || rig_fail "the settings dialog did not open"
  DIALOG=$(settings_window)
  rig_focus "$DIALOG"
}

# replace_text X Y TEXT: clicks into the field of the dialog and types TEXT over its text.
replace_text() {
  rig_click "$DIALOG" "$1" "$2"
  timeout 10 xdotool key --clearmodifiers ctrl+a BackSpace || rig_fail "cannot clear the field at $1,$2"
  timeout 10 xdotool type --delay 30 -- "$3" || rig_fail "cannot type into the field at $1,$2"
}

# The sink that the program's playback stream plays on (one stream only).
stream_sink() { rig_pactl list short sink-inputs | awk 'NR == 1 {print $2}'; }
sink_index() { rig_pactl list short sinks | awk -v n="$1" '$2 == n {print $1}'; }

# start_recording NAME SINK RATE: records SINK's monitor into $RIG_REC/NAME.raw.
start_recording() {
  : > "$RIG_REC/$1.raw"
  parec --raw --latency-msec=20 --format=s16le --rate="$3" --channels=2 -d "$2.monitor" \
    > "$RIG_REC/$1.raw" 2>"$RIG_LOGS/parec-$1.log" &
  RIG_PIDS+=("$!")
  eval "PAREC_$1=$!"
  rig_wait_until 10 rig_file_at_least "$RIG_REC/$1.raw" 4 || rig_fail "parec records nothing from $2"
}
frames_of() { echo $(( $(rig_file_size "$1") / 4 )); }

# play_and_record SINK RATE REC: presses Play, checks the stream, records PLAY_SECONDS from
# its opening on REC (recording SINK's monitor at RATE) and presses Play again. Sets
# STREAM_FRAME and STOP_FRAME: frames of REC at which the stream opened and at which Play was
# pressed again.
play_and_record() {
  local sink=$1 rate=$2 rec=$3 specs
  rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
  rig_wait_until 15 rig_some_sink_input || rig_fail "no stream on the sound server 15 s after Play"
  STREAM_FRAME=$(frames_of "$RIG_REC/$rec.raw")
  specs=$(rig_sink_input_specs)
  [ "$specs" = "s16le 2ch ${rate}Hz" ] || rig_fail "expected one stream of s16le 2ch ${rate}Hz, found: ${specs:-none}"
  [ "$(stream_sink)" = "$(sink_index "$sink")" ] || rig_fail "the stream plays on sink $(stream_sink), not on $sink"
  rig_wait_until $(( PLAY_SECONDS + 60 )) rig_file_at_least "$RIG_REC/$rec.raw" \
    $(( (STREAM_FRAME + PLAY_SECONDS * rate) * 4 )) || rig_fail "recording stalled while playing"
  STOP_FRAME=$(frames_of "$RIG_REC/$rec.raw")
  rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
  rig_wait_until 15 rig_no_sink_inputs || rig_fail "a stream is still open 15 s after Play was pressed again"
  # What may still be in flight reaches the monitors.
  sleep 1
}

quit_app() {
  rig_close_window "$RIG_MAIN_WIN"
  rig_wait_app_exit 15
  [ "$RIG_APP_RC" = 0 ] || rig_fail "the program ended with exit code $RIG_APP_RC"
}

# ---- first run: change everything and confirm
rig_start_app "$RIG_APP"
rig_find_main_window 30
[ ! -e "$SETTINGS_FILE" ] || rig_fail "a settings file exists before anything was confirmed"
timeout 10 xdotool windowmove "$RIG_MAIN_WIN" 200 150
rig_wait_until 10 position_is "$RIG_MAIN_WIN" "200 150" || rig_fail "cannot move the main window"
open_settings
rig_log "settings dialog $DIALOG at $(window_position "$DIALOG")"
timeout 10 xdotool windowmove "$DIALOG" 520 310
rig_wait_until 10 position_is "$DIALOG" "520 310" || rig_fail "cannot move the settings dialog"
replace_text $LEVEL_X $LEVEL_Y "-20"
replace_text $RATE_X $RATE_Y "$SECOND_RATE"
rig_click "$DIALOG" $LEFT_X $LEFT_Y
replace_text $COMBO_X $COMBO_Y "Second_Sink"
rig_click "$DIALOG" $OK_X $OK_Y
rig_wait_until 15 no_settings_window || rig_fail "the settings dialog did not close on Ok"
rig_has_other_window && rig_fail "a message box appeared on Ok"
rig_wait_until 10 test -s "$SETTINGS_FILE" || rig_fail "no settings file after Ok"

"$SETTINGS_TOOL" dump "$SETTINGS_FILE" > "$RIG_REC/dump.txt" || rig_fail "the settings file cannot be read"
sed 's/^/  /' "$RIG_REC/dump.txt" >&2
expected='MurmelinSettings
Mainwindow Top 11 150
Mainwindow Left 11 200
Mainwindow Height 11
Mainwindow Width 11
SettingsWindow Top 11 310
SettingsWindow Left 11 520
Soundcard fs 11 48000
Noise Level 12 -20
Noise PlayLeft 10 false
Noise PlayRight 10 true
Noise SoftOnset 10 true
General Soundcard 13 "Second_Sink"
Noise StopAfter 11 0'
got=$(awk 'NR == 1 {print; next} $2 == "Height" || $2 == "Width" {print $1, $2, $3; next} {print}' "$RIG_REC/dump.txt")
[ "$got" = "$expected" ] || rig_fail "the settings file does not hold the expected rows in order"
quit_app

# ---- second run: the places come back, Play plays the saved options on the second output
start_recording first "$RIG_SINK" $RIG_SAMPLE_RATE
start_recording second $SECOND_SINK $SECOND_RATE
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_no_other_window || rig_fail "a message box appeared at start-up"
rig_wait_until 10 position_is "$RIG_MAIN_WIN" "200 150" \
  || rig_fail "the main window is at $(window_position "$RIG_MAIN_WIN"), not at its stored place 200 150"
open_settings
rig_wait_until 10 position_is "$DIALOG" "520 310" \
  || rig_fail "the settings dialog is at $(window_position "$DIALOG"), not at its stored place 520 310"
rig_click "$DIALOG" $CANCEL_X $CANCEL_Y
rig_wait_until 15 no_settings_window || rig_fail "the settings dialog did not close on Cancel"
rig_log "Play with the saved settings"
play_and_record $SECOND_SINK $SECOND_RATE second
# From after the soft onset to where Play was pressed again.
second_span="$(( STREAM_FRAME + 3 * SECOND_RATE )) $STOP_FRAME"
quit_app
rig_stop "$PAREC_first" INT 5
rig_stop "$PAREC_second" INT 5

# ---- third run: a settings file of another program, with a place far off the screen
"$SETTINGS_TOOL" foreign "$SETTINGS_FILE" OtherProgramSettings -500 5000 || rig_fail "cannot write the foreign file"
start_recording third "$RIG_SINK" $RIG_SAMPLE_RATE
rig_start_app "$RIG_APP"
box=
find_box() { box=$(xdotool search --onlyvisible --name '^Wrong file type: "OtherProgramSettings"$' 2>/dev/null | head -n 1); [ -n "$box" ]; }
rig_wait_until 30 find_box || rig_fail "no wrong-file box for the foreign file"
rig_key "$box" Return
rig_wait_until 15 bash -c '! xdotool search --onlyvisible --name "^Wrong file type" >/dev/null 2>&1' \
  || rig_fail "the wrong-file box did not close on Return"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
# The desktop is 1024 wide: 50 pixels stay on it at the right; off the top means at the top.
rig_wait_until 10 position_is "$RIG_MAIN_WIN" "974 0" \
  || rig_fail "the main window is at $(window_position "$RIG_MAIN_WIN"), not brought back to 974 0"
rig_log "Play with the defaults"
play_and_record "$RIG_SINK" $RIG_SAMPLE_RATE third
third_span="$(( STREAM_FRAME + 3 * RIG_SAMPLE_RATE )) $STOP_FRAME"
quit_app
rig_stop "$PAREC_third" INT 5

# ---- what was played
failed=0
rig_log "default output during the second run:"
"$RIG_TOOLS/murmelin_e2e_analyze" silence "$RIG_REC/first.raw" 5 || failed=1
read -r l2 r2 d2 nz2 < <("$SETTINGS_TOOL" levels "$RIG_REC/second.raw" $second_span) || rig_fail "cannot measure the second output"
read -r l3 r3 d3 nz3 < <("$SETTINGS_TOOL" levels "$RIG_REC/third.raw" $third_span) || rig_fail "cannot measure the default output"
rig_log "second output, saved settings: left RMS $l2 ($nz2 non-zero samples), right RMS $r2 (difference $d2)"
rig_log "default output, defaults: left RMS $l3, right RMS $r3 (difference $d3)"
[ "$nz2" = 0 ] || { rig_log "FAIL: the left channel is not silent on the second output"; failed=1; }
awk -v r2="$r2" -v d2="$d2" -v l3="$l3" -v r3="$r3" -v d3="$d3" 'BEGIN {
  if (r2 <= 0 || d2 <= 0 || l3 <= 0 || r3 <= 0 || d3 <= 0) { print "FAIL: no sound to compare"; exit 1 }
  db = 20 * log(r2 / r3) / log(10); dd = 20 * log(d2 / d3) / log(10)
  printf "  right channel at -20 dB against the default level: RMS %.2f dB, difference %.2f dB\n", db, dd
  bad = 0
  if (db < -11 || db > -9) { print "FAIL: the RMS is not 10 dB below the default level within 1 dB"; bad = 1 }
  if (dd < -11 || dd > -9) { print "FAIL: the high-frequency level is not 10 dB below the default within 1 dB"; bad = 1 }
  # The defaults play both channels alike at -10 dB (about 3200 RMS); the foreign file asked
  # for -40 dB, which would be 30 dB lower.
  dl = 20 * log(l3 / 3200) / log(10)
  if (l3 != r3 || dl < -2 || dl > 2) { print "FAIL: the defaults do not play both channels at -10 dB"; bad = 1 }
  exit bad
}' >&2 || failed=1
[ $failed = 0 ] || rig_fail "checks of what was played failed (see above)"
rig_log "PASS"
