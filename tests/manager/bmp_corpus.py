#!/usr/bin/env python3
"""Writes the bitmap files of the DIB tests into a folder, with a manifest the test reads.

Well-formed files are built byte by byte here and decoded by Pillow, whose pixels (raw RGB, top row
first) are written beside them as NAME.rgb; the test paints each file and compares. Malformed files are
well-formed ones with one fault each, and the reader must refuse them. Mutated files are seeded random
damage of the well-formed ones: the reader may take or refuse them, but must stay inside the block.

manifest lines: NAME accept WIDTH HEIGHT | NAME refuse | NAME either
"""
import io
import random
import struct
import sys
from pathlib import Path

from PIL import Image


def stride(width, bits):
    return (width * bits + 31) // 32 * 4


def pattern(width, height, bits, colors=None):
    """Pixel values (indices below colors, or packed colours) that differ in every row and column."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            if bits <= 8:
                row.append((x * 3 + y * 5) % (colors or (1 << bits)))
            elif bits == 16:
                row.append(((x * 7 + y) & 31) << 10 | ((y * 3) & 31) << 5 | ((x + y * 11) & 31))
            else:
                row.append(((x * 37 + y * 11) & 255) << 16 | ((y * 53) & 255) << 8 | ((x * 29 + 7) & 255))
        rows.append(row)
    return rows


def pack_rows(rows, bits, top_down=False):
    width = len(rows[0])
    out = bytearray()
    order = rows if top_down else list(reversed(rows))
    for row in order:
        line = bytearray()
        if bits < 8:
            acc, n = 0, 0
            for v in row:
                acc = (acc << bits) | v
                n += bits
                if n == 8:
                    line.append(acc)
                    acc, n = 0, 0
            if n:
                line.append(acc << (8 - n))
        else:
            for v in row:
                line += v.to_bytes(bits // 8, "little")
        line += bytes(stride(width, bits) - len(line))
        out += line
    return bytes(out)


def palette(count, entry=4):
    table = bytearray()
    for i in range(count):
        b, g, r = (i * 67) & 255, (i * 131 + 40) & 255, (255 - i * 23) & 255
        table += bytes((b, g, r, 0)[:entry])
    return bytes(table)


def file_header(total, offset):
    return b"BM" + struct.pack("<IHHI", total, 0, 0, offset)


def info_bmp(width, height, bits, colors=None, compression=0, top_down=False, image=None, masks=b"",
             header_size=40, used=0, gap=b""):
    rows = pattern(width, height, bits, used or None)
    if image is None:
        image = pack_rows(rows, bits, top_down)
    table = palette(colors) if colors else b""
    header = struct.pack("<IiiHHIIiiII", header_size, width, -height if top_down else height, 1, bits,
                         compression, len(image) if compression in (1, 2) else 0, 2835, 2835, used, 0)
    header += bytes(header_size - 40) if header_size > 40 else b""
    if header_size >= 108 and masks:
        header = header[:40] + masks + header[40 + len(masks):]
        masks = b""
    body = header + table + masks + gap + image
    offset = 14 + len(header) + len(table) + len(masks) + len(gap)
    return file_header(14 + len(body), offset) + body


def core_bmp(width, height, bits):
    rows = pattern(width, height, bits)
    image = pack_rows(rows, bits)
    table = palette(1 << bits, 3) if bits <= 8 else b""
    header = struct.pack("<IHHHH", 12, width, height, 1, bits)
    body = header + table + image
    return file_header(14 + len(body), 14 + len(header) + len(table)) + body


def rle8_bmp(width, height):
    rows = pattern(width, height, 8)
    image = bytearray()
    for row in reversed(rows):
        for v in row:
            image += bytes((1, v))
        image += b"\x00\x00"
    image[-2:] = b"\x00\x01"
    return info_bmp(width, height, 8, colors=256, compression=1, image=bytes(image))


def patch(data, offset, fmt, value):
    data = bytearray(data)
    struct.pack_into(fmt, data, offset, value)
    return bytes(data)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    mask565 = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    mask888 = struct.pack("<III", 0xFF0000, 0x00FF00, 0x0000FF)
    good = {
        "mono_9x5": info_bmp(9, 5, 1, colors=2),
        "nibble_7x3": info_bmp(7, 3, 4, colors=16),
        "byte_used16_6x4": info_bmp(6, 4, 8, colors=16, used=16),
        "byte_5x5": info_bmp(5, 5, 8, colors=256),
        "rgb555_5x3": info_bmp(5, 3, 16),
        "rgb565_fields_4x3": info_bmp(4, 3, 16, compression=3, masks=mask565),
        "rgb24_odd_7x5": info_bmp(7, 5, 24),
        "rgb24_topdown_6x4": info_bmp(6, 4, 24, top_down=True),
        "rgb32_5x2": info_bmp(5, 2, 32),
        "rgb32_fields_3x3": info_bmp(3, 3, 32, compression=3, masks=mask888),
        "v5_rgb24_4x4": info_bmp(4, 4, 24, header_size=124),
        "core_byte_5x3": core_bmp(5, 3, 8),
        "core_rgb24_3x3": core_bmp(3, 3, 24),
        "rle8_6x3": rle8_bmp(6, 3),
        "gap_before_bits_5x3": info_bmp(5, 3, 24, gap=b"\xAA" * 10),
    }
    base24 = good["rgb24_odd_7x5"]
    base8 = good["byte_5x5"]
    base4 = good["nibble_7x3"]
    bad = {
        "empty": b"",
        "thirteen_bytes": base24[:13],
        "header_only": base24[:14],
        "not_bm": b"MB" + base24[2:],
        "truncated_in_header": base24[:30],
        "truncated_in_palette": base8[:14 + 40 + 100],
        "truncated_in_bits": base24[:-3],
        "header_size_20": patch(base24, 14, "<I", 20),
        "header_size_huge": patch(base24, 14, "<I", 0xFFFFFFF0),
        "header_size_zero": patch(base24, 14, "<I", 0),
        "width_huge": patch(base24, 18, "<i", 0x7FFFFFFF),
        "height_huge": patch(base24, 22, "<i", 0x7FFFFFFF),
        "height_min": patch(base24, 22, "<i", -0x80000000),
        "both_huge": patch(patch(base24, 18, "<i", 0x10000), 22, "<i", 0x10000),
        "width_zero": patch(base24, 18, "<i", 0),
        "width_negative": patch(base24, 18, "<i", -7),
        "height_zero": patch(base24, 22, "<i", 0),
        "planes_zero": patch(base24, 26, "<H", 0),
        "bits_zero": patch(base24, 28, "<H", 0),
        "bits_seven": patch(base24, 28, "<H", 7),
        "bits_64": patch(base24, 28, "<H", 64),
        "colors_300": patch(base8, 14 + 32, "<I", 300),
        "colors_17_for_4_bits": patch(base4, 14 + 32, "<I", 17),
        "colors_huge": patch(base8, 14 + 32, "<I", 0xFFFFFFFF),
        "compression_jpeg": patch(base24, 30, "<I", 4),
        "compression_unknown": patch(base24, 30, "<I", 99),
        "rle8_at_24_bits": patch(base24, 30, "<I", 1),
        "rle8_size_huge": patch(good["rle8_6x3"], 14 + 20, "<I", 0x7FFFFFFF),
        "rle8_size_zero": patch(good["rle8_6x3"], 14 + 20, "<I", 0),
        "rle8_top_down": patch(good["rle8_6x3"], 22, "<i", -3),
        "fields_at_24_bits": patch(base24, 30, "<I", 3),
        "fields_masks_cut": good["rgb565_fields_4x3"][:14 + 40 + 8],
        "offset_into_header": patch(base24, 10, "<I", 20),
        "offset_past_end": patch(base24, 10, "<I", len(base24) + 100),
        "offset_leaves_short_bits": patch(base24, 10, "<I", 14 + 40 + 4),
        "offset_huge": patch(base24, 10, "<I", 0xFFFFFFFF),
        "core_bits_16": patch(good["core_rgb24_3x3"], 14 + 10, "<H", 16),
        "core_height_zero": patch(good["core_rgb24_3x3"], 14 + 6, "<H", 0),
        "core_truncated_palette": good["core_byte_5x3"][:14 + 12 + 300],
    }
    manifest = []
    for name, data in good.items():
        (out / f"{name}.bmp").write_bytes(data)
        with Image.open(io.BytesIO(data)) as image:
            rgb = image.convert("RGB")
            (out / f"{name}.rgb").write_bytes(rgb.tobytes())
            manifest.append(f"{name} accept {rgb.width} {rgb.height}")
    for name, data in bad.items():
        (out / f"{name}.bmp").write_bytes(data)
        manifest.append(f"{name} refuse")
    rng = random.Random(20261211)
    sources = list(good.values())
    for i in range(300):
        data = bytearray(rng.choice(sources))
        for _ in range(rng.randint(1, 6)):
            where = rng.randrange(min(len(data), 80)) if rng.random() < 0.7 else rng.randrange(len(data))
            data[where] = rng.randrange(256)
        if rng.random() < 0.3:
            data = data[:rng.randrange(len(data))]
        (out / f"mutated_{i:03}.bmp").write_bytes(bytes(data))
        manifest.append(f"mutated_{i:03} either")
    (out / "manifest.txt").write_text("\n".join(manifest) + "\n")


if __name__ == "__main__":
    main()
