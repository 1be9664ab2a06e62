#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the real program with no sound server and no sound card at all: "Play" must show
# the open error in a message box and the program must keep running; closing the main
# window then ends it with exit code 0.
#
#   tests/e2e/e2e_no_sound.sh [--app BINARY] [--tools DIR]
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb xdotool

PLAY_X=29 PLAY_Y=18

rig_init no-sound
# No sound server: the address leads nowhere and autospawn is off (rig_init). No sound
# card: an empty ALSA configuration knows no device, the private runtime folder holds no
# PipeWire socket, and JACK may not start a server.
: > "$RIG_DIR/asound.conf"
export ALSA_CONFIG_PATH="$RIG_DIR/asound.conf"
export PIPEWIRE_REMOTE="$RIG_DIR/no-pipewire"
export JACK_NO_START_SERVER=1
rig_start_xvfb

rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_log "main window $RIG_MAIN_WIN"
rig_no_other_window || rig_fail "a second window is open before Play was pressed"

rig_log "Play"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 20 rig_has_other_window || rig_fail "no message box 20 s after Play"
box=$(rig_other_window)
rig_log "message box $box"
rig_app_running || rig_fail "the program ended after the open error"

rig_key "$box" Return
rig_wait_until 15 rig_no_other_window || rig_fail "the message box did not close on Return"
rig_app_running || rig_fail "the program ended after the message box was dismissed"
[ -n "$(rig_app_windows | grep -x "$RIG_MAIN_WIN")" ] || rig_fail "the main window is gone"

# The program still answers: after the failed start, the next Play stops (nothing to show)
# and the one after that tries again and reports the error again.
rig_log "Play twice more"
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 20 rig_has_other_window || rig_fail "no message box after trying to play again"
rig_key "$(rig_other_window)" Return
rig_wait_until 15 rig_no_other_window || rig_fail "the second message box did not close on Return"
rig_app_running || rig_fail "the program ended after the second message box"
[ ! -e "$XDG_RUNTIME_DIR/pulse" ] || rig_fail "a sound server was started after all"

rig_close_window "$RIG_MAIN_WIN"
rig_wait_app_exit 15
[ "$RIG_APP_RC" = 0 ] || rig_fail "the program ended with exit code $RIG_APP_RC"
rig_log "PASS"
