#!/usr/bin/env python3
"""Reads Kwepsys.dll with objdump (binutils, independent of the build's own code) and checks its export
directory (the DLL's name, ordinal base 1, CopyFontData at ordinal 1 and GetFontSize at ordinal 2, no
other export) and that the font image, recomputed here from its documented pattern, lies whole in a
read-only section. Usage: check_kwepsys_pe.py objdump dll. Prints each check; exit 1 on any miss."""
import re
import struct
import subprocess
import sys

objdump, dll = sys.argv[1], sys.argv[2]
failures = 0


def check(name, ok, detail=""):
    global failures
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else f"  ({detail})"))
    if not ok:
        failures += 1


text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
data = open(dll, "rb").read()

m = re.search(r"^Name\s+\S+\s+(\S+)$", text, re.M)
check("export directory names the DLL Kwepsys.dll", m is not None and m.group(1) == "Kwepsys.dll",
      m.group(1) if m else "no name")
check("ordinal base 1", re.search(r"^Ordinal Base\s+1$", text, re.M) is not None)
m = re.search(r"^Number in:\s*\n\s*Export Address Table\s+([0-9a-f]+)", text, re.M)
check("two entries in the export address table", m is not None and int(m.group(1), 16) == 2,
      m.group(1) if m else "not found")
table = text.split("[Ordinal/Name Pointer] Table", 1)[1] if "[Ordinal/Name Pointer] Table" in text else ""
table = table.split("\n\n", 1)[0]
names = re.findall(r"^\s*\[\s*(\d+)\]\s+(\w+)$", table, re.M)
# objdump lists the name table with the index of each name's ordinal (ordinal = base + index).
got = {int(i) + 1: n for i, n in names}
check("CopyFontData at ordinal 1, GetFontSize at ordinal 2", got == {1: "CopyFontData", 2: "GetFontSize"}, got)

# The image: 523,272 little-endian words, word k = murmur3's finaliser of k * 0x9E3779B1 + 0x4B574550.
SIZE = 2093088
MASK = 0xFFFFFFFF


def word(k):
    x = (k * 0x9E3779B1 + 0x4B574550) & MASK
    x ^= x >> 16
    x = (x * 0x85EBCA6B) & MASK
    x ^= x >> 13
    x = (x * 0xC2B2AE35) & MASK
    return x ^ (x >> 16)


image = struct.pack(f"<{SIZE // 4}I", *(word(k) for k in range(SIZE // 4)))
at = data.find(image)
check("the font image lies whole in the file", at >= 0)
check("the font image lies there once", at < 0 or data.find(image, at + 1) < 0)

# The section that holds it, from objdump -h: name, size, file offset and flags.
headers = subprocess.run([objdump, "-h", dll], check=True, capture_output=True, text=True).stdout
holder = None
for m in re.finditer(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)\s+\S+\n\s+(.*)$",
                     headers, re.M):
    name, size, offset, flags = m.group(1), int(m.group(2), 16), int(m.group(3), 16), m.group(4)
    if at >= 0 and offset <= at and at + SIZE <= offset + size:
        holder = (name, flags)
check("the image's section is read-only data", holder is not None and "READONLY" in holder[1]
      and "CODE" not in holder[1], holder)

print("all checks passed" if failures == 0 else f"{failures} checks failed")
sys.exit(1 if failures else 0)
