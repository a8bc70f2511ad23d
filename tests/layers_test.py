#!/usr/bin/env python3
"""The source areas stand in layers: an area includes only its own headers
and those of the areas below it, and no header shares mutable state."""
import re
import sys
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"
# Lowest first; programs at the top may include any area below them.
LAYERS = [["platform"], ["diag"], ["settings"], ["carriers"], ["crypt_utils"], ["desktop"], ["core"],
          ["keeper"], ["setup", "status"]]
RANK = {area: rank for rank, areas in enumerate(LAYERS) for area in areas}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)
# A declaration of an object defined elsewhere that is not const.
EXTERN = re.compile(r'^\s*extern\s+(?!"C")(?![^;]*\bconst\b)[^;(]*;', re.M)


def faults():
    found = []
    for path in sorted(SRC.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parent == SRC:
            continue
        area = path.relative_to(SRC).parts[0]
        if area not in RANK:
            found.append("%s: area %s has no layer" % (path, area))
            continue
        text = path.read_text(encoding="utf-8")
        for included in INCLUDE.findall(text):
            if included in RANK and RANK[included] > RANK[area]:
                found.append("%s includes %s, a higher area" % (path.relative_to(SRC), included))
        if path.suffix == ".h":
            for declaration in EXTERN.findall(text):
                found.append("%s shares state: %s" % (path.relative_to(SRC), declaration.strip()))
    return found


if __name__ == "__main__":
    problems = faults()
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)
