#!/usr/bin/env python3
"""Copies the TYPELIB resource of a PE file (Wine ships stdole2.tlb as a DLL) to a plain .tlb file,
so that widl can import it. Usage: extract_typelib.py input.dll output.tlb [resource id]"""
import struct
import sys


def rva_to_offset(sections, rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return raw + rva - va
    raise ValueError("address outside every section")


def main():
    src, dst = sys.argv[1], sys.argv[2]
    want = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    data = open(src, "rb").read()
    if data[:4] == b"MSFT":
        open(dst, "wb").write(data)
        return 0
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{src}: not a PE file")
    nsect, = struct.unpack_from("<H", data, pe + 6)
    optsize, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva, _ = struct.unpack_from("<II", data, dirs + 2 * 8)
    sections = []
    for i in range(nsect):
        s = opt + optsize + 40 * i
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), raw))
    base = rva_to_offset(sections, rsrc_rva)

    def entries(off):
        named, ids = struct.unpack_from("<HH", data, base + off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + off + 16 + 8 * i)
            if name & 0x80000000:
                p = base + (name & 0x7FFFFFFF)
                n, = struct.unpack_from("<H", data, p)
                name = data[p + 2:p + 2 + 2 * n].decode("utf-16-le")
            yield name, target

    for name, target in entries(0):
        if name != "TYPELIB" or not target & 0x80000000:
            continue
        for rid, t2 in entries(target & 0x7FFFFFFF):
            if rid != want or not t2 & 0x80000000:
                continue
            for _, leaf in entries(t2 & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                off = rva_to_offset(sections, rva)
                open(dst, "wb").write(data[off:off + size])
                return 0
    raise SystemExit(f"{src}: no TYPELIB {want}")


if __name__ == "__main__":
    sys.exit(main())
