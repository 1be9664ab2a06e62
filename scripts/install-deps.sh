#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Murmelin need.
# Idempotent: installs only what is missing; works as root or through sudo.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build make pkg-config
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  libsdl2-dev
  libpulse-dev   # the sound-server output (libpulse0 at run time)
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # end-to-end rig: X server, sound server, input events, recording, reference noise
  xvfb xdotool x11-utils libx11-dev pulseaudio pulseaudio-utils sox
  x11-apps  # xwd: screenshots of the about box check
  libsox-fmt-pulse   # SoX's play straight to the sound server, the benchmark's anchor
  fonts-dejavu-core
  python3
  # desktop-bus tests: private session and system buses, dbus-send as the desktop's client
  dbus-daemon dbus-bin
)

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
