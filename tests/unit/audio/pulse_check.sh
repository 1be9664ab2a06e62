#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Plays through the real sound-server backend into a private PulseAudio server whose only sink
# is a null sink, records the sink's monitor and checks the recording.
#   pulse_check.sh <mpc_pulse_check binary> <install-deps script>
# Exits 77 (skipped) only when PulseAudio cannot be installed.
set -u

bin=$1
install_deps=$2

source "$(dirname "$0")/pulse_server.sh"

if ! pulse_available; then
  "$install_deps" >/dev/null 2>&1 || true
fi
if ! pulse_available; then
  echo "SKIPPED: PulseAudio (pulseaudio, parec, pactl) is not installed and could not be installed"
  exit 77
fi

work=$(mktemp -d)
chmod 700 "$work"

parec_pid=""
cleanup() {
  if [ -n "$parec_pid" ]; then
    kill -INT "$parec_pid" 2>/dev/null
    wait "$parec_pid" 2>/dev/null
  fi
  pulse_stop
  rm -rf "$work"
}
trap cleanup EXIT

die() {
  echo "FAIL: $*"
  [ -f "$work/pulse.log" ] && tail -n 20 "$work/pulse.log"
  exit 1
}

pulse_start "$work" || die "pulseaudio did not start"

parec --latency-msec=20 --format=s16le --rate=44100 --channels=2 -d testsink.monitor \
  "$work/rec.raw" &
parec_pid=$!
# Recording has begun once the monitor's silence reaches the file.
wait_recording() {
  local _
  for _ in $(seq 200); do
    [ -s "$1" ] && return 0
    kill -0 "$parec_pid" 2>/dev/null || break
    sleep 0.05
  done
  die "parec is not recording"
}
wait_recording "$work/rec.raw"

underruns_before=$(pulse_underruns)
timeout 60 "$bin" play "$work/summary" "$work/rec.raw" || die "playback failed"
starved=$(( $(pulse_underruns) - underruns_before ))

streams=$(timeout 5 pactl list short sink-inputs)
[ -z "$streams" ] || die "a stream is still open after the program ended: $streams"

kill -INT "$parec_pid"
wait "$parec_pid"
parec_pid=""

"$bin" analyze "$work/rec.raw" "$work/summary" "$starved" || die "the recording does not match"

# The highest and the lowest rate play without a gap: the server's buffer is a time, not a
# number of frames.
for rate in 384000 8000; do
  module=$(timeout 5 pactl load-module module-null-sink sink_name=ratesink rate=$rate \
    sink_properties=device.description=Rate_Sink) || die "pactl could not add a sink at $rate Hz"
  parec --latency-msec=20 --format=s16le --rate=$rate --channels=2 -d ratesink.monitor \
    "$work/rate.raw" &
  parec_pid=$!
  wait_recording "$work/rate.raw"
  timeout 60 "$bin" rate $rate 15 || die "playback at $rate Hz failed"
  kill -INT "$parec_pid"
  wait "$parec_pid"
  parec_pid=""
  timeout 5 pactl unload-module "$module"
  "$bin" gapless "$work/rate.raw" $rate 15 || die "the recording at $rate Hz has a gap"
  rm -f "$work/rate.raw"
done
