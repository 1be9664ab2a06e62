#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Murmelin needs, in two sets:
#
#   scripts/install-deps.sh          what building and running need (make run, make install)
#   scripts/install-deps.sh --package   that plus what building the .deb needs (make package)
#   scripts/install-deps.sh --test   that plus the test and benchmark tools and the servers of
#                                    the end-to-end rig (make test)
#   --list with any of these prints the set, one package a line, and installs nothing
#
# The first set never holds a sound server or a test tool: on a desktop the sound server is
# the system's own (PipeWire or PulseAudio), and a second one would compete with it.
# Idempotent and quiet: installs only what is missing; works as root or through sudo.
set -euo pipefail

build_run=(
  # toolchain
  g++ cmake ninja-build make pkg-config
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools   # the translations (lupdate, lrelease)
  qt6-translations-l10n   # at run time: Qt's standard buttons in the user's language
  libsdl2-dev
  libpulse-dev   # the sound-server output (libpulse0 at run time)
  libxcb1-dev    # the X11 startup notification of a second start
  # at run time: the X11 and Wayland platform plugins of Qt
  qt6-qpa-plugins qt6-wayland
)

test_tools=(
  # unit tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # end-to-end rig: X server, sound server, input events, recording, reference noise
  xvfb xdotool x11-utils libx11-dev pulseaudio pulseaudio-utils sox
  openbox   # a real window manager for the tests of window places, focus and activation
  x11-apps  # xwd: screenshots of the about box check and scripts/screenshots.sh
  libsox-fmt-pulse   # SoX's play straight to the sound server, the benchmark's anchor
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-pulseaudio   # and GStreamer beside it
  fonts-dejavu-core
  python3
  # desktop-bus tests: private session and system buses, dbus-send as the desktop's client
  dbus-daemon dbus-bin
  # a headless Wayland session, driven over the accessibility bus
  weston at-spi2-core python3-pyatspi
  # the desktops people use: KDE's compositor with its window decoration, GNOME's shell, the
  # real desktop portal with its GTK backend, and the media-player client people type
  kwin-wayland kwin-style-breeze gnome-shell xwayland xdg-desktop-portal xdg-desktop-portal-gtk
  playerctl libglib2.0-bin
  # checks of the installed files
  desktop-file-utils appstream man-db groff-base
  lintian   # what a distribution's checker says of the .deb
)

package_tools=(
  dpkg-dev file
)

usage() { echo "usage: $0 [--package | --test] [--list]" >&2; exit 2; }

with_tests=0
with_package=0
list_only=0
for arg in "$@"; do
  case $arg in
    --test) with_tests=1; with_package=1 ;;
    --package) with_package=1 ;;
    --list) list_only=1 ;;
    *) usage ;;
  esac
done

packages=("${build_run[@]}")
if [ "$with_package" -eq 1 ]; then packages+=("${package_tools[@]}"); fi
if [ "$with_tests" -eq 1 ]; then packages+=("${test_tools[@]}"); fi

if [ "$list_only" -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: missing packages (${missing[*]}) and neither root nor sudo is available" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
