#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program in a GNOME session: gnome-shell headless with Xwayland on private session and
# system buses, the real desktop portal (GTK backend), a stand-in logind, and the program
# started as GNOME starts it (it picks its window system itself). The shell answers
# org.gnome.Shell.Eval through a small extension written here.
#  - Play: the portal refuses (there is no session manager), so logind's "sleep" inhibitor is
#    taken within 2 s and let go within 2 s of Stop; no refused request is ever closed;
#  - playerctl -p murmelin status, play-pause and stop drive the program;
#  - three cycles of start, "Settings..." -> "Ok", Quit leave both windows where they were;
#  - a second start from the shell's launcher takes the focus from another program's window;
#  - natively on Wayland, a second start with only DESKTOP_STARTUP_ID makes the running
#    instance activate its window with that token.
set -uo pipefail
. "$(dirname "$0")/rig.sh"

rig_parse_args "$@"
rig_require_commands gnome-shell Xwayland xdotool xmessage playerctl gdbus dbus-daemon dbus-send \
  dbus-monitor pulseaudio pactl /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gtk
for f in "$RIG_APP" "$RIG_TOOLS/murmelin_e2e_fake_portal"; do
  [ -x "$f" ] || { echo "missing $f (build the release preset first)" >&2; exit 2; }
done
PLAY_X=29 PLAY_Y=18 SETTINGS_X=87 SETTINGS_Y=18 OK_X=53 OK_Y=194
rig_init gnome
unset QT_QPA_PLATFORM
export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland GSETTINGS_BACKEND=keyfile
rig_start_pulse
rig_start_session_bus

spawn() { local name=$1; shift; "$@" >"$RIG_LOGS/$name.log" 2>&1 & RIG_PIDS+=("$!"); }
on_bus() { timeout 5 gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.NameHasOwner "$1" | grep -q true; }
# The value of a JavaScript expression in the shell, as text.
shell_eval() {
  local out
  out=$(timeout 10 gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell -m org.gnome.Shell.Eval "$1") || return 1
  [[ $out == "(true, '"* ]] || return 1
  out=${out#"(true, '"}; out=${out%"')"}; out=${out#\"}; printf '%s\n' "${out%\"}"
}
shell_is() { [ "$(shell_eval "$1")" = "$2" ]; }
WINDOWS='global.get_window_actors().map(a => a.meta_window)'
FOCUS='global.display.focus_window ? global.display.focus_window.get_pid() + " " + global.display.focus_window.get_title() : "none"'
LAUNCH='global.create_app_launch_context(global.display.get_current_time_roundtrip(), -1)'

# The system bus: the rig's bus configuration as a system bus, with the stand-in logind.
sed -e 's|<type>session|<type>system|' -e 's|session-bus|system-bus|' "$RIG_DIR/session-bus.conf" >"$RIG_DIR/system-bus.conf"
spawn system-bus dbus-daemon --config-file="$RIG_DIR/system-bus.conf" --nofork --nopidfile --nosyslog \
  --print-address=3 3>"$RIG_DIR/system-bus.address"
rig_wait_until 10 grep -q . "$RIG_DIR/system-bus.address" || rig_fail "the system bus did not come up within 10 s"
export DBUS_SYSTEM_BUS_ADDRESS; DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$RIG_DIR/system-bus.address")
LOGIND="$RIG_DIR/logind.txt"
spawn logind "$RIG_TOOLS/murmelin_e2e_fake_portal" --logind "$LOGIND"
rig_wait_until 10 grep -qx ready "$LOGIND" || rig_fail "the stand-in logind did not come up within 10 s"

# The shell, with the extension that lets Eval answer, and the program's desktop entry.
uuid=murmelin-e2e@briskodata.com
mkdir -p "$XDG_DATA_HOME/gnome-shell/extensions/$uuid" "$XDG_CONFIG_HOME/glib-2.0/settings" "$XDG_DATA_HOME/applications"
echo "{\"uuid\": \"$uuid\", \"name\": \"Murmelin test\", \"description\": \"Eval for the test\", \"shell-version\": [\"43\"]}" \
  >"$XDG_DATA_HOME/gnome-shell/extensions/$uuid/metadata.json"
echo 'function init() { return { enable() { global.context.unsafe_mode = true; }, disable() {} }; }' \
  >"$XDG_DATA_HOME/gnome-shell/extensions/$uuid/extension.js"
printf "[org/gnome/shell]\nenabled-extensions=['%s']\n" "$uuid" >"$XDG_CONFIG_HOME/glib-2.0/settings/keyfile"
ENTRY="$XDG_DATA_HOME/applications/com.briskodata.Murmelin.desktop"
# A second start that hangs must not outlive the test.
printf '[Desktop Entry]\nType=Application\nName=Murmelin\nExec=timeout 30 "%s"\nStartupNotify=true\nStartupWMClass=murmelin\n' \
  "$RIG_APP" >"$ENTRY"
RUNNING_UNDER_GDM=1 spawn shell gnome-shell --headless --wayland --virtual-monitor 1280x800
rig_wait_until 60 shell_is 'global.context.unsafe_mode' true || rig_fail "the shell does not answer Eval within 60 s"
# The shell starts in the overview, where no window has the focus.
rig_wait_until 30 shell_is 'if (!Main.layoutManager._startingUp) Main.overview.hide(); Main.layoutManager._startingUp || Main.overview.visible' false \
  || rig_fail "the shell did not leave its overview within 30 s"
for v in DISPLAY XAUTHORITY WAYLAND_DISPLAY; do export "$v=$(shell_eval "GLib.getenv('$v')")"; done
[ -s "$XAUTHORITY" ] && xdotool getmouselocation >/dev/null || rig_fail "no X display from the shell (DISPLAY=$DISPLAY XAUTHORITY=$XAUTHORITY)"
rig_log "gnome-shell up, X display $DISPLAY"
spawn portal-gtk /usr/libexec/xdg-desktop-portal-gtk
rig_wait_until 15 on_bus org.freedesktop.impl.portal.desktop.gtk || rig_fail "the portal's GTK backend did not come up"
spawn portal /usr/libexec/xdg-desktop-portal
rig_wait_until 15 on_bus org.freedesktop.portal.Desktop || rig_fail "the desktop portal did not come up"
spawn requests dbus-monitor --session "interface='org.freedesktop.portal.Request'"
rig_wait_until 10 grep -q NameAcquired "$RIG_LOGS/requests.log" || rig_fail "dbus-monitor did not start"

status_is() { [ "$(timeout 5 playerctl -p murmelin status 2>/dev/null)" = "$1" ]; }
player() { timeout 5 playerctl -p murmelin "$1" || rig_fail "playerctl $1 failed"; }
logind_count_is() { [ "$(grep -c "^$1.* who=Murmelin" "$LOGIND")" = "$2" ]; }
# expect_state WHAT inhibit|released N: logind's N-th such line within 2 s, then playerctl
# and the sound server show the noise playing or stopped.
expect_state() {
  local status=Playing streams=rig_some_sink_input
  [ "$2" = released ] && status=Stopped streams=rig_no_sink_inputs
  rig_wait_until 2 logind_count_is "$2" "$3" || rig_fail "$1: no logind $2 number $3 within 2 s: $(tr '\n' '|' <"$LOGIND")"
  rig_wait_until 10 status_is $status || rig_fail "$1: playerctl says $(playerctl -p murmelin status 2>&1), not $status"
  rig_wait_until 10 $streams || rig_fail "$1: the sound server's streams do not show $status"
}
start() {
  rig_start_app "$RIG_APP"
  rig_find_main_window 30
  rig_wait_until 15 status_is Stopped || rig_fail "playerctl does not find the program"
}
# Gives another program's window the focus as a click into it would, then once more, so that
# the shell's last user time is newer than any event the program has seen.
focus_other() {
  local js="$WINDOWS.find(w => w.get_title() === 'murmelin-other').activate(global.display.get_current_time_roundtrip())"
  shell_eval "$js" >/dev/null
  rig_wait_until 5 eval 'shell_eval "$FOCUS" | grep -q " murmelin-other$"' || rig_fail "cannot focus another window"
  shell_eval "$js" >/dev/null
}
quit() {
  timeout 5 dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.murmelin /org/mpris/MediaPlayer2 \
    org.mpris.MediaPlayer2.Quit >/dev/null || rig_fail "$1: Quit was refused"
  rig_wait_app_exit 10
  [ "$RIG_APP_RC" = 0 ] || rig_fail "$1: exit code $RIG_APP_RC"
}

# ---- Play and Stop by click and by playerctl: the portal refuses, logind holds
start
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y; expect_state "Play clicked" inhibit 1
player play-pause; expect_state "play-pause" released 1
player play-pause; expect_state "play-pause" inhibit 2
player stop; expect_state "stop" released 2
grep -qx 'inhibit what=sleep who=Murmelin why=Playing pink noise mode=block' "$LOGIND" \
  || rig_fail "not the inhibitor asked for: $(grep who=Murmelin "$LOGIND" | head -n 1)"
grep -q 'member=Response' "$RIG_LOGS/requests.log" || rig_fail "the portal was never asked"
closed=$(awk '{ p = $0; sub(/.*path=/, "", p); sub(/;.*/, "", p) }
  /member=Response/ { getline code; if (code !~ /uint32 0$/) refused[p] = 1 }
  /member=Close/ && (p in refused) { print p }' "$RIG_LOGS/requests.log")
[ -z "$closed" ] || rig_fail "Close on portal requests that had refused: $closed"

# ---- a second start from the shell's launcher focuses the running window
spawn other xmessage -name murmelin-other "another program"
rig_wait_until 10 shell_is "$WINDOWS.some(w => w.get_title() === 'murmelin-other')" true || rig_fail "no other window"
focus_other
shell_eval "Gio.DesktopAppInfo.new_from_filename('$ENTRY').launch([], $LAUNCH)" >/dev/null || rig_fail "the shell cannot launch $ENTRY"
rig_wait_until 10 shell_is "$FOCUS" "$RIG_APP_PID Murmelin" || rig_fail "the launcher's start left the focus at $(shell_eval "$FOCUS")"
[ "$(rig_app_windows)" = "$RIG_MAIN_WIN" ] || rig_fail "the launcher's start made windows: $(rig_app_windows)"
quit "launcher"

# ---- start, "Settings..." -> "Ok", Quit: the same frame rectangles each time
frames="$WINDOWS.filter(w => w.get_wm_class() === 'murmelin').map(w => { const r = w.get_frame_rect(); return [w.get_title(), r.x, r.y, r.width, r.height].join(' '); }).sort().join(', ')"
for cycle in 1 2 3; do
  start
  rig_click "$RIG_MAIN_WIN" $SETTINGS_X $SETTINGS_Y
  rig_wait_until 10 shell_is "$FOCUS" "$RIG_APP_PID Settings" || rig_fail "cycle $cycle: the settings dialog did not open"
  rect=$(shell_eval "$frames")
  rig_click "$(xdotool search --onlyvisible --name '^Settings$' | head -n 1)" $OK_X $OK_Y
  rig_wait_until 10 shell_is "$FOCUS" "$RIG_APP_PID Murmelin" || rig_fail "cycle $cycle: Ok did not close the dialog"
  quit "cycle $cycle"
  rig_log "cycle $cycle: $rect"
  [ "$cycle" = 1 ] && first=$rect
  [ "$rect" = "$first" ] || rig_fail "cycle $cycle: the windows are at $rect, not at $first"
done

# ---- natively on Wayland: a second start hands DESKTOP_STARTUP_ID over as the activation token
export QT_QPA_PLATFORM=wayland
WAYLAND_DEBUG=client rig_start_app "$RIG_APP"
rig_wait_until 30 shell_is "$WINDOWS.some(w => w.get_pid() === $RIG_APP_PID && w.get_client_type() === 0)" true \
  || rig_fail "no Wayland window within 30 s"
rig_wait_until 15 status_is Stopped || rig_fail "playerctl does not find the program on Wayland"
focus_other
token=$(shell_eval "$LAUNCH.get_startup_notify_id(Gio.DesktopAppInfo.new_from_filename('$ENTRY'), [])")
[ -n "$token" ] || rig_fail "the shell gave no startup id"
out=$(env -u XDG_ACTIVATION_TOKEN DESKTOP_STARTUP_ID="$token" timeout 10 "$RIG_APP" 2>&1) || rig_fail "the second start failed: $out"
rig_wait_until 5 eval 'grep -F "activate(\"$token\"" "$RIG_LOGS/app.log" | grep -q xdg_activation_v1@' \
  || rig_fail "the running instance did not activate its window with the token $token"
rig_wait_until 5 shell_is "$FOCUS" "$RIG_APP_PID Murmelin" || rig_fail "the activation left the focus at $(shell_eval "$FOCUS")"
quit "Wayland"
rig_log "PASS"
