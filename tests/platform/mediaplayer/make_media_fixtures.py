"""Writes the media player tests' files into a folder and prints what outside tools say of them.

WAV files are written here; MP3 files are encoded from them by lame and tagged by mutagen; mpg123 decodes
every MP3 to raw 16-bit PCM (NAME.ref) without gapless trimming. Each printed line is
"NAME KEY VALUE", with texts as hex of their UTF-8 bytes ("-" when empty).
"""
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import wave

from mutagen.id3 import ID3, TIT2, TPE1
from mutagen.mp3 import MP3, BitrateMode
from mutagen.wave import WAVE

out = sys.argv[1]
sys.stdout.reconfigure(encoding="utf-8")


def path(name):
    return os.path.join(out, name)


def write_wave(name, rate, channels, width, seconds):
    rng = random.Random(7)
    frames = bytearray()
    for i in range(int(rate * seconds)):
        for c in range(channels):
            v = 0.5 * math.sin(2 * math.pi * (440 + 220 * c) * i / rate) + 0.1 * (rng.random() - 0.5)
            if width == 2:
                frames += struct.pack("<h", int(v * 32767))
            else:
                frames += struct.pack("<B", int(128 + v * 127))
    with wave.open(path(name), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def lame(args, source, name):
    subprocess.run(["lame", "--quiet"] + args + [path(source), path(name)], check=True)


def hexed(text):
    return text.encode("utf-8").hex() or "-"


write_wave("tone16.wav", 44100, 2, 2, 1.3)
write_wave("tone8.wav", 22050, 1, 1, 0.7)
lame(["-b", "128"], "tone16.wav", "cbr.mp3")
lame(["-V", "4"], "tone16.wav", "vbr.mp3")
lame(["--resample", "22.05", "-m", "m", "-b", "32"], "tone16.wav", "mpeg2.mp3")
lame(["--resample", "8", "-m", "m", "-b", "16"], "tone16.wav", "mpeg25.mp3")
lame(["-t", "-b", "128"], "tone16.wav", "noinfo.mp3")

tags = {
    "cbr.mp3": ("T\u00edtulo \u2603 one", "Autor \u00dc", 4),
    "vbr.mp3": ("Second title", "Z\u00fcrich band", 3),
}
for name, (title, author, version) in tags.items():
    t = ID3()
    t.add(TIT2(encoding=3 if version == 4 else 1, text=title))
    t.add(TPE1(encoding=3 if version == 4 else 1, text=author))
    t.save(path(name), v2_version=version)

# A name beyond ASCII.
shutil.copyfile(path("cbr.mp3"), path("\u00dcn\u00efc\u2603de.mp3"))

# Broken files.
cbr = open(path("cbr.mp3"), "rb").read()
open(path("truncated.mp3"), "wb").write(cbr[: len(cbr) * 6 // 10])
open(path("empty.mp3"), "wb").close()
open(path("garbage.mp3"), "wb").write(bytes(random.Random(3).getrandbits(8) for _ in range(20000)))
open(path("hugeid3.mp3"), "wb").write(b"ID3\x04\x00\x00\x7f\x7f\x7f\x7f" + cbr)
with open(path("float.wav"), "wb") as f:
    data = struct.pack("<4f", 0.0, 0.5, -0.5, 0.25)
    fmt = struct.pack("<HHIIHH", 3, 1, 8000, 32000, 4, 32)
    f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE")
    f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data)

for name in ["cbr.mp3", "vbr.mp3", "mpeg2.mp3", "mpeg25.mp3", "noinfo.mp3", "\u00dcn\u00efc\u2603de.mp3"]:
    with open(path(name + ".ref"), "wb") as ref:
        subprocess.run(["mpg123", "--no-gapless", "-q", "-s", path(name)], stdout=ref, check=True)
    info = MP3(path(name))
    print(name, "length", repr(info.info.length))
    print(name, "bitrate", info.info.bitrate)
    print(name, "rate", info.info.sample_rate)
    print(name, "channels", info.info.channels)
    # Without a Xing, Info or VBRI frame mutagen estimates the length from the file's size.
    print(name, "estimated", 1 if info.info.bitrate_mode == BitrateMode.UNKNOWN else 0)
    tag = info.tags
    print(name, "title", hexed(str(tag["TIT2"].text[0]) if tag and "TIT2" in tag else ""))
    print(name, "author", hexed(str(tag["TPE1"].text[0]) if tag and "TPE1" in tag else ""))
for name in ["tone16.wav", "tone8.wav"]:
    info = WAVE(path(name)).info
    print(name, "length", repr(info.length))
    print(name, "bitrate", info.bitrate)
    print(name, "rate", info.sample_rate)
    print(name, "channels", info.channels)
    print(name, "estimated", 0)
    print(name, "title", "-")
    print(name, "author", "-")
