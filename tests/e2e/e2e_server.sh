#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program against a sound server that comes late, goes away and stalls, driven as a
# user would:
#   1. the program starts with no sound server; one is started; the next "Play" plays;
#   2. 30 clicks on "Play" 30 ms apart: the program then answers the next click, and its
#      display (the window's pixels), the play state and the streams open on the server agree;
#   3. the server is killed while playing: one error box, the program stays responsive, the
#      next "Play" shows the stopped display, and once a server is back the one after plays;
#   4. the server is stopped (SIGSTOP) while playing: "Play" stops at once, a start while it
#      is stalled reports an error instead of hanging, and after SIGCONT playing works again.
# Finally the window is closed and the program must end with exit code 0.
#
#   tests/e2e/e2e_server.sh [--app BINARY] [--tools DIR]
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb xdotool xwd md5sum pulseaudio pactl

PLAY_X=29 PLAY_Y=18

rig_init server
# Without the sound server there is no other output either (as on a desktop whose server
# is down): no ALSA device, no PipeWire, no JACK.
: > "$RIG_DIR/asound.conf"
export ALSA_CONFIG_PATH="$RIG_DIR/asound.conf"
export PIPEWIRE_REMOTE="$RIG_DIR/no-pipewire"
export JACK_NO_START_SERVER=1
# The program finds the server where a desktop session keeps it, not through PULSE_SERVER
# (fixed at its start): the client configuration names the rig's private socket.
printf 'default-server = unix:%s/pulse/native\n' "$XDG_RUNTIME_DIR" >> "$PULSE_CLIENTCONFIG"
rig_start_xvfb

# The main window's pixels, with the pointer off the window (no hover, no tooltip).
snap() {
  timeout 10 xdotool mousemove 1000 740 >/dev/null 2>&1
  timeout 10 xwd -silent -id "$RIG_MAIN_WIN" 2>/dev/null | md5sum | cut -c1-32
}
snap_is() { [ "$(snap)" = "$1" ]; }
click_play() { rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y; }
box_count() { local n=0 w; for w in $(rig_app_windows); do [ "$w" = "$RIG_MAIN_WIN" ] || n=$((n + 1)); done; echo $n; }
# The display, the play state and the server agree: stopped with no stream, or playing with one.
stopped_agrees() { rig_no_sink_inputs && snap_is "$SNAP_STOPPED"; }
playing_agrees() { [ "$(rig_sink_inputs)" = 1 ] && snap_is "$SNAP_PLAYING"; }
# dismiss_box WHAT: expects exactly one message box, closes it with Return.
dismiss_box() {
  [ "$(box_count)" = 1 ] || rig_fail "$1: expected one message box, found $(box_count)"
  rig_key "$(rig_other_window)" Return
  rig_wait_until 10 rig_no_other_window || rig_fail "$1: the message box did not close on Return"
  rig_focus "$RIG_MAIN_WIN"
}

# --- 1. a server that starts after the program ---------------------------------------------
unset PULSE_SERVER   # rig_start_pulse sets it again, for pactl
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
# Painted once two looks agree.
stable_snap() { local a; a=$(snap); sleep 0.2; [ "$(snap)" = "$a" ] && echo "$a"; }
SNAP_STOPPED=$(rig_wait_until 10 stable_snap) && [ -n "$SNAP_STOPPED" ] || rig_fail "the window's look does not settle"
rig_start_pulse
rig_log "server started after the program; Play"
click_play
rig_wait_until 15 rig_some_sink_input || rig_fail "the server started after the program: Play opened no stream"
rig_has_other_window && rig_fail "an error box after Play with a server that started late"
rig_wait_until 10 eval '! snap_is "$SNAP_STOPPED"' || rig_fail "the display did not change on Play"
SNAP_PLAYING=$(snap)
click_play
rig_wait_until 10 stopped_agrees || rig_fail "Play again did not stop (display and stream)"
rig_log "PASS: a server started after the program plays on the next click"

# --- 2. thirty quick clicks ------------------------------------------------------------------
rig_log "30 clicks 30 ms apart"
timeout 20 xdotool mousemove --window "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y click --repeat 30 --delay 30 1 \
  || rig_fail "the 30 clicks could not be sent"
rig_wait_until 10 eval 'stopped_agrees || playing_agrees' \
  || rig_fail "after 30 clicks display and streams disagree: $(rig_sink_inputs) streams open"
rig_app_running || rig_fail "the program ended during the clicks"
if stopped_agrees; then next=playing_agrees; else next=stopped_agrees; fi
t0=$(rig_now_ms)
click_play
rig_wait_until 10 "$next" || rig_fail "the click after the 30 clicks was not answered ($next)"
rig_log "PASS: the next click was answered in $(( $(rig_now_ms) - t0 )) ms"
if ! playing_agrees; then
  click_play
  rig_wait_until 10 playing_agrees || rig_fail "Play after the clicks did not play"
fi

# --- 3. the server goes away while playing ---------------------------------------------------
rig_log "killing the sound server while playing"
t0=$(rig_now_ms)
rig_stop "$RIG_PULSE_PID" TERM 10
rig_wait_until 10 rig_has_other_window || rig_fail "no error box 10 s after the server went away"
rig_log "error box after $(( $(rig_now_ms) - t0 )) ms"
sleep 2
dismiss_box "server gone"
rig_app_running || rig_fail "the program ended after the server went away"
# The window tells the truth: nothing plays, and the first press once the server is back plays.
rig_wait_until 10 snap_is "$SNAP_STOPPED" || rig_fail "the window did not go to the stopped display"
rig_no_other_window || rig_fail "a second message box for the lost stream"
rig_start_pulse
click_play
rig_wait_until 15 playing_agrees || rig_fail "Play with the server back did not play"
rig_no_other_window || rig_fail "a message box when playing with the server back"
rig_log "PASS: one error box for a lost server, and playing again once it is back"

# --- 4. a stalled server ---------------------------------------------------------------------
rig_log "stalling the sound server (SIGSTOP) while playing"
kill -STOP "$RIG_PULSE_PID"
t0=$(rig_now_ms)
click_play
rig_wait_until 10 snap_is "$SNAP_STOPPED" || { kill -CONT "$RIG_PULSE_PID"; rig_fail "Play did not stop while the server is stalled"; }
rig_log "stopped in $(( $(rig_now_ms) - t0 )) ms with the server stalled"
click_play
rig_wait_until 10 rig_has_other_window || { kill -CONT "$RIG_PULSE_PID"; rig_fail "no error box for a start on a stalled server"; }
sleep 1
kill -CONT "$RIG_PULSE_PID"
dismiss_box "stalled server"
rig_wait_until 10 stopped_agrees || rig_fail "the stopped display did not follow the failed start"
click_play
rig_wait_until 15 playing_agrees || rig_fail "Play after the server went on did not play"
click_play
rig_wait_until 10 stopped_agrees || rig_fail "Play again did not stop"
rig_log "PASS: a stalled server never holds the window"

rig_close_window "$RIG_MAIN_WIN"
rig_wait_app_exit 15
[ "$RIG_APP_RC" = 0 ] || rig_fail "the program ended with exit code $RIG_APP_RC"
rig_log "PASS"
