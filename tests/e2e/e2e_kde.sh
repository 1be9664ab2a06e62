#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program in a KDE session: KWin headless, the program on its Xwayland. Thirty cycles of
# start, "Settings..." -> Enter, closing the window leave the main window's outer rectangle
# (frame included) the same on every start and the same as the settings file keeps it. Then a
# second start brings the running window back to the front over another program's window.
set -uo pipefail
. "$(dirname "$0")/rig.sh"

rig_parse_args "$@"
rig_require_commands kwin_wayland Xwayland dbus-daemon dbus-send xdotool xprop xwininfo xmessage
SETTINGS_TOOL="$RIG_TOOLS/murmelin_e2e_settings"
SETTINGS_X=87 SETTINGS_Y=18 CYCLES=30
rig_init kde
rig_start_session_bus
rig_start_kwin
SETTINGS_FILE="$XDG_CONFIG_HOME/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile"

dialog() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
has_dialog() { [ -n "$(dialog "$1")" ]; }
stored() {  # the main window's place in the settings file: LEFT TOP WIDTH HEIGHT
  "$SETTINGS_TOOL" dump "$SETTINGS_FILE" | awk 'tolower($1) == "mainwindow" { v[$2] = $4 }
    END { print v["Left"], v["Top"], v["Width"], v["Height"] }'
}
main_at() { [ "$(rig_outer_rect "$RIG_MAIN_WIN")" = "$1" ]; }
settled() { local a; a=$(rig_outer_rect "$RIG_MAIN_WIN") && sleep 0.3 && main_at "$a"; }
active_window() { local id; id=$(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*window id # //p'); echo $(( ${id:-0} )); }

# ---- the same place on every start: a wrong one is kept (a start that puts the window
# elsewhere shows it at once and for good), so each start is looked at once it has its place
first= bad=()
for (( cycle = 1; cycle <= CYCLES; cycle++ )); do
  rig_start_app "$RIG_APP"
  rig_find_main_window 30
  if [ -n "$first" ]; then rig_wait_until 5 main_at "$first"; else rig_wait_until 10 settled; fi
  main=$(rig_outer_rect "$RIG_MAIN_WIN")
  rig_focus "$RIG_MAIN_WIN"
  rig_click "$RIG_MAIN_WIN" $SETTINGS_X $SETTINGS_Y
  rig_wait_until 10 has_dialog Settings || rig_fail "cycle $cycle: the settings dialog did not open"
  rig_key "$(dialog Settings)" Return
  rig_wait_until 10 eval '! has_dialog Settings' || rig_fail "cycle $cycle: Enter did not close the dialog"
  rig_close_window "$RIG_MAIN_WIN"
  rig_wait_app_exit 10
  [ "$RIG_APP_RC" = 0 ] || rig_fail "cycle $cycle: exit code $RIG_APP_RC"
  kept=$(stored)
  first=${first:-$main}
  rig_log "cycle $cycle: main window $main, stored $kept"
  [ "$main|$kept" = "$first|$first" ] || bad+=("$cycle")
done
[ ${#bad[@]} = 0 ] || rig_fail "${#bad[@]} of $CYCLES cycles left the main window elsewhere than at $first: ${bad[*]}"

# ---- a second start raises the running window over the window that has the focus: one that
# KWin activated as it came up, as it does every new window
rig_start_app "$RIG_APP"
rig_find_main_window 30
xmessage -name other -geometry 300x100+100+100 "another program" >"$RIG_LOGS/other.log" 2>&1 &
RIG_PIDS+=("$!")
other=$(timeout 10 xdotool search --sync --onlyvisible --classname '^other$' | head -n 1)
[ -n "$other" ] || rig_fail "the other program's window did not appear"
rig_wait_until 10 eval '[ "$(active_window)" = "$other" ]' || rig_fail "KWin did not activate the other window"
timeout 10 "$RIG_APP" >>"$RIG_LOGS/second.log" 2>&1 || rig_fail "the second start did not end with 0"
rig_wait_until 10 eval '[ "$(active_window)" = "$RIG_MAIN_WIN" ]' \
  || rig_fail "the second start did not raise the running window (active: $(active_window))"
rig_app_running || rig_fail "the running instance ended on a second start"
rig_log "PASS"
