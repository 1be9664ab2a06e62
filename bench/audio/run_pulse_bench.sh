#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the playback benchmark against a private PulseAudio server with a null sink.
#   bench/audio/run_pulse_bench.sh [build folder, default build/release] [benchmark options]
# MPC_BENCH_SECONDS sets the playing time (60 s by default).
# Budget: cpu_percent under 1 (% of one core), underruns 0, allocations 0.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/release}
shift || true
bin="$build/bench/audio/mpc_play_bench"
[ -x "$bin" ] || { echo "build $bin first: cmake --build --preset release --target mpc_play_bench"; exit 1; }

source "$root/tests/unit/audio/pulse_server.sh"
pulse_available || { echo "PulseAudio is not installed (scripts/install-deps.sh installs it)"; exit 1; }

work=$(mktemp -d)
chmod 700 "$work"
parec_pid=""
cleanup() {
  [ -n "$parec_pid" ] && kill -INT "$parec_pid" 2>/dev/null && wait "$parec_pid" 2>/dev/null
  pulse_stop
  rm -rf "$work"
}
trap cleanup EXIT
pulse_start "$work" || { echo "pulseaudio did not start"; exit 1; }
# A reader on the sink's monitor makes the null sink keep time like a real device (without
# one it renders in large, irregular blocks).
parec --latency-msec=20 --format=s16le --rate=44100 --channels=2 -d testsink.monitor \
  >/dev/null &
parec_pid=$!
"$bin" "$@"
