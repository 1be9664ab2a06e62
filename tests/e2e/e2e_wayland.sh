#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program on a headless Wayland compositor (weston, no X server), driven over the
# accessibility bus and the media-player interface, as the compositor has no input seat.
# A settings file that holds places saved under X11 keeps them: two cycles of start,
# "Settings..." -> "Ok", quit leave the Top and Left rows as they were, and the stored sizes
# the same after both cycles. A second start ends at once without a word and hands the
# launcher's activation token to the running instance (weston offers no window activation, so
# the raise itself is not seen here).
set -uo pipefail
. "$(dirname "$0")/rig.sh"

rig_parse_args "$@"
rig_require_commands weston dbus-daemon dbus-send dbus-monitor /usr/libexec/at-spi-bus-launcher /usr/bin/python3
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "missing python3-pyatspi" >&2; exit 2; }
SETTINGS_TOOL="$RIG_TOOLS/murmelin_e2e_settings"
ATSPI="$(dirname "$0")/murmelin_e2e_atspi.py"
rig_init wayland
unset DISPLAY QT_QPA_PLATFORM
export XDG_SESSION_TYPE=wayland QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0

rig_start_session_bus
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$RIG_LOGS/atspi.log" 2>&1 &
RIG_PIDS+=("$!")
a11y_bus_up() {
  timeout 5 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus | grep -q 'boolean true'
}
rig_wait_until 15 a11y_bus_up || rig_fail "the accessibility bus did not come up within 15 s"
export WAYLAND_DISPLAY=wayland-murmelin-e2e
weston --backend=headless-backend.so --use-pixman --width=1920 --height=1080 \
  --socket="$WAYLAND_DISPLAY" --idle-time=0 >"$RIG_LOGS/weston.log" 2>&1 &
RIG_PIDS+=("$!")
rig_wait_until 15 test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" || rig_fail "weston did not come up within 15 s"

mpris_quit() {
  timeout 5 dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.murmelin \
    /org/mpris/MediaPlayer2 org.mpris.MediaPlayer2.Quit >/dev/null
}
# One cycle: start, "Settings..." -> "Ok", quit through the media-player interface.
cycle() {
  rig_start_app "$RIG_APP"
  timeout 30 /usr/bin/python3 "$ATSPI" press 'Settings...' Ok || rig_fail "$1: cannot press Settings... and Ok"
  rig_wait_until 10 mpris_quit || rig_fail "$1: the program does not take Quit"
  rig_wait_app_exit 10
  [ "$RIG_APP_RC" = 0 ] || rig_fail "$1: exit code $RIG_APP_RC"
  "$SETTINGS_TOOL" dump "$SETTINGS_FILE" | grep -Ei '^(mainwindow|settingswindow) ' | sort > "$RIG_REC/$1.txt" \
    || rig_fail "$1: no window rows in the settings file"
  rig_log "$1: $(tr '\n' ' ' < "$RIG_REC/$1.txt")"
}

SETTINGS_FILE="$XDG_CONFIG_HOME/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile"
cycle first
# Places as an X11 session saved them.
for row in "Mainwindow Top 200" "Mainwindow Left 150" "SettingsWindow Top 500" "SettingsWindow Left 700"; do
  "$SETTINGS_TOOL" setint "$SETTINGS_FILE" $row || rig_fail "cannot write $row"
done
"$SETTINGS_TOOL" dump "$SETTINGS_FILE" | grep -Ei '^(mainwindow|settingswindow) ' | sort > "$RIG_REC/x11.txt"
cycle second

rig_start_app "$RIG_APP"
first=$RIG_APP_PID
dbus-monitor --session "interface='org.freedesktop.Application'" >"$RIG_LOGS/activate.log" 2>&1 &
RIG_PIDS+=("$!")
rig_wait_until 15 grep -q NameAcquired "$RIG_LOGS/activate.log" || rig_fail "dbus-monitor did not start"
rig_wait_until 15 timeout 5 dbus-send --session --print-reply --dest=com.briskodata.Murmelin \
  /com/briskodata/Murmelin org.freedesktop.DBus.Peer.Ping || rig_fail "the running instance is not on the bus"
out=$(XDG_ACTIVATION_TOKEN=murmelin-e2e-token timeout 10 "$RIG_APP" 2>&1)
rc=$?
[ "$rc" = 0 ] && [ -z "$out" ] || rig_fail "the second start: exit code $rc, output: $out"
rig_wait_until 10 grep -q '"murmelin-e2e-token"' "$RIG_LOGS/activate.log" \
  || rig_fail "the second start did not hand its activation token to the running instance"
rig_alive "$first" || rig_fail "the running instance ended on a second start"
rig_wait_until 10 mpris_quit || rig_fail "the program does not take Quit after a second start"
rig_wait_app_exit 10
[ -z "$(cat "$RIG_LOGS/app.log")" ] || rig_fail "the program printed: $(head -c 300 "$RIG_LOGS/app.log")"

cycle third
diff "$RIG_REC/x11.txt" "$RIG_REC/second.txt" >&2 || rig_fail "the first cycle on Wayland changed the window rows"
diff "$RIG_REC/second.txt" "$RIG_REC/third.txt" >&2 || rig_fail "the second cycle on Wayland changed the window rows"
rig_log "PASS"
