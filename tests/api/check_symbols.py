#!/usr/bin/env python3
"""Fails when the shared library's exported symbols differ from the committed list.

A change to the public interfaces must show up in review as a change to that list: rerun with
--update to rewrite it. Only the library's own symbols count (the C functions and the norvane
namespace); what the C++ standard library's templates leave behind varies with the compiler.

    check_symbols.py LIBRARY LIST [--update]
"""
import subprocess
import sys

lib, listed = sys.argv[1], sys.argv[2]
nm = subprocess.run(["nm", "-D", "--defined-only", "-C", lib], check=True,
                    capture_output=True, text=True).stdout
found = set()
for line in nm.splitlines():
    parts = line.split(" ", 2)
    if len(parts) == 3 and parts[2].startswith(("nv_", "norvane::")):
        found.add(parts[2])
found = sorted(found)

if "--update" in sys.argv:
    with open(listed, "w") as f:
        f.write("\n".join(found) + "\n")
    print(f"{len(found)} symbols written to {listed}")
    sys.exit(0)

with open(listed) as f:
    expected = [line.rstrip("\n") for line in f if line.strip()]
added = sorted(set(found) - set(expected))
removed = sorted(set(expected) - set(found))
for s in added:
    print(f"exported but not listed: {s}")
for s in removed:
    print(f"listed but not exported: {s}")
if added or removed:
    print(f"The exported symbols changed; if that is intended, run {sys.argv[0]} {lib} {listed} "
          "--update and commit the list.")
    sys.exit(1)
print(f"{len(found)} exported symbols, as listed")
