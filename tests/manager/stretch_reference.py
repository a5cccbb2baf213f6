#!/usr/bin/env python3
"""Computes with Pillow what a frame image stretched on its grid lines looks like, by the cell rules.

stretch_reference.py pattern OUT.bmp W H
    writes a W x H test image in which every pixel differs from its neighbours (24-bit BMP).
stretch_reference.py stretch SRC OUT.rgb W H VERTICAL HORIZONTAL
    writes the RGB bytes (top row first) of SRC stretched to W x H. VERTICAL and HORIZONTAL list the
    lines as "image:current" positions separated by ","; "-" for none.
xwd_probe XWD OUT.png X Y [X Y ...]
    prints "r g b" of each pixel of an X window dump (ZPixmap, 24 or 32 bits a pixel) and writes it as a
    PNG beside it.

Cells lie between 0, the lines and the size, in the image (source) and in the target; they are copied in
row order. A target cell wider than its source repeats the source cell's last column (over the whole
height when the image is as tall as the target, else row by row); then a target cell taller than its
source repeats its own last row as it now stands (over the whole width when the image is as wide as the
target, else cell by cell). The target starts black.
"""
import struct
import sys

from PIL import Image


def lines(text):
    if text == "-":
        return []
    return [tuple(int(v) for v in part.split(":")) for part in text.split(",")]


def edges(positions, size):
    return [0] + positions + [size]


def stretch(src, width, height, vertical, horizontal):
    iw, ih = src.size
    sx = edges([v[0] for v in vertical], iw)
    tx = edges([v[1] for v in vertical], width)
    sy = edges([h[0] for h in horizontal], ih)
    ty = edges([h[1] for h in horizontal], height)
    cols, rows = len(vertical) + 1, len(horizontal) + 1
    cells = []
    for r in range(rows):
        for c in range(cols):
            cells.append((sx[c], sy[r], sx[c + 1] - sx[c], sy[r + 1] - sy[r],
                          tx[c], ty[r], tx[c + 1] - tx[c], ty[r + 1] - ty[r]))
    out = Image.new("RGB", (width, height), (0, 0, 0))

    def copy(source, x, y, w, h, dx, dy):
        # BitBlt: the part of the source rectangle inside the source lands at its place in the target.
        left, top = max(x, 0), max(y, 0)
        right, bottom = min(x + w, source.size[0]), min(y + h, source.size[1])
        if right > left and bottom > top:
            out.paste(source.crop((left, top, right, bottom)), (dx + left - x, dy + top - y))

    for (csx, csy, csw, csh, ctx, cty, ctw, cth) in cells:
        if csw > 0 and csh > 0:
            copy(src, csx, csy, csw, csh, ctx, cty)
    same_height = ih == height
    for (csx, csy, csw, csh, ctx, cty, ctw, cth) in (cells[:cols] if same_height else cells):
        if csw <= 0 or ctw <= csw:
            continue
        for x in range(ctx + csw, ctx + ctw):
            if same_height:
                copy(src, csx + csw - 1, 0, 1, ih, x, 0)
            else:
                copy(src, csx + csw - 1, csy, 1, csh, x, cty)
    same_width = iw == width
    for (csx, csy, csw, csh, ctx, cty, ctw, cth) in (cells[::cols] if same_width else cells):
        if csh <= 0 or cth <= csh:
            continue
        left, w = (0, iw) if same_width else (ctx, ctw)
        for y in range(cty + csh, cty + cth):
            copy(out.copy(), left, cty + csh - 1, w, 1, left, y)
    return out


def pattern(width, height):
    image = Image.new("RGB", (width, height))
    image.putdata([((x * 7) % 256, (y * 11) % 256, (x * 3 + y * 5) % 256)
                   for y in range(height) for x in range(width)])
    return image


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, _, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, ncolors = fields[14:17], fields[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise SystemExit(f"unsupported dump: format {pixmap_format}, {bits_per_pixel} bits a pixel")
    offset = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    order = "<" if byte_order == 0 else ">"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    def pixel(x, y):
        at = offset + y * bytes_per_line + x * step
        raw = data[at:at + step] + (b"\0" if step == 3 else b"")
        value = struct.unpack(order + "I", raw if order == "<" else raw.rjust(4, b"\0"))[0]
        return tuple((value & m) >> shift(m) for m in masks)

    return width, height, pixel


def main():
    mode = sys.argv[1]
    if mode == "pattern":
        pattern(int(sys.argv[3]), int(sys.argv[4])).save(sys.argv[2], format="BMP")
    elif mode == "stretch":
        src = Image.open(sys.argv[2]).convert("RGB")
        out = stretch(src, int(sys.argv[4]), int(sys.argv[5]), lines(sys.argv[6]), lines(sys.argv[7]))
        open(sys.argv[3], "wb").write(out.tobytes())
    elif mode == "xwd_probe":
        width, height, pixel = read_xwd(sys.argv[2])
        image = Image.new("RGB", (width, height))
        image.putdata([pixel(x, y) for y in range(height) for x in range(width)])
        image.save(sys.argv[3])
        points = [int(v) for v in sys.argv[4:]]
        for x, y in zip(points[::2], points[1::2]):
            print(*(pixel(x, y) if 0 <= x < width and 0 <= y < height else (-1, -1, -1)))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
