#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The rig's own promises: waits are bounded, and whatever a script started is stopped and
# its private folder removed when it fails, even a process that ignores SIGTERM.
set -u -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/murmelin-rig-cleanup-test.XXXXXX")
probe_pids=()
cleanup() {
  local p
  for p in "${probe_pids[@]}"; do
    if [ "$(cat "/proc/$p/comm" 2>/dev/null)" = sleep ]; then kill -KILL "$p" 2>/dev/null; fi
  done
  rm -rf "$scratch"
}
trap cleanup EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# A failing script with two helpers running, one of which ignores SIGTERM.
bash -c '
  source "$1/rig.sh"
  rig_init cleanup-probe
  echo "$RIG_DIR" > "$2/dir"
  (trap "" TERM; exec sleep 300) &
  RIG_PIDS+=($!); echo $! >> "$2/pids"
  sleep 300 &
  RIG_PIDS+=($!); echo $! >> "$2/pids"
  # A bounded wait that cannot succeed must give up.
  if rig_wait_until 1 false; then echo "wait did not give up" > "$2/wait"; fi
  rig_fail "deliberate failure"
' probe "$here" "$scratch" 2>"$scratch/stderr"
rc=$?
mapfile -t probe_pids < "$scratch/pids"

[ "$rc" = 1 ] || fail "the failing script ended with $rc, expected 1"
[ ${#probe_pids[@]} = 2 ] || fail "the probe did not start its two helpers"
for p in "${probe_pids[@]}"; do
  if [ "$(cat "/proc/$p/comm" 2>/dev/null)" = sleep ]; then fail "helper $p still runs after the failure"; fi
done
[ -s "$scratch/dir" ] && [ ! -e "$(cat "$scratch/dir")" ] || fail "the private folder was not removed"
[ ! -e "$scratch/wait" ] || fail "rig_wait_until did not give up"
grep -q 'FAIL: deliberate failure' "$scratch/stderr" || fail "the failure message is missing"
grep -q 'did not end after SIGTERM; killing it' "$scratch/stderr" || fail "the helper ignoring SIGTERM was not killed"

[ $failed = 0 ] && echo PASS
exit $failed
