#!/usr/bin/env python3
"""Compares the language manager's tables, as the test host dumps them, with what Python's configparser
reads from the same language files.

Usage: check_language_tables.py ENGLISH_INI PACK_INI|- DUMP

The expected table is the built-in file overlaid by the pack, read by configparser(interpolation=None)
after allowing for the language reader's own rules: blanks around a value are kept, the first of two
equal keys wins, lines starting with ";" or "#" say nothing, an empty or over-long value is missing, and a value with a backslash-n or backslash-t
escape is unescaped (every other backslash then escapes the character after it). Pack texts the fixture
names in KEPT_ENGLISH (conversions that do not match the built-in format) keep their English text.
DUMP lines: "text ID HEX", "menu MENU ITEM HEX" (ITEM "popup:N" for a popup), HEX the UTF-8 bytes of the
text in hexadecimal or "-" when there is none. Prints every row that differs; exit status 1 if any.
"""
import configparser
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import make_language_packs as fixture  # noqa: E402

MAX_VALUE_CHARS = 16383
BLANK = "\x01"


def keep_reader_rules(text):
    """The first of duplicate keys per section, blanks around a value protected from stripping."""
    out, seen = [], set()
    for line in text.split("\n"):
        if line.startswith("["):
            seen = set()
            out.append(line)
            continue
        if "=" not in line:
            out.append(line)
            continue
        key, value = line.split("=", 1)
        if key in seen:
            continue
        seen.add(key)
        stripped = value.strip(" ")
        lead = len(value) - len(value.lstrip(" "))
        trail = len(value) - len(value.rstrip(" "))
        if stripped:
            value = BLANK * lead + stripped + BLANK * trail
        out.append(key + "=" + value)
    return "\n".join(out)


def unescape(value):
    if not re.search(r"\\[nt]", value):
        return value
    out, i = [], 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value):
            i += 1
            c = {"n": "\n", "t": "\t"}.get(value[i], value[i])
        out.append(c)
        i += 1
    return "".join(out)


def read(path):
    raw = Path(path).read_bytes().decode(fixture.ENCODING).replace("\r", "\n")
    parser = configparser.ConfigParser(interpolation=None, delimiters=("=",), comment_prefixes=(";", "#"),
                                       empty_lines_in_values=False)
    parser.optionxform = str
    parser.read_string(keep_reader_rules(raw))
    values = {}
    for section in parser.sections():
        for key, value in parser.items(section):
            value = value.replace(BLANK, " ")
            if value and len(value) <= MAX_VALUE_CHARS:
                values[(section, key)] = unescape(value)
    return values


def expected(english, pack):
    rows = {}
    for text_id in fixture.text_ids():
        key = (("translation", str(fixture.key_of(text_id))))
        text = english.get(key)
        if key in pack and text_id not in fixture.KEPT_ENGLISH:
            text = pack[key]
        rows[("text", str(text_id))] = text
    for section, (menu, popups, commands) in fixture.MENU_GROUPS.items():
        items = [("popup:%d" % i, p) for i, p in enumerate(popups)] + [(str(c), str(c)) for c in commands]
        for item, key in items:
            text = pack.get((section, key), english.get((section, key)))
            rows[("menu", "%d %s" % (menu, item))] = text
    return rows


def dumped(path):
    rows = {}
    for line in Path(path).read_text().splitlines():
        parts = line.split(" ")
        if parts[0] == "text" and len(parts) == 3:
            rows[("text", parts[1])] = None if parts[2] == "-" else bytes.fromhex(parts[2]).decode("utf-8")
        elif parts[0] == "menu" and len(parts) == 4:
            rows[("menu", parts[1] + " " + parts[2])] = None if parts[3] == "-" else bytes.fromhex(parts[3]).decode("utf-8")
    return rows


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    english = read(sys.argv[1])
    pack = read(sys.argv[2]) if sys.argv[2] != "-" else {}
    want = expected(english, pack)
    got = dumped(sys.argv[3])
    bad = 0
    for row in sorted(set(want) | set(got)):
        if want.get(row) != got.get(row):
            bad += 1
            print("%s %s: expected %r, host %r" % (row[0], row[1], want.get(row), got.get(row)))
    print("rows %d differing %d" % (len(want), bad))
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
