#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Takes the README's screenshots: starts Murmelin on a private X server (the end-to-end rig,
# with a private sound server whose only output is a null sink) and saves the main window as
# docs/screenshot-main.png and, when "Settings..." opens a dialog, that dialog as
# docs/screenshot-settings.png. Nothing outside the rig's private folder and the output
# folder is touched; the user's settings are never read.
#
#   scripts/screenshots.sh [--out DIR] [--app BINARY] [--tools DIR]
#
# Needs the release build with its tests (make release) and xwd (x11-apps), Xvfb, xdotool,
# pulseaudio and python3 (scripts/install-deps.sh --test).
set -u -o pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/tests/e2e/rig.sh"

out="$root/docs"
rig_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$2; shift 2 ;;
    *) rig_args+=("$1"); shift ;;
  esac
done
rig_parse_args "${rig_args[@]}"
rig_require_commands Xvfb openbox xdotool xwd xprop pulseaudio pactl python3
mkdir -p "$out" || { echo "cannot make $out" >&2; exit 1; }
out=$(cd "$out" && pwd)

# Client coordinates: "Settings..." in the main window, "Cancel" in the settings dialog.
SETTINGS_X=87 SETTINGS_Y=18
CANCEL_X=145 CANCEL_Y=194

# frame_of WINDOW: the window manager's frame around WINDOW (the child of the root window
# that holds it), so that the picture shows the window as on a desktop.
frame_of() {
  local w=$1 parent root
  root=$(xwininfo -root | awk '/Window id:/ {print $4}')
  while parent=$(xwininfo -tree -id "$w" | awk '/Parent window id:/ {print $4}') &&
        [ -n "$parent" ] && [ "$parent" != "$root" ]; do
    w=$parent
  done
  echo "$w"
}

# capture WINDOW FILE: the window's contents as a PNG, written under a temporary name and
# moved into place only when complete.
capture() {
  local win=$1 file=$2
  timeout 20 xwd -silent -id "$(frame_of "$win")" > "$RIG_DIR/shot.xwd" || rig_fail "xwd could not capture window $win"
  python3 - "$RIG_DIR/shot.xwd" "$file.part" <<'EOF' || rig_fail "cannot convert the capture of window $win"
import struct, sys, zlib

data = open(sys.argv[1], "rb").read()
fields = struct.unpack(">25I", data[:100])
(header_size, version, pixmap_format, depth, width, height, _xoffset, byte_order, _unit,
 _bit_order, _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask, blue_mask,
 _bits_rgb, _cmap_entries, ncolors) = fields[:20]
if version != 7 or pixmap_format != 2 or bits_per_pixel not in (24, 32):
    sys.exit("unsupported capture: version %d, format %d, %d bits per pixel"
             % (version, pixmap_format, bits_per_pixel))
start = header_size + 12 * ncolors
if len(data) < start + bytes_per_line * height:
    sys.exit("the capture is truncated")

def shift(mask):
    return (mask & -mask).bit_length() - 1

rs, gs, bs = shift(red_mask), shift(green_mask), shift(blue_mask)
order = "<" if byte_order == 0 else ">"
rows = []
for y in range(height):
    step = bits_per_pixel // 8
    line = data[start + y * bytes_per_line: start + y * bytes_per_line + step * width]
    if step == 4:
        pixels = struct.unpack(order + "%dI" % width, line)
    else:  # a window manager's frame may be 24 bits deep
        pixels = [int.from_bytes(line[i:i + 3], "little" if order == "<" else "big")
                  for i in range(0, len(line), 3)]
    row = bytearray(b"\0")  # filter type: none
    for p in pixels:
        row += bytes(((p & red_mask) >> rs, (p & green_mask) >> gs, (p & blue_mask) >> bs))
    rows.append(bytes(row))

def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

png = (b"\x89PNG\r\n\x1a\n"
       + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
       + chunk(b"IEND", b""))
open(sys.argv[2], "wb").write(png)
EOF
  mv -f "$file.part" "$file" || rig_fail "cannot write $file"
  rig_log "saved $file"
}

# The program's windows other than the main one (dialogs, message boxes).
other_app_window() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$RIG_APP_PID" 2>/dev/null); do
    [ "$w" != "$RIG_MAIN_WIN" ] && [ -n "$(xdotool getwindowname "$w" 2>/dev/null)" ] &&
      { echo "$w"; return 0; }
  done
  return 1
}
has_other_app_window() { other_app_window >/dev/null; }
rig_not_shown() { ! xdotool search --onlyvisible --pid "$RIG_APP_PID" 2>/dev/null | grep -qx "$1"; }

rig_init screenshots
rig_start_xvfb
rig_start_wm
rig_start_pulse
rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
# Let the first paint finish: the window is mapped before its contents are drawn.
sleep 1
capture "$RIG_MAIN_WIN" "$out/screenshot-main.png"

rig_click "$RIG_MAIN_WIN" "$SETTINGS_X" "$SETTINGS_Y"
if rig_wait_until 10 has_other_app_window; then
  dialog=$(other_app_window)
  sleep 1
  capture "$dialog" "$out/screenshot-settings.png"
  rig_focus "$dialog"
  rig_click "$dialog" "$CANCEL_X" "$CANCEL_Y"
  rig_wait_until 10 rig_not_shown "$dialog" || rig_fail "the settings dialog did not close on \"Cancel\""
else
  rig_log "\"Settings...\" opened no dialog; only the main window was taken"
fi

rig_close_window "$RIG_MAIN_WIN"
rig_wait_app_exit 20
rig_log "done"
