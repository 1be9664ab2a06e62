#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program started where no graphical session can be reached: it prints one plain
# line on standard error saying so and exits with code 1, with no core dump and nothing
# written to the settings folder.
set -uo pipefail

app=
while [ $# -gt 0 ]; do
  case $1 in
    --app) app=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[ -x "$app" ] || { echo "program not found: $app" >&2; exit 2; }
app=$(realpath "$app")

work=$(mktemp -d "${TMPDIR:-/tmp}/murmelin-nodisplay.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# An X display number with no server: neither its socket file nor its abstract socket exists.
free_display() {
  local n
  for n in $(seq 431 531); do
    [ -e "/tmp/.X11-unix/X$n" ] && continue
    grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null && continue
    echo ":$n"; return 0
  done
  return 1
}
stale=$(free_display) || { echo "no free display number found" >&2; exit 2; }

# expect_refusal NAME ENV...: runs the program with a clean environment plus ENV.
expect_refusal() {
  local name=$1; shift
  local rc
  ( ulimit -c 0
    cd "$work" &&
    exec timeout -k 5 30 env -i PATH="$PATH" HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
      XDG_RUNTIME_DIR="$work/runtime" "$@" "$app" >"$work/out" 2>"$work/err" )
  rc=$?
  [ "$rc" -eq 1 ] || fail "$name: exit code $rc, expected 1 ($(head -c 300 "$work/err"))"
  [ -s "$work/out" ] && fail "$name: wrote to standard output: $(head -c 200 "$work/out")"
  [ "$(wc -l < "$work/err")" -eq 1 ] || fail "$name: expected one line on standard error, got: $(cat "$work/err")"
  grep -q "${expected:-^Murmelin needs a graphical desktop session}" "$work/err" ||
    fail "$name: the line does not say what Murmelin needs: $(cat "$work/err")"
  grep -qi 'reinstall\|abort\|core' "$work/err" && fail "$name: Qt's abort text leaked: $(cat "$work/err")"
  [ -z "$(ls -A "$work/config")" ] || fail "$name: wrote into the settings folder"
}

expect_refusal "no DISPLAY, no WAYLAND_DISPLAY"
expect_refusal "DISPLAY of a server that is not running" DISPLAY="$stale"
expect_refusal "WAYLAND_DISPLAY of a compositor that is not running" WAYLAND_DISPLAY=wayland-murmelin-none
expect_refusal "both set, neither running" DISPLAY="$stale" WAYLAND_DISPLAY=wayland-murmelin-none
expect_refusal "X11 chosen, no DISPLAY" QT_QPA_PLATFORM=xcb
expect_refusal "Wayland then X11 chosen, neither running" "QT_QPA_PLATFORM=wayland;xcb" DISPLAY="$stale"
expect_refusal "no runtime folder either" XDG_RUNTIME_DIR=

# The command line answers without any display: --version and --help on standard output with
# exit 0, an unknown option in one line on standard error with exit 2.
# expect_answer ARG CODE FIRST-LINE-PATTERN STREAM
expect_answer() {
  local rc
  env -i PATH="$PATH" HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$app" "$1" \
    >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" -eq "$2" ] || fail "$1: exit code $rc, expected $2"
  head -n 1 "$work/$4" | grep -q "$3" || fail "$1: first line '$(head -n 1 "$work/$4")'"
}
expect_answer --version 0 '^Murmelin [0-9][0-9.]*$' out
grep -q 'GPL-3.0-or-later' "$work/out" || fail "--version does not name the licence"
expect_answer --help 0 '^Usage: murmelin' out
grep -q 'MurmelinSettings.qobfile' "$work/out" || fail "--help does not name the settings file"
expect_answer --no-such-option 2 "^murmelin: unknown option '--no-such-option'" err
[ "$(wc -l < "$work/err")" -eq 1 ] || fail "an unknown option gives more than one line"
[ -z "$(ls -A "$work/config")" ] || fail "the command line wrote into the settings folder"

# A Wayland session whose compositor answers, but Qt finds no Wayland plugin (a copy of the
# program whose qt.conf points Qt at an empty plugin folder): the program names the package
# instead of letting Qt abort.
python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(8); time.sleep(120)' \
  "$work/runtime/wayland-murmelin" &
listener=$!
trap 'kill $listener 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -S "$work/runtime/wayland-murmelin" ] && break; sleep 0.05; done
mkdir -p "$work/bin" "$work/no-plugins"
cp "$app" "$work/bin/murmelin"
printf '[Paths]\nPlugins=%s\n' "$work/no-plugins" > "$work/bin/qt.conf"
app="$work/bin/murmelin" expected="^Murmelin needs Qt's Wayland platform plugin.*qt6-wayland" \
  expect_refusal "Wayland plugin missing" WAYLAND_DISPLAY=wayland-murmelin

if [ "$failures" -ne 0 ]; then
  echo "display_none: $failures check(s) failed" >&2
  exit 1
fi
echo "display_none: all checks passed"
