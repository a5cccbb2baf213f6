#!/usr/bin/env python3
"""The manager's menus and accelerators: the resource script against the menu key tables, and the
module windres built from it against the script.

check_menus.py MENUS_RC MODULE
  MENUS_RC  resources/manager/menus.rc
  MODULE    a resource-only module holding it (read with pefile)
Each menu's command ids equal its key table's commands, each once; its popups, counted depth first,
are as many as the table's popup keys and sit where the main window expects them (the skin and
language anchors, the tool-tip switch); the accelerators are F9 and F10; the compiled menus hold the
script's items, texts and nesting exactly.
"""
import sys

import pefile

from resource_tables import MENU_GROUPS, parse_rc_menus, parse_rc_accelerators, walk

failures = []


def check(ok, message):
    if not ok:
        failures.append(message)
    return ok


def compiled_menu(data):
    """A standard menu template: items of {flags, id unless a popup, text}, 0x80 ending each level."""
    _version, header = int.from_bytes(data[0:2], "little"), int.from_bytes(data[2:4], "little")
    pos = 4 + header

    def level():
        nonlocal pos
        items = []
        while True:
            flags = int.from_bytes(data[pos:pos + 2], "little")
            pos += 2
            ident = None
            if not flags & 0x10:
                ident = int.from_bytes(data[pos:pos + 2], "little")
                pos += 2
            end = pos
            while data[end:end + 2] != b"\0\0":
                end += 2
            text = data[pos:end].decode("utf-16-le")
            pos = end + 2
            if flags & 0x10:
                items.append(("popup", text, level()))
            elif ident == 0 and text == "" and not flags & ~0x80:
                items.append(("separator",))
            else:
                items.append(("item", text, ident))
            if flags & 0x80:
                return items

    return level()


def module_resources(path):
    pe = pefile.PE(path)
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                entry = lang.data.struct
                found[(kind.id, name.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def main():
    rc = open(sys.argv[1], encoding="ascii").read()
    menus = parse_rc_menus(rc)
    check(sorted(menus) == sorted(MENU_GROUPS), f"menus {sorted(menus)}, expected {sorted(MENU_GROUPS)}")
    for number, (_, popups, commands) in MENU_GROUPS.items():
        items = menus.get(number, [])
        ids = [ident for _, kind, _, ident, _ in walk(items) if kind == "item"]
        check(sorted(ids) == sorted(commands) and len(set(ids)) == len(ids),
              f"menu {number}: commands {ids}, expected {commands}")
        found = [title for _, kind, title, _, _ in walk(items) if kind == "popup"]
        check(len(found) == len(popups), f"menu {number}: popups {found}, expected {len(popups)}")

    # Where the main window's own code looks for its items: the pack anchors inside the Skin (5) and
    # Language (6) submenus of Option (4), the tool-tip switch in Option itself.
    popups = [(path, items) for path, kind, _, _, items in walk(menus.get(133, [])) if kind == "popup"]
    paths = [path for path, _ in popups]
    check(paths == [(0,), (0, 1), (2,), (3,), (4,), (4, 5), (4, 6), (4, 7), (8,)],
          f"menu 133: popup nesting {paths}")
    if len(popups) == 9:
        def commands_in(index):
            return [item[2] for item in popups[index][1] if item[0] == "item"]
        check(60000 in commands_in(5), "60000 is not in the Skin submenu")
        check(60257 in commands_in(6) and commands_in(6)[-1] == 60257, "60257 does not end the Language submenu")
        check(60516 in commands_in(4), "60516 is not in the Option menu")
    volume = [path for path, kind, _, _, _ in walk(menus.get(400, [])) if kind == "popup"]
    check(len(volume) == 1, f"menu 400: popups at {volume}")

    accelerators = parse_rc_accelerators(rc)
    check(accelerators == {138: [("VK_F9", 60000, "VIRTKEY"), ("VK_F10", 60257, "VIRTKEY")]},
          f"accelerators {accelerators}")

    compiled = module_resources(sys.argv[2])
    for number, items in menus.items():
        data = compiled.get((4, number))
        if check(data is not None, f"the module has no menu {number}"):
            check(compiled_menu(data) == items, f"menu {number} compiled differs from the script")
    table = compiled.get((9, 138), b"")
    keys = [(int.from_bytes(table[i:i + 2], "little") & 0x7F, int.from_bytes(table[i + 2:i + 4], "little"),
             int.from_bytes(table[i + 4:i + 6], "little")) for i in range(0, len(table), 8)]
    check(keys == [(0x01, 0x78, 60000), (0x01, 0x79, 60257)], f"compiled accelerators {keys}")

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
