#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures the real program on the e2e rig (private Xvfb, private PulseAudio with a null
# sink) and prints a table against the budgets. It measures; it asserts nothing.
#
#   bench/app/bench_app.sh [--app BINARY] [--tools DIR] [--runs N] [--seconds S]
#
#   start to mapped   time from starting the process to its main window being mapped,
#                     taken from the X server's MapNotify (median of N runs, default 5)
#   peak memory       VmHWM of the process after S seconds of playing
#   CPU playing       utime + stime over S seconds of playing (default 30), after the onset
#   CPU stopped       the same over S seconds after Play was pressed again
#   wake-ups stopped  context switches of all the program's threads over those S seconds
#   latency           click to the first sound at the sink, second click to silence there
#   against SoX       SoX's play of pink noise (-10 dB, 44100 Hz, 16-bit stereo) on the same
#                     sink in the same run, S seconds: its CPU and context switches beside the
#                     program's, and the sound server's CPU during each
#
# Build first: make release (or cmake --build --preset release).
set -u -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../../tests/e2e/rig.sh"

runs=5
seconds=30
rig_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --app|--tools) rig_args+=("$1" "$2"); shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[[ $runs =~ ^[1-9][0-9]*$ && $seconds =~ ^[1-9][0-9]*$ ]] || { echo "--runs and --seconds take positive integers" >&2; exit 2; }
rig_parse_args "${rig_args[@]}"
rig_require_commands Xvfb xdotool pulseaudio pactl parec getconf play python3

PLAY_X=29 PLAY_Y=18
CLK_TCK=$(getconf CLK_TCK)

rig_init bench
rig_start_xvfb
rig_start_pulse

# utime + stime of the whole process in clock ticks (fields 14 and 15 after the name).
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# CPU time of all the process's threads in nanoseconds (the scheduler's own account, finer
# than clock ticks).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{n += $1} END {printf "%d\n", n}'; }
# Context switches of all the process's threads.
ctx_switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ {n += $2} END {print n + 0}'
}
threads() { ls /proc/"$1"/task | wc -l; }
# One line per thread: tid, CPU ticks, context switches, name.
thread_snapshot() {
  local t
  for t in /proc/"$1"/task/*; do
    local tid=${t##*/} name ticks ctx
    name=$(cat "$t/comm" 2>/dev/null) || continue
    ticks=$(sed 's/^.*) //' "$t/stat" 2>/dev/null | awk '{print $12 + $13}')
    ctx=$(awk '/^(voluntary|nonvoluntary)_ctxt_switches:/ {n += $2} END {print n + 0}' "$t/status" 2>/dev/null)
    echo "$tid ${ticks:-0} ${ctx:-0} ${name// /_}"
  done
}
# thread_table BEFORE AFTER: per-thread CPU % and context switches between two snapshots.
thread_table() {
  awk -v hz="$CLK_TCK" -v s="$seconds" '
    NR == FNR {t[$1] = $2; c[$1] = $3; next}
    {printf "|   thread %s (%s) | | %.2f %%, %d context switches |\n", $4, $1, 100 * ($2 - t[$1]) / hz / s, $3 - c[$1]}
  ' "$1" "$2"
}
status_kb() { awk -v k="$2:" '$1 == k {print $2}' "/proc/$1/status"; }

# --- start to mapped ---------------------------------------------------------------------
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
  rig_close_window "$RIG_MAIN_WIN"
  rig_wait_app_exit 15
done
sorted=($(printf '%s\n' "${map_ms[@]}" | sort -n))
map_median=${sorted[$(( runs / 2 ))]}
rig_log "start to mapped (ms): ${map_ms[*]}"

# --- playing and stopped -----------------------------------------------------------------
rig_start_app "$RIG_APP"
pid=$RIG_APP_PID
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rss_idle=$(status_kb "$pid" VmRSS)

rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream after Play"
sleep 3   # past the two-second onset
c0=$(cpu_ticks "$pid"); x0=$(ctx_switches "$pid"); thread_snapshot "$pid" > "$RIG_DIR/threads.0"
p0=$(cpu_ns "$RIG_PULSE_PID"); n0=$(cpu_ns "$pid")
sleep "$seconds"
c1=$(cpu_ticks "$pid"); x1=$(ctx_switches "$pid"); thread_snapshot "$pid" > "$RIG_DIR/threads.1"
p1=$(cpu_ns "$RIG_PULSE_PID"); n1=$(cpu_ns "$pid")
threads_playing=$(threads "$pid")
hwm_playing=$(status_kb "$pid" VmHWM)
rss_playing=$(status_kb "$pid" VmRSS)
rig_some_sink_input || rig_fail "the stream vanished while measuring"

rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_no_sink_inputs || rig_fail "the stream stayed open after Play again"
sleep 2
s0=$(cpu_ticks "$pid"); y0=$(ctx_switches "$pid")
sleep "$seconds"
s1=$(cpu_ticks "$pid"); y1=$(ctx_switches "$pid")
threads_stopped=$(threads "$pid")

# --- latency at the sink: click to first sound, second click to silence ---------------------
# Positions in the monitor's recording stand for time. parec writes a little behind the sink
# (its 20 ms latency), so a position taken at a click is early and the figures err long.
rig_start_parec "$RIG_REC/latency.raw"
sleep 1
click_pos=$(rig_rec_pos)
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
rig_wait_until 15 rig_some_sink_input || rig_fail "no stream after Play (latency)"
sleep 3
stop_pos=$(rig_rec_pos)
rig_click "$RIG_MAIN_WIN" $PLAY_X $PLAY_Y
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

rig_close_window "$RIG_MAIN_WIN"
rig_wait_app_exit 15

# --- SoX on the same sink ------------------------------------------------------------------
rig_no_sink_inputs || rig_fail "a stream is still open before SoX starts"
AUDIODRIVER=pulseaudio play -q -n -c 2 -r 44100 -b 16 synth pinknoise vol -10dB \
  >"$RIG_LOGS/sox.log" 2>&1 &
sox_pid=$!
RIG_PIDS+=("$sox_pid")
rig_wait_until 15 rig_some_sink_input || rig_fail "SoX opened no stream"
sleep 3
k0=$(cpu_ns "$sox_pid"); z0=$(ctx_switches "$sox_pid"); q0=$(cpu_ns "$RIG_PULSE_PID")
sleep "$seconds"
k1=$(cpu_ns "$sox_pid"); z1=$(ctx_switches "$sox_pid"); q1=$(cpu_ns "$RIG_PULSE_PID")
sox_specs=$(rig_sink_input_specs)
rig_stop "$sox_pid" TERM 5

pct() { awk -v t="$1" -v hz="$CLK_TCK" -v s="$seconds" 'BEGIN {printf "%.2f %%", 100 * t / hz / s}'; }
pct_ns() { awk -v t="$1" -v s="$seconds" 'BEGIN {printf "%.3f %%", 100 * t / 1e9 / s}'; }
per_s() { awk -v n="$1" -v s="$seconds" 'BEGIN {printf "%.1f", n / s}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}'; }
mb() { awk -v k="$1" 'BEGIN {printf "%.1f MB", k / 1024}'; }

cat <<EOF

Murmelin on $(uname -m), $(nproc) cores; X: Xvfb, sound: PulseAudio null sink

| measure | budget | measured |
|---|---|---|
| start to main window mapped (median of $runs; min ${sorted[0]}, max ${sorted[$((runs - 1))]} ms) | 0.5 s | $(awk -v m="$map_median" 'BEGIN {printf "%.3f s", m / 1000}') |
| peak resident memory while playing (VmHWM; VmRSS idle $(mb "$rss_idle"), playing $(mb "$rss_playing")) | 60 MB | $(mb "$hwm_playing") |
| CPU while playing, ${seconds} s ($threads_playing threads; $((x1 - x0)) context switches) | 1 % of one core | $(pct $((c1 - c0))) |
$(thread_table "$RIG_DIR/threads.0" "$RIG_DIR/threads.1")
| CPU while stopped, ${seconds} s ($threads_stopped threads) | 0.0 % | $(pct $((s1 - s0))) |
| wake-ups while stopped (context switches in ${seconds} s) | none | $((y1 - y0)) |
| click to first sound at the sink (the onset starts from silence) | 150 ms | ${to_sound} ms |
| second click to silence at the sink | 150 ms | ${to_silence} ms |

Against SoX on the same sink, ${seconds} s each (SoX: \`play -n -c 2 -r 44100 -b 16 synth pinknoise vol -10dB\`, stream $sox_specs)

| measure | Murmelin | SoX | Murmelin / SoX | budget |
|---|---|---|---|---|
| CPU of the whole process while playing | $(pct_ns $((n1 - n0))) | $(pct_ns $((k1 - k0))) | $(ratio $((n1 - n0)) $((k1 - k0))) | at most 0.5 |
| context switches per second | $(per_s $((x1 - x0))) | $(per_s $((z1 - z0))) | $(ratio $((x1 - x0)) $((z1 - z0))) | at most 30/s |
| sound server's CPU meanwhile | $(pct_ns $((p1 - p0))) | $(pct_ns $((q1 - q0))) | $(ratio $((p1 - p0)) $((q1 - q0))) | at most 1 |

CPU from the scheduler's accounts (/proc/PID/task/*/schedstat), in ms: Murmelin $(( (n1 - n0) / 1000000 )), SoX $(( (k1 - k0) / 1000000 )); the server $(( (p1 - p0) / 1000000 )) and $(( (q1 - q0) / 1000000 )).
EOF
