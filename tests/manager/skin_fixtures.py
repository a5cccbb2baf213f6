#!/usr/bin/env python3
"""Writes the skin-image fixtures and what an independent reading of them gives.

skin_fixtures.py OUTDIR [IMAGE ...] writes test images into OUTDIR and, for each of them and for every
IMAGE given, NAME.rgb (Pillow's decoding as raw RGB, top row first) and NAME.runs (one "left top right
bottom" line per horizontal run of pixels that differ from the top-left pixel, the top row first and
each row from its right end to its left end).
"""
import sys
from pathlib import Path

from PIL import Image, ImageDraw

KEY = (255, 0, 255)


def runs(image):
    rgb = image.convert("RGB")
    w, h = rgb.size
    px = rgb.load()
    key = px[0, 0]
    out = []
    for y in range(h):
        right = None
        for x in range(w - 1, -1, -1):
            if px[x, y] != key:
                if right is None:
                    right = x + 1
                left = x
            elif right is not None:
                out.append((left, y, right, y + 1))
                right = None
        if right is not None:
            out.append((left, y, right, y + 1))
    return out


def describe(path, out, name):
    with Image.open(path) as image:
        rgb = image.convert("RGB")
        (out / f"{name}.rgb").write_bytes(rgb.tobytes())
        (out / f"{name}.runs").write_text("".join(f"{l} {t} {r} {b}\n" for l, t, r, b in runs(rgb)))
        (out / f"{name}.size").write_text(f"{rgb.width} {rgb.height}\n")


def shape(w, h):
    image = Image.new("RGB", (w, h), KEY)
    d = ImageDraw.Draw(image)
    d.ellipse((1, 1, w - 2, h - 2), fill=(30, 90, 200), outline=(250, 250, 250))
    d.rectangle((w // 3, h // 3, w // 2, h // 2), fill=KEY)  # a hole: rows of two runs
    d.line((0, h - 1, w - 1, h - 1), fill=(0, 200, 0))
    for x in range(0, w, 4):
        d.point((x, h // 2), fill=(255, 255, 0))
    return image


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    made = {}
    image = shape(37, 23)
    image.save(out / "shape24.bmp", format="BMP")
    made["shape24"] = out / "shape24.bmp"
    image.quantize(colors=16).save(out / "shape8.gif", format="GIF")
    made["shape8"] = out / "shape8.gif"
    example = Image.new("RGB", (3, 2), (10, 20, 30))
    example.putpixel((0, 0), KEY)
    example.save(out / "example.bmp", format="BMP")
    made["example"] = out / "example.bmp"
    Image.new("RGB", (6, 4), KEY).save(out / "allkey.bmp", format="BMP")
    made["allkey"] = out / "allkey.bmp"
    for name, path in made.items():
        describe(path, out, name)
    for extra in sys.argv[2:]:
        describe(extra, out, Path(extra).stem)


if __name__ == "__main__":
    main()
