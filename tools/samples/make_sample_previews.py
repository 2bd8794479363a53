#!/usr/bin/python3
"""Writes the preview pictures of the sample loader folder: palette PNGs of
512 x 128 (8-bit and 4-bit, as modders make them), each a ball on a
transparent background. Deterministic; run it again after changing it:

    /usr/bin/python3 tools/samples/make_sample_previews.py examples/loader/GDB/balls
"""
import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 512, 128


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, depth, palette, alphas, pixel):
    rows = []
    for y in range(HEIGHT):
        indices = [pixel(x, y) for x in range(WIDTH)]
        if depth == 8:
            rows.append(b"\x00" + bytes(indices))
        else:  # 4 bits: two pixels a byte, the left one in the high nibble
            packed = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, WIDTH, 2))
            rows.append(b"\x00" + packed)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, depth, 3, 0, 0, 0))
    png += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    png += chunk(b"tRNS", bytes(alphas))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


def shade(base, level):
    """`base` colour lit to `level` (0..1)."""
    return tuple(min(255, int(c * (0.35 + 0.65 * level) + 60 * level * level)) for c in base)


def ball(cx, cy, radius, x, y):
    """Lighting level 0..1 inside the ball, or None outside it."""
    dx, dy = (x - cx) / radius, (y - cy) / radius
    d = dx * dx + dy * dy
    if d > 1.0:
        return None
    nz = math.sqrt(1.0 - d)
    light = max(0.0, -0.45 * dx - 0.55 * dy + 0.7 * nz)
    return min(1.0, light)


def panels(x, y, cx, cy, count):
    """Which of `count` panels around the centre the point lies in."""
    angle = math.atan2(y - cy, x - cx) + math.pi
    return int(angle / (2 * math.pi) * count) % count


def make(path, depth, colours, count_panels, stripes=False):
    levels = (256 if depth == 8 else 16) - 1  # entry 0 is transparent
    per_colour = levels // len(colours)
    palette = [(0, 0, 0)]
    for base in colours:
        for i in range(per_colour):
            palette.append(shade(base, i / max(1, per_colour - 1)))
    entries = len(palette)
    alphas = [0] + [255] * (entries - 1)
    cx, cy, radius = WIDTH // 2, HEIGHT // 2, HEIGHT // 2 - 6

    def pixel(x, y):
        level = ball(cx, cy, radius, x, y)
        if level is None:
            return 0
        which = panels(x, y, cx, cy, count_panels)
        if stripes:
            which = (y // 12) % len(colours)
        colour = which % len(colours)
        return 1 + colour * per_colour + int(level * (per_colour - 1))

    write_png(path, depth, palette, alphas, pixel)


def make_random(path):
    palette = [(0, 0, 0)] + [shade((90 + i * 30 % 160, 60 + i * 50 % 190, 200 - i * 20 % 150), 0.9) for i in range(8)]
    alphas = [0] + [255] * 8
    cx, cy, radius = WIDTH // 2, HEIGHT // 2, HEIGHT // 2 - 6

    def pixel(x, y):
        if ball(cx, cy, radius, x, y) is None:
            return 0
        ring = int(math.hypot(x - cx, y - cy) / (radius / 4))
        return 1 + (ring + panels(x, y, cx, cy, 8)) % 8

    write_png(path, 8, palette, alphas, pixel)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    balls = sys.argv[1]
    make(os.path.join(balls, "Classic", "preview.png"), 8, [(235, 235, 230), (30, 30, 35)], 10)
    make(os.path.join(balls, "Winter Orange", "preview.png"), 4, [(250, 120, 20), (250, 250, 245)], 6)
    make(os.path.join(balls, "Final 2026", "preview.png"), 8, [(200, 160, 40), (20, 40, 120), (230, 230, 230)], 3,
         stripes=True)
    make_random(os.path.join(balls, "ball_random.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
