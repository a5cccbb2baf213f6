#!/usr/bin/env python3
"""Writes the language files of the language tests.

Usage: make_language_packs.py english OUTFILE   the test host's built-in language file (resource 140)
       make_language_packs.py packs OUTDIR [N]  OUTDIR/LANGUAGES with the fixture packs, and N more packs
                                                in LANGUAGES/Many (more than a menu offers)

The built-in file holds every key of the translation group (a text naming the key, a few real ones) and
the menu groups. "Deutsch" overlays all groups, with the awkward values: escapes, a path, a tab, CR LF
line ends, a duplicate key, format texts whose conversions match and others whose do not, an over-long
value. "Menus Only" overlays only [menu.main]. A file without [common] is no pack.
KEPT_ENGLISH names the ids whose pack text the manager must refuse (the check keeps English there).
Files are single-byte text in the code page the tests run with (cp1252).
"""
import sys
from pathlib import Path

ENCODING = "cp1252"

# The translation group: text ids in table order, as ranges.
TEXT_RANGES = [
    (1, 2), (392, 392), (1153, 1153), (1156, 1158), (1160, 1164), (1166, 1166), (1168, 1168), (1170, 1170),
    (1173, 1173), (1175, 1179), (393, 393), (378, 378), (1182, 1187), (391, 391), (1113, 1116), (1123, 1123),
    (1131, 1133), (1135, 1137), (1147, 1148), (1188, 1206), (9001, 9013), (394, 394), (64013, 64015),
    (64017, 64019), (62264, 62298), (62300, 62350), (62517, 62519), (62351, 62367), (62520, 62535),
    (62600, 62621), (62536, 62537), (62622, 62628), (62630, 62642), (62660, 62669), (4120, 4121),
    (4140, 4142), (4168, 4168), (4190, 4190), (4200, 4201), (4206, 4206), (4220, 4220), (4229, 4230),
    (4223, 4228), (4262, 4262), (4323, 4324), (32772, 32772), (32900, 32902), (32923, 32924), (33800, 33801),
    (33900, 33904), (57345, 57345), (57634, 57635), (57637, 57637), (57665, 57665), (60516, 60516), (4231, 4234),
]
REMAPPED = {1131: 62362, 1190: 1188, 1196: 1191, 1197: 1189, 1198: 1192, 1199: 1193, 1200: 1194, 1201: 1195}


def text_ids():
    return [i for first, last in TEXT_RANGES for i in range(first, last + 1)]


def key_of(text_id):
    return REMAPPED.get(text_id, text_id)


# Menu groups: section -> (menu id, popup keys in depth-first order, command ids).
MENU_GROUPS = {
    "menu.main": (133, ["file", "file.newfolder", "memory", "tools", "options", "options.skin",
                        "options.language", "options.layout", "help"],
                  [4120, 4121, 4161, 4168, 4182, 4183, 32923, 32924, 4257, 4258, 4259, 4260, 4261, 4280, 4281,
                   4300, 4301, 4302, 4303, 32771, 32772, 57665, 57664, 60000, 60257, 60516]),
    "menu.pc.list": (402, [], [4120, 4160, 4161, 4162, 4163, 4164, 4165, 4166, 4167, 4168]),
    "menu.kwep.list": (401, [], [4121, 4180, 4181, 4184, 4185, 4186, 4187, 4188, 4189, 4190]),
    "menu.play.list": (400, ["volume"], [4200, 4201, 4202, 4203, 4204, 4205, 4206, 4207, 4208, 4221, 4222,
                                        4229, 4230, 4223, 4224, 4226, 4227, 4228]),
}

# Built-in texts that are more than a name: formats, escapes, a path.
ENGLISH_SPECIAL = {
    62319: r"Copying %s to %s",
    62320: r"%d of %d files",
    62321: r"%s: %lu bytes",
    62322: r"Erasing %s...",
    62323: r"%d%% done",
    62521: r"%s (%d)",
    62530: r"%lu KB free",
    62531: r"Deleting %s",
    62300: r"Free: %I64u bytes",
    62622: "KWEP Manager 2",
    62362: "Update",
    1188: "Play Mode",
    62264: r"Go to parent folder\nUp Level",
    62265: r"C:\Program Files\KWEP",
    4120: r"PC Files\tCtrl+1",
}
ENGLISH_MENU = {
    "file": "&File", "file.newfolder": "&New Folder", "memory": "&Memory", "tools": "&Tools",
    "options": "&Option", "options.skin": "&Skin", "options.language": "&Language", "options.layout": "La&yout",
    "help": "&Help", "volume": "&Volume",
}


def english_text(key):
    return ENGLISH_SPECIAL.get(key, "English text %05d" % key if key < 60000 else "English text %d" % key)


def english_ini():
    lines = ["[common]", "name=English (U.K.)", "dscr=The built-in language", "font=Arial", "", "[translation]"]
    seen = set()
    for text_id in text_ids():
        key = key_of(text_id)
        if key not in seen:
            seen.add(key)
            lines.append("%d=%s" % (key, english_text(key)))
    for section, (menu, popups, commands) in MENU_GROUPS.items():
        lines += ["", "[%s]" % section]
        lines += ["%s=%s" % (p, ENGLISH_MENU[p]) for p in popups]
        lines += ["%d=%s item %d" % (c, section, c) for c in commands]
    lines[lines.index("60257=menu.main item 60257")] = r"60257=Rebuild List\tF10"
    lines[lines.index("4121=menu.main item 4121")] = r"4121=KWEP\t&Internal Memory"
    return "\n".join(lines) + "\n"


LONG_CHARS = 20000
# Pack texts the manager refuses: conversions that differ from the built-in text's, an over-long value.
KEPT_ENGLISH = [62320, 62321, 62322, 62521, 62530, 62300, 62324]


def deutsch_ini():
    translation = [
        "1=Eins",
        "2=Zwei mit  Leerzeichen ",           # blanks kept
        "1188=Wiedergabemodus",               # text id 1190 reads it too
        "62362=Aktualisieren",                # text id 1131 reads it
        "1131=never read: 1131 reads 62362",
        r"62264=Zum übergeordneten Ordner\nNach oben",
        r"62265=D:\Programme\KWEP",           # single backslashes, no escape: kept as written
        r"62266=Tab\tgetrennt und \\ Rückstrich",  # with an escape every other backslash goes
        "62319=Kopiere %s nach %s",           # same conversions: taken
        "62320=%s von %d Dateien",            # %d became %s: refused
        "62321=%s: %lu Bytes %n",             # an extra %n: refused
        "62322=Lösche...",                    # a conversion less: refused
        "62323=%d%% fertig",                  # %% is no conversion: taken
        "62521=%s (%d) %s",                   # one more: refused
        "62530=%s KB frei",                   # refused
        "62531=Lösche %s",                    # taken
        "62300=Frei: %I64d Bytes",            # length kept, conversion changed: refused
        "62324=" + "x" * LONG_CHARS,          # over-long: ignored
        "62325=100% sicher",                  # a plain text may hold a '%'
        "62326=erster Wert",
        "62326=zweiter Wert",                 # the first of two wins
        "62327=",                             # empty: ignored
        "62622=KWEP Verwalter 2",
    ]
    menu_main = [
        "options.language=&Sprache",
        "file=&Datei",
        "help=&Hilfe",
        r"4121=KWEP\t&Interner Speicher",
        "60257=Liste neu aufbauen",
        "4120=PC-Dateien",
    ]
    lines = ["[common]", "name=Deutsch", "dscr=Deutsche Texte", "", "[translation]"] + translation
    lines += ["", "[menu.main]"] + menu_main
    lines += ["", "[menu.pc.list]", "4160=Öffnen", "", "[menu.play.list]", "volume=&Lautstärke", "4200=Abspielen"]
    return "\n".join(lines) + "\n"


def menus_only_ini():
    lines = ["[common]", "name=Menus Only", "", "[menu.main]", "options.language=Lan&gues", "file=&Fichier",
             "4168=Rafraîchir"]
    return "\n".join(lines) + "\n"


def write(path, text, crlf):
    path.parent.mkdir(parents=True, exist_ok=True)
    if crlf:
        text = text.replace("\n", "\r\n")
    path.write_bytes(text.encode(ENCODING))


def main():
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in ("english", "packs"):
        sys.exit(__doc__)
    if sys.argv[1] == "english":
        write(Path(sys.argv[2]), english_ini(), True)
        return
    languages = Path(sys.argv[2]) / "LANGUAGES"
    write(languages / "Deutsch" / "DEUTSCH.INI", deutsch_ini(), True)
    write(languages / "MENUS.INI", menus_only_ini(), False)  # line feeds only
    write(languages / "NOPACK.INI", "[translation]\n1=not a pack\n", False)
    for n in range(int(sys.argv[3]) if len(sys.argv) == 4 else 0):
        write(languages / "Many" / ("P%03d.INI" % n), "[common]\nname=Pack %03d\n" % n, False)


if __name__ == "__main__":
    main()
