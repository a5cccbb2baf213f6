#!/usr/bin/env python3
"""The manager's generated icons, read back by icoutils.

check_icons.py DESCRIPTION RES_DIR MODULE: for every icon of the description, icotool lists one 32-bit
image per size of the description and nothing else, extracts each as PNG with the same pixels the
drawing script wrote (alpha exact, colour wherever a pixel is not clear), the resource script names
each icon once under its id, and the module compiled from that script (read with pefile) holds an
icon group of that id with the same images. The overlay must leave the folder under it visible (mostly clear, its mark
in one corner), and the two expander states must differ.
"""
import json
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import pefile
from PIL import Image

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def listed(ico):
    out = subprocess.run(["icotool", "-l", str(ico)], check=True, capture_output=True, text=True).stdout
    entries = []
    for line in out.splitlines():
        fields = dict(re.findall(r"--([a-z-]+)=(\d+)", line))
        entries.append((int(fields["index"]), int(fields["width"]), int(fields["height"]),
                        int(fields["bit-depth"])))
    return entries


def extracted(ico, index, work):
    png = Path(work) / f"{ico.stem}_{index}.png"
    subprocess.run(["icotool", "-x", "-i", str(index), "-o", str(png), str(ico)], check=True,
                   capture_output=True)
    return Image.open(png).convert("RGBA")


def module_groups(path):
    """{icon group id: [(width, height, bits)]} of a module."""
    pe = pefile.PE(path)
    groups = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != 14:
            continue
        for name in kind.directory.entries:
            entry = name.directory.entries[0].data.struct
            data = pe.get_data(entry.OffsetToData, entry.Size)
            count = int.from_bytes(data[4:6], "little")
            groups[name.id] = [(data[6 + 14 * i] or 256, data[7 + 14 * i] or 256,
                                int.from_bytes(data[12 + 14 * i:14 + 14 * i], "little")) for i in range(count)]
    return groups


def same_pixels(a, b):
    if a.size != b.size:
        return False
    for p, q in zip(a.getdata(), b.getdata()):
        if p[3] != q[3] or (p[3] and p[:3] != q[:3]):
            return False
    return True


def main():
    description = json.loads(Path(sys.argv[1]).read_text())
    res = Path(sys.argv[2])
    sizes = description["sizes"]
    script = (res / "manager_icons.rc").read_text()
    named = re.findall(r'^(\d+)\s+ICON\s+"([^"]+)"\s*$', script, re.M)
    groups = module_groups(sys.argv[3])
    images = {}
    with tempfile.TemporaryDirectory() as work:
        for icon in description["icons"]:
            ico = res / icon["file"]
            ident = icon["id"]
            check([p for i, p in named if int(i) == ident] == [ico.as_posix()],
                  f"{ident}: the resource script does not name {ico} once")
            entries = listed(ico)
            check(groups.get(ident) == [(s, s, 32) for s in sizes],
                  f"{ident}: the module's icon group is {groups.get(ident)}")
            check([(w, h, d) for _, w, h, d in entries] == [(s, s, 32) for s in sizes],
                  f"{ident}: icotool lists {entries}, expected 32-bit images of {sizes}")
            for index, width, _, _ in entries:
                image = extracted(ico, index, work)
                drawn = Image.open(res / f"{ico.stem}_{width}.png").convert("RGBA")
                check(same_pixels(image, drawn), f"{ident}: the {width} x {width} image differs from its PNG")
                alphas = [p[3] for p in image.getdata()]
                check(0 < alphas.count(0) < len(alphas), f"{ident}: {width} x {width} is all clear or all opaque")
                images[(ident, width)] = image
    check(len(named) == len(description["icons"]), f"the resource script names {len(named)} icons")
    for size in sizes:
        overlay = images.get((240, size))
        if check(overlay is not None, f"no overlay image of {size}"):
            alphas = [p[3] for p in overlay.getdata()]
            check(alphas.count(0) * 2 > len(alphas), f"overlay {size}: less than half clear")
            edge = size * 3 // 8
            clear = all(overlay.getpixel((x, y))[3] == 0 for y in range(size) for x in range(size)
                        if x < edge or y < edge)
            check(clear, f"overlay {size}: drawn on beyond one corner")
        closed, opened = images.get((220, size)), images.get((221, size))
        if check(closed is not None and opened is not None, f"no expander images of {size}"):
            check(list(closed.getdata()) != list(opened.getdata()), f"expanders {size}: both states look alike")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
