# SPDX-License-Identifier: GPL-3.0-or-later
# Shared pieces of the end-to-end rig: a private X server, a private sound server whose
# only output is a null sink, recording of that sink's monitor, and driving Murmelin's
# window with real input events. Sourced by the e2e scripts and the performance script.
#
# Everything the rig starts is recorded and stopped by rig_cleanup, which rig_init installs
# as the EXIT trap, so it runs on success, failure and interruption alike. All waits are
# bounded. Apart from the X server's own socket and lock file, nothing outside the private
# folder made by rig_init is written.

RIG_SAMPLE_RATE=44100
RIG_BYTES_PER_SECOND=$((RIG_SAMPLE_RATE * 4))   # s16le stereo
RIG_SINK=testsink
RIG_PIDS=()            # started processes, stopped in reverse order
RIG_PULSE_PID=
RIG_BUS_PID=
RIG_XVFB_PID=
RIG_PAREC_PID=
RIG_APP_PID=
RIG_APP_RC=
RIG_KEEP=${MURMELIN_E2E_KEEP:-0}   # 1: keep the private folder for inspection

rig_log() { printf '[%s] %s\n' "${RIG_NAME:-rig}" "$*" >&2; }

rig_fail() {
  printf '[%s] FAIL: %s\n' "${RIG_NAME:-rig}" "$*" >&2
  RIG_FAILED=1
  exit 1
}

# Milliseconds since the epoch.
rig_now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# rig_wait_until SECONDS CMD...: runs CMD every 50 ms until it succeeds; returns 1 when
# it has not succeeded within SECONDS.
rig_wait_until() {
  local limit=$1; shift
  local deadline=$(( $(rig_now_ms) + limit * 1000 ))
  while ! "$@" 2>/dev/null; do
    if (( $(rig_now_ms) >= deadline )); then return 1; fi
    sleep 0.05
  done
  return 0
}

rig_alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# rig_stop PID SIGNAL SECONDS: sends SIGNAL, waits up to SECONDS for the process to end,
# then kills it. Reaps it when it is our child. Returns its exit status when known.
rig_stop() {
  local pid=$1 sig=$2 limit=$3
  [ -n "$pid" ] || return 0
  if rig_alive "$pid"; then
    kill -s "$sig" "$pid" 2>/dev/null
    if ! rig_wait_until "$limit" rig_not_running "$pid"; then
      rig_log "process $pid ($(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null | cut -c1-60)) did not end after SIG$sig; killing it"
      kill -s KILL "$pid" 2>/dev/null
    fi
  fi
  wait "$pid" 2>/dev/null
  local rc=$?
  rig_forget "$pid"
  return $rc
}

# Drops a pid from the list of processes to stop once it has been reaped, so that the
# cleanup never signals a process that later got the same number.
rig_forget() {
  local kept=() p
  for p in "${RIG_PIDS[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
  RIG_PIDS=("${kept[@]}")
}

# A child that has exited but is not reaped yet still answers kill -0; look at its state.
rig_not_running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 0
  [ -z "$state" ] || [ "$state" = Z ] || [ "$state" = X ]
}

rig_cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  local i
  for (( i=${#RIG_PIDS[@]}-1; i>=0; i-- )); do
    rig_stop "${RIG_PIDS[i]}" TERM 5
  done
  if [ -n "${RIG_DIR:-}" ] && [ -d "$RIG_DIR" ]; then
    if [ "$rc" -ne 0 ] || [ -n "${RIG_FAILED:-}" ]; then
      for f in "$RIG_DIR"/logs/*.log; do
        [ -s "$f" ] || continue
        echo "---- ${f##*/} (last lines) ----" >&2
        tail -n 30 "$f" >&2
      done
    fi
    if [ "$RIG_KEEP" = 1 ]; then
      rig_log "private folder kept: $RIG_DIR"
    else
      rm -rf "$RIG_DIR"
    fi
  fi
  exit "$rc"
}

# rig_init NAME: makes the private folder (home, config, cache, runtime, logs), points
# every per-user location there, and installs the cleanup trap.
rig_init() {
  RIG_NAME=$1
  RIG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/murmelin-$RIG_NAME.XXXXXX") || { echo "mktemp failed" >&2; exit 1; }
  chmod 700 "$RIG_DIR"
  trap rig_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  mkdir -p "$RIG_DIR"/{home,config,cache,data,runtime,logs,rec}
  chmod 700 "$RIG_DIR/runtime"
  export HOME="$RIG_DIR/home"
  export XDG_CONFIG_HOME="$RIG_DIR/config"
  export XDG_CACHE_HOME="$RIG_DIR/cache"
  export XDG_DATA_HOME="$RIG_DIR/data"
  export XDG_RUNTIME_DIR="$RIG_DIR/runtime"
  # Never reach a sound server or device outside the rig, and never start one by accident.
  printf 'autospawn = no\n' > "$RIG_DIR/client.conf"
  export PULSE_CLIENTCONFIG="$RIG_DIR/client.conf"
  export PULSE_SERVER="unix:$RIG_DIR/no-sound-server"
  unset PULSE_SINK PULSE_SOURCE SDL_AUDIODRIVER SDL_AUDIO_DRIVER AUDIODEV
  unset WAYLAND_DISPLAY
  export QT_QPA_PLATFORM=xcb
  # A session bus address that leads nowhere: no client may reach the user's bus, nor
  # autolaunch a bus daemon of its own that would outlive the rig.
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$RIG_DIR/no-session-bus"
  # Nor the machine's system bus: a test never takes a real sleep inhibitor from logind.
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$RIG_DIR/no-system-bus"
  RIG_LOGS="$RIG_DIR/logs"
  RIG_REC="$RIG_DIR/rec"
}

# Starts Xvfb on a display number it finds free itself (-displayfd checks the sockets in
# /tmp/.X11-unix and the lock files) and exports DISPLAY.
rig_start_xvfb() {
  local fdfile="$RIG_DIR/display"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$fdfile" >"$RIG_LOGS/xvfb.log" 2>&1 &
  RIG_XVFB_PID=$!
  RIG_PIDS+=("$RIG_XVFB_PID")
  rig_wait_until 15 grep -q '[0-9]' "$fdfile" || rig_fail "Xvfb did not report a display within 15 s"
  export DISPLAY=":$(tr -dc '0-9' < "$fdfile")"
  rig_wait_until 10 xdotool getmouselocation >/dev/null || rig_fail "X server $DISPLAY does not answer"
  rig_log "Xvfb on $DISPLAY"
}

# Starts openbox on the rig's display, as every desktop has a window manager: windows get
# frames, focus and activation. Waits until it has taken the display.
rig_start_wm() {
  openbox --sm-disable >"$RIG_LOGS/openbox.log" 2>&1 &
  RIG_PIDS+=("$!")
  rig_wait_until 10 rig_wm_running || rig_fail "openbox did not take the display within 10 s"
}
rig_wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# rig_outer_rect WINDOW: "LEFT TOP WIDTH HEIGHT" of the window with the frame the window
# manager gives it (its _NET_FRAME_EXTENTS).
rig_outer_rect() {
  local x y w h l r t b
  read -r x y w h < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
    /^ *Width:/ {w=$NF} /^ *Height:/ {h=$NF} END {print x, y, w, h}')
  [ -n "$h" ] || return 1
  read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= //p' | tr -d ',')
  echo "$(( x - ${l:-0} )) $(( y - ${t:-0} )) $(( w + ${l:-0} + ${r:-0} )) $(( h + ${t:-0} + ${b:-0} ))"
}

rig_pactl() { timeout 5 pactl "$@"; }

# Starts a private PulseAudio whose only output device is a 44100 Hz s16le stereo null sink.
rig_start_pulse() {
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --log-target=stderr \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=$RIG_SINK rate=$RIG_SAMPLE_RATE channels=2 format=s16le sink_properties=device.description=Test_Sink" \
    >"$RIG_LOGS/pulse.log" 2>&1 &
  RIG_PULSE_PID=$!
  RIG_PIDS+=("$RIG_PULSE_PID")
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  rig_wait_until 15 rig_pactl info >/dev/null || rig_fail "PulseAudio did not come up within 15 s"
  local sinks
  sinks=$(rig_pactl list short sinks | awk '{print $2}' | tr '\n' ' ')
  [ "$sinks" = "$RIG_SINK " ] || rig_fail "expected the null sink as the only output, found: $sinks"
  rig_log "PulseAudio up, sinks: $sinks"
}

# Ends the sound server while its clients still use it, as `pulseaudio -k` does (SIGTERM;
# the rig's server keeps no pid file for -k to find).
rig_stop_pulse() {
  rig_stop "$RIG_PULSE_PID" TERM 10
  RIG_PULSE_PID=
}

# Starts a private session bus and exports DBUS_SESSION_BUS_ADDRESS: a dbus-daemon whose
# configuration in the private folder lets only this user in and starts no services, so a
# name nobody owns is unknown at once. Its socket lives in the private folder.
rig_start_session_bus() {
  local conf="$RIG_DIR/session-bus.conf" addr="$RIG_DIR/session-bus.address"
  cat > "$conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$RIG_DIR/session-bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  : > "$addr"
  dbus-daemon --config-file="$conf" --nofork --nopidfile --nosyslog --print-address=3 \
    3>"$addr" >"$RIG_LOGS/dbus.log" 2>&1 &
  RIG_BUS_PID=$!
  RIG_PIDS+=("$RIG_BUS_PID")
  rig_wait_until 10 grep -q . "$addr" || rig_fail "dbus-daemon did not report its address within 10 s"
  export DBUS_SESSION_BUS_ADDRESS
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$addr")
  unset DBUS_STARTER_ADDRESS DBUS_STARTER_BUS_TYPE
  rig_wait_until 10 timeout 5 dbus-send --session --dest=org.freedesktop.DBus --print-reply \
    /org/freedesktop/DBus org.freedesktop.DBus.GetId >/dev/null \
    || rig_fail "the private session bus does not answer"
  rig_log "session bus $DBUS_SESSION_BUS_ADDRESS"
}

# Number of playback streams open on the sound server; fails when the server does not answer.
rig_sink_inputs() {
  local out
  out=$(rig_pactl list short sink-inputs) || return 1
  if [ -z "$out" ]; then echo 0; else printf '%s\n' "$out" | grep -c .; fi
}
rig_no_sink_inputs() { local n; n=$(rig_sink_inputs) && [ "$n" = 0 ]; }
rig_some_sink_input() { local n; n=$(rig_sink_inputs) && [ "$n" -ge 1 ]; }

# Sample specifications of the open playback streams, one a line ("s16le 2ch 44100Hz").
rig_sink_input_specs() {
  rig_pactl list sink-inputs | sed -n 's/^[[:space:]]*Sample Specification: //p'
}

# rig_start_parec FILE: records the null sink's monitor as raw s16le stereo into FILE.
# A short latency keeps parec from holding seconds of sound in its buffer.
rig_start_parec() {
  RIG_PAREC_FILE=$1
  : > "$RIG_PAREC_FILE"
  parec --raw --latency-msec=20 --format=s16le --rate=$RIG_SAMPLE_RATE --channels=2 \
    -d "$RIG_SINK.monitor" > "$RIG_PAREC_FILE" 2>"$RIG_LOGS/parec.log" &
  RIG_PAREC_PID=$!
  RIG_PIDS+=("$RIG_PAREC_PID")
  rig_wait_until 10 rig_file_at_least "$RIG_PAREC_FILE" 4 || rig_fail "parec records nothing"
}

# SIGINT lets parec write out what it holds.
rig_stop_parec() {
  rig_stop "$RIG_PAREC_PID" INT 5
  RIG_PAREC_PID=
}

rig_file_size() { stat -c %s "$1" 2>/dev/null || echo 0; }
rig_file_at_least() { [ "$(rig_file_size "$1")" -ge "$2" ]; }
# Current size of the recording, rounded down to whole frames.
rig_rec_pos() { local s; s=$(rig_file_size "$RIG_PAREC_FILE"); echo $(( s - s % 4 )); }
# rig_wait_recorded BYTES SECONDS: waits until the recording holds BYTES.
rig_wait_recorded() {
  rig_wait_until "$2" rig_file_at_least "$RIG_PAREC_FILE" "$1"
}
# rig_peak FILE: the largest magnitude of the samples in a raw s16le recording.
rig_peak() {
  od -An -v -td2 -w2 "$1" | awk '{ v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { print m + 0 }'
}
# rig_cut FILE FROM TO OUT: bytes [FROM, TO) of FILE into OUT.
rig_cut() {
  tail -c +"$(( $2 + 1 ))" "$1" | head -c "$(( $3 - $2 ))" > "$4"
}

# rig_start_app BINARY: starts the program with the rig's environment.
# rig_split_recording BEFORE_PLAY: once the stream has closed, records two seconds more,
# stops parec and cuts the recording into before.raw (up to BEFORE_PLAY), playing.raw (up to
# the close) and after.raw (from half a second after the close, which may still be in flight).
rig_split_recording() {
  local before_play=$1 stopped end
  stopped=$(rig_rec_pos)
  rig_wait_recorded $(( stopped + 2 * RIG_BYTES_PER_SECOND )) 15 || rig_fail "recording stalled after the stream closed"
  rig_stop_parec
  end=$(rig_rec_pos)
  rig_cut "$RIG_REC/all.raw" 0 "$before_play" "$RIG_REC/before.raw"
  rig_cut "$RIG_REC/all.raw" "$before_play" "$stopped" "$RIG_REC/playing.raw"
  rig_cut "$RIG_REC/all.raw" $(( stopped + RIG_BYTES_PER_SECOND / 2 )) "$end" "$RIG_REC/after.raw"
}

rig_start_app() {
  [ -x "$1" ] || rig_fail "program not found: $1"
  "$1" >"$RIG_LOGS/app.log" 2>&1 &
  RIG_APP_PID=$!
  RIG_PIDS+=("$RIG_APP_PID")
}

# Visible top-level windows captioned exactly "Murmelin", one id a line.
rig_app_windows() { xdotool search --onlyvisible --name '^Murmelin$' 2>/dev/null; }

# rig_find_main_window SECONDS: waits for the main window and sets RIG_MAIN_WIN.
rig_find_main_window() {
  RIG_MAIN_WIN=$(timeout "$1" xdotool search --sync --onlyvisible --name '^Murmelin$' 2>/dev/null | head -n 1)
  [ -n "$RIG_MAIN_WIN" ] || rig_fail "the main window did not appear within $1 s"
}

# A window other than the main one captioned "Murmelin": a message box.
rig_other_window() {
  local w
  for w in $(rig_app_windows); do
    if [ "$w" != "$RIG_MAIN_WIN" ]; then echo "$w"; return 0; fi
  done
  return 1
}
rig_has_other_window() { rig_other_window >/dev/null; }
rig_no_other_window() { ! rig_other_window >/dev/null; }

# Gives a window the input focus, as a window manager would on a click into it; without
# one the program's window is never activated by itself.
rig_focus() { timeout 10 xdotool windowfocus --sync "$1" || rig_fail "cannot focus window $1"; }

# rig_click WINDOW X Y: a real left click at client coordinates. (No --sync: it waits for
# the pointer to move, which never happens when it is already there.)
rig_click() {
  timeout 10 xdotool mousemove --window "$1" "$2" "$3" click 1 || rig_fail "click at $2,$3 failed"
}

# rig_key WINDOW KEY: focuses WINDOW and presses KEY.
rig_key() {
  rig_focus "$1"
  timeout 10 xdotool key --clearmodifiers "$2" || rig_fail "key $2 failed"
}

# rig_close_window WINDOW: the close request a window manager sends (WM_DELETE_WINDOW).
rig_close_window() {
  "$RIG_TOOLS/murmelin_e2e_x11" close "$1" || rig_fail "cannot ask window $1 to close"
}

# rig_wait_app_exit SECONDS: waits for the program to end; sets RIG_APP_RC.
rig_wait_app_exit() {
  if ! rig_wait_until "$1" rig_not_running "$RIG_APP_PID"; then
    rig_fail "the program did not end within $1 s"
  fi
  wait "$RIG_APP_PID"
  RIG_APP_RC=$?
  rig_forget "$RIG_APP_PID"
  RIG_APP_PID=
}

rig_app_running() { rig_alive "$RIG_APP_PID" && ! rig_not_running "$RIG_APP_PID"; }

# Common options of the rig's scripts: --app BINARY, --tools DIR (the rig's helper
# programs). Defaults: the release build of this source tree.
rig_parse_args() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  RIG_APP="$root/build/release/app/Murmelin"
  RIG_TOOLS="$root/build/release/tests/e2e"
  while [ $# -gt 0 ]; do
    case $1 in
      --app) RIG_APP=$2; shift 2 ;;
      --tools) RIG_TOOLS=$2; shift 2 ;;
      *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
  done
  for tool in murmelin_e2e_analyze murmelin_e2e_x11; do
    [ -x "$RIG_TOOLS/$tool" ] || { echo "missing $RIG_TOOLS/$tool (build the release preset first)" >&2; exit 2; }
  done
}

# rig_require_commands CMD...: fails clearly when a command of the rig is missing.
rig_require_commands() {
  local c missing=()
  for c in "$@"; do command -v "$c" >/dev/null 2>&1 || missing+=("$c"); done
  [ ${#missing[@]} -eq 0 ] || { echo "missing commands: ${missing[*]} (run scripts/install-deps.sh)" >&2; exit 2; }
}

# ---- KDE's compositor

# Starts KWin headless with Xwayland on the private session bus (rig_start_session_bus first)
# and exports DISPLAY (and XAUTHORITY where KWin makes one) for its X server. KWin runs from a
# copy without the file capability the packaged binary asks for, which these machines do not
# grant; the copy keeps the name kwin_wayland. KWin tells its X display only to the programs it
# starts itself: the first of them writes it down.
rig_start_kwin() {
  mkdir -p "$RIG_DIR/bin"
  cp /usr/bin/kwin_wayland "$RIG_DIR/bin/kwin_wayland" || rig_fail "cannot copy kwin_wayland"
  printf '#!/bin/sh\necho "$DISPLAY $XAUTHORITY" > "$1.tmp" && mv "$1.tmp" "$1"\n' > "$RIG_DIR/bin/tell-display"
  chmod +x "$RIG_DIR/bin/tell-display"
  mkdir -p -m 1777 /tmp/.X11-unix   # as every X server makes it; Xwayland needs it there
  ( unset DISPLAY WAYLAND_DISPLAY XAUTHORITY
    exec "$RIG_DIR/bin/kwin_wayland" --virtual --xwayland --width 1280 --height 800 \
      --socket wayland-rig --no-lockscreen --no-global-shortcuts --no-kactivities \
      "$RIG_DIR/bin/tell-display $RIG_DIR/x-display" ) >"$RIG_LOGS/kwin.log" 2>&1 &
  RIG_PIDS+=("$!")
  rig_wait_until 30 test -s "$RIG_DIR/x-display" || rig_fail "KWin's Xwayland did not come up within 30 s"
  local xauth
  read -r DISPLAY xauth < "$RIG_DIR/x-display"
  export DISPLAY
  if [ -n "$xauth" ]; then export XAUTHORITY=$xauth; else unset XAUTHORITY; fi
  rig_wait_until 10 rig_wm_running || rig_fail "KWin does not manage $DISPLAY"
  rig_log "KWin with Xwayland on $DISPLAY"
}
