#!/usr/bin/env python3
"""Checks that every text of the built-in skin and of the fixture packs reads against what it is drawn on.

Usage: check_skin_contrast.py SKIN_DIR SKIN_JSON MAKE_PACKS

SKIN_DIR    the built-in skin as the build made it (skin_resource.ini and the images)
SKIN_JSON   its description (the palette the images' title texts are drawn in)
MAKE_PACKS  the script that writes the pack fixture tree

The contrast ratio is (L1 + 0.05) / (L2 + 0.05) of the relative luminances L1 >= L2 of the two colours,
each channel linearised from sRGB. Text needs at least 4.5:1; the symbols of buttons, which are not
text, at least 3:1. What a text is drawn on:
- a list, tree or progress bar paints its own background ("bkgnd", one colour per state, paired by
  state); a progress bar's text is also drawn over the bar's colours ("status");
- a text bar (any other section with "frgnd"; it reads no "bkgnd") is drawn over its window's frame image: the pixels under its "pos" when that
  is a rectangle inside the frame, else the frame's face (the pixel at its centre);
- a frame's title is drawn over its caption (the palette's caption colours).
Exit status 1 and one line per failure when any text falls short.
"""
import configparser
import json
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image

LISTS = {"pc.tree", "pc.list", "kwep.list", "playlist"}
TEXT_MINIMUM = 4.5
SYMBOL_MINIMUM = 3.0


def linear(channel):
    c = channel / 255
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def luminance(rgb):
    r, g, b = (linear(v) for v in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


# Known ratios: the formula must give them before it judges anything.
KNOWN = [
    ((0, 0, 0), (255, 255, 255), 21.0),
    ((255, 255, 255), (255, 255, 255), 1.0),
    ((118, 118, 118), (255, 255, 255), 4.54),
    ((255, 0, 0), (255, 255, 255), 4.0),
    ((0, 0, 255), (255, 255, 255), 8.59),
    ((255, 255, 0), (0, 0, 200), 10.67),
]


def colours(value):
    """The states of a colour value: r,g,b per "|" part; a part that is not three numbers is None."""
    out = []
    for part in value.split("|"):
        fields = part.split(",")
        try:
            out.append(tuple(int(f) % 256 for f in fields) if len(fields) == 3 else None)
        except ValueError:
            out.append(None)
    return out


def rectangle(value):
    fields = value.split("|")[0].split(",")
    try:
        return tuple(int(f) for f in fields) if len(fields) == 4 else None
    except ValueError:
        return None


def read_ini(path):
    parser = configparser.RawConfigParser(strict=False, interpolation=None, comment_prefixes=(";",))
    parser.read_string(Path(path).read_bytes().decode("cp1252"))
    return parser


def paints_background(section):
    """Lists, the tree and progress bars paint their "bkgnd"; every other text is a text bar, which reads
    no "bkgnd" and is drawn over its window's frame."""
    return section in LISTS or section.endswith(".progress")


def frame_colours(frame, pos):
    """The colours a text bar at pos is drawn over: under its rectangle, else the frame's face."""
    if frame is None:
        return []
    w, h = frame.size
    box = rectangle(pos) if pos else None
    if box is not None:
        x, y, bw, bh = box
        if bw > 0 and bh > 0 and x >= 0 and y >= 0 and x + bw <= w and y + bh <= h:
            return sorted({c for _, c in frame.crop((x, y, x + bw, y + bh)).getcolors(bw * bh)})
    return [frame.getpixel((w // 2, h // 2))]


def check_skin(name, ini, frame, failures):
    """Every text colour of the skin's sections against what it is drawn on; returns the pairs checked."""
    checked = 0
    for section in ini.sections():
        keys = ini[section]
        if "frgnd" not in keys:
            continue
        texts = colours(keys["frgnd"])
        if paints_background(section):
            grounds = [[g] if g else [] for g in colours(keys["bkgnd"])]
            grounds += [[]] * (len(texts) - len(grounds))
            if "status" in keys:
                bars = [b for b in colours(keys["status"]) if b]
                grounds = [g + bars for g in grounds]
        else:
            grounds = [frame_colours(frame, keys.get("pos"))] * len(texts)
        for state, (text, under) in enumerate(zip(texts, grounds)):
            if text is None:
                failures.append(f"{name} [{section}] frgnd state {state}: not a colour")
                continue
            if not under:
                failures.append(f"{name} [{section}] frgnd state {state}: nothing known to be drawn on")
            for ground in under:
                checked += 1
                ratio = contrast(text, ground)
                if ratio < TEXT_MINIMUM:
                    failures.append(f"{name} [{section}] state {state}: {text} on {ground} is {ratio:.2f}:1")
    return checked


def check_symbols(skin_dir, description, failures):
    """A button's symbol against its plate: the two commonest colours inside the rounding, per state."""
    checked = 0
    for spec in description["images"]:
        if spec["kind"] != "button":
            continue
        for state in range(3):  # normal, hover, pressed; a disabled symbol may fade
            image = Image.open(skin_dir / (spec["file"] % state)).convert("RGB")
            w, h = image.size
            inner = image.crop((2, 2, w - 2, h - 2))
            common = sorted(inner.getcolors(w * h), reverse=True)
            if len(common) < 2:
                failures.append(f"button {spec['file'] % state}: no symbol")
                continue
            plate, symbol = common[0][1], common[1][1]
            checked += 1
            ratio = contrast(plate, symbol)
            if ratio < SYMBOL_MINIMUM:
                failures.append(f"button {spec['file'] % state}: symbol {symbol} on {plate} is {ratio:.2f}:1")
    return checked


def check_titles(description, failures):
    palette = {k: tuple(v) for k, v in description["palette"].items()}
    for ground in ("caption", "caption_low"):
        ratio = contrast(palette["title"], palette[ground])
        if ratio < TEXT_MINIMUM:
            failures.append(f"frame title on {ground}: {ratio:.2f}:1")
    return 2


def pack_frame(ini_path, ini):
    """The main frame image a pack names (its "path" folder, then section main's "img"), or None."""
    if not ini.has_option("main", "img"):
        return None
    folder = ini_path.parent
    if ini.has_option("common", "path"):
        folder = folder / ini["common"]["path"].replace("\\", "/")
    image = folder / ini["main"]["img"].split("|")[0].split(",")[0]
    return Image.open(image).convert("RGB") if image.is_file() else None


def main():
    skin_dir, description_path, make_packs = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3]
    failures = []
    for a, b, want in KNOWN:
        if abs(contrast(a, b) - want) > 0.01:
            failures.append(f"formula: {a} on {b} gives {contrast(a, b):.3f}, not {want}")
    description = json.loads(description_path.read_text())
    builtin = read_ini(skin_dir / "skin_resource.ini")
    frame = Image.open(skin_dir / "main.bmp").convert("RGB")
    checked = check_skin("built-in", builtin, frame, failures)
    checked += check_symbols(skin_dir, description, failures)
    checked += check_titles(description, failures)
    with tempfile.TemporaryDirectory() as tree:
        subprocess.run([sys.executable, make_packs, tree], check=True)
        for ini_path in sorted(Path(tree, "SKINS").rglob("*")):
            if ini_path.is_symlink() or not ini_path.is_file() or ini_path.suffix.lower() != ".ini":
                continue
            ini = read_ini(ini_path)
            checked += check_skin(str(ini_path.relative_to(tree)), ini, pack_frame(ini_path, ini), failures)
    for line in failures:
        print(line)
    print(f"{checked} text and symbol colours checked, {len(failures)} short")
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
