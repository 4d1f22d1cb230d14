#!/usr/bin/env python3
"""Fails when a source file under src/ includes a header of a layer it may not use.

The layers and what each may use are read from the norvane_layer() calls of the top
CMakeLists.txt, so the build and this check cannot disagree: a layer may include its own
headers and those of every layer it depends on, directly or through another layer.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
cmake = (root / "CMakeLists.txt").read_text()

deps = {}
for name, args in re.findall(r"norvane_layer\((\w+)([^)]*)\)", cmake):
    deps[name] = set(re.findall(r"norvane_(\w+)", args))


def reachable(layer, seen=None):
    seen = set() if seen is None else seen
    for d in deps.get(layer, ()):
        if d not in seen:
            seen.add(d)
            reachable(d, seen)
    return seen


include = re.compile(r'^\s*#\s*include\s+"([^"/]+)/', re.M)
faults = []
for layer in deps:
    allowed = reachable(layer) | {layer}
    for path in sorted((root / "src" / layer).rglob("*")):
        if path.suffix not in (".h", ".cpp", ".c"):
            continue
        for used in include.findall(path.read_text(errors="replace")):
            if used in deps and used not in allowed:
                faults.append(f"{path.relative_to(root)}: the {layer} layer includes {used}/")

for f in faults:
    print(f)
print(f"{len(deps)} layers checked, {len(faults)} upward includes")
sys.exit(1 if faults else 0)
