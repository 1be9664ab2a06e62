#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The dependency sets of scripts/install-deps.sh: what `make run` installs holds the Qt
# plugins a desktop needs and never a sound server or a test tool; the package set adds the
# packaging tools only; the test set adds the rest.
set -uo pipefail

source_dir=
while [ $# -gt 0 ]; do
  case $1 in
    --source) source_dir=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
script="$source_dir/scripts/install-deps.sh"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

run_set=$("$script" --list) || { echo "FAIL: $script --list failed" >&2; exit 1; }
test_set=$("$script" --list --test) || { echo "FAIL: $script --list --test failed" >&2; exit 1; }
package_set=$("$script" --list --package) || { echo "FAIL: $script --list --package failed" >&2; exit 1; }

in_set() { grep -qx -- "$1" <<<"$2"; }

for p in g++ cmake ninja-build qt6-base-dev qt6-svg-dev libsdl2-dev libpulse-dev qt6-qpa-plugins qt6-wayland; do
  in_set "$p" "$run_set" || fail "the run set lacks $p"
done
# Sound servers compete with the desktop's own; the rest is only for tests.
for p in pulseaudio pipewire pipewire-pulse pulseaudio-utils xvfb xdotool x11-apps sox dbus-daemon \
         libgtest-dev libgmock-dev libbenchmark-dev clang desktop-file-utils appstream dpkg-dev; do
  in_set "$p" "$run_set" && fail "the run set holds $p"
  in_set "$p" "$test_set" || [ "$p" = pipewire ] || [ "$p" = pipewire-pulse ] || fail "the test set lacks $p"
done
# The package set adds only the packaging tools; the test set holds every other set.
for p in dpkg-dev file; do
  in_set "$p" "$package_set" || fail "the package set lacks $p"
  in_set "$p" "$test_set" || fail "the test set lacks $p"
done
[ "$(grep -c . <<<"$package_set")" -eq $(( $(grep -c . <<<"$run_set") + 2 )) ] ||
  fail "the package set holds more than the run set and the packaging tools"
while read -r p; do
  in_set "$p" "$test_set" || fail "the test set lacks $p of the run set"
  in_set "$p" "$package_set" || fail "the package set lacks $p of the run set"
done <<<"$run_set"
# Each package is named once.
dups=$(sort <<<"$test_set" | uniq -d)
[ -z "$dups" ] || fail "named twice: $dups"
# Anything else is refused with a usage line, installing nothing.
if "$script" --bogus >/dev/null 2>&1; then fail "an unknown option was accepted"; fi

if [ "$failures" -ne 0 ]; then
  echo "install_dependency_sets: $failures check(s) failed" >&2
  exit 1
fi
echo "install_dependency_sets: all checks passed"
