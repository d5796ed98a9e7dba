#!/usr/bin/env python3
"""Check the rendered pictures against the manifest and lay them out on one sheet.

The manifest (one line per picture: "<path under images/> <width> <height>",
nothing else) is what the Windows-side picture test reads, so a picture whose drawing
changed size, a picture nobody listed and a listed picture that was not
rendered all stop the build here, before anyone looks at the sheet.

The sheet shows every picture at its own size with its name and size under
it.  ImageMagick's montage makes all tiles of one call the same size, so
pictures are grouped by height into a few strips that are then stacked:
the icons do not each take a tile as tall as the panel.

Usage: contact_sheet.py --manifest FILE --images DIR --output PNG
                        [--montage PROGRAM] [--font TTF] PICTURE...
PICTURE: the rendered pictures, as paths relative to DIR.
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
BACKGROUND = "#bbbbbb"

# Strips by height (name, least height of its pictures); in each, tiles are
# as wide as the widest picture but at least LABEL_WIDTH, so names fit.
STRIPS = [
    ("panels", 300),
    ("tall", 100),
    ("medium", 30),
    ("small", 0),
]
LABEL_WIDTH = 150
SHEET_WIDTH = 2000


def read_manifest(path):
    entries = {}
    with open(path, encoding="utf-8") as manifest:
        for number, line in enumerate(manifest, 1):
            fields = line.split()
            if len(fields) != 3 or not fields[1].isdigit() or not fields[2].isdigit():
                raise SystemExit(f"{path}:{number}: expected '<name> <width> <height>', got {line!r}")
            if fields[0] in entries:
                raise SystemExit(f"{path}:{number}: {fields[0]} listed twice")
            entries[fields[0]] = (int(fields[1]), int(fields[2]))
    return entries


def png_size(path):
    with open(path, "rb") as picture:
        head = picture.read(24)
    if len(head) < 24 or head[:8] != PNG_SIGNATURE or head[12:16] != b"IHDR":
        raise SystemExit(f"{path}: not a PNG file")
    return struct.unpack(">II", head[16:24])


def check(manifest, images, pictures):
    problems = []
    for name in sorted(set(pictures) - set(manifest)):
        problems.append(f"{name}: rendered but not in the manifest")
    for name in sorted(set(manifest) - set(pictures)):
        problems.append(f"{name}: in the manifest but not rendered")
    for name in sorted(set(pictures) & set(manifest)):
        size = png_size(os.path.join(images, name))
        if size != manifest[name]:
            problems.append(f"{name}: is {size[0]} x {size[1]}, the manifest says "
                            f"{manifest[name][0]} x {manifest[name][1]}")
    return problems


def natural(name):
    """partner_2 before partner_10."""
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", name)]


def strip_of(size):
    return next(name for name, height in STRIPS if size[1] >= height)


def build_sheet(manifest, images, pictures, output, montage, font):
    common = ["-background", BACKGROUND, "-fill", "#202020", "-pointsize", "11", "-depth", "8"]
    if font:
        common += ["-font", font]
    with tempfile.TemporaryDirectory() as scratch:
        parts = []
        for strip, _ in STRIPS:
            members = [p for p in sorted(pictures, key=natural) if strip_of(manifest[p]) == strip]
            if not members:
                continue
            width = max(LABEL_WIDTH, *(manifest[p][0] for p in members))
            height = max(manifest[p][1] for p in members)
            columns = max(1, SHEET_WIDTH // (width + 16))
            command = [montage]
            for name in members:
                command += ["-label", f"{name}\n%wx%h", os.path.join(images, name)]
            part = os.path.join(scratch, f"{strip}.png")
            # ">" only ever shrinks, and no picture is larger than the tile:
            # every picture keeps its own size.
            command += common + ["-tile", f"{columns}x", "-geometry", f"{width}x{height}>+8+8", part]
            subprocess.run(command, check=True)
            parts.append(part)
        subprocess.run([montage] + parts + common + ["-tile", "1x", "-geometry", "+0+0", output],
                       check=True)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--manifest", required=True)
    parser.add_argument("--images", required=True)
    parser.add_argument("--output", required=True)
    parser.add_argument("--montage", default="montage")
    parser.add_argument("--font")
    parser.add_argument("pictures", nargs="+")
    args = parser.parse_args(argv)

    manifest = read_manifest(args.manifest)
    problems = check(manifest, args.images, args.pictures)
    if problems:
        print("pictures and manifest disagree:", *problems, sep="\n  ", file=sys.stderr)
        return 1
    build_sheet(manifest, args.images, args.pictures, args.output, args.montage, args.font)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
