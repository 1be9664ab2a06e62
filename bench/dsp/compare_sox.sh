#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times SoX and Murmelin's pink noise generator producing the same number of 16-bit stereo
# frames at 44100 Hz (raw samples to /dev/null) and prints both times and their ratio.
#
#   bench/dsp/compare_sox.sh [FRAMES] [RUNS]
#
# FRAMES defaults to 13230000 (five minutes of sound), RUNS to 5; each program runs RUNS
# times, alternating, and the shortest wall-clock and processor times of each count (on a
# busy machine the processor time is the steadier figure). PINKNOISE_RAW names our tool;
# by default build/release/bench/dsp/pinknoise_raw (cmake --build --preset release --target
# pinknoise_raw).
set -euo pipefail

frames=${1:-13230000}
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
ours=${PINKNOISE_RAW:-$root/build/release/bench/dsp/pinknoise_raw}

if ! command -v sox >/dev/null 2>&1; then
  echo "compare_sox.sh: sox is not installed; skipping the comparison."
  exit 0
fi
if [[ ! "$frames" =~ ^[1-9][0-9]*$ || ! "$runs" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [FRAMES] [RUNS]  (positive integers)" >&2
  exit 2
fi
if [[ ! -x "$ours" ]]; then
  echo "compare_sox.sh: $ours not found; build it with" >&2
  echo "  cmake --preset release && cmake --build --preset release --target pinknoise_raw" >&2
  exit 1
fi

# No dither for SoX either: both write plain rounded 16-bit samples.
run_sox() {
  sox -V1 -D -r 44100 -c 2 -n -r 44100 -c 2 -b 16 -e signed-integer -t raw - \
    synth "${frames}s" pinknoise
}
run_ours() { "$ours" "$frames" 2>/dev/null; }

# Both must produce exactly FRAMES stereo frames of 16-bit samples.
want=$((frames * 4))
for prog in run_sox run_ours; do
  got=$($prog | wc -c)
  if [[ "$got" -ne "$want" ]]; then
    echo "compare_sox.sh: ${prog#run_} wrote $got bytes, expected $want" >&2
    exit 1
  fi
done

# Wall-clock and processor time (user + system) of one run, in seconds: "wall cpu".
TIMEFORMAT='%3R %3U %3S'
timed() {
  local t
  t=$({ time "$1" >/dev/null; } 2>&1)
  read -r real user sys <<<"$t"
  awk -v r="$real" -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f %.3f\n", r, u + s }'
}

best_sox_wall=""; best_sox_cpu=""; best_ours_wall=""; best_ours_cpu=""
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
for ((i = 0; i < runs; i++)); do
  read -r w c <<<"$(timed run_sox)"
  best_sox_wall=$(min "$best_sox_wall" "$w"); best_sox_cpu=$(min "$best_sox_cpu" "$c")
  read -r w c <<<"$(timed run_ours)"
  best_ours_wall=$(min "$best_ours_wall" "$w"); best_ours_cpu=$(min "$best_ours_cpu" "$c")
done

awk -v f="$frames" -v sw="$best_sox_wall" -v sc="$best_sox_cpu" \
    -v ow="$best_ours_wall" -v oc="$best_ours_cpu" 'BEGIN {
  printf "frames (16-bit stereo, 44100 Hz): %d (%.1f s of sound), best of '"$runs"' runs each\n", f, f / 44100
  printf "%-22s %10s %14s %10s %14s\n", "", "wall (s)", "wall ns/frame", "cpu (s)", "cpu ns/frame"
  printf "%-22s %10.3f %14.1f %10.3f %14.1f\n", "sox synth pinknoise", sw, sw * 1e9 / f, sc, sc * 1e9 / f
  printf "%-22s %10.3f %14.1f %10.3f %14.1f\n", "murmelin pink noise", ow, ow * 1e9 / f, oc, oc * 1e9 / f
  printf "ratio sox / murmelin:  wall %.2f, cpu %s\n", sw / ow, (oc > 0 ? sprintf("%.2f", sc / oc) : "n/a")
}'
