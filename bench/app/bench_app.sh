#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures the real program on the e2e rig (private Xvfb, private sound server with a null
# sink) side by side with other pink-noise players, and prints tables against the budgets.
# It measures; it asserts nothing, except in --soak mode.
#
#   bench/app/bench_app.sh [--app BINARY] [--tools DIR] [--runs N] [--rounds R] [--seconds S]
#                          [--stop-after MINUTES]
#   bench/app/bench_app.sh --soak [MINUTES] [--app BINARY] [--tools DIR] [--stop-after MINUTES]
#
# --stop-after: the program plays with "Stop after" set to MINUTES (its timer running).
#
# The program alone, on PulseAudio:
#   start to mapped   time from starting the process to its main window being mapped,
#                     taken from the X server's MapNotify (median of N runs, default 5)
#   stopped           CPU and wake-ups (context switches) over S seconds after a stop
#   latency           click to the first sound at the sink, second click to silence there
# Side by side, R interleaved rounds (default 3) of S seconds each (default 30), on
# PulseAudio and, where pipewire-pulse is installed, on PipeWire's PulseAudio server in a
# runtime folder of its own:
#   Murmelin          the program, Play clicked
#   SoX               play -n -c 2 -r 44100 -b 16 synth pinknoise vol -10dB
#   GStreamer         gst-launch-1.0 audiotestsrc wave=pink-noise ! pulsesink (if installed)
#   pacat 2 s         pacat playing a prepared pink-noise WAV with a 2 s buffer: the floor
# For each: CPU of the process (all threads, the scheduler's nanoseconds), the sound server's
# CPU meanwhile, wake-ups of the process per second (voluntary context switches), peak memory
# (VmHWM); medians over the rounds, and the ratios to SoX taken within each round.
#
# --soak: the program plays for MINUTES (default 10) with the sink's monitor recorded, then
# checks that the recorded sound is as long as the time between the clicks (within 50 ms),
# has no gap, and that peak memory grew by less than 1 MB after the first minute.
#
# Build first: make release (or cmake --build --preset release).
set -u -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../tests/e2e/rig.sh"

runs=5
rounds=3
seconds=30
soak=0
stop_after=0
rig_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --soak)
      soak=10; shift
      if [[ ${1:-} =~ ^[0-9]+$ ]]; then soak=$1; shift; fi ;;
    --stop-after) stop_after=$2; shift 2 ;;
    --app|--tools) rig_args+=("$1" "$2"); shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
for n in "$runs" "$rounds" "$seconds"; do
  [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "--runs, --rounds and --seconds take positive integers" >&2; exit 2; }
done
[ "$soak" = 0 ] || [[ $soak =~ ^[1-9][0-9]*$ ]] || { echo "--soak takes a positive number of minutes" >&2; exit 2; }
rig_parse_args "${rig_args[@]}"
rig_require_commands Xvfb xdotool pulseaudio pactl parec pacat getconf play sox python3

PLAY_X=29 PLAY_Y=18

rig_init bench
rig_start_xvfb
rig_start_pulse
if [ "$stop_after" != 0 ]; then
  settings_file="$XDG_CONFIG_HOME/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile"
  mkdir -p "$(dirname "$settings_file")"
  "$RIG_TOOLS/murmelin_e2e_settings" setint "$settings_file" Noise StopAfter "$stop_after" \
    || { echo "--stop-after takes minutes from 1 to 1440" >&2; exit 2; }
fi

# snapshot PID...: one line per thread of the processes: tid, CPU in nanoseconds (the
# scheduler's own account), voluntary context switches (the thread went to sleep and was woken
# again), all context switches.
snapshot() {
  local p t
  for p in "$@"; do
    for t in /proc/"$p"/task/*; do
      echo "${t##*/} $(cut -d' ' -f1 "$t/schedstat" 2>/dev/null || echo 0)" \
        "$(awk '/^voluntary_ctxt_switches:/ {v = $2} /^nonvoluntary_ctxt_switches:/ {n = $2} END {print v + 0, v + n}' "$t/status" 2>/dev/null)"
    done
  done
}
# usage BEFORE AFTER: "cpu_ns wake-ups context-switches" between two snapshots, summed over the
# threads alive at the second (a thread that ended in between takes its share with it; one
# that began counts whole). awk sums in doubles, exact to 2^53 ns (104 days).
usage() {
  awk 'NR == FNR {c[$1] = $2; v[$1] = $3; a[$1] = $4; next}
       NF == 4 {cpu += $2 - c[$1]; vol += $3 - v[$1]; all += $4 - a[$1]}
       END {printf "%.0f %d %d\n", cpu, vol, all}' <(echo "$1") <(echo "$2")
}
status_kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }
click_play() { rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y; }

start_program() {
  rig_start_app "$RIG_APP"
  rig_find_main_window 30
  rig_focus "$RIG_MAIN_WIN"
}
stop_program() {
  rig_close_window "$RIG_MAIN_WIN"
  rig_wait_app_exit 15
}

# ---- soak ---------------------------------------------------------------------------------
if [ "$soak" != 0 ]; then
  start_program
  rig_start_parec "$RIG_REC/soak.raw"
  sleep 1
  t0=$(rig_now_ms)
  click_play
  sleep 60
  hwm1=$(status_kb "$RIG_APP_PID" VmHWM)
  sleep $(( soak * 60 - 60 ))
  t1=$(rig_now_ms)
  click_play
  hwm2=$(status_kb "$RIG_APP_PID" VmHWM)
  rig_wait_until 15 rig_no_sink_inputs || rig_fail "the stream stayed open after the stop"
  sleep 1
  rig_stop_parec
  stop_program
  python3 - "$RIG_REC/soak.raw" $(( t1 - t0 )) "$hwm1" "$hwm2" <<'PY'
import sys
data, wall_ms, hwm1, hwm2 = open(sys.argv[1], "rb").read(), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
data = data[: len(data) - len(data) % 4]
first = len(data) - len(data.lstrip(b"\0"))
first -= first % 4
last = len(data.rstrip(b"\0"))
last += (4 - last % 4) % 4
body = data[first:last]
# A gap: 2 ms or more of silence inside the sound (pink noise never holds that many zeros).
zeros = b"\0" * (4 * 88)
gaps, pos = 0, 0
while (i := body.find(zeros, pos)) >= 0:
    gaps += 1
    pos = i + len(zeros) + (len(body[i + len(zeros):]) - len(body[i + len(zeros):].lstrip(b"\0")))
sound_ms = 1000.0 * len(body) / 4 / 44100
ok = abs(sound_ms - wall_ms) <= 50 and gaps == 0 and hwm2 - hwm1 <= 1024
print(f"\n| soak | measured | budget |\n|---|---|---|")
print(f"| time between the clicks | {wall_ms / 1000:.3f} s | |")
print(f"| sound at the sink | {sound_ms / 1000:.3f} s ({sound_ms - wall_ms:+.0f} ms) | within 50 ms |")
print(f"| gaps at the sink (2 ms of silence or more) | {gaps} | 0 |")
print(f"| peak memory after 1 min / at the end | {hwm1 / 1024:.1f} MB / {hwm2 / 1024:.1f} MB | within 1 MB |")
print("PASS" if ok else "FAIL")
sys.exit(0 if ok else 1)
PY
  exit $?
fi

# ---- the program alone ----------------------------------------------------------------------
map_ms=()
for (( i = 1; i <= runs; i++ )); do
  out="$RIG_DIR/map.$i"
  "$RIG_TOOLS/murmelin_e2e_x11" wait-map Murmelin 30 > "$out" 2>"$RIG_LOGS/wait-map.log" &
  waiter=$!
  RIG_PIDS+=("$waiter")
  rig_wait_until 10 grep -q ready "$out" || rig_fail "the map watcher did not start"
  t0=$(date +%s%N)
  rig_start_app "$RIG_APP"
  rig_wait_until 35 rig_not_running "$waiter" || rig_fail "the main window was not mapped"
  rig_stop "$waiter" TERM 1 || rig_fail "the main window was not mapped within 30 s"
  read -r t1 win < <(sed -n 2p "$out")
  map_ms+=("$(( (t1 - t0) / 1000000 ))")
  RIG_MAIN_WIN=$win
  stop_program
done
sorted=($(printf '%s\n' "${map_ms[@]}" | sort -n))
map_median=${sorted[$(( runs / 2 ))]}

start_program
click_play
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream after Play"
sleep 3
click_play
rig_wait_until 15 rig_no_sink_inputs || rig_fail "the stream stayed open after Play again"
sleep 2
before=$(snapshot "$RIG_APP_PID")
sleep "$seconds"
read -r stopped_ns stopped_wakeups stopped_switches < <(usage "$before" "$(snapshot "$RIG_APP_PID")")

# Click to first sound, second click to silence, on the monitor's recording: parec writes a
# little behind the sink (its 20 ms latency), so positions taken at a click are early and the
# figures err long.
rig_start_parec "$RIG_REC/latency.raw"
sleep 1
click_pos=$(rig_rec_pos)
click_play
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream after Play (latency)"
sleep 3
stop_pos=$(rig_rec_pos)
click_play
rig_wait_until 15 rig_no_sink_inputs || rig_fail "the stream stayed open (latency)"
sleep 1
rig_stop_parec
read -r to_sound to_silence < <(python3 - "$RIG_REC/latency.raw" "$click_pos" "$stop_pos" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
click, stop = int(sys.argv[2]) // 4, int(sys.argv[3]) // 4
frames = [struct.unpack_from("<hh", data, 4 * i) for i in range(len(data) // 4)]
first = next((i for i in range(click, len(frames)) if frames[i] != (0, 0)), None)
last = max((i for i in range(stop, len(frames)) if frames[i] != (0, 0)), default=stop)
ms = lambda n: "%.0f" % (1000.0 * n / 44100)
print(ms(first - click) if first is not None else "none", ms(last + 1 - stop))
PY
)
stop_program

# ---- side by side ---------------------------------------------------------------------------
# The floor: a prepared WAV that pacat streams with a 2 s buffer and no work of its own.
sox -n -c 2 -r 44100 -b 16 "$RIG_DIR/pink.wav" synth $(( seconds + 15 )) pinknoise vol -10dB \
  || rig_fail "sox could not prepare the WAV"
clients=(murmelin sox)
command -v gst-launch-1.0 >/dev/null && gst-inspect-1.0 pulsesink >/dev/null 2>&1 && clients+=(gst)
clients+=(pacat)
declare -A label=([murmelin]="Murmelin" [sox]="SoX" [gst]="GStreamer" [pacat]="pacat 2 s (floor)")

# start_client NAME: starts the client; CLIENT_PID is the process to measure.
start_client() {
  if [ "$1" = murmelin ]; then
    start_program
    click_play
    CLIENT_PID=$RIG_APP_PID
    return
  fi
  case $1 in
    sox) AUDIODRIVER=pulseaudio exec play -q -n -c 2 -r 44100 -b 16 synth pinknoise vol -10dB ;;
    gst) exec gst-launch-1.0 -q audiotestsrc wave=pink-noise volume=0.316 \
           ! audio/x-raw,format=S16LE,rate=44100,channels=2 ! pulsesink ;;
    pacat) exec pacat --file-format=wav --latency-msec=2000 "$RIG_DIR/pink.wav" ;;
  esac >"$RIG_LOGS/$1.log" 2>&1 &
  CLIENT_PID=$!
  RIG_PIDS+=("$CLIENT_PID")
}
stop_client() {
  if [ "$1" = murmelin ]; then click_play; stop_program; else rig_stop "$CLIENT_PID" TERM 5; fi
  rig_wait_until 15 rig_no_sink_inputs || rig_fail "$1 left a stream open"
}

# measure_round SERVER_PIDS...: one round of every client; appends "client cpu_ns server_ns
# wakeups hwm_kb" lines to $RESULTS.
measure_round() {
  local c c0 p0 cpu wk srv hwm
  for c in "${clients[@]}"; do
    start_client "$c"
    rig_wait_until 15 rig_some_sink_input || rig_fail "$c opened no stream"
    sleep 3   # past the program's onset and every client's start
    c0=$(snapshot "$CLIENT_PID"); p0=$(snapshot "$@")
    sleep "$seconds"
    read -r cpu wk _ < <(usage "$c0" "$(snapshot "$CLIENT_PID")")
    read -r srv _ < <(usage "$p0" "$(snapshot "$@")")
    hwm=$(status_kb "$CLIENT_PID" VmHWM)
    rig_some_sink_input || rig_fail "$c: the stream vanished while measuring"
    stop_client "$c"
    echo "$c $cpu $srv $wk $hwm" >> "$RESULTS"
  done
}

# medians CLIENT: "cpu% xSoX server% xSoX wake-ups/s peak-MB" of the client over the rounds
# in $RESULTS, the ratios to SoX taken within each round.
medians() {
  awk -v c="$1" -v s="$seconds" -v n="${#clients[@]}" '
    function median(a, k,   i, j, t) {
      for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
    }
    { r = int((NR - 1) / n) }
    $1 == "sox" { sc[r] = $2; ss[r] = $3 }
    $1 == c { k++; cpu[k] = $2; srv[k] = $3; wk[k] = $4; mem[k] = $5; round[k] = r }
    END {
      for (i = 1; i <= k; i++) {
        rc[i] = sc[round[i]] > 0 ? cpu[i] / sc[round[i]] : 0
        rs[i] = ss[round[i]] > 0 ? srv[i] / ss[round[i]] : 0
      }
      printf "%.3f %.2f %.3f %.2f %.1f %.1f\n", 100 * median(cpu, k) / 1e9 / s, median(rc, k),
        100 * median(srv, k) / 1e9 / s, median(rs, k), median(wk, k) / s, median(mem, k) / 1024
    }' "$RESULTS"
}

# table TITLE: the clients side by side, then the program's budgets.
table() {
  local c cpu rc srv rs wk mem floor floor_rs
  echo
  echo "$1, $rounds rounds of $seconds s, medians (ratios to SoX taken within each round)"
  echo
  echo "| client | CPU of one core | x SoX | sound server's CPU | x SoX | wake-ups/s | peak memory |"
  echo "|---|---|---|---|---|---|---|"
  for c in "${clients[@]}"; do
    read -r cpu rc srv rs wk mem < <(medians "$c")
    echo "| ${label[$c]} | $cpu % | $rc | $srv % | $rs | $wk | $mem MB |"
  done
  read -r cpu rc srv rs wk mem < <(medians murmelin)
  floor=$(medians pacat | awk -v n="${synth_ns:-0}" '{printf "%.3f", 2 * $1 + 100 * n * 44100 / 1e9}')
  floor_rs=$(medians pacat | awk '{print $4}')
  echo
  echo "| budget for Murmelin | limit | measured | |"
  echo "|---|---|---|---|"
  echo "| CPU against SoX's | 0.25 x | $rc x | $(met "$rc" 0.25) |"
  echo "| CPU against 2 x pacat's + the synthesis | $floor % | $cpu % | $(met "$cpu" "$floor") |"
  echo "| sound server's CPU against SoX's (with pacat's floor: $floor_rs x) | 0.35 x | $rs x | $(met "$rs" 0.35) |"
  echo "| wake-ups per second while playing | 3 | $wk | $(met "$wk" 3) |"
}
met() { awk -v a="$1" -v b="$2" 'BEGIN {print (a <= b ? "met" : "NOT MET")}'; }

synth_ns=$("$here/../../build/release/bench/dsp/pinknoise_bench" --benchmark_filter='BM_fill_block$' 2>/dev/null \
  | sed -n 's/.*per_frame=\([0-9.]*\)ns.*/\1/p')

RESULTS="$RIG_DIR/pulse.results"
for (( r = 1; r <= rounds; r++ )); do
  rig_log "round $r of $rounds on PulseAudio"
  measure_round "$RIG_PULSE_PID"
done
rig_stop_pulse

pw_results=
if command -v pipewire >/dev/null && command -v pipewire-pulse >/dev/null && command -v wireplumber >/dev/null \
    && command -v dbus-daemon >/dev/null; then
  export XDG_RUNTIME_DIR="$RIG_DIR/pw-runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  rig_start_session_bus
  pipewire >"$RIG_LOGS/pipewire.log" 2>&1 &
  pw_pid=$!; RIG_PIDS+=("$pw_pid")
  wireplumber >"$RIG_LOGS/wireplumber.log" 2>&1 &
  RIG_PIDS+=("$!")
  pipewire-pulse >"$RIG_LOGS/pipewire-pulse.log" 2>&1 &
  pwp_pid=$!; RIG_PIDS+=("$pwp_pid")
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  rig_wait_until 15 rig_pactl info >/dev/null || rig_fail "pipewire-pulse did not come up within 15 s"
  rig_pactl load-module module-null-sink sink_name=$RIG_SINK \
    sink_properties=device.description=Test_Sink >/dev/null || rig_fail "no null sink on pipewire-pulse"
  rig_wait_until 10 rig_pactl set-default-sink $RIG_SINK || rig_fail "the null sink is not the default"
  RESULTS="$RIG_DIR/pipewire.results"
  for (( r = 1; r <= rounds; r++ )); do
    rig_log "round $r of $rounds on pipewire-pulse"
    measure_round "$pw_pid" "$pwp_pid"
  done
  pw_results=$RESULTS
  pw_version=$(pipewire --version 2>/dev/null | sed -n 's/.*libpipewire \([0-9.]*\).*/\1/p' | head -n 1)
fi

pct() { awk -v t="$1" -v s="$seconds" 'BEGIN {printf "%.3f %%", 100 * t / 1e9 / s}'; }
cat <<EOF

Murmelin on $(uname -m), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); X: Xvfb, sound: null sinks

| measure | budget | measured |
|---|---|---|
| start to main window mapped (median of $runs; min ${sorted[0]}, max ${sorted[$((runs - 1))]} ms) | 0.5 s | $(awk -v m="$map_median" 'BEGIN {printf "%.3f s", m / 1000}') |
| CPU while stopped, ${seconds} s | 0.0 % | $(pct "$stopped_ns") |
| wake-ups while stopped, ${seconds} s (all context switches: $stopped_switches) | 0 | $stopped_wakeups, $(met "$stopped_wakeups" 0) |
| click to first sound at the sink (the onset starts from silence) | 150 ms | ${to_sound} ms, $(met "${to_sound/none/9999}" 150) |
| second click to silence at the sink | 100 ms | ${to_silence} ms, $(met "$to_silence" 100) |
| pink noise synthesis, steady (pinknoise_bench) | | ${synth_ns:-?} ns per frame = $(awk -v n="${synth_ns:-0}" 'BEGIN {printf "%.3f %%", 100 * n * 44100 / 1e9}') of one core |
EOF
RESULTS="$RIG_DIR/pulse.results"
table "PulseAudio $(pulseaudio --version | awk '{print $2}')"
[ -z "$pw_results" ] || { RESULTS=$pw_results; table "pipewire-pulse ${pw_version:-}"; }
