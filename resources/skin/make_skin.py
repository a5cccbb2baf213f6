#!/usr/bin/env python3
"""Draws the built-in skin from skin.json with Pillow.

make_skin.py DESCRIPTION OUTDIR [BASE_INI] writes into OUTDIR: the images (24-bit BMP), skin_images.rc
(one IMG resource per image, by the ids of the description) and skin_images.ini (the skin keys that name
them, one section per window element). With BASE_INI it also writes skin_resource.ini, the built-in
skin's INI as the program carries it: BASE_INI with its colour values taken from the palette (@name
stands for the palette entry "name") and the image keys put into their sections (a key of the
description replaces the base's key of the same name; a section the base lacks is appended).

Every colour of the images and the INI comes from the description's one palette. Frames are drawn so
that their stretch lines repeat plain pixel rows and columns, and their outline is cut by the key colour
(the top-left pixel); text is drawn in the description's TrueType font. Indicator lamps get an off and a
lit image, track bars four state images of their shape and four of their thumb, toggle buttons eight
(unchecked and checked), and the player panel one plate.
"""
import json
import re
import sys
from pathlib import Path

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

STATES = ("normal", "hover", "pressed", "disabled")
PALETTE_REF = re.compile(r"@([a-z_]+)")


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def cut_outline(image, radius, top_radius, key):
    """Puts the key colour outside a rounded outline: everything drawn so far is cut by it."""
    w, h = image.size
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, w - 1, h - 1), radius=radius, fill=255)
    if top_radius != radius:
        # The top corners get their own rounding (a frame under a menu bar keeps them nearly square).
        top = Image.new("L", (w, radius + 1), 0)
        ImageDraw.Draw(top).rounded_rectangle((0, 0, w - 1, 2 * radius), radius=max(top_radius, 1), fill=255)
        mask.paste(top, (0, 0))
        mask.putpixel((0, 0), 0)
        mask.putpixel((w - 1, 0), 0)
    image.paste(Image.new("RGB", (w, h), key), (0, 0), Image.eval(mask, lambda v: 255 - v))
    return mask


def window_button(d, box, kind, c):
    """A caption button of the frame: a faint plate with its glyph (a bar, or a cross)."""
    x0, y0, x1, y1 = box
    d.rounded_rectangle(box, radius=4, fill=mix(c["caption"], c["caption_low"], 0.5),
                        outline=mix(c["caption_low"], c["caption_glyph"], 0.25))
    cx, cy = (x0 + x1) // 2, (y0 + y1) // 2
    if kind == "minimize":
        d.rectangle((cx - 5, cy + 3, cx + 5, cy + 4), fill=c["caption_glyph"])
    else:
        d.line((cx - 5, cy - 5, cx + 5, cy + 5), fill=c["caption_glyph"], width=2)
        d.line((cx - 5, cy + 5, cx + 5, cy - 5), fill=c["caption_glyph"], width=2)


def draw_frame(spec, c, font_path):
    w, h = spec["size"]
    r = spec["corner"]
    caption, footer = spec["caption"], spec["footer"]
    image = Image.new("RGB", (w, h), c["face"])
    d = ImageDraw.Draw(image)
    # Caption: a vertical gradient, plain along x so the width can stretch, closed by an accent line.
    for y in range(caption):
        d.line((0, y, w - 1, y), fill=mix(c["caption"], c["caption_low"], y / max(caption - 1, 1)))
    d.line((0, caption - 1, w - 1, caption - 1), fill=c["accent"])
    size = max(min(caption - 14, 15), 10)
    font = ImageFont.truetype(font_path, size)
    top = (caption - size) // 2 - 1
    d.text((r + 8, top), spec["title"], fill=c["title"], font=font)
    for kind, (right, y, bw, bh) in spec.get("window_buttons", {}).items():
        window_button(d, (w - right, y, w - right + bw - 1, y + bh - 1), kind, c)
    # Footer band (the status line), below the last stretch row.
    if footer < h:
        d.rectangle((0, footer, w - 1, h - 1), fill=c["footer"])
        d.line((0, footer, w - 1, footer), fill=c["rule"])
    gw, gh = spec["grip"]
    if gw and gh:
        # Three diagonal ridges in the bottom-right corner, inside the rounding.
        x0, y0 = w - 4, h - 4
        for k in (4, 8, 12):
            if k < min(gw, gh):
                d.line((x0 - k, y0, x0, y0 - k), fill=c["grip"])
                d.line((x0 - k + 1, y0, x0, y0 - k + 1), fill=c["panel"])
    # The outline last: the key colour outside it, the edge colour on its outermost pixels (those of the
    # shape that touch the outside, found by eroding the shape with the outside around it).
    mask = cut_outline(image, spec["corner"], spec.get("top_corner", r), c["key"])
    padded = Image.new("L", (w + 2, h + 2), 0)
    padded.paste(mask, (1, 1))
    inner = padded.filter(ImageFilter.MinFilter(3)).crop((1, 1, w + 1, h + 1))
    edge = ImageChops.subtract(mask, inner)
    image.paste(Image.new("RGB", (w, h), c["edge"]), (0, 0), edge)
    return image
    return True


def arrow(d, tip, base, centre, half, shaft, colour, vertical):
    """A thick arrow from base to tip along one axis through centre: a shaft and a head of half-width half."""
    step = 1 if tip > base else -1
    neck = tip - step * (half + 1)
    if vertical:
        cx = centre
        d.rectangle((cx - shaft, min(base, neck), cx + shaft, max(base, neck)), fill=colour)
        d.polygon([(cx - half, neck), (cx + half, neck), (cx, tip)], fill=colour)
    else:
        cy = centre
        d.rectangle((min(base, neck), cy - shaft, max(base, neck), cy + shaft), fill=colour)
        d.polygon([(neck, cy - half), (neck, cy + half), (tip, cy)], fill=colour)


def draw_symbol(d, symbol, box, colour):
    """One symbol per command, drawn in the box: each command its own."""
    x0, y0, x1, y1 = box
    cx, cy = (x0 + x1) // 2, (y0 + y1) // 2
    if symbol in ("upload", "download"):
        # A tray with an arrow leaving it upwards (to the PC) or coming down into it (to the player).
        d.rectangle((cx - 8, y1 - 2, cx + 8, y1), fill=colour)
        d.rectangle((cx - 8, y1 - 6, cx - 7, y1), fill=colour)
        d.rectangle((cx + 7, y1 - 6, cx + 8, y1), fill=colour)
        if symbol == "upload":
            arrow(d, y0, y1 - 5, cx, 6, 2, colour, True)
        else:
            arrow(d, y1 - 5, y0, cx, 6, 2, colour, True)
    elif symbol in ("previous", "next"):
        # A bar and two triangles pointing at it: skip to the track before or after.
        sign = 1 if symbol == "next" else -1
        edge = cx + sign * 8
        d.rectangle((min(edge, edge + sign * 2), cy - 6, max(edge, edge + sign * 2), cy + 6), fill=colour)
        for start in (cx - sign * 9, cx - sign * 1):
            d.polygon([(start, cy - 6), (start, cy + 6), (start + sign * 8, cy)], fill=colour)
    elif symbol == "move_to_player":
        # Three list lines, and an arrow from them into a small player.
        for k in range(3):
            d.rectangle((x0 + 1, cy - 6 + 5 * k, x0 + 9, cy - 5 + 5 * k), fill=colour)
        arrow(d, x1 - 8, x0 + 11, cy, 4, 1, colour, False)
        d.rounded_rectangle((x1 - 6, cy - 7, x1, cy + 7), radius=2, outline=colour, width=2)
    else:
        raise SystemExit(f"make_skin.py: unknown symbol {symbol!r}")


def draw_button(spec, c, state):
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    fill = {"normal": c["panel"], "hover": mix(c["panel"], c["accent"], 0.12),
            "pressed": mix(c["panel"], c["accent"], 0.28), "disabled": c["face"]}[state]
    outline = c["accent"] if state in ("hover", "pressed") else c["rule"]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=6, fill=fill, outline=outline)
    shift = 1 if state == "pressed" else 0
    colour = c["glyph_disabled"] if state == "disabled" else c["glyph"]
    draw_symbol(d, spec["symbol"], (10 + shift, 7 + shift, w - 11 + shift, h - 8 + shift), colour)
    return image


# ---- Indicator lamps and track bars ----
# A lamp has two images, off (shown while its control is disabled) and lit; a track bar has four state
# images that give it its shape (normal, hover, pressed, disabled, as the buttons) and four of its thumb.
BAR_KINDS = ("indicator", "track")


def draw_lamp_symbol(d, symbol, box, colour):
    """One symbol per lamp, small enough for a lamp of 20 x 14."""
    x0, y0, x1, y1 = box
    cx, cy = (x0 + x1) // 2, (y0 + y1) // 2
    if symbol == "shuffle":
        # Two crossing paths, each ending in an arrow head on the right.
        d.line((x0, y0 + 1, x1 - 3, y1 - 1), fill=colour, width=1)
        d.line((x0, y1 - 1, x1 - 3, y0 + 1), fill=colour, width=1)
        for y in (y0 + 1, y1 - 1):
            d.polygon([(x1 - 3, y - 2), (x1 - 3, y + 2), (x1, y)], fill=colour)
    elif symbol == "repeat":
        # A loop with an arrow head on its top run.
        d.rectangle((x0 + 1, y0 + 1, x1 - 1, y1 - 1), outline=colour)
        d.polygon([(cx - 1, y0 - 1), (cx - 1, y0 + 3), (cx + 2, y0 + 1)], fill=colour)
    elif symbol == "mute":
        # A loudspeaker and a cross.
        d.rectangle((x0, cy - 1, x0 + 2, cy + 1), fill=colour)
        d.polygon([(x0 + 2, cy - 1), (x0 + 6, y0), (x0 + 6, y1), (x0 + 2, cy + 1)], fill=colour)
        d.line((x1 - 5, cy - 2, x1 - 1, cy + 2), fill=colour)
        d.line((x1 - 5, cy + 2, x1 - 1, cy - 2), fill=colour)
    elif symbol == "stereo":
        # Two overlapping rings.
        r = (y1 - y0) // 2
        d.ellipse((cx - 2 * r + 1, cy - r, cx + 1, cy + r), outline=colour)
        d.ellipse((cx - 1, cy - r, cx + 2 * r - 1, cy + r), outline=colour)
    else:
        raise SystemExit(f"make_skin.py: unknown lamp symbol {symbol!r}")


def draw_lamp(spec, c, lit):
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    plate = c["accent"] if lit else c["face"]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=4, fill=plate, outline=c["accent"] if lit else c["rule"])
    colour = c["text_on_accent"] if lit else c["glyph_disabled"]
    draw_lamp_symbol(d, spec["symbol"], (4, 3, w - 5, h - 4), colour)
    return image


def draw_track(spec, c, state):
    """The slider's plate: a rounded band whose outline the key colour cuts; the slider paints its channel
    and thumb over it in colours of its own."""
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    outline = {"normal": c["rule"], "hover": c["accent"], "pressed": c["accent"], "disabled": c["face"]}[state]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=h // 2, fill=c["caption"], outline=outline)
    return image


def draw_thumb(spec, c, state):
    w, h = spec["thumb_size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    fill = {"normal": c["bar"], "hover": c["bar_low"], "pressed": c["accent"], "disabled": c["rule"]}[state]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=min(w, h) // 3, fill=fill, outline=c["edge"])
    return image


# ---- The player panel ----
# A toggle button has eight images: disabled, normal, hover and pressed, first unchecked and then checked
# (lit in the accent colour). The panel's plate holds a dark well where the player's display sits.
TOGGLE_STATES = ("disabled", "normal", "hover", "pressed")


def draw_toggle(spec, c, state, checked):
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    if checked:
        fill = {"disabled": c["rule"], "normal": c["accent"], "hover": mix(c["accent"], c["caption"], 0.25),
                "pressed": mix(c["accent"], c["caption"], 0.45)}[state]
        outline = c["caption"] if state != "disabled" else c["rule"]
        colour = c["text_on_accent"] if state != "disabled" else c["face"]
    else:
        fill = {"disabled": c["face"], "normal": c["panel"], "hover": mix(c["panel"], c["accent"], 0.12),
                "pressed": mix(c["panel"], c["accent"], 0.28)}[state]
        outline = c["accent"] if state in ("hover", "pressed") else c["rule"]
        colour = c["glyph_disabled"] if state == "disabled" else c["glyph"]
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=5, fill=fill, outline=outline)
    shift = 1 if state == "pressed" else 0
    cx, cy = w // 2 + shift, h // 2 + shift
    draw_lamp_symbol(d, spec["symbol"], (cx - 7, cy - 4, cx + 7, cy + 5), colour)
    return image


def draw_toggle_images(spec, c):
    return [(spec["id"] + 4 * checked + i, spec["file"] % (4 * checked + i), draw_toggle(spec, c, state, checked))
            for checked in (0, 1) for i, state in enumerate(TOGGLE_STATES)]


def draw_panel(spec, c):
    w, h = spec["size"]
    image = Image.new("RGB", (w, h), c["key"])
    d = ImageDraw.Draw(image)
    d.rounded_rectangle((0, 0, w - 1, h - 1), radius=spec["corner"], fill=c["footer"], outline=c["rule"])
    # A lighter band along the top edge, inside the rounding.
    d.line((spec["corner"], 1, w - 1 - spec["corner"], 1), fill=c["panel"])
    x, y, ww, wh = spec["display"]
    d.rounded_rectangle((x - 2, y - 2, x + ww + 1, y + wh + 1), radius=3, fill=c["caption"], outline=c["edge"])
    # A note left of the display.
    nx, ny = x // 2, h // 2
    d.ellipse((nx - 8, ny + 3, nx - 1, ny + 9), fill=c["glyph"])
    d.rectangle((nx - 2, ny - 10, nx - 1, ny + 6), fill=c["glyph"])
    d.polygon([(nx - 1, ny - 10), (nx + 7, ny - 6), (nx + 7, ny - 3), (nx - 1, ny - 7)], fill=c["glyph"])
    return image


def draw_bar_images(spec, c):
    """(resource id, file name, image) of every image of a lamp or a track bar."""
    if spec["kind"] == "indicator":
        return [(spec["id"] + i, spec["file"] % i, draw_lamp(spec, c, lit)) for i, lit in enumerate((False, True))]
    drawn = [(spec["id"] + i, spec["file"] % i, draw_track(spec, c, state)) for i, state in enumerate(STATES)]
    drawn += [(spec["thumb_id"] + i, spec["thumb_file"] % i, draw_thumb(spec, c, state))
              for i, state in enumerate(STATES)]
    return drawn


def frame_keys(spec):
    """The skin keys of an image: those the description gives, and a frame's caption buttons."""
    keys = dict(spec["keys"])
    for kind, box in spec.get("window_buttons", {}).items():
        keys[kind] = ",".join(str(v) for v in box)
    return keys


def resolve_palette(text, palette):
    """The INI text with every @name of a key line replaced by the palette entry's r,g,b (comments stay as
    they are); an unknown name is an error."""
    def colour(match):
        name = match.group(1)
        if name not in palette:
            raise SystemExit(f"make_skin.py: the palette has no colour @{name}")
        return ",".join(str(v) for v in palette[name])
    return "\n".join(line if line.lstrip().startswith(";") else PALETTE_REF.sub(colour, line)
                     for line in text.splitlines())


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
                # The section's new keys go after its last key, before the comments of the next section.
                tail = []
                while out and (not out[-1].strip() or out[-1].lstrip().startswith(";")) and \
                        not out[-1].strip().startswith("["):
                    tail.insert(0, out.pop())
                flush()
                out.append("")
                out.extend(tail[next((i for i, t in enumerate(tail) if t.strip()), len(tail)):])
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
    c = {k: tuple(v) for k, v in description["palette"].items()}
    rc = ["// Made by make_skin.py from skin.json; do not edit.\n"]
    ini = ["; Made by make_skin.py from skin.json: the keys of the built-in skin that name its images.\n"]
    for spec in description["images"]:
        if spec["kind"] == "frame":
            drawn = [(spec["id"], spec["file"], draw_frame(spec, c, description["font"]))]
        elif spec["kind"] in BAR_KINDS:
            drawn = draw_bar_images(spec, c)
        elif spec["kind"] == "toggle":
            drawn = draw_toggle_images(spec, c)
        elif spec["kind"] == "panel":
            drawn = [(spec["id"], spec["file"], draw_panel(spec, c))]
        else:
            drawn = [(spec["id"] + i, spec["file"] % i, draw_button(spec, c, state)) for i, state in enumerate(STATES)]
        for rid, name, image in drawn:
            image.save(out / name, format="BMP")
            rc.append(f'{rid} IMG "{(out / name).as_posix()}"\n')
        ini.append(f"\n[{spec['section']}]\n")
        for key, value in frame_keys(spec).items():
            ini.append(f"{key}={value}\n")
    (out / "skin_images.rc").write_text("".join(rc))
    (out / "skin_images.ini").write_text("".join(ini))
    if len(sys.argv) > 3:
        sections = {spec["section"]: frame_keys(spec) for spec in description["images"]}
        base = resolve_palette(Path(sys.argv[3]).read_text(), c)
        (out / "skin_resource.ini").write_bytes(merge_ini(base, sections).encode("ascii"))


if __name__ == "__main__":
    main()
