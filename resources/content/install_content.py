#!/usr/bin/env python3
"""Checks the content set and installs it as the widget's first-run caches.

The check: every document parses and has the members, types and sizes the
feeds read (a value longer than the widget's buffer is cut, a value of
another type reads as empty, so neither would fail anywhere else), dates
are in the feeds' form, the Friday and Exclusive link markup is closed,
every picture a document names is in the set at the path its address gives
and has the size the page draws, map markers stand on the map and clear of
its button, and, given the bold header font, every News and Friday title
fits on its header strip (the strip shows the first line only).

The install: the documents into feeds/, the offer pictures into exclusive/
and the map pictures into maps/ of the install folder, under the names the
feeds give their downloads, so that the panel is full at its first start,
offline too. The copies are dated long ago: a cache file's time is the
condition of the feed's next request, so the first download online always
replaces them with the server's documents.

  install_content.py [--content DIR] [--header-font PTS75F.ttf] [--dist DIR] [--stamp FILE]

Prints every fault and exits 1 when there is one, before copying anything;
otherwise installs (with --dist) and writes the stamp file.
"""
import argparse
import datetime
import json
import os
import re
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# The built-in content server of the widget (net/HttpClient.cpp). Picture
# addresses name it; the test servers put their own address in its place.
CONTENT_URL = "http://content.orvella.example/"

SETTINGS_KEYS = {  # key: capacity with terminator (UTF-16 units; bytes for radio_url)
    "phone_number": 30, "phone_text": 100, "title_1": 100, "title_2": 100, "title_5": 100,
    "online_banking": 260, "radio_title": 100, "radio_url": 260,
}
ARTICLE_KEYS = {"title": 300, "body_plain": 1000, "link": 300, "publish_date": 300}
OFFER_KEYS = {"title": 300, "body_plain": 2000, "image_url": 300, "link": 1000}
CITY_KEYS = {"name": 100, "image_url": 300}
OFFICE_KEYS = {"name": 128, "address": 384, "info": 1024, "link": 1024}

OFFER_PICTURE = (90, 90)
MAP_PICTURE = (276, 266)
MARKER = (16, 21)
MARKER_HOVER_GROWTH = (4, 11)  # the hover marker reaches this far left and up
MAP_BUTTON = (204, 14, 65, 29)  # the all-offices button on the map page
# Header strip: 260 wide, 5 padding each side, 90 for the date on the right.
HEADER_TITLE_WIDTH = 260 - 5 - 5 - 90
HEADER_FONT_SIZE = 12
# 2000-01-01 00:00:00 UTC: older than any document a server will hold.
SHIPPED_TIME = 946684800
# Folder of the set: folder of the install folder.
SHIPPED_FOLDERS = (("data", "feeds"), ("exclusive", "exclusive"), ("maps", "maps"))

DATE = re.compile(r"^(\d{4})-(\d{2})-(\d{2})$")
DATE_TIME = re.compile(r"^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})$")
RATE = re.compile(r"^\d{1,4},\d{2}$")
ANCHOR = re.compile(r'<a href="([^"<>]*)">([^<>]*)</a>')


class Checker:
    def __init__(self, content):
        self.content = content
        self.faults = []
        self.titles = []  # header titles to measure: (where, text)

    def fault(self, where, text):
        self.faults.append("%s: %s" % (where, text))

    def load(self, name):
        path = os.path.join(self.content, "media", "data", name)
        try:
            with open(path, encoding="utf-8") as f:
                document = json.load(f)
        except (OSError, ValueError) as error:
            self.fault(name, "does not load: %s" % error)
            return None
        if not isinstance(document, dict):
            self.fault(name, "is not a JSON object")
            return None
        return document

    def strings(self, where, record, keys, as_bytes=()):
        """Every key present, a non-empty string that fits its buffer."""
        if not isinstance(record, dict):
            self.fault(where, "is not an object")
            return False
        for key, capacity in keys.items():
            value = record.get(key)
            if not isinstance(value, str) or not value:
                self.fault(where, "%s is missing, empty or not a string" % key)
                continue
            size = len(value.encode("utf-8")) if key in as_bytes \
                else len(value.encode("utf-16-le")) // 2
            if size >= capacity:
                self.fault(where, "%s has %d units, the widget keeps %d" % (key, size, capacity - 1))
        return True

    # Links on pages open only as plain http addresses (the panel hands no
    # other scheme to the shell); the online-banking entry may be https.
    def web_address(self, where, value, schemes=("http://",)):
        if isinstance(value, str) and value.startswith(schemes) and " " not in value:
            return True
        self.fault(where, "%r is not a web address" % (value,))
        return False

    def markup(self, where, text, allowed):
        """Links closed as the page builders split them; no other tags."""
        links = ANCHOR.findall(text)
        if not allowed and links:
            self.fault(where, "carries link markup, which this feed shows as text")
        rest = ANCHOR.sub("", text)
        if "<" in rest or ">" in rest:
            self.fault(where, "has markup that is not a closed <a href=\"...\">label</a>")
        for href, label in links:
            self.web_address(where, href)
            if not label.strip():
                self.fault(where, "has a link without a label")
        return len(links)

    def picture(self, where, url, folder, size):
        """An address on the content server whose file is in the set."""
        if not isinstance(url, str) or not url.startswith(CONTENT_URL):
            self.fault(where, "image_url %r is not on %s" % (url, CONTENT_URL))
            return None
        path = url[len(CONTENT_URL):]
        if not path.startswith("media/%s/" % folder) or "/" in path[len("media/%s/" % folder):]:
            self.fault(where, "image_url %r is not in media/%s/" % (url, folder))
            return None
        local = os.path.join(self.content, *path.split("/"))
        try:
            with open(local, "rb") as f:
                head = f.read(24)
        except OSError:
            self.fault(where, "picture %s is not in the set" % path)
            return None
        if head[:8] != b"\x89PNG\r\n\x1a\n":
            self.fault(where, "picture %s is not a PNG file" % path)
            return None
        found = struct.unpack(">II", head[16:24])
        if found != size:
            self.fault(where, "picture %s is %dx%d, the page draws %dx%d"
                       % ((path,) + found + size))
        return path.rsplit("/", 1)[1]

    def settings(self):
        document = self.load("settings.json")
        if document is None:
            return
        self.strings("settings.json", document, SETTINGS_KEYS, as_bytes=("radio_url",))
        self.web_address("settings.json online_banking", document.get("online_banking"),
                         ("https://", "http://"))
        self.web_address("settings.json radio_url", document.get("radio_url"), ("http://",))
        if not document.get("radio_url", "").isascii():
            self.fault("settings.json", "radio_url is copied as bytes: keep it ASCII")

    def rates(self):
        document = self.load("rates.json")
        if document is None:
            return
        self.strings("rates.json", document, {"date": 30, "usd": 10, "eur": 10})
        match = DATE.match(str(document.get("date")))
        if not match or not valid_date(match.groups()):
            self.fault("rates.json", "date %r is not year-month-day" % document.get("date"))
        for key in ("usd", "eur"):
            if not RATE.match(str(document.get(key))):
                self.fault("rates.json", "%s %r is not a rate with a decimal comma"
                           % (key, document.get(key)))

    def articles(self, name, links_allowed):
        document = self.load(name)
        if document is None:
            return 0
        items = document.get("items")
        if not isinstance(items, list) or not items:
            self.fault(name, "items is not a non-empty array")
            return 0
        previous = None
        with_links = 0
        for index, item in enumerate(items):
            where = "%s item %d" % (name, index)
            if not self.strings(where, item, ARTICLE_KEYS):
                continue
            self.titles.append((where, item["title"]))
            self.web_address(where + " link", item["link"])
            if self.markup(where, item["body_plain"], links_allowed):
                with_links += 1
            match = DATE_TIME.match(item["publish_date"])
            if not match or not valid_date(match.groups()):
                self.fault(where, "publish_date %r is not year-month-dayThh:mm:ss"
                           % item["publish_date"])
                continue
            if previous is not None and item["publish_date"] > previous:
                self.fault(where, "is newer than the item before it")
            previous = item["publish_date"]
        return with_links

    def exclusive(self):
        document = self.load("exclusive.json")
        if document is None:
            return
        items = document.get("items")
        if not isinstance(items, list) or not items:
            self.fault("exclusive.json", "items is not a non-empty array")
            return
        names = set()
        for index, item in enumerate(items):
            where = "exclusive.json item %d" % index
            if not self.strings(where, item, OFFER_KEYS):
                continue
            self.markup(where, item["body_plain"], True)
            self.web_address(where + " link", item["link"])
            name = self.picture(where, item["image_url"], "exclusive", OFFER_PICTURE)
            if name and name in names:
                # One local file per name: two offers would share a picture.
                self.fault(where, "picture name %s is used twice" % name)
            names.add(name)

    def maps(self):
        document = self.load("maps.json")
        if document is None:
            return
        cities = document.get("map")
        if not isinstance(cities, list) or not cities:
            self.fault("maps.json", "map is not a non-empty array")
            return
        city_names, pictures = set(), set()
        for index, city in enumerate(cities):
            where = "maps.json city %d" % index
            if not self.strings(where, city, CITY_KEYS):
                continue
            if city["name"] in city_names:
                self.fault(where, "city %s is there twice (page names would clash)" % city["name"])
            city_names.add(city["name"])
            name = self.picture(where, city["image_url"], "maps", MAP_PICTURE)
            if name and name in pictures:
                self.fault(where, "picture name %s is used twice" % name)
            pictures.add(name)
            offices = city.get("offices")
            if not isinstance(offices, list):
                self.fault(where, "offices is not an array")
                continue
            office_names = set()
            for number, office in enumerate(offices):
                spot = "%s office %d" % (where, number)
                if not self.strings(spot, office, OFFICE_KEYS):
                    continue
                if office["name"] in office_names:
                    self.fault(spot, "office %s is there twice" % office["name"])
                office_names.add(office["name"])
                self.web_address(spot + " link", office["link"])
                self.marker(spot, office.get("map_x"), office.get("map_y"))

    def marker(self, where, x, y):
        if not all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in (x, y)):
            self.fault(where, "map_x and map_y must be numbers")
            return
        left, top = x - MARKER_HOVER_GROWTH[0], y - MARKER_HOVER_GROWTH[1]
        if left < 0 or top < 0 or x + MARKER[0] > MAP_PICTURE[0] or y + MARKER[1] > MAP_PICTURE[1]:
            self.fault(where, "marker at %g,%g leaves the map" % (x, y))
        bx, by, bw, bh = MAP_BUTTON
        hover = (left, top, 25, 33)
        if hover[0] < bx + bw and bx < hover[0] + hover[2] and hover[1] < by + bh \
                and by < hover[1] + hover[3]:
            self.fault(where, "marker at %g,%g is under the all-offices button" % (x, y))

    def measure_titles(self, font):
        """Widths with FreeType through ImageMagick, in one run; GDI+ measures
        within a pixel or two of it, so a few pixels are kept spare."""
        command = ["convert", "-font", font, "-pointsize", str(HEADER_FONT_SIZE),
                   "-density", "72"]
        command += ["label:" + text.replace("%", "%%").replace("\\", "\\\\")
                    for _, text in self.titles]
        command += ["-format", "%w\n", "info:"]
        result = subprocess.run(command, capture_output=True, text=True)
        widths = result.stdout.split()
        if result.returncode != 0 or len(widths) != len(self.titles):
            self.fault("titles", "could not be measured: %s" % result.stderr.strip())
            return
        for (where, text), width in zip(self.titles, widths):
            if int(width) > HEADER_TITLE_WIDTH - 6:
                self.fault(where, "title %r is %s px wide; the header strip shows %d"
                           % (text, width, HEADER_TITLE_WIDTH - 6))


def valid_date(parts):
    try:
        datetime.datetime(*(int(p) for p in parts))
        return True
    except ValueError:
        return False


def install(content, dist):
    for source, target in SHIPPED_FOLDERS:
        folder = os.path.join(content, "media", source)
        os.makedirs(os.path.join(dist, target), exist_ok=True)
        for name in sorted(os.listdir(folder)):
            copy = os.path.join(dist, target, name)
            shutil.copyfile(os.path.join(folder, name), copy)
            os.utime(copy, (SHIPPED_TIME, SHIPPED_TIME))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--content", default=HERE)
    parser.add_argument("--header-font", help="PT Sans Bold, to measure the header titles")
    parser.add_argument("--dist", help="the install folder")
    parser.add_argument("--stamp")
    args = parser.parse_args()

    checker = Checker(args.content)
    checker.settings()
    checker.rates()
    checker.articles("news.json", links_allowed=False)
    if checker.articles("friday.json", links_allowed=True) == 0:
        checker.fault("friday.json", "no item carries a link")
    checker.exclusive()
    checker.maps()
    if args.header_font:
        checker.measure_titles(args.header_font)

    for fault in checker.faults:
        print("content set: " + fault, file=sys.stderr)
    if checker.faults:
        return 1
    if args.dist:
        install(args.content, args.dist)
    if args.stamp:
        with open(args.stamp, "w") as f:
            f.write("checked\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
