#!/usr/bin/env python3
"""Measures a progress bar or a track bar in an X window dump with Pillow.

bars_capture.py progress XWD PNG X Y W H MARGIN
    the progress bar whose client area lies at X, Y (W x H) in the dump; MARGIN is its inner margin.
    Prints, one per line: "background r g b" (the pixel just inside the frame, left of the bar),
    "outline r g b" for each colour of the one-pixel ring around the client area, "bar_length N" (the
    bar's pixels along the middle row from the inner left edge up to the background), "bar_first r g b",
    "bar_last r g b", "bar_colours N" (distinct colours over the whole bar rectangle) and
    "bar_monotonic 0|1" (each channel moves one way only from the first column to the last).
bars_capture.py track XWD PNG X Y W H TL TT TR TB CL CT CR CB THUMB CHANNEL
    the track bar whose client area lies at X, Y (W x H); the thumb and channel rectangles in client
    coordinates; THUMB and CHANNEL as rrggbb. Prints "thumb_in N AREA" (thumb-coloured pixels inside
    the thumb rectangle, and its area), "thumb_out N" (outside it), "channel_in N AREA" (channel-coloured
    pixels inside the channel rectangle but not under the thumb, and that area), "channel_out N".

Both write the dump as PNG (the artefact a person looks at) and the control's area, four times
enlarged, beside it with "_control" added to the name.
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from stretch_reference import read_xwd  # noqa: E402

from PIL import Image  # noqa: E402


def load(xwd, png, x, y, w, h):
    width, height, pixel = read_xwd(xwd)
    image = Image.new("RGB", (width, height))
    image.putdata([pixel(i, j) for j in range(height) for i in range(width)])
    image.save(png)
    control = image.crop((x, y, x + w, y + h))
    control.resize((w * 4, h * 4), Image.NEAREST).save(png[:-4] + "_control.png")
    return control


def rgb(text):
    value = int(text, 16)
    return ((value >> 16) & 255, (value >> 8) & 255, value & 255)


def progress(control, margin):
    w, h = control.size
    px = control.load()
    middle = h // 2
    background = px[margin - 1, middle] if margin > 0 else None
    ring = {px[i, 0] for i in range(w)} | {px[i, h - 1] for i in range(w)}
    ring |= {px[0, j] for j in range(h)} | {px[w - 1, j] for j in range(h)}
    if background is not None:
        print("background", *background)
    for colour in sorted(ring):
        print("outline", *colour)
    length = 0
    while margin + length < w - margin and px[margin + length, middle] != background:
        length += 1
    print("bar_length", length)
    if length == 0:
        return
    first, last = px[margin, middle], px[margin + length - 1, middle]
    print("bar_first", *first)
    print("bar_last", *last)
    colours = {px[i, j] for i in range(margin, margin + length) for j in range(margin, h - margin)}
    print("bar_colours", len(colours))
    row = [px[margin + i, middle] for i in range(length)]
    monotonic = all(
        all(a[c] <= b[c] for a, b in zip(row, row[1:])) or all(a[c] >= b[c] for a, b in zip(row, row[1:]))
        for c in range(3))
    print("bar_monotonic", int(monotonic))


def track(control, thumb, channel, thumb_colour, channel_colour):
    w, h = control.size
    px = control.load()

    def inside(rect, i, j):
        return rect[0] <= i < rect[2] and rect[1] <= j < rect[3]

    counts = {"thumb_in": 0, "thumb_out": 0, "channel_in": 0, "channel_out": 0}
    channel_area = 0
    for j in range(h):
        for i in range(w):
            colour = px[i, j]
            in_thumb, in_channel = inside(thumb, i, j), inside(channel, i, j)
            if in_channel and not in_thumb:
                channel_area += 1
            if colour == thumb_colour:
                counts["thumb_in" if in_thumb else "thumb_out"] += 1
            if colour == channel_colour:
                counts["channel_in" if in_channel and not in_thumb else "channel_out"] += 1
    thumb_area = max(0, min(thumb[2], w) - max(thumb[0], 0)) * max(0, min(thumb[3], h) - max(thumb[1], 0))
    print("thumb_in", counts["thumb_in"], thumb_area)
    print("thumb_out", counts["thumb_out"])
    print("channel_in", counts["channel_in"], channel_area)
    print("channel_out", counts["channel_out"])


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    if mode == "progress" and len(sys.argv) == 9:
        x, y, w, h, margin = (int(v) for v in sys.argv[4:9])
        progress(load(sys.argv[2], sys.argv[3], x, y, w, h), margin)
    elif mode == "track" and len(sys.argv) == 18:
        x, y, w, h = (int(v) for v in sys.argv[4:8])
        numbers = [int(v) for v in sys.argv[8:16]]
        track(load(sys.argv[2], sys.argv[3], x, y, w, h), numbers[:4], numbers[4:], rgb(sys.argv[16]),
              rgb(sys.argv[17]))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
