#!/usr/bin/env python3
"""Reads ZAVTCTRL.dll with objdump -p (binutils, independent of the build's own code) and checks its
exports, the DLL name and its resources: TYPELIB 1, the registration scripts, the toolbox bitmap, the
string table and the version. Usage: check_pe.py objdump dll. Prints each check; exit 1 on any miss."""
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

# Exports: the DLL's name and ordinals 1-4.
m = re.search(r"^Name\s+\S+\s+(\S+)$", text, re.M)
check("export directory names the DLL ZAVTCTRL.DLL", m is not None and m.group(1) == "ZAVTCTRL.DLL",
      m.group(1) if m else "no name")
check("ordinal base 1", re.search(r"^Ordinal Base\s+1$", text, re.M) is not None)
table = text.split("[Ordinal/Name Pointer] Table", 1)[1] if "[Ordinal/Name Pointer] Table" in text else ""
names = re.findall(r"^\s*\[\s*(\d+)\]\s+(\w+)$", table, re.M)
# objdump lists the name table with the index of each name's ordinal (ordinal = base + index).
got = {int(i) + 1: n for i, n in names}
want = {1: "DllCanUnloadNow", 2: "DllGetClassObject", 3: "DllRegisterServer", 4: "DllUnregisterServer"}
check("exports by ordinal 1-4", got == want, got)

# The resource tree as objdump prints it: type, name and language levels, then the leaf.
resources = {}
kind = name = None
for line in text.split("The .rsrc Resource Directory section:", 1)[-1].split("\n"):
    m = re.match(r"^[0-9a-f]+(\s+)Entry: (?:name: \[[^\]]*\]: (\S+)|ID: (0x[0-9a-f]+)), Value", line)
    if m:
        depth = len(m.group(1))
        key = m.group(2) if m.group(2) else int(m.group(3), 16)
        if depth == 3:
            kind = key
        elif depth == 5:
            name = key
        continue
    m = re.match(r"^[0-9a-f]+\s+Leaf: Addr: (0x[0-9a-f]+), Size: (0x[0-9a-f]+)", line)
    if m and kind is not None:
        resources[(kind, name)] = (int(m.group(1), 16), int(m.group(2), 16))

check("TYPELIB 1", ("TYPELIB", 1) in resources)
for rid in (102, 103, 105, 107, 109):
    check(f"REGISTRY {rid}", ("REGISTRY", rid) in resources)
check("toolbox bitmap 101", (2, 101) in resources)

# Section table for reading resource bytes by address.
sections = []
for m in re.finditer(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)", subprocess.run(
        [objdump, "-h", dll], check=True, capture_output=True, text=True).stdout, re.M):
    sections.append((int(m.group(2), 16), int(m.group(3), 16), int(m.group(4), 16)))
image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)", text, re.M).group(1), 16)


def read(rva, size):
    for size_s, vma, off in sections:
        if vma - image_base <= rva < vma - image_base + size_s:
            start = off + rva - (vma - image_base)
            return data[start:start + size]
    raise SystemExit(f"address {rva:#x} outside every section")


tlb = read(*resources[("TYPELIB", 1)]) if ("TYPELIB", 1) in resources else b""
check("TYPELIB 1 is a type library", tlb[:4] == b"MSFT")
rgs = read(*resources[("REGISTRY", 102)]).decode("latin-1") if ("REGISTRY", 102) in resources else ""
check("control script registers %MODULE%", "InprocServer32 = s '%MODULE%'" in rgs)

# String 100 lives in block 7 (ids 96-111), the fifth string of the block.
if (6, 7) in resources:
    block = read(*resources[(6, 7)])
    pos, strings = 0, []
    for _ in range(16):
        n, = struct.unpack_from("<H", block, pos)
        strings.append(block[pos + 2:pos + 2 + 2 * n].decode("utf-16-le"))
        pos += 2 + 2 * n
    check('string 100 is "ZAVTCTRL"', strings[4] == "ZAVTCTRL", strings[4])
else:
    check("string table block of id 100", False)

# Version: the fixed part and the string values.
if (16, 1) in resources:
    ver = read(*resources[(16, 1)])
    i = ver.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls, pms, pls = struct.unpack_from("<IIII", ver, i + 8)
    check("FileVersion 3.1.8.0", (ms, ls) == (0x00030001, 0x00080000), f"{ms:#x} {ls:#x}")
    check("ProductVersion 3.1.8.0", (pms, pls) == (0x00030001, 0x00080000), f"{pms:#x} {pls:#x}")

    def value(key):
        k = (key + "\0").encode("utf-16-le")
        at = ver.find(k)
        if at < 0:
            return None
        at += len(k)
        at = (at + 3) & ~3
        end = at
        while end + 1 < len(ver) and ver[end:end + 2] != b"\0\0":
            end += 2
        return ver[at:end].decode("utf-16-le")

    for key, want in [("Comments", "ActiveX Control for portable audio player"),
                      ("FileDescription", "COM API for portable audio player"),
                      ("InternalName", "ZAVTCTRL"), ("OriginalFilename", "ZAVTCTRL.DLL"),
                      ("ProductName", "ZAVTCTRL Module")]:
        got_value = value(key)
        check(f'{key} "{want}"', got_value == want, got_value)
    check("OLESelfRegister present", ("OLESelfRegister\0").encode("utf-16-le") in ver)
else:
    check("version resource", False)

print("all checks passed" if failures == 0 else f"{failures} checks failed")
sys.exit(1 if failures else 0)
