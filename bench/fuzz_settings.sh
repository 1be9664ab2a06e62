#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the settings file reader and writer (load, typed reads, save, reload) with libFuzzer
# under AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   bench/fuzz_settings.sh SECONDS [FINDINGS_DIR]
#
# Builds with clang in build/fuzz, starts from a copy of tests/unit/settings/corpus and writes
# crashing inputs to FINDINGS_DIR (default build/fuzz-findings). A crashing input, once fixed,
# belongs in tests/unit/settings/corpus so that `make test` replays it.
set -euo pipefail

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [FINDINGS_DIR]" >&2
  exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
builddir=$root/build/fuzz
findings=${2:-$root/build/fuzz-findings}
workcorpus=$builddir/corpus

sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g"
cmake -S "$root" -B "$builddir" -G Ninja \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMURMELIN_FUZZ=ON \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$builddir" --target fuzz_qobfile -j2

mkdir -p "$findings" "$workcorpus"
cp -n "$root"/tests/unit/settings/corpus/* "$workcorpus"/

# Temporary files of each run go to memory when possible.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "fuzz_settings: fuzzing for $seconds s; findings go to $findings"
"$builddir/settings/fuzz_qobfile" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$workcorpus" ||
  status=$?
count=$(find "$findings" -type f | wc -l)
echo "fuzz_settings: done, $count finding(s) in $findings"
exit $status
