#!/usr/bin/env python3
"""Give one face of a font family a family of its own.

GDI+ finds the families of a private font collection by the name table, and
the widget asks for the bold face as a family of its own ("PT Sans Bold"),
always with the regular style bits.  The upstream bold face registers as
style Bold of "PT Sans", so here it becomes the only face, subfamily
"Regular", of a new family:

  * name IDs 1, 4 (and 16 if present) carry the new family name, 2 (and 17)
    "Regular", 6 the new PostScript name, 18 the full name; in every
    platform's records, so Windows and Mac readers agree.
  * OS/2 fsSelection and head macStyle lose their bold/italic bits and gain
    REGULAR: GDI+ classifies a face by these bits and refuses style 0 of a
    family that has no face flagged regular.  usWeightClass is left as it is;
    it only tells renderers how heavy the outlines are, which is still true.
  * The digital signature no longer matches the changed tables and is
    dropped; the head timestamps are kept so that equal input gives equal
    output.

Usage: rename_family.py SOURCE DEST --family NAME --postscript NAME
"""

import argparse
import os
import sys

from fontTools.ttLib import TTFont

FS_ITALIC = 1 << 0
FS_BOLD = 1 << 5
FS_REGULAR = 1 << 6
MAC_BOLD = 1 << 0
MAC_ITALIC = 1 << 1


def rename(font, family, postscript):
    names = font["name"]
    wanted = {1: family, 2: "Regular", 4: family, 6: postscript}
    present = {record.nameID for record in names.names}
    for name_id in (1, 2, 4, 6):
        if name_id not in present:
            raise SystemExit(f"name ID {name_id} missing: not a font we know")
    # The typographic names exist only in fonts with more than four styles
    # per family; keep them consistent when they are there, never add them.
    if 16 in present:
        wanted[16] = family
    if 17 in present:
        wanted[17] = "Regular"
    if 18 in present:
        wanted[18] = family
    for record in names.names:
        if record.nameID in wanted:
            # Encoded for the record's own platform when the table is written.
            record.string = wanted[record.nameID]

    os2 = font["OS/2"]
    os2.fsSelection = (os2.fsSelection & ~(FS_ITALIC | FS_BOLD)) | FS_REGULAR
    head = font["head"]
    head.macStyle &= ~(MAC_BOLD | MAC_ITALIC)

    if "DSIG" in font:
        del font["DSIG"]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source")
    parser.add_argument("dest")
    parser.add_argument("--family", required=True)
    parser.add_argument("--postscript", required=True)
    args = parser.parse_args(argv)

    if any(c in args.postscript for c in " []{}()<>/%") or len(args.postscript) > 63:
        parser.error("PostScript names are at most 63 printable characters without spaces")

    font = TTFont(args.source, recalcTimestamp=False)
    rename(font, args.family, args.postscript)
    # Written aside and moved into place, so that a failed run leaves no
    # half-written font that the build would take as up to date.
    partial = args.dest + ".partial"
    font.save(partial)
    os.replace(partial, args.dest)


if __name__ == "__main__":
    main(sys.argv[1:])
