#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a private staging folder (DESTDIR) under two prefixes and checks what
# lands there: exactly the files the uninstall script knows, a runnable program, a desktop entry,
# icons and AppStream metadata that pass the desktop's validators and agree with each other, and
# a manual page that renders without warnings. Then uninstalls and checks nothing is left.
set -uo pipefail

build= source_dir=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --source) source_dir=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[ -f "$build/installed-files.txt" ] || { echo "not a configured build folder: $build" >&2; exit 2; }
for c in desktop-file-validate appstreamcli man file; do
  command -v "$c" >/dev/null || { echo "missing $c (scripts/install-deps.sh --test)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/murmelin-install.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

app_id=com.briskodata.Murmelin
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# check_prefix PREFIX: installs under DESTDIR=$work/stage-N and checks everything there.
check_prefix() {
  local prefix=$1 stage=$2
  local root="$stage$prefix"
  if ! DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    fail "cmake --install into $stage (prefix $prefix) failed"
    return
  fi

  # Exactly the expected files, nothing outside the prefix.
  (cd "$stage" && find . -type f -o -type l | sed 's#^\./##' | sort) > "$work/found.txt"
  sed "s#^#${prefix#/}/#" "$build/installed-files.txt" | sort > "$work/expected.txt"
  if ! diff -u "$work/expected.txt" "$work/found.txt" >&2; then
    fail "installed files under prefix $prefix differ from the list the uninstaller knows"
  fi
  for f in bin/murmelin share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
           share/icons/hicolor/scalable/apps/$app_id.svg share/icons/hicolor/48x48/apps/$app_id.png \
           share/man/man1/murmelin.1.gz; do
    [ -f "$root/$f" ] || fail "missing $prefix/$f"
  done

  # The program: executable, stripped, and it knows the id its desktop entry is installed as.
  local bin="$root/bin/murmelin"
  [ -x "$bin" ] || fail "$prefix/bin/murmelin is not executable"
  file -b "$bin" | grep -q 'ELF.*, stripped' || fail "$prefix/bin/murmelin is not a stripped ELF program: $(file -b "$bin")"
  grep -qa "$app_id" "$bin" || fail "the program does not name its desktop entry $app_id"

  # Desktop entry: valid, runs the installed command, names the installed icon.
  local desktop="$root/share/applications/$app_id.desktop"
  desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate rejects the desktop entry"
  grep -qx 'Exec=murmelin' "$desktop" || fail "the desktop entry does not run murmelin"
  grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry does not name the icon $app_id"

  # AppStream: valid, launches this desktop entry, its newest release is this version.
  local metainfo="$root/share/metainfo/$app_id.metainfo.xml"
  appstreamcli validate --pedantic --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log" >&2; fail "appstreamcli validate rejects the metainfo"; }
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $app_id.desktop"
  local newest
  newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
  [ "$newest" = "$version" ] || fail "the newest release in the metainfo is '$newest', the program is $version"
  grep -q '<screenshot type="default">' "$metainfo" || fail "the metainfo has no default screenshot"
  grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || fail "the metainfo names no licence"

  # Icons: the SVG as drawn, and each PNG a square picture of its folder's size.
  cmp -s "$root/share/icons/hicolor/scalable/apps/$app_id.svg" "$source_dir/resources/murmelin.svg" ||
    fail "the installed SVG icon differs from resources/murmelin.svg"
  local png size n=0
  for png in "$root"/share/icons/hicolor/*x*/apps/$app_id.png; do
    size=${png%/apps/*}; size=${size##*/}; size=${size%%x*}
    file -b "$png" | grep -q "^PNG image data, $size x $size, 8-bit/color RGBA" ||
      fail "$png is not a $size x $size RGBA PNG: $(file -b "$png")"
    n=$((n + 1))
  done
  [ "$n" -ge 6 ] || fail "only $n PNG icon sizes installed"
  # The icon is not empty: a rendered picture compresses to more than a blank square does.
  [ "$(stat -c %s "$root/share/icons/hicolor/256x256/apps/$app_id.png")" -gt 2000 ] ||
    fail "the 256 px icon looks blank"

  # Manual page: renders, without warnings, and says what the program is.
  local man_out
  man_out=$(MANWIDTH=80 man --warnings -l "$root/share/man/man1/murmelin.1.gz" 2>"$work/man.err")
  [ -s "$work/man.err" ] && { cat "$work/man.err" >&2; fail "the manual page renders with warnings"; }
  grep -q 'murmelin - play continuous pink noise' <<<"$man_out" || fail "the manual page has no NAME line"

  # Uninstall removes every file again and leaves other files alone.
  mkdir -p "$root/share/applications"
  : > "$root/share/applications/other.desktop"
  if ! DESTDIR="$stage" cmake -DPREFIX="$prefix" -P "$build/uninstall.cmake" >"$work/uninstall.log" 2>&1; then
    cat "$work/uninstall.log" >&2
    fail "uninstall under prefix $prefix failed"
  fi
  local left
  left=$(cd "$stage" && find . -type f -o -type l | sed 's#^\./##')
  [ "$left" = "${prefix#/}/share/applications/other.desktop" ] ||
    fail "after uninstall, under prefix $prefix: expected only the other program's file, found: $left"
  # A second uninstall finds nothing to do and still succeeds.
  DESTDIR="$stage" cmake -DPREFIX="$prefix" -P "$build/uninstall.cmake" >/dev/null 2>&1 ||
    fail "a second uninstall failed"
}

check_prefix /usr/local "$work/stage-local"
check_prefix /opt/murmelin "$work/stage-opt"

# A relative prefix is refused, and removes nothing.
if cmake -DPREFIX=relative/dir -P "$build/uninstall.cmake" >/dev/null 2>&1; then
  fail "uninstall accepted a relative PREFIX"
fi

if [ "$failures" -ne 0 ]; then
  echo "install_staging: $failures check(s) failed" >&2
  exit 1
fi
echo "install_staging: all checks passed"
