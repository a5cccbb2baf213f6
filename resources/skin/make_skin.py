#!/usr/bin/env python3
"""Draws the built-in skin's images from skin.json with Pillow.

make_skin.py DESCRIPTION OUTDIR [BASE_INI] writes into OUTDIR: the images (24-bit BMP), skin_images.rc
(one IMG resource per image, by the ids of the description) and skin_images.ini (the skin keys that name
them, one section per window element). With BASE_INI it also writes skin_resource.ini, the built-in
skin's INI as the program carries it: BASE_INI with the image keys put into their sections (a key of the
description replaces the base's key of the same name; a section the base lacks is appended). Frames are drawn so that their stretch lines repeat plain pixel rows
and columns, and their outline is cut by the key colour (the top-left pixel).
"""
import json
import sys
from pathlib import Path

from PIL import Image, ImageDraw, ImageFont

STATES = ("normal", "hover", "pressed", "disabled")


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def draw_frame(spec, c):
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    r = spec["corner"]
    caption, footer = spec["caption"], spec["footer"]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=r, fill=c["edge"])
    d.rounded_rectangle((1, 1, w - 2, h - 2), radius=r - 1, fill=c["face"])
    # Caption: a vertical gradient, plain along x so the width can stretch.
    for y in range(1, caption):
        row = mix(c["caption"], c["caption_low"], y / max(caption - 1, 1))
        d.line((1, y, w - 2, y), fill=row)
    # Round the caption's top corners again over the gradient.
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, w - 1, h - 1), radius=r, fill=255)
    image.paste(Image.new("RGB", (w, h), c["key"]), (0, 0), Image.eval(mask, lambda v: 255 - v))
    d = ImageDraw.Draw(image)
    d.line((0, caption - 2, w - 1, caption - 2), fill=c["accent"])
    d.line((0, caption - 1, w - 1, caption - 1), fill=c["accent"])
    font = ImageFont.load_default()
    d.text((r + 8, max((caption - 11) // 2 - 1, 2)), spec["title"], fill=c["title"], font=font)
    # Footer band (the status line), below the last stretch row.
    if footer < h:
        d.rectangle((1, footer, w - 2, h - 2), fill=c["status"])
        d.line((1, footer, w - 2, footer), fill=c["rule"])
    # The outer edge drawn last, so every border pixel is the edge colour.
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=r, outline=c["edge"])
    gw, gh = spec["grip"]
    if gw and gh:
        # Three diagonal ridges in the bottom-right corner, inside the rounding.
        x0, y0 = w - 3, h - 3
        for k in (4, 8, 12):
            if k < min(gw, gh):
                d.line((x0 - k, y0, x0, y0 - k), fill=c["grip"])
                d.line((x0 - k + 1, y0, x0, y0 - k + 1), fill=c["panel"])
    return image


def draw_symbol(d, symbol, box, colour):
    x0, y0, x1, y1 = box
    cx, cy = (x0 + x1) // 2, (y0 + y1) // 2
    if symbol == "arrow_right":
        d.rectangle((x0 + 4, cy - 2, cx, cy + 2), fill=colour)
        d.polygon([(cx, cy - 7), (x1 - 4, cy), (cx, cy + 7)], fill=colour)
    else:
        d.rectangle((cx, cy - 2, x1 - 4, cy + 2), fill=colour)
        d.polygon([(cx, cy - 7), (x0 + 4, cy), (cx, cy + 7)], fill=colour)


def draw_button(spec, c, state):
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    fill = {"normal": c["panel"], "hover": mix(c["panel"], c["accent"], 0.18),
            "pressed": mix(c["panel"], c["accent"], 0.35), "disabled": c["face"]}[state]
    outline = c["accent"] if state in ("hover", "pressed") else c["rule"]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=6, fill=fill, outline=outline)
    shift = 1 if state == "pressed" else 0
    colour = c["rule"] if state == "disabled" else c["caption"]
    draw_symbol(d, spec["symbol"], (8 + shift, 4 + shift, w - 8 + shift, h - 4 + shift), colour)
    return image


def merge_ini(base_text, sections):
    """Puts {section: {key: value}} into the INI text; comments and the order of the base stay."""
    out, pending, current = [], {name: dict(keys) for name, keys in sections.items()}, None

    def flush():
        for key, value in pending.pop(current, {}).items():
            out.append(f"{key}={value}")

    for line in base_text.splitlines():
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            if current is not None:
                while out and not out[-1].strip():
                    out.pop()
                flush()
                out.append("")
            current = stripped[1:-1]
            out.append(line)
            continue
        key = stripped.split("=", 1)[0].strip() if "=" in stripped and not stripped.startswith(";") else None
        if current in pending and key in pending[current]:
            out.append(f"{key}={pending[current].pop(key)}")
            continue
        out.append(line)
    if current is not None:
        while out and not out[-1].strip():
            out.pop()
        flush()
    for name, keys in pending.items():
        out.append("")
        out.append(f"[{name}]")
        out.extend(f"{key}={value}" for key, value in keys.items())
    return "\r\n".join(out) + "\r\n"


def main():
    description = json.loads(Path(sys.argv[1]).read_text())
    out = Path(sys.argv[2])
    out.mkdir(parents=True, exist_ok=True)
    c = {k: tuple(v) for k, v in description["colours"].items()}
    rc = ["// Made by make_skin.py from skin.json; do not edit.\n"]
    ini = ["; Made by make_skin.py from skin.json: the keys of the built-in skin that name its images.\n"]
    for spec in description["images"]:
        if spec["kind"] == "frame":
            drawn = [(spec["id"], spec["file"], draw_frame(spec, c))]
        else:
            drawn = [(spec["id"] + i, spec["file"] % i, draw_button(spec, c, state)) for i, state in enumerate(STATES)]
        for rid, name, image in drawn:
            image.save(out / name, format="BMP")
            rc.append(f'{rid} IMG "{(out / name).as_posix()}"\n')
        ini.append(f"\n[{spec['section']}]\n")
        for key, value in spec["keys"].items():
            ini.append(f"{key}={value}\n")
    (out / "skin_images.rc").write_text("".join(rc))
    (out / "skin_images.ini").write_text("".join(ini))
    if len(sys.argv) > 3:
        sections = {spec["section"]: spec["keys"] for spec in description["images"]}
        merged = merge_ini(Path(sys.argv[3]).read_text(), sections)
        (out / "skin_resource.ini").write_bytes(merged.encode("ascii"))


if __name__ == "__main__":
    main()
