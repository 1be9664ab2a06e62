#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every benchmark against the release build (make bench builds it first).
# The settings fuzzer is not part of this run: bench/fuzz_settings.sh SECONDS runs it.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/release
rc=0

echo "== pink noise block fill"
"$build/bench/dsp/pinknoise_bench" || rc=1
echo "== loading the settings file"
"$build/bench/settings/settings_bench" || rc=1
echo "== pink noise against SoX"
"$root/bench/dsp/compare_sox.sh" || rc=1
echo "== player on a PulseAudio null sink (60 s)"
"$root/bench/audio/run_pulse_bench.sh" "$build" || rc=1
echo "== the program on the end-to-end rig"
"$root/bench/app/bench_app.sh" || rc=1
exit $rc
