#!/usr/bin/python3
"""Draws the program's pictures into resources/images/.

    /usr/bin/python3 resources/make_pictures.py

background.png      1280 x 800, the main window's background
program_icon.png    128 x 128, the program and its about box
test_window_icon.png 128 x 128, the test window
"""
import math
import os
import random

from PIL import Image, ImageDraw, ImageFilter

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "images")


def lerp(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def background():
    w, h = 1280, 800
    top, bottom = (232, 239, 246), (176, 197, 218)
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):
        row = lerp(top, bottom, y / (h - 1))
        for x in range(w):
            # A faint light from the upper left.
            glow = max(0.0, 1.0 - math.hypot(x / w, y / h) * 1.2) * 14
            px[x, y] = tuple(min(255, round(c + glow)) for c in row)

    layer = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    # Chart paper: fine lines every 20 px, stronger every 100 px.
    for x in range(0, w, 20):
        d.line([(x, 0), (x, h)], fill=(60, 90, 130, 28 if x % 100 else 48))
    for y in range(0, h, 20):
        d.line([(0, y), (w, y)], fill=(60, 90, 130, 28 if y % 100 else 48))

    # Six slowly rising current traces, one per channel.
    for k in range(6):
        base = 610 - k * 34
        points = []
        for x in range(0, w + 1, 8):
            t = x / w
            y = base - 120 * (1 - math.exp(-2.2 * t)) - 40 * t + 6 * math.sin(t * 9 + k)
            points.append((x, y))
        shade = lerp((40, 90, 160), (20, 140, 150), k / 5)
        d.line(points, fill=shade + (110,), width=3, joint="curve")

    # A row of specimen cylinders along the bottom edge.
    for i in range(9):
        cx, cy = 90 + i * 140, 738
        d.rectangle([cx - 42, cy - 36, cx + 42, cy + 36], fill=(150, 158, 166, 70))
        d.ellipse([cx - 42, cy - 50, cx + 42, cy - 22], fill=(185, 192, 199, 90))
        d.ellipse([cx - 42, cy + 22, cx + 42, cy + 50], fill=(150, 158, 166, 70))

    layer = layer.filter(ImageFilter.GaussianBlur(0.6))
    img = Image.alpha_composite(img.convert("RGBA"), layer).convert("RGB")
    img.save(os.path.join(HERE, "background.png"), optimize=True)


def rounded_square(size, fill, outline):
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle([4, 4, size - 5, size - 5], radius=22, fill=fill, outline=outline, width=3)
    return img, d


def program_icon():
    img, d = rounded_square(128, (28, 64, 112, 255), (12, 36, 70, 255))
    # A concrete specimen: a grey cylinder with aggregate specks.
    d.rectangle([30, 44, 98, 96], fill=(168, 170, 172, 255))
    d.ellipse([30, 84, 98, 108], fill=(150, 152, 154, 255))
    d.rectangle([30, 44, 98, 96], fill=(168, 170, 172, 255))
    d.ellipse([30, 32, 98, 56], fill=(205, 207, 209, 255), outline=(120, 122, 124, 255))
    rnd = random.Random(7)
    for _ in range(70):
        x, y = rnd.uniform(34, 94), rnd.uniform(58, 100)
        r = rnd.uniform(1, 2.6)
        g = rnd.randint(110, 140)
        d.ellipse([x - r, y - r, x + r, y + r], fill=(g, g, g - 6, 255))
    # The current passing through it.
    bolt = [(72, 10), (50, 62), (66, 62), (54, 118), (84, 54), (67, 54), (80, 10)]
    d.polygon(bolt, fill=(255, 204, 40, 255), outline=(170, 110, 0, 255))
    img.save(os.path.join(HERE, "program_icon.png"), optimize=True)


def test_window_icon():
    img, d = rounded_square(128, (250, 252, 255, 255), (40, 80, 130, 255))
    for v in range(24, 110, 16):
        d.line([(v, 20), (v, 106)], fill=(200, 212, 228, 255), width=1)
        d.line([(20, v), (106, v)], fill=(200, 212, 228, 255), width=1)
    d.line([(20, 106), (106, 106)], fill=(40, 60, 90, 255), width=3)
    d.line([(20, 20), (20, 106)], fill=(40, 60, 90, 255), width=3)
    points = [(20 + x, 96 - 62 * (1 - math.exp(-x / 30))) for x in range(0, 87, 3)]
    d.line(points, fill=(200, 40, 40, 255), width=5, joint="curve")
    img.save(os.path.join(HERE, "test_window_icon.png"), optimize=True)


if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    background()
    program_icon()
    test_window_icon()
