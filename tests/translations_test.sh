#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every translation is complete: each .ts file, brought up to date in a scratch copy by the
# lupdate command given, holds no text without a translation.
#   tests/translations_test.sh SCRATCH_DIR TS_FILE... -- LUPDATE [OPTION...] SOURCE...
set -uo pipefail
scratch=$1; shift
files=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do files+=("$1"); shift; done
shift
[ ${#files[@]} -gt 0 ] && [ $# -gt 0 ] || { echo "usage: $0 SCRATCH_DIR TS_FILE... -- LUPDATE..." >&2; exit 2; }
rm -rf "$scratch" && mkdir -p "$scratch" || exit 2
failed=0
for ts in "${files[@]}"; do
  copy="$scratch/${ts##*/}"
  cp "$ts" "$copy" && "$@" -silent -ts "$copy" || { echo "FAIL: lupdate on $ts"; failed=1; continue; }
  if grep -q 'type="unfinished"' "$copy"; then
    echo "FAIL: ${ts##*/} has texts without a translation:"
    grep -B2 'type="unfinished"' "$copy" | grep '<source>'
    failed=1
  fi
done
[ $failed = 0 ] && echo "${#files[@]} translations complete"
exit $failed
