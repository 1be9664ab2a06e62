#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into a private folder and checks its control fields (library
# dependencies computed from the program, the run-time Qt plugins, the description) and its
# file list (the installed files under /usr, owned by root, nothing else).
set -uo pipefail

build=
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
[ -f "$build/CPackConfig.cmake" ] || { echo "not a configured build folder: $build" >&2; exit 2; }
for c in cpack dpkg-deb dpkg-shlibdeps file lintian; do
  command -v "$c" >/dev/null || { echo "missing $c (scripts/install-deps.sh --test)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/murmelin-package.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "murmelin_${version}-1_${arch}.deb" ] || fail "unexpected file name $(basename "$deb")"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = murmelin ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "${version}-1" ] || fail "Version is '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ "$(dpkg-deb --field "$deb" Description | head -n 1)" = "play continuous pink noise" ] ||
  fail "the short description is '$(field Description | head -n 1)'"
[ "$(field Description | wc -l)" -ge 3 ] || fail "no long description"
# Long description lines start with one space; two would make them verbatim text.
dpkg-deb --info "$deb" control | sed -n '/^Description:/,/^[A-Z]/p' | sed '1d' | grep -v '^[A-Z]' |
  grep -v '^ [^ ]' | grep . >&2 && fail "the long description has verbatim or unindented lines"

# Dependencies: the shared libraries the program links, with versions, from dpkg-shlibdeps,
# plus the platform plugins that Qt loads at run time.
depends=$(field Depends)
echo "Depends: $depends"
# Package names alone, one a line.
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/[[:space:]]//g' | grep .)
depends_on() { grep -qxF -- "$1" <<<"$depends_names"; }
for pkg in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins qt6-wayland libqt6svg6; do
  depends_on "$pkg" || fail "Depends lacks $pkg"
done
grep -Eq 'libqt6core6 \(>= [0-9]' <<<"$depends" || fail "the Qt dependency carries no version: $depends"
# The package that holds a library file; with merged /usr, dpkg may know it under /lib or /usr/lib.
owner_of() {
  local p
  for p in "$1" "/usr$1" "${1#/usr}"; do
    dpkg -S "$p" 2>/dev/null | head -n 1 | cut -d: -f1 | grep . && return 0
  done
  return 1
}
# Every library the program links directly must come from a package it depends on.
while read -r soname path; do
  pkg=$(owner_of "$path")
  [ -n "$pkg" ] || { fail "no package holds $path ($soname)"; continue; }
  depends_on "$pkg" || fail "Depends does not cover $soname (from $pkg)"
done < <(objdump -p "$build/app/Murmelin" | awk '/NEEDED/ {print $2}' | while read -r so; do
           ldd "$build/app/Murmelin" | awk -v so="$so" '$1 == so {print so, $3}'
         done)
# Never a sound server or a test tool.
grep -Eq 'pulseaudio|pipewire|xvfb|gtest|benchmark' <<<"$depends $(field Recommends)" &&
  fail "the package pulls in a sound server or a test tool"

# Contents: the files of the staging install under /usr, owned by root, sane modes.
dpkg-deb --contents "$deb" > "$work/contents.txt"
awk '$1 !~ /^d/ {print $6}' "$work/contents.txt" | sed 's#^\./##' | sort > "$work/files.txt"
sed 's#^#usr/#' "$build/installed-files.txt" | sort > "$work/expected.txt"
diff -u "$work/expected.txt" "$work/files.txt" >&2 || fail "the package's files differ from the install rules'"
awk '$2 != "root/root" {print}' "$work/contents.txt" | grep . >&2 && fail "files not owned by root"
grep -q '^-rwxr-xr-x .* \./usr/bin/murmelin$' "$work/contents.txt" || fail "usr/bin/murmelin is not mode 755"
awk '$1 ~ /^-/ && $6 != "./usr/bin/murmelin" && $1 != "-rw-r--r--" {print}' "$work/contents.txt" | grep . >&2 &&
  fail "data files not mode 644"
dpkg-deb --info "$deb" md5sums >/dev/null 2>&1 || fail "no md5sums in the package"

# The packaged program is stripped.
mkdir -p "$work/x"
dpkg-deb -x "$deb" "$work/x"
file -b "$work/x/usr/bin/murmelin" | grep -q ', stripped' || fail "the packaged program is not stripped"

# What a distribution's checker says: no errors, no warnings.
lintian --fail-on error,warning "$deb" >&2 || fail "lintian rejects the package"

if [ "$failures" -ne 0 ]; then
  echo "install_package: $failures check(s) failed" >&2
  exit 1
fi
echo "install_package: all checks passed"
