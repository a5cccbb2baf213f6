#!/usr/bin/env python3
"""Checks that every ctest entry of a build tree has a time limit of its own.

Usage: check_time_limits.py CTEST BUILD-DIR

An entry without one runs under ctest's default of 1500 s (or none at all), and a hang then holds the
whole run instead of failing with the entry's name.
"""
import json
import subprocess
import sys


def main():
    ctest, build = sys.argv[1], sys.argv[2]
    listing = subprocess.run([ctest, "--show-only=json-v1"], cwd=build, capture_output=True, text=True, check=True)
    tests = json.loads(listing.stdout)["tests"]
    missing = []
    for test in tests:
        limits = [p["value"] for p in test.get("properties", []) if p["name"] == "TIMEOUT"]
        if not limits or not 0 < float(limits[0]) <= 3600:
            missing.append(test["name"])
    for name in missing:
        print(f"FAIL: {name} has no time limit of its own")
    print(f"{len(tests)} entries, {len(missing)} without a time limit")
    if not tests:
        print("FAIL: no entries listed")
    return 1 if missing or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
