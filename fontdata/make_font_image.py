#!/usr/bin/env python3
"""Writes the font image that Kwepsys.dll carries: a deterministic stand-in for the player's font, which
no part of the system looks inside. Usage: make_font_image.py OUTPUT.

The pattern (fontdata/kwepsys.h repeats it for anyone who recomputes the image):
  2,093,088 bytes = 523,272 little-endian 32-bit words; word k (k = 0, 1, ...) is
      x = (k * 0x9E3779B1 + 0x4B574550) mod 2^32
      x ^= x >> 16;  x = (x * 0x85EBCA6B) mod 2^32
      x ^= x >> 13;  x = (x * 0xC2B2AE35) mod 2^32
      x ^= x >> 16
  Every word differs from its neighbours, so a copy that is shifted, cut short or repeated shows."""
import os
import struct
import sys

FONT_IMAGE_SIZE = 2093088
MASK = 0xFFFFFFFF


def word(k):
    x = (k * 0x9E3779B1 + 0x4B574550) & MASK
    x ^= x >> 16
    x = (x * 0x85EBCA6B) & MASK
    x ^= x >> 13
    x = (x * 0xC2B2AE35) & MASK
    x ^= x >> 16
    return x


def image():
    words = FONT_IMAGE_SIZE // 4
    return struct.pack(f"<{words}I", *(word(k) for k in range(words)))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_font_image.py OUTPUT")
    data = image()
    assert len(data) == FONT_IMAGE_SIZE
    # Written beside the target and renamed, so an interrupted build never leaves a short image.
    temporary = sys.argv[1] + ".part"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, sys.argv[1])
