#!/usr/bin/env python3
"""The built-in English language file, read by Python's configparser.

check_language.py ENGLISH_INI MENUS_RC MODULE
Every key the language tables read (the translation ids, after the few that borrow another id's key,
and every menu key) is present once, non-empty and free of blanks at either end (where configparser
and the program's own reader would disagree); no key is there that nothing reads; the menu texts of
menus.rc are the [menu.*] values after the escape rule; the texts the device errors and start-up
show are word for word; and the module's INI resource 140 is the file, byte for byte.
"""
import configparser
import re
import sys

import pefile

from resource_tables import GROUP0_IDS, GROUP0_KEYS, MENU_GROUPS, parse_rc_menus, walk

# Texts shown as they stand, typos and line breaks included (as written in the file).
VERBATIM = {
    62600: r"Device Initialization failed. Probably Device is disconnected.",
    62601: r"No Device object or initialized inproperly.",
    62602: r"Storage initialization failed.",
    62603: r"Error creating Root Folder.",
    62604: r"Error creating file object.",
    62605: r"Storage object not found.",
    62606: r"File not found or I/O Error.",
    62607: r"Date of file is invalid.",
    62608: r"Error loading KWEP font.",
    62609: r"Program did not find All neccessary DLLs.",
    62610: r"Firmware upgrade is not supported by this model.",
    62611: r"Error creating, deleting or reading folder or folder item.",
    62612: r"Storage is full.",
    62613: r"Error during USB communication.",
    62614: r"Master boot record Error in storage.",
    62615: r"Partition table error in storage.",
    62616: r"Storage is write-protected.",
    62617: r"This functionality is not supported.",
    62618: r"Card is invalid",
    62619: r"Cannot delete, create sub-folder,copy or move into folder <KWEP RECORD>.\nThe folder is designed"
           r" only for voice recording on your player.",
    62620: r"Unspecified error",
    62621: r"File or Folder name already exist.",
    62622: r"KWEP Manager 2",
    33800: "For the correct work of KWEP Manager 2\\ninstall please Microsoft\u00ae Internet Explorer\\n"
           "version 4.01 or later.",
}

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def unescape(value):
    """The program's escape rule: only a value holding \\n or \\t is rewritten, and then every
    backslash escapes the character after it."""
    if "\\n" not in value and "\\t" not in value:
        return value
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), value)


def raw_sections(text):
    """{section: [(key, value as written)]} in file order, duplicates kept."""
    sections, current = {}, None
    for line in text.splitlines():
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            current = sections.setdefault(line.strip("[]"), [])
        elif current is not None:
            key, sep, value = line.partition("=")
            check(sep == "=", f"line without a key: {line!r}")
            current.append((key, value))
    return sections


def module_ini(path):
    pe = pefile.PE(path)
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.name is not None and str(kind.name) == "INI":
            for name in kind.directory.entries:
                if name.id == 140:
                    entry = name.directory.entries[0].data.struct
                    return pe.get_data(entry.OffsetToData, entry.Size)
    return None


def main():
    ini_path, rc_path, module = sys.argv[1:4]
    data = open(ini_path, "rb").read()
    text = data.decode("cp1252")
    check("\ufffd" not in text and b"\xc2" not in data, "the file is not in the system code page")
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read_string(text)
    raw = raw_sections(text)

    common = parser["common"] if parser.has_section("common") else {}
    check(common.get("name") == "English (U.K.)", f"[common] name is {common.get('name')!r}")
    check(bool(common.get("dscr")), "[common] has no dscr")
    check(common.get("font") == "Arial", f"[common] font is {common.get('font')!r}")

    wanted = {"translation": [str(GROUP0_KEYS.get(i, i)) for i in GROUP0_IDS]}
    for section, popups, commands in MENU_GROUPS.values():
        wanted[section] = popups + [str(c) for c in commands]
    for section, keys in wanted.items():
        if not check(parser.has_section(section), f"no section [{section}]"):
            continue
        for key in dict.fromkeys(keys):
            check(bool(parser[section].get(key)), f"[{section}] {key} is missing or empty")
        written = [key for key, _ in raw.get(section, [])]
        check(len(written) == len(set(written)), f"[{section}] has a key twice")
        check(set(written) <= set(keys), f"[{section}] has keys nothing reads: {sorted(set(written) - set(keys))}")
        for key, value in raw.get(section, []):
            check(value == value.strip() and key == key.strip(), f"[{section}] {key}: blanks at an end")

    for ident, expected in VERBATIM.items():
        got = parser.get("translation", str(ident), fallback=None)
        check(got == expected, f"{ident} is {got!r}, expected {expected!r}")

    menus = parse_rc_menus(open(rc_path, encoding="ascii").read())
    for number, (section, popups, _) in MENU_GROUPS.items():
        entries = list(walk(menus.get(number, [])))
        items = [(str(ident), title) for _, kind, title, ident, _ in entries if kind == "item"]
        titles = [title for _, kind, title, _, _ in entries if kind == "popup"]
        for key, title in items + list(zip(popups, titles)):
            value = parser.get(section, key, fallback=None)
            check(value is not None and unescape(value) == title,
                  f"menu {number} {key}: the script says {title!r}, [{section}] {value!r}")

    compiled = module_ini(module)
    check(compiled == data, "the module's INI resource 140 differs from the file")

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
