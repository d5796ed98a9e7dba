#!/usr/bin/env python3
"""Check that the installed fonts register the families the widget asks for.

The widget loads both files into one GDI+ private collection and asks for
the family "PT Sans" and the family "PT Sans Bold", always in style
regular.  GDI+ finds a family only by its name records and refuses a style
that no face of the family is flagged with, and a failure there is silent:
the text falls back to a generic sans-serif.  So the build stops here when

  * a file's Windows or Mac name records do not name the expected family
    with subfamily "Regular" (or the two platforms disagree),
  * a face is not flagged regular (bold/italic bits in OS/2 or head), or
  * the file that should be bold does not hold the bold face.

Usage: check_families.py REGULAR_TTF BOLD_TTF
"""

import sys

from fontTools.pens.areaPen import AreaPen
from fontTools.ttLib import TTFont

EXPECTED = ("PT Sans", "PT Sans Bold")
WINDOWS = (3, 1, 0x409)
MAC = (1, 0, 0)


def problems_of(path, family):
    font = TTFont(path)
    found = []
    for platform in (WINDOWS, MAC):
        names = tuple(font["name"].getName(i, *platform) for i in (1, 2))
        names = tuple(str(n) if n is not None else None for n in names)
        if names != (family, "Regular"):
            found.append(f"name records {platform[:2]} give family/subfamily {names}, "
                         f"expected {(family, 'Regular')}")
    selection = font["OS/2"].fsSelection
    if selection & 0b100001 or not selection & 0b1000000:
        found.append(f"OS/2 fsSelection {selection:#06x} is not plain REGULAR")
    if font["head"].macStyle & 0b11:
        found.append(f"head macStyle {font['head'].macStyle:#06x} has bold or italic set")
    return font, found


def ink_of_en(font):
    """Area covered by the lowercase Cyrillic en: larger in the bold face."""
    glyphs = font.getGlyphSet()
    pen = AreaPen(glyphs)
    glyphs[font.getBestCmap()[ord("н")]].draw(pen)
    return abs(pen.value)


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    report = []
    fonts = []
    for path, family in zip(argv, EXPECTED):
        font, found = problems_of(path, family)
        fonts.append(font)
        report += [f"{path}: {problem}" for problem in found]
    if ink_of_en(fonts[1]) <= ink_of_en(fonts[0]):
        report.append(f"{argv[1]} is not heavier than {argv[0]}: are the faces swapped?")
    if report:
        print(*report, sep="\n", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
