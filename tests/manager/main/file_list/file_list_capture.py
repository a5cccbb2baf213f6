#!/usr/bin/env python3
"""Measures the file lists in an X window dump with Pillow.

file_list_capture.py XWD PNG QUERY...
Writes the dump as PNG (the artefact a person looks at), then answers each query, one line each:
    mode NAME X Y W H              -> "mode NAME r g b share" the commonest colour of the rectangle and
                                      its share of the pixels in percent
    near NAME X Y W H R G B TOL    -> "near NAME n" pixels within TOL (per channel) of the colour
    diff NAME X1 Y1 X2 Y2 W H      -> "diff NAME n" pixels that differ between two rectangles of one size
Rectangles are in the dump's coordinates; parts outside it count as no pixels.
"""
import sys
from collections import Counter
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))
from stretch_reference import read_xwd  # noqa: E402

from PIL import Image  # noqa: E402


def pixels(px, size, x, y, w, h):
    for j in range(max(0, y), min(size[1], y + h)):
        for i in range(max(0, x), min(size[0], x + w)):
            yield px[i, j]


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    width, height, pixel = read_xwd(sys.argv[1])
    image = Image.new("RGB", (width, height))
    image.putdata([pixel(i, j) for j in range(height) for i in range(width)])
    image.save(sys.argv[2])
    px, size = image.load(), image.size
    words = sys.argv[3:]
    while words:
        kind, name = words[0], words[1]
        if kind == "mode":
            x, y, w, h = (int(v) for v in words[2:6])
            counts = Counter(pixels(px, size, x, y, w, h))
            total = sum(counts.values())
            if total == 0:
                print("mode", name, -1, -1, -1, 0)
            else:
                colour, n = counts.most_common(1)[0]
                print("mode", name, *colour, n * 100 // total)
            words = words[6:]
        elif kind == "near":
            x, y, w, h, r, g, b, tol = (int(v) for v in words[2:10])
            n = sum(1 for c in pixels(px, size, x, y, w, h)
                    if abs(c[0] - r) <= tol and abs(c[1] - g) <= tol and abs(c[2] - b) <= tol)
            print("near", name, n)
            words = words[10:]
        elif kind == "diff":
            x1, y1, x2, y2, w, h = (int(v) for v in words[2:8])
            a = list(pixels(px, size, x1, y1, w, h))
            b = list(pixels(px, size, x2, y2, w, h))
            print("diff", name, sum(1 for p, q in zip(a, b) if p != q) + abs(len(a) - len(b)))
            words = words[8:]
        else:
            raise SystemExit(f"unknown query {kind}")


if __name__ == "__main__":
    main()
