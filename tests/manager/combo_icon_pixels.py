#!/usr/bin/env python3
"""The 16 x 16 image of an icon as icoutils extract it, for the file-type filter tests.

combo_icon_pixels.py OUT index N MODULE   the Nth icon group of the module (wrestool's order, from 0)
combo_icon_pixels.py OUT id N MODULE      the icon group whose resource id is N
combo_icon_pixels.py OUT file ICO         an icon file
writes OUT: 16 x 16 pixels, top row first, 4 bytes each (r, g, b, a), from the 16 x 16 image of the most
bits per pixel (wrestool takes it out of the module, icotool extracts it as PNG, Pillow reads it).
"""

import re
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

from PIL import Image


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def group_name(module, how, number):
    names = re.findall(r"--type=14 --name=(\S+)", run("wrestool", "-l", module))
    names = [n.strip("'") for n in names]
    if how == "index":
        return names[number]
    if str(number) not in names:
        sys.exit("no icon group %d in %s" % (number, module))
    return str(number)


def wrestool(module, kind, name):
    data = subprocess.run(["wrestool", "-x", "--raw", "--type=%d" % kind, "--name=" + name, module], check=True,
                          capture_output=True).stdout
    if not data:
        sys.exit("wrestool extracted nothing for %d/%s of %s" % (kind, name, module))
    return data


def small_from_module(module, name, work):
    """A one-image icon file of the group's 16 x 16 image (the group's other images stay out: icotool
    refuses a whole file for one entry it cannot read, such as a large PNG image)."""
    group = wrestool(module, 14, name)
    _, _, count = struct.unpack_from("<HHH", group, 0)
    best = None
    for i in range(count):
        width, height, colours, _, planes, bits, _, number = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        if width == 16 and height == 16 and (best is None or bits > best[5]):
            best = (width, height, colours, planes, number, bits)
    if best is None:
        sys.exit("no 16 x 16 image in group %s of %s" % (name, module))
    width, height, colours, planes, number, bits = best
    data = wrestool(module, 3, str(number))
    ico = Path(work) / "small.ico"
    ico.write_bytes(struct.pack("<HHHBBBBHHII", 0, 1, 1, width, height, colours, 0, planes, bits, len(data), 22) + data)
    return str(ico)


def small_from_file(ico):
    best = None
    for line in run("icotool", "-l", ico).splitlines():
        fields = dict(re.findall(r"--([a-z-]+)=(\d+)", line))
        if fields.get("width") == "16" and fields.get("height") == "16":
            depth = int(fields.get("bit-depth", "0"))
            if best is None or depth > best[1]:
                best = (int(fields["index"]), depth)
    if best is None:
        sys.exit("no 16 x 16 image in " + ico)
    return best[0]


def main():
    out, how = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        if how == "file":
            ico = sys.argv[3]
            index = small_from_file(ico)
        else:
            module = sys.argv[4]
            ico = small_from_module(module, group_name(module, how, int(sys.argv[3])), work)
            index = 1
        png = str(Path(work) / "small.png")
        run("icotool", "-x", "-i", str(index), "-o", png, ico)
        pixels = Image.open(png).convert("RGBA")
        if pixels.size != (16, 16):
            sys.exit("unexpected size %s" % (pixels.size,))
        Path(out).write_bytes(pixels.tobytes())


if __name__ == "__main__":
    main()
