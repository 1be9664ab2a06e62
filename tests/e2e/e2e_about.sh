#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Opens the about box the way a user does ("Settings..." in the main window, then "..." in
# the settings dialog) and checks a screenshot of the real X server: the box is centred on
# the screen at its fixed size, shows the title and the version line, and shows the picture
# pixel for pixel, its transparent colour nowhere to be seen. Return closes the box and
# leaves the settings dialog open; the program then ends normally.
#
#   tests/e2e/e2e_about.sh [--app BINARY] [--tools DIR]
set -u -o pipefail
source "$(dirname "${BASH_SOURCE[0]}")/rig.sh"
rig_parse_args "$@"
rig_require_commands Xvfb xdotool xwd python3 pulseaudio pactl

SETTINGS_X=87 SETTINGS_Y=18   # "Settings..." in the main window's toolbar
ABOUT_X=229 ABOUT_Y=193       # "..." in the settings dialog
SCREEN_W=1024 SCREEN_H=768    # the rig's Xvfb screen
PICTURE="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/resources/corvel.dib"
[ -r "$PICTURE" ] || { echo "missing $PICTURE" >&2; exit 2; }

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window_named "$1")" ]; }
no_window() { [ -z "$(window_named "$1")" ]; }

rig_init about
rig_start_xvfb
rig_start_pulse

rig_start_app "$RIG_APP"
rig_find_main_window 30
rig_focus "$RIG_MAIN_WIN"
rig_log "main window $RIG_MAIN_WIN"

rig_log "Settings..."
rig_click "$RIG_MAIN_WIN" $SETTINGS_X $SETTINGS_Y
rig_wait_until 20 has_window '^Settings$' || rig_fail "no settings dialog 20 s after Settings..."
settings=$(window_named '^Settings$')
rig_focus "$settings"

rig_log "..."
rig_click "$settings" $ABOUT_X $ABOUT_Y
rig_wait_until 20 has_window '^About$' || rig_fail "no about box 20 s after ..."
about=$(window_named '^About$')
rig_log "about box $about"

eval "$(xdotool getwindowgeometry --shell "$about")" || rig_fail "cannot read the about box's geometry"
rig_log "about box at $X,$Y size ${WIDTH}x$HEIGHT"
[ "$WIDTH" = 410 ] && [ "$HEIGHT" = 267 ] || rig_fail "about box is ${WIDTH}x$HEIGHT, not 410x267"

check_screenshot() {
  xwd -root -silent > "$RIG_DIR/screen.xwd" 2>/dev/null || return 2
  python3 - "$RIG_DIR/screen.xwd" "$PICTURE" "$X" "$Y" "$SCREEN_W" "$SCREEN_H" <<'PY'
import struct, sys

shot, picture = sys.argv[1], sys.argv[2]
wx, wy, sw, sh = (int(a) for a in sys.argv[3:7])

# The screen: an X window dump in Z format with 24 or 32 bits a pixel.
d = open(shot, "rb").read()
h = struct.unpack(">25I", d[:100])
header, width, height, order, bpp, bpl, ncolours = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
if (width, height) != (sw, sh) or bpp not in (24, 32):
    sys.exit(f"unexpected screen dump {width}x{height}, {bpp} bits a pixel")
start, step = header + 12 * ncolours, bpp // 8

def screen(x, y):
    i = start + y * bpl + x * step
    px = d[i:i + step]
    if order == 0:  # least significant byte first: blue, green, red
        return (px[2], px[1], px[0])
    return tuple(px[-3:])

def dark(c):
    return sum(c) < 3 * 90

problems = []

# Centred on the screen.
if abs(wx - (sw - 410) // 2) > 2 or abs(wy - (sh - 267) // 2) > 2:
    problems.append(f"about box at {wx},{wy}, not centred on the {sw}x{sh} screen")

# Text in the title line (16..39) and in the version line (41..54), centred over 172..409.
for name, top, bottom, least in (("title", 16, 39, 150), ("version line", 41, 54, 40)):
    xs = [x for y in range(top, bottom) for x in range(172, 409) if dark(screen(wx + x, wy + y))]
    if len(xs) < least:
        problems.append(f"the {name} shows {len(xs)} dark pixels")
    elif abs((min(xs) + max(xs)) / 2 - 290.5) > 12:
        problems.append(f"the {name} is not centred ({min(xs)}..{max(xs)})")

# The picture at 4, 4 in the panel at 10, 16: every pixel of the bitmap in its own colour,
# and the panel in place of every pixel of the transparent colour.
p = open(picture, "rb").read()
_, pw, ph, _, bits = struct.unpack("<IiiHH", p[:16])
table = [(p[40 + 4 * i + 2], p[40 + 4 * i + 1], p[40 + 4 * i]) for i in range(256)]
stride = (pw * bits // 8 + 3) & ~3
pixels = 40 + 4 * 256
key = p[pixels]  # the lower-left pixel: rows are stored bottom-up
face = screen(wx + 12, wy + 18)  # the panel inside its bevels
wrong = shown = 0
for row in range(ph):
    y = ph - 1 - row
    for x in range(pw):
        i = p[pixels + row * stride + x]
        want = face if i == key else table[i]
        got = screen(wx + 14 + x, wy + 20 + y)
        if got != want:
            wrong += 1
        elif i != key:
            shown += 1
if wrong:
    problems.append(f"{wrong} pixels of the picture differ from the bitmap")
if shown < 155 * 226 // 2:
    problems.append(f"only {shown} pixels of the picture are shown")

if problems:
    print("; ".join(problems))
    sys.exit(1)
PY
}

# The first frames may still be on their way to the server.
rig_wait_until 10 check_screenshot >/dev/null 2>&1 || {
  check_screenshot > "$RIG_LOGS/screenshot.txt" 2>&1
  rig_fail "screenshot check: $(cat "$RIG_LOGS/screenshot.txt")"
}
rig_log "screenshot matches"

rig_log "Return closes the about box"
rig_key "$about" Return
rig_wait_until 15 no_window '^About$' || rig_fail "the about box did not close on Return"
has_window '^Settings$' || rig_fail "the settings dialog closed with the about box"
rig_app_running || rig_fail "the program ended with the about box"

rig_close_window "$(window_named '^Settings$')"
rig_wait_until 15 no_window '^Settings$' || rig_fail "the settings dialog did not close"
rig_close_window "$RIG_MAIN_WIN"
rig_wait_app_exit 15
[ "$RIG_APP_RC" = 0 ] || rig_fail "the program ended with exit code $RIG_APP_RC"
rig_log "PASS"
