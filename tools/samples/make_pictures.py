#!/usr/bin/env python3
"""Writes sample photographs of our own: JPEG pictures of synthetic landscapes (sky, sun, hills,
water), each different, encoded with cjpeg from Debian's libjpeg-turbo-progs.

    make_pictures.py FOLDER [COUNT] [WIDTH HEIGHT]      defaults: 6 pictures, 1280 x 960
"""
import math
import os
import random
import subprocess
import sys


def landscape(width, height, seed):
    rnd = random.Random(seed)
    sky_top = [rnd.randint(20, 90), rnd.randint(60, 140), rnd.randint(150, 235)]
    sky_low = [min(255, c + rnd.randint(60, 110)) for c in sky_top]
    sun_x, sun_y, sun_r = rnd.uniform(0.15, 0.85) * width, rnd.uniform(0.1, 0.35) * height, height * 0.06
    hill_colours = [[rnd.randint(20, 90), rnd.randint(90, 170), rnd.randint(20, 80)] for _ in range(3)]
    # Each hill's ridge per column, the nearer hills lower on the picture.
    ridges = []
    for i in range(3):
        base, freq, phase = rnd.uniform(0.45, 0.6) * height + i * 0.06 * height, rnd.uniform(2, 6) / width, rnd.uniform(0, 6.3)
        ridges.append([base + math.sin(x * freq + phase) * 0.06 * height for x in range(width)])
    water = rnd.uniform(0.8, 0.9) * height
    rows = []
    for y in range(height):
        t = y / height
        shade = 1.0 - 0.45 * t
        palette = [bytes(int(a + (b - a) * t) for a, b in zip(sky_top, sky_low))]
        palette += [bytes(int(c * shade) for c in colour) for colour in hill_colours]
        if y > water:
            ripple = 12 * math.sin(y * 0.9)
            row = bytes(max(0, min(255, int(c + ripple))) for c in (30, 70, 130)) * width
        else:
            layers = [0] * width
            for i, ridge in enumerate(ridges):
                for x in range(width):
                    if y > ridge[x]:
                        layers[x] = i + 1
            row = b"".join(palette[layer] for layer in layers)
            half = (sun_r ** 2 - (y - sun_y) ** 2)
            if half > 0:
                left, right = max(0, int(sun_x - half ** 0.5)), min(width, int(sun_x + half ** 0.5))
                row = row[:left * 3] + b"\xff\xee\x99" * (right - left) + row[right * 3:]
        # Grain, as a camera sensor has, so that every picture compresses to a realistic size.
        row = bytearray(row)
        noise = rnd.randbytes(len(row[0::7]))
        row[0::7] = bytes(v + n % 25 - 12 if 12 <= v <= 243 else v for v, n in zip(row[0::7], noise))
        rows.append(bytes(row))
    return b"P6 %d %d 255\n" % (width, height) + b"".join(rows)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    width, height = (int(sys.argv[3]), int(sys.argv[4])) if len(sys.argv) > 4 else (1280, 960)
    os.makedirs(folder, exist_ok=True)
    for n in range(1, count + 1):
        path = os.path.join(folder, "landscape-%02d.jpg" % n)
        with open(path, "wb") as out:
            subprocess.run(["cjpeg", "-quality", "92"], input=landscape(width, height, n), stdout=out, check=True)
        print(path)


if __name__ == "__main__":
    main()
