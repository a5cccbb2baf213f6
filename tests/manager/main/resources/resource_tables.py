"""The language and menu key tables of the manager, and a reader of its menu resource script.

GROUP0_IDS are the text ids the translation section serves, in table order; GROUP0_KEYS maps the
few that read another id's key. MENU_GROUPS gives, per menu resource, its section, its popup keys
(by depth-first popup index) and its command ids.
"""
import re


def _ranges(text):
    ids = []
    for part in text.split(","):
        first, _, last = part.strip().partition("-")
        ids += list(range(int(first), int(last or first) + 1))
    return ids


GROUP0_IDS = _ranges(
    "1-2, 392, 1153, 1156-1158, 1160-1164, 1166, 1168, 1170, 1173, 1175-1179, 393, 378, 1182-1187, 391,"
    " 1113-1116, 1123, 1131-1133, 1135-1137, 1147-1148, 1188-1206, 9001-9013, 394, 64013-64015,"
    " 64017-64019, 62264-62298, 62300-62350, 62517-62519, 62351-62367, 62520-62535, 62600-62621,"
    " 62536-62537, 62622-62628, 62630-62642, 62660-62669, 4120-4121, 4140-4142, 4168, 4190,"
    " 4200-4201, 4206, 4220, 4229-4230, 4223-4228, 4262, 4323-4324, 32772, 32900-32902, 32923-32924,"
    " 33800-33801, 33900-33904, 57345, 57634-57635, 57637, 57665, 60516, 4231-4234")
GROUP0_KEYS = {1131: 62362, 1190: 1188, 1196: 1191, 1197: 1189, 1198: 1192, 1199: 1193, 1200: 1194,
               1201: 1195}

MENU_GROUPS = {
    133: ("menu.main",
          ["file", "file.newfolder", "memory", "tools", "options", "options.skin", "options.language",
           "options.layout", "help"],
          [4120, 4121, 4161, 4168, 4182, 4183, 32923, 32924, 4257, 4258, 4259, 4260, 4261, 4280, 4281,
           4300, 4301, 4302, 4303, 32771, 32772, 57665, 57664, 60000, 60257, 60516]),
    402: ("menu.pc.list", [], [4120, 4160, 4161, 4162, 4163, 4164, 4165, 4166, 4167, 4168]),
    401: ("menu.kwep.list", [], [4121, 4180, 4181, 4184, 4185, 4186, 4187, 4188, 4189, 4190]),
    400: ("menu.play.list", ["volume"],
          [4200, 4201, 4202, 4203, 4204, 4205, 4206, 4207, 4208, 4221, 4222, 4229, 4230, 4223, 4224,
           4226, 4227, 4228]),
}

_RC_ESCAPES = {"t": "\t", "n": "\n", "\\": "\\", '"': '"'}


def rc_text(quoted):
    """The text of a resource script string: \\t, \\n, \\\\ and \\" escapes, "" for a quote."""
    body = quoted[1:-1].replace('""', '"')
    return re.sub(r"\\(.)", lambda m: _RC_ESCAPES.get(m.group(1), m.group(0)), body)


def _statements(rc):
    for line in rc.splitlines():
        line = line.strip()
        if line and not line.startswith(("//", "#")):
            yield line


def parse_rc_menus(rc):
    """{menu id: items}; an item is ("item", text, id), ("separator",) or ("popup", text, items)."""
    menus = {}
    stack = None
    for line in _statements(rc):
        m = re.fullmatch(r"(\d+)\s+MENU", line)
        if m:
            menus[int(m.group(1))] = []
            stack = [menus[int(m.group(1))]]
            expect_begin = True
            continue
        if stack is None:
            continue
        if line == "BEGIN":
            if not expect_begin:
                raise ValueError("unexpected BEGIN")
            expect_begin = False
        elif line == "END":
            stack.pop()
            if not stack:
                stack = None
        elif line == "MENUITEM SEPARATOR":
            stack[-1].append(("separator",))
        elif (m := re.fullmatch(r'POPUP\s+("(?:[^"\\]|\\.|"")*")', line)):
            items = []
            stack[-1].append(("popup", rc_text(m.group(1)), items))
            stack.append(items)
            expect_begin = True
        elif (m := re.fullmatch(r'MENUITEM\s+("(?:[^"\\]|\\.|"")*")\s*,\s*(\d+)', line)):
            stack[-1].append(("item", rc_text(m.group(1)), int(m.group(2))))
        else:
            raise ValueError(f"menu script line not understood: {line}")
    return menus


def parse_rc_accelerators(rc):
    tables = {}
    current = None
    for line in _statements(rc):
        m = re.fullmatch(r"(\d+)\s+ACCELERATORS", line)
        if m:
            current = tables.setdefault(int(m.group(1)), [])
        elif current is not None and line == "END":
            current = None
        elif current is not None and line != "BEGIN":
            key, ident, *flags = [f.strip() for f in line.split(",")]
            current.append((key, int(ident), ",".join(flags)))
    return tables


def walk(items, path=None, counter=None):
    """Depth first: (popup path of indexes, kind, text, id, items) for every popup and command; a popup
    is counted before the items it holds, so its index is its depth-first popup index."""
    counter = counter if counter is not None else [0]
    path = path or ()
    for item in items:
        if item[0] == "popup":
            index = counter[0]
            counter[0] += 1
            yield path + (index,), "popup", item[1], None, item[2]
            yield from walk(item[2], path + (index,), counter)
        elif item[0] == "item":
            yield path, "item", item[1], item[2], None
