#!/usr/bin/env python3
"""Fails when a source file of the library includes from a floor above its own.

The library's folders are floors, from the ground up; a file may include
from its own folder and from the folders below it, never from above. Tests
and tools stand outside the house and may include anything. The floors are
listed in FLOORS below and in the README ("How the pieces fit").
"""
import pathlib
import re
import sys

# Lowest first.
FLOORS = ["base", "gfx", "ui", "layout", "viewer", "net", "content", "stats", "radio",
          "widget", "host"]

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


def violations(root):
    rank = {folder: level for level, folder in enumerate(FLOORS)}
    for folder in FLOORS:
        for source in sorted((root / folder).rglob("*")):
            if source.suffix not in (".h", ".cpp", ".rc"):
                continue
            text = source.read_text(encoding="utf-8", errors="replace")
            for match in INCLUDE.finditer(text):
                target = match.group(1).split("/")[0]
                if target in rank and rank[target] > rank[folder]:
                    line = text.count("\n", 0, match.start()) + 1
                    yield (f"{source.relative_to(root)}:{line}: includes {match.group(1)}, "
                           f"which is on the floor '{target}' above '{folder}'")
    for path in sorted(p for p in root.iterdir() if p.is_dir()):
        if (any(path.glob("*.cpp")) or any(path.glob("*.h"))) and path.name not in rank \
                and path.name not in ("tests", "tools"):
            yield f"{path.name}/: a folder of sources that is on no floor"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    found = list(violations(root))
    for message in found:
        print(message)
    if found:
        print(f"{len(found)} include(s) against the floors: {' < '.join(FLOORS)}")
        return 1
    print(f"floors kept: {' < '.join(FLOORS)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
