#!/usr/bin/env python3
"""Icons of the file-type filter tests, written at build time.

make_combo_icons.py OUTDIR writes into OUTDIR:
  a.ico b.ico c.ico   the icons of cx_combo_icons.dll (ids 101, 102, 103 in that order)
  d.ico               an icon file named by a registry value of its own
  e.ico               the test program's own icon (id 1)
  combo_icons.rc      the DLL's resource script
  combo_program.rc    the test program's icon
Each icon holds a 16 x 16 and a 32 x 32 image (32 bits, and a mask) in a pattern of its own, opaque or
fully transparent pixels only, so the small one is told from the large one and from the others.
"""

import os
import struct
import sys


def image(size, seed):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if (x + y + seed) % 7 == 0 or (x == seed % size and y > size // 2):
                row.append((0, 0, 0, 0))
            else:
                row.append(((x * 16 + seed * 37) % 256, (y * 16 + seed * 71) % 256,
                            ((x ^ y) * 8 + seed * 13 + size) % 256, 255))
        rows.append(row)
    return rows


def dib(rows):
    """The icon image as a resource holds it: header (double height), colours bottom-up, AND mask."""
    size = len(rows)
    colours = b"".join(struct.pack("<BBBB", b, g, r, a) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + bytes(mask)


def write_ico(path, seed):
    images = [dib(image(16, seed)), dib(image(32, seed + 1))]
    sizes = [16, 32]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for seed, name in enumerate("abcde", start=1):
        write_ico(os.path.join(out, name + ".ico"), seed * 3)
    with open(os.path.join(out, "combo_icons.rc"), "w") as f:
        f.write("// Made by make_combo_icons.py; do not edit.\n")
        for number, name in zip((101, 102, 103), "abc"):
            f.write('%d ICON "%s"\n' % (number, os.path.join(out, name + ".ico")))
    with open(os.path.join(out, "combo_program.rc"), "w") as f:
        f.write("// Made by make_combo_icons.py; do not edit.\n")
        f.write('1 ICON "%s"\n' % os.path.join(out, "e.ico"))


if __name__ == "__main__":
    main()
