#!/usr/bin/env python3
"""Compares the system files that reached a simulated player through the built ZAVTCTRL.dll with the
DLL's CONFIG and UPGRADE resources, read by pefile (independent of the build's own code), and the font
with the image generated for Kwepsys.dll. For each case it runs system_files_client.exe under Wine.
Usage: check_system_files.py WINE_EXEC CLIENT DLL FONT_IMAGE WORK_FOLDER. Prints each check; exit 1 on any miss."""
import os
import shutil
import subprocess
import sys

import pefile

wine_exec, client, dll, font_image, work = sys.argv[1:6]
failures = 0


def check(name, ok, detail=""):
    global failures
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else f"  ({detail})"))
    if not ok:
        failures += 1


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# The DLL's custom resources by (type, id).
pe = pefile.PE(dll, fast_load=True)
pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
resources = {}
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if kind.name is None or str(kind.name) not in ("CONFIG", "UPGRADE"):
        continue
    for entry in kind.directory.entries:
        for language in entry.directory.entries:
            data = language.data.struct
            resources[(str(kind.name), entry.id)] = pe.get_data(data.OffsetToData, data.Size)
check("CONFIG 200-285 and 400-403", all(("CONFIG", i) in resources for i in list(range(200, 286)) + list(range(400, 404))))
check("UPGRADE 300-318", all(("UPGRADE", i) in resources for i in range(300, 319)))
check("no two resources alike", len(set(resources.values())) == len(resources))

# (model, build, what the player must hold: file -> (type, id)); the font case also loads Kwepsys.dll from
# the DLL's own folder.
cases = [
    (12, 1, {"config.dat": ("CONFIG", 268), "image.dat": ("CONFIG", 400), "upgrade.axf": ("UPGRADE", 311)}, False),
    (4, 1, {"config.dat": ("CONFIG", 264)}, True),
    (2, 2, {"config.dat": ("CONFIG", 202), "upgrade.axf": ("UPGRADE", 300)}, False),
]
firmware = os.path.join(work, "firmware.bin")
os.makedirs(work, exist_ok=True)
with open(firmware, "wb") as f:
    f.write(bytes((i * 7 + 3) & 0xFF for i in range(5000)))
for model, build, files, font in cases:
    out = os.path.join(work, f"model{model}")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    args = [wine_exec, client, windows(dll), str(model), str(build), windows(out), windows(firmware)]
    if font:
        args.append("font")
    run = subprocess.run(args, capture_output=True, text=True)
    print(run.stdout, end="")
    check(f"model {model} build {build}: the client's calls", run.returncode == 0, run.stderr.strip()[-400:])
    for name, key in files.items():
        path = os.path.join(out, name)
        got = open(path, "rb").read() if os.path.exists(path) else None
        check(f"model {model} build {build}: {name} is {key[0]} {key[1]}", got is not None and got == resources.get(key),
              "missing" if got is None else f"{len(got)} bytes")
    if "upgrade.axf" in files:
        path = os.path.join(out, "player.rom")
        check(f"model {model}: player.rom is the firmware file",
              os.path.exists(path) and open(path, "rb").read() == open(firmware, "rb").read())
    if font:
        path = os.path.join(out, "Font.fon")
        check(f"model {model}: Font.fon is Kwepsys.dll's image",
              os.path.exists(path) and open(path, "rb").read() == open(font_image, "rb").read())

print("all checks passed" if failures == 0 else f"{failures} checks failed")
sys.exit(1 if failures else 0)
