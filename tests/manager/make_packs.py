#!/usr/bin/env python3
"""Writes the pack fixture tree: skin packs, a language pack and the awkward files around them.

Usage: make_packs.py OUTDIR

OUTDIR/SKINS       skin packs in nested folders, with the case variants the search must tell apart,
                   packs without a description section, with over-long values and with paths that lead
                   nowhere, and a symbolic link from a pack folder back up to SKINS (a loop)
OUTDIR/LANGUAGES   one language pack
The "Blue" pack carries a frame image for the main window (section main) and a status bar colour.
OUTDIR/DEEP        a chain of folders deeper than the search enters, one L<depth>.INI in each
OUTDIR/elsewhere   an empty folder (a current directory that is neither the program's nor a pack's)

Icons are drawn with Pillow (16x16 ICO). Files are written with CR LF line ends, as the profile reader
expects them.
"""
import os
import sys
from pathlib import Path

from PIL import Image

DEEP_LEVELS = 24
BLUE_FRAME = (420, 240)
BLUE_FACE = (0, 0, 200)
LONG_CHARS = 20000


def write_ini(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(text.replace("\n", "\r\n").encode("cp1252"))


def write_icon(path, colour):
    path.parent.mkdir(parents=True, exist_ok=True)
    Image.new("RGB", (16, 16), colour).save(path, format="ICO", sizes=[(16, 16)])


def main():
    out = Path(sys.argv[1])
    skins = out / "SKINS"

    write_ini(skins / "Blue" / "BLUE.INI", """; A complete skin pack.
[common]
name=Blue|second part
dscr=Deep blue skin
path=img
icon=off.ico|on.ico

[probe]
pos=11,12,13,14

[main]
img=main.bmp

[status]
pos=10,200,300,18
frgnd=255,255,0
""")
    (skins / "Blue" / "img").mkdir(parents=True, exist_ok=True)
    # The main window's frame: deep blue inside a white edge, no region cut from it.
    frame = Image.new("RGB", (BLUE_FRAME[0], BLUE_FRAME[1]), (255, 255, 255))
    frame.paste(Image.new("RGB", (BLUE_FRAME[0] - 4, BLUE_FRAME[1] - 4), BLUE_FACE), (2, 2))
    frame.save(skins / "Blue" / "img" / "main.bmp")
    write_icon(skins / "Blue" / "off.ico", (0, 0, 255))
    write_icon(skins / "Blue" / "on.ico", (255, 255, 0))

    # Found two levels down; its folder comes from an environment reference.
    write_ini(skins / "Amber" / "nested" / "deeper" / "AMBER.INI", """[common]
name=Amber
dscr=Warm amber skin
path=%KWEP_PACK_IMAGES%

[probe]
pos=21,22,23,24
""")

    # Two packs without a name: the menu shows their INI file titles.
    write_ini(skins / "Plain" / "ZULU.INI", "[common]\ndscr=Without a name\n")
    write_ini(skins / "Plain" / "ALPHA.INI", "[common]\ndscr=Also without a name\n")

    # Case variants: only a name ending in exactly ".INI" is a pack.
    write_ini(skins / "lower" / "skin.ini", "[common]\nname=lower case\n")
    write_ini(skins / "upper" / "SKIN.INI", "[common]\nname=Upper\n[probe]\npos=31,32,33,34\n")
    write_ini(skins / "Mixed" / "Mixed.Ini", "[common]\nname=mixed case\n")
    write_ini(skins / "Mixed" / "OLD.INI.bak", "[common]\nname=backup\n")

    # Untrusted packs: no description section; an over-long name and a folder that does not exist;
    # a folder outside the pack that does not exist either, and numbers that are not numbers.
    write_ini(skins / "Broken" / "NOCOMMON.INI", "[probe]\npos=1,2,3,4\n")
    write_ini(skins / "Broken" / "LONG.INI",
              "[common]\nname=" + "L" * LONG_CHARS + "\npath=..\\..\\..\\nowhere\\at\\all\n")
    write_ini(skins / "Broken" / "BADNUM.INI",
              "[common]\nname=Bad numbers\npath=C:\\no\\such\\folder\\anywhere\nicon=missing.ico|?99999,ICON\n"
              "[probe]\npos=a,b,c,d\n")

    # A loop: SKINS/Blue/back leads to SKINS again.
    loop = skins / "Blue" / "back"
    if not loop.is_symlink():
        os.symlink("..", loop)

    write_ini(out / "LANGUAGES" / "DEUTSCH.INI",
              "[common]\nname=Deutsch\ndscr=German texts\n\n[strings]\n100=Hallo Welt, hier bin ich\n")

    folder = out / "DEEP"
    for depth in range(DEEP_LEVELS + 1):
        write_ini(folder / f"L{depth}.INI", f"[common]\nname=Level {depth}\n")
        folder = folder / f"d{depth + 1}"

    (out / "elsewhere").mkdir(parents=True, exist_ok=True)


if __name__ == "__main__":
    main()
