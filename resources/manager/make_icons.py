#!/usr/bin/env python3
"""Draws the manager's own icons from icons.json with Pillow.

make_icons.py DESCRIPTION SKIN_DESCRIPTION OUTDIR writes into OUTDIR: one icon file per icon of the
description (each holding one 32-bit image with alpha per size, and its mask), manager_icons.rc (one
ICON resource per icon, by the ids of the description, to be included by a program's resource script)
and one PNG per image (<file stem>_<size>.png), the same pixels as the icon's image.

Shapes are laid out on a grid of 16 cells whatever the size, drawn four times larger and reduced, so
straight edges stay on whole pixels and slanted ones are smoothed by the alpha channel. Colours come
from the built-in skin's palette (@name) unless given as r, g, b.
"""
import json
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw

GRID = 16
OVERSAMPLE = 4


class Canvas:
    """A transparent RGBA image addressed in grid cells; a box covers cells x0 <= x < x1, y0 <= y < y1."""

    def __init__(self, size):
        self.cell = size * OVERSAMPLE / GRID
        self.image = Image.new("RGBA", (size * OVERSAMPLE, size * OVERSAMPLE), (0, 0, 0, 0))
        self.draw = ImageDraw.Draw(self.image)
        self.size = size

    def box(self, x0, y0, x1, y1):
        c = self.cell
        return (round(x0 * c), round(y0 * c), round(x1 * c) - 1, round(y1 * c) - 1)

    def points(self, cells):
        # A polygon's fill includes its outline: corners on the right or bottom of the centre step back
        # one pixel, so a shape covers the same pixels as a box of the same cells.
        c = self.cell
        cx = sum(x for x, _ in cells) / len(cells)
        cy = sum(y for _, y in cells) / len(cells)
        return [(round(x * c) - (x > cx), round(y * c) - (y > cy)) for x, y in cells]

    def rect(self, box, colour):
        self.draw.rectangle(self.box(*box), fill=colour)

    def rounded(self, box, radius, colour):
        self.draw.rounded_rectangle(self.box(*box), radius=round(radius * self.cell), fill=colour)

    def polygon(self, cells, colour):
        self.draw.polygon(self.points(cells), fill=colour)

    def result(self):
        return self.image.resize((self.size, self.size), Image.BOX)


def document(canvas, icon, c):
    """A sheet with a folded corner and four lines of text: a neutral mark for any file row."""
    canvas.polygon([(3, 1), (10, 1), (13, 4), (13, 15), (3, 15)], c["outline"])
    canvas.polygon([(4, 2), (9.6, 2), (12, 4.4), (12, 14), (4, 14)], c["paper"])
    canvas.polygon([(9, 1), (13, 5), (9, 5)], c["outline"])
    canvas.polygon([(10, 2.4), (11.6, 4), (10, 4)], c["fold"])
    for y, right in ((6, 9), (8, 11), (10, 11), (12, 10)):
        canvas.rect((5, y, right, y + 1), c["lines"])


def plus_badge(canvas, icon, c):
    """A small plus in the bottom right corner, ringed so it shows on any folder image; the rest is clear."""
    canvas.rounded((7, 7, 16, 16), 2, c["border"])
    canvas.rounded((8, 8, 15, 15), 1.5, c["badge"])
    canvas.rect((9, 11, 14, 12), c["mark"])
    canvas.rect((11, 9, 12, 14), c["mark"])


def expander(canvas, icon, c):
    """A boxed plus (closed) or minus (open); the light box shows on a dark tree as on a light one."""
    canvas.rect((3, 3, 12, 12), c["outline"])
    canvas.rect((4, 4, 11, 11), c["box"])
    canvas.rect((5, 7, 10, 8), c["mark"])
    if not icon.get("open", False):
        canvas.rect((7, 5, 8, 10), c["mark"])


SHAPES = {"document": document, "plus_badge": plus_badge, "expander": expander}


def colours(icon, palette):
    resolved = {}
    for name, value in icon.get("colours", {}).items():
        if isinstance(value, str):
            if not value.startswith("@") or value[1:] not in palette:
                raise SystemExit(f"make_icons.py: icon {icon['id']}: unknown colour {value!r}")
            value = palette[value[1:]]
        if len(value) != 3 or not all(isinstance(v, int) and 0 <= v <= 255 for v in value):
            raise SystemExit(f"make_icons.py: icon {icon['id']}: bad colour {name}={value!r}")
        resolved[name] = tuple(value) + (255,)
    return resolved


def icon_image(image):
    """One image as an icon file holds it: the header (double height), colours bottom-up, the AND mask
    (set where the image is fully clear, for systems that ignore the alpha channel)."""
    size = image.width
    pixels = image.load()
    rows = range(size - 1, -1, -1)
    colour = bytearray()
    mask = bytearray()
    stride = (size + 31) // 32 * 4
    for y in rows:
        bits = bytearray(stride)
        for x in range(size):
            r, g, b, a = pixels[x, y]
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def icon_file(images):
    data = [icon_image(image) for image in images]
    out = struct.pack("<HHH", 0, 1, len(data))
    offset = 6 + 16 * len(data)
    for image, body in zip(images, data):
        side = image.width if image.width < 256 else 0
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    return out + b"".join(data)


def main():
    if len(sys.argv) != 4:
        raise SystemExit("usage: make_icons.py DESCRIPTION SKIN_DESCRIPTION OUTDIR")
    description = json.loads(Path(sys.argv[1]).read_text())
    palette = json.loads(Path(sys.argv[2]).read_text())["palette"]
    out = Path(sys.argv[3])
    out.mkdir(parents=True, exist_ok=True)
    sizes = description["sizes"]
    script = ["// Made by make_icons.py from icons.json; do not edit."]
    for icon in description["icons"]:
        shape = SHAPES.get(icon["shape"])
        if shape is None:
            raise SystemExit(f"make_icons.py: icon {icon['id']}: unknown shape {icon['shape']!r}")
        c = colours(icon, palette)
        images = []
        for size in sizes:
            canvas = Canvas(size)
            shape(canvas, icon, c)
            image = canvas.result()
            image.save(out / f"{Path(icon['file']).stem}_{size}.png")
            images.append(image)
        (out / icon["file"]).write_bytes(icon_file(images))
        script.append(f'{icon["id"]} ICON "{(out / icon["file"]).as_posix()}"')
    (out / "manager_icons.rc").write_text("\n".join(script) + "\n")


if __name__ == "__main__":
    main()
