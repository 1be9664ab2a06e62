#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the about box's picture from resources/corvel_picture.json and writes it as
resources/corvel.dib: a device-independent bitmap without a file header (40-byte info
header, 256-entry colour table, 8 bits per pixel, uncompressed, rows bottom-up).

    scripts/make_corvel_bmp.py [SOURCE.json [OUT.dib]]     writes the picture
    scripts/make_corvel_bmp.py --check [SOURCE.json [OUT.dib]]
                                  fails unless OUT.dib is what SOURCE.json gives

Colour 0 of the table is the transparent colour and fills everything outside the card,
the lower-left pixel included; colours 1..255 are a ramp of shades from white through
pink to a dark magenta, and every element is drawn as a shade on that ramp. Only the
standard library is used, and the same source always gives the same bytes.
"""
import json
import math
import os
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Lcg:
    """The 32-bit recurrence s := s * 134775813 + 1; values in [0, 1)."""

    def __init__(self, seed):
        self.s = seed & 0xFFFFFFFF

    def next(self):
        self.s = (self.s * 134775813 + 1) & 0xFFFFFFFF
        return self.s / 4294967296.0


def ramp_colour(ramp, t):
    t = min(max(t, 0.0), 1.0)
    for (t0, c0), (t1, c1) in zip(ramp, ramp[1:]):
        if t <= t1:
            f = 0.0 if t1 == t0 else (t - t0) / (t1 - t0)
            return tuple(round(a + (b - a) * f) for a, b in zip(c0, c1))
    return tuple(ramp[-1][1])


class Canvas:
    """Shades in [0, 1] per pixel; None is transparent. Row 0 is the top."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[None] * w for _ in range(h)]

    def blend(self, x, y, shade, alpha):
        if not (0 <= x < self.w and 0 <= y < self.h) or alpha <= 0.0:
            return
        old = self.px[y][x]
        if old is None:
            # Nothing is blended with the transparent colour: an edge is in or out.
            if alpha >= 0.5:
                self.px[y][x] = shade
            return
        a = min(alpha, 1.0)
        self.px[y][x] = old + (shade - old) * a


def rounded_rect_coverage(x, y, l, t, r, b, rad):
    """Coverage of pixel (x, y) by the rounded rectangle [l, r] x [t, b] with radius rad."""
    cx = min(max(x + 0.5, l + rad), r - rad)
    cy = min(max(y + 0.5, t + rad), b - rad)
    d = math.hypot(x + 0.5 - cx, y + 0.5 - cy) - rad
    if l + rad <= x + 0.5 <= r - rad or t + rad <= y + 0.5 <= b - rad:
        d = max(l - (x + 0.5), (x + 0.5) - r, t - (y + 0.5), (y + 0.5) - b)
    return min(max(0.5 - d, 0.0), 1.0), d


def draw_card(cv, card):
    l, t, r, b, rad = card["left"], card["top"], card["right"], card["bottom"], card["radius"]
    for y in range(cv.h):
        f = (y - t) / max(b - t, 1)
        shade = card["shade_top"] + (card["shade_bottom"] - card["shade_top"]) * f
        for x in range(cv.w):
            cov, d = rounded_rect_coverage(x, y, l, t, r, b, rad)
            if cov <= 0.0:
                continue
            cv.blend(x, y, shade, cov)
            # A one-pixel rim just inside the edge.
            rim = min(max(1.0 - abs(d + 1.0), 0.0), 1.0)
            cv.blend(x, y, card["edge"], rim * 0.8)


def value_noise(rng, cols, rows):
    return [[rng.next() for _ in range(cols + 2)] for _ in range(rows + 2)]


def sample_noise(grid, x, y):
    ix, iy = int(x), int(y)
    fx, fy = x - ix, y - iy
    fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    a = grid[iy][ix] + (grid[iy][ix + 1] - grid[iy][ix]) * fx
    b = grid[iy + 1][ix] + (grid[iy + 1][ix + 1] - grid[iy + 1][ix]) * fx
    return a + (b - a) * fy


def draw_speckle(cv, rng, sp, card):
    """A cloud of pink noise: octaves of equal weight, fading out downwards."""
    top, bottom = sp["top"], sp["bottom"]
    scales = [32, 16, 8, 4, 2]
    grids = [value_noise(rng, cv.w // s + 1, cv.h // s + 1) for s in scales]
    for y in range(top, bottom):
        fade = 1.0 - (y - top) / (bottom - top)
        for x in range(cv.w):
            if cv.px[y][x] is None:
                continue
            cov, d = rounded_rect_coverage(x, y, card["left"], card["top"], card["right"],
                                           card["bottom"], card["radius"])
            if d > -3.0:
                continue
            v = sum(sample_noise(g, x / s, y / s) for g, s in zip(grids, scales)) / len(scales)
            v = (v - 0.42) * 3.0
            if v > 0:
                cv.blend(x, y, sp["shade"], min(v, 1.0) * fade * (0.4 + sp["density"] * 2))


def pink_sequence(rng, n, rows=8):
    """Voss-McCartney pink noise: rows of held random values, row k changing every 2^k."""
    held = [rng.next() - 0.5 for _ in range(rows)]
    out = []
    for i in range(n):
        for k in range(rows):
            if i % (1 << k) == 0:
                held[k] = rng.next() - 0.5
        out.append(sum(held) + (rng.next() - 0.5))
    peak = max(abs(v) for v in out) or 1.0
    return [v / peak for v in out]


def seg_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy
    f = 0.0 if ll == 0 else min(max(((px - ax) * dx + (py - ay) * dy) / ll, 0.0), 1.0)
    return math.hypot(px - (ax + f * dx), py - (ay + f * dy))


def draw_trace(cv, rng, tr, card):
    x0, x1 = card["left"] + 6, card["right"] - 6
    values = pink_sequence(rng, x1 - x0 + 1)
    pts = [(x0 + i + 0.5, tr["centre"] + 0.5 - v * tr["amplitude"]) for i, v in enumerate(values)]
    half = tr["width"] / 2.0
    for x in range(x0 - 2, x1 + 3):
        lo = max(0, x - x0 - 2)
        hi = min(len(pts) - 1, x - x0 + 2)
        if hi <= lo:
            continue
        ys = [p[1] for p in pts[lo:hi + 1]]
        for y in range(int(min(ys)) - 2, int(max(ys)) + 3):
            d = min(seg_distance(x + 0.5, y + 0.5, *pts[i], *pts[i + 1]) for i in range(lo, hi))
            cov = min(max(half + 0.5 - d, 0.0), 1.0)
            if cv.px[y][x] is not None:
                cv.blend(x, y, tr["shade"], cov)


def draw_bars(cv, rng, bars):
    """Equal energy in every octave: the octave bands of pink noise stand equally high."""
    n = bars["count"]
    span = (bars["right"] - bars["left"] + bars["gap"]) / n
    for i in range(n):
        left = round(bars["left"] + i * span)
        right = round(bars["left"] + (i + 1) * span) - bars["gap"]
        h = bars["height"] * (1.0 + bars["jitter"] * (rng.next() * 2 - 1))
        top = bars["base"] - h
        for y in range(int(top), bars["base"]):
            f = (y - top) / h
            shade = bars["shade_top"] + (bars["shade_bottom"] - bars["shade_top"]) * f
            cov = min(max(y + 1 - top, 0.0), 1.0)
            for x in range(left, right):
                cv.blend(x, y, shade, cov)


def draw_picture(src):
    w, h = src["width"], src["height"]
    cv = Canvas(w, h)
    rng = Lcg(src["seed"])
    card = src["card"]
    draw_card(cv, card)
    draw_speckle(cv, rng, src["speckle"], card)
    for tr in src["traces"]:
        draw_trace(cv, rng, tr, card)
    draw_bars(cv, rng, src["bars"])
    base = src["baseline"]
    for x in range(card["left"] + 6, card["right"] - 6):
        cv.blend(x, base["y"], base["shade"], 1.0)
    return cv


def encode_dib(cv, src):
    ramp = src["ramp"]
    table = [tuple(src["transparent"])] + [ramp_colour(ramp, i / 254.0) for i in range(255)]
    stride = (cv.w + 3) & ~3
    rows = []
    for y in range(cv.h - 1, -1, -1):  # bottom-up
        row = bytearray(stride)
        for x in range(cv.w):
            s = cv.px[y][x]
            row[x] = 0 if s is None else 1 + round(min(max(s, 0.0), 1.0) * 254)
        rows.append(bytes(row))
    header = struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 8, 0, stride * cv.h,
                         3780, 3780, 256, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in table)
    return header + colours + b"".join(rows)


def main(argv):
    check = "--check" in argv
    args = [a for a in argv if a != "--check"]
    source = args[0] if args else os.path.join(ROOT, "resources", "corvel_picture.json")
    out = args[1] if len(args) > 1 else os.path.join(ROOT, "resources", "corvel.dib")
    with open(source, encoding="utf-8") as f:
        src = json.load(f)
    data = encode_dib(draw_picture(src), src)
    if check:
        try:
            with open(out, "rb") as f:
                same = f.read() == data
        except OSError as e:
            print(f"make_corvel_bmp: cannot read {out}: {e}", file=sys.stderr)
            return 1
        if not same:
            print(f"make_corvel_bmp: {out} is not what {source} gives; run the script",
                  file=sys.stderr)
            return 1
        return 0
    tmp = out + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
