#!/usr/bin/env python3
"""Writes the skin INI fixture and prints what Python's configparser reads from it.

Usage: skin_ini_fixture.py OUT.ini

Lines printed (UTF-8, tab-separated):
  V section key value     the value of every key configparser sees, and "" for probed keys it does not
  P section key states    "pos" read as positions: x,y,w,h,set per state, states joined by ";"
  C section key states    colours read as rrggbb per state ("-" for one that is not a colour)

The Win32 profile reader differs from configparser in one rule the fixture uses: a value enclosed in
matching single or double quotes loses them. The expected values below apply that rule; every other
value is configparser's as it stands.
"""
import configparser
import re
import sys

FIXTURE = """; The skin test fixture: comments, blanks, quotes, per-state values and bad numbers.
[common]
name=Standard skin
dscr="Quoted description"
icon='single quoted'
path=Skin f\u00fcr Tests

[main]
img=?310,IMG
grip=15,15
grid=495,0,1,1|0,68,1,0|0,339,1,1

[player.panel.volume.bar]
img=?1360,IMG|?1361,IMG|?1362,IMG|?1365,IMG
pos=250,17
thumb=?1340,IMG,/cut|?1341,IMG,/cut|?1342,IMG,/cut|?1345,IMG,/cut

[pc.list]
pos=301,36,444,89
;pos=1,2,3,4
frgnd=255,255,255|0,128,0|0,255,0
bkgnd=4,2,4|64,64,64|32,32,32

[pc.list.status]
pos=0,1,-10,18

[commented]
;pos=5,6,7,8
other=1

[spaces]
pos  =  1, 2 ,3,4
status = 16,132,208|0,0,128
empty=

[bad]
pos=1,2,3,4,5|6,7,8|a,b,c,d|-2147483648,2147483647,0,0|2147483648,0,0,0||1,,3,4
frgnd=0,0,0|256,0,0|1,2|-1,0,0|7,8,9,10
"""

# Keys the test asks for whether or not configparser has them.
PROBES = [("commented", "pos"), ("main", "pos"), ("missing.section", "pos")]
POS_KEYS = {"pos", "grid"}
COLOUR_KEYS = {"frgnd", "bkgnd", "status", "frame"}
NUMBER = re.compile(r"^[ \t]*[+-]?[0-9]+[ \t]*$")


def win32_value(value):
    if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
        return value[1:-1]
    return value


def number(text):
    if not NUMBER.match(text):
        return None
    n = int(text.strip(" \t"))
    return n if -2**31 <= n < 2**31 else None


def fields(part, count):
    # At most `count` comma-separated fields; text after the last one is dropped.
    return part.split(",")[:count]


def positions(value):
    out = []
    for part in value.split("|"):
        numbers = [number(f) for f in fields(part, 4)]
        if len(numbers) == 4 and None not in numbers:
            out.append(",".join(str(n) for n in numbers) + ",1")
        else:
            out.append("0,0,0,0,0")
    return ";".join(out)


def colours(value):
    out = []
    for part in value.split("|"):
        numbers = [number(f) for f in fields(part, 3)]
        if len(numbers) == 3 and all(n is not None and 0 <= n <= 255 for n in numbers):
            out.append("%02x%02x%02x" % tuple(numbers))
        else:
            out.append("-")
    return ";".join(out)


def main():
    path = sys.argv[1]
    with open(path, "w", encoding="cp1252", newline="\r\n") as f:
        f.write(FIXTURE)
    parser = configparser.RawConfigParser(strict=True, interpolation=None, comment_prefixes=(";",))
    with open(path, encoding="cp1252") as f:
        parser.read_file(f)
    rows = []
    for section in parser.sections():
        for key, value in parser.items(section):
            rows.append((section, key, win32_value(value)))
    for section, key in PROBES:
        if not parser.has_option(section, key) if parser.has_section(section) else True:
            rows.append((section, key, ""))
    for section, key, value in rows:
        print("V\t%s\t%s\t%s" % (section, key, value))
        if key in POS_KEYS:
            print("P\t%s\t%s\t%s" % (section, key, positions(value)))
        if key in COLOUR_KEYS:
            print("C\t%s\t%s\t%s" % (section, key, colours(value)))


if __name__ == "__main__":
    main()
