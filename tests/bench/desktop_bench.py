#!/usr/bin/env python3
"""Benchmark: what the panel costs the desktop, measured black-box in the
desktop stand-in's own window thread. The stand-in repaints the panel's
rectangle and the whole screen synchronously (median of many rounds), first
bare, then with orvella.dll loaded by the host stand-in, and the figures
are printed as ratios. Then the stall probe, a thread of another process
pinging the list view every 2 ms, times the desktop's thread over Load,
the first show of each tab, the city selector and a marker, scrolling, a
hover and Unload: with our content set, and with every cache at its budgets
(a copy of the install folder). Prints figures; asserts nothing.

Usage: desktop_bench.py BIN DIST [SCALE X,Y] (needs DISPLAY and
WINEPREFIX, as tools/scripts/build-and-test.sh sets them). With SCALE (the
desktop's display scale, 1.5 for 150 %, as tests/bench/scaled_bench.py sets
it) every point is taken at that scale, and the panel is placed at X,Y of
the list view, clear of the stand-in's icons."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import test_desktop as e2e  # noqa: E402  the stand-ins' drivers

PANEL_WIDTH, PANEL_HEIGHT = 318, 468
SCALE, PLACE = 1.0, None  # the display's scale and the panel's saved place


def on_panel(desktop, point):
    """A point of the design on the panel, on the list view."""
    x, y = e2e.panel_origin(desktop.width, SCALE, PLACE)
    dx, dy = e2e.scaled(point, SCALE)
    return x + dx, y + dy


def in_viewer(desktop, point):
    return on_panel(desktop, (e2e.CONTENT[0] + point[0], e2e.CONTENT[1] + point[1]))
# The budgets of base/Budgets.h that the documents below fill.
ARTICLES, OFFERS, CITIES, OFFICES, DOCUMENT_BYTES = 300, 50, 20, 200, 2 << 20


def budget_documents(feeds):
    """Rewrites the caches in feeds as documents at their budgets, made of
    our content set's items over and over."""
    def load(name):
        with open(os.path.join(feeds, name), encoding="utf-8") as document:
            return json.load(document)

    def save(name, document, pad_to=0):
        text = json.dumps(document, ensure_ascii=False)
        if pad_to:
            pad = '"pad": "", '
            text = '{"pad": "' + "x" * (pad_to - len(text.encode()) - len(pad)) + '", ' + text[1:]
        with open(os.path.join(feeds, name), "w", encoding="utf-8") as document:
            document.write(text)

    for name, count, pad_to in [("news.json", ARTICLES, DOCUMENT_BYTES),
                                ("friday.json", ARTICLES, 0), ("exclusive.json", OFFERS, 0)]:
        items = load(name)["items"]
        save(name, {"items": [items[i % len(items)] for i in range(count)]}, pad_to)
    cities = load("maps.json")["map"]
    full = []
    for i in range(CITIES):
        city = dict(cities[i % len(cities)])
        offices = city["offices"] or cities[0]["offices"]
        city["name"] = f"{city['name']} {i + 1}"
        city["offices"] = [offices[o % len(offices)] for o in range(OFFICES)]
        full.append(city)
    save("maps.json", {"map": full})


def wheel(notches):
    for _ in range(notches):
        subprocess.run(["xdotool", "click", "5"], check=True)


def stalls(desktop, dist, label):
    """The stall probe over everything a user does, with the install folder dist."""
    probe = e2e.WineProgram("stall_probe.exe")
    probe.read_until("probe")
    e2e.forget_saved_settings()
    if PLACE:
        e2e.store_place(PLACE)
    host = e2e.WineProgram("host_standin.exe", os.path.join(dist, "orvella.dll"))
    try:
        host.read_until("exports")

        def measure(what, action, quiet=0.8):
            probe.ask("mark")
            action()
            time.sleep(quiet)
            longest, p99, count, over = probe.ask("report").split()
            listed = probe.ask("stalls")
            print(f"stall probe, {label}, {what}: longest {longest} ms, 99th percentile {p99} ms"
                  f" ({over} of {count} round trips over 16 ms{': ' + listed if listed else ''})")

        def at(point):
            return on_panel(desktop, point)

        measure("Load, with the caches' deliveries", lambda: host.ask("load"), quiet=3)
        for tab, name in [(1, "Club"), (2, "Map"), (3, "Exclusive"), (4, "Friday"), (5, "About")]:
            # As a user does: over the tab first, a moment, then the click.
            measure(f"first show of {name}", lambda: (
                subprocess.run(["xdotool", "mousemove", *map(str, at(e2e.TABS[tab]))], check=True),
                time.sleep(0.3), e2e.click(*at(e2e.TABS[tab]))))
            if tab == 2:
                with open(os.path.join(dist, "feeds", "maps.json"), encoding="utf-8") as document:
                    office = json.load(document)["map"][0]["offices"][0]
                measure("an office opened from its marker and back", lambda: (
                    e2e.click(*in_viewer(desktop, (int(office["map_x"]) + 8, int(office["map_y"]) + 12))),
                    e2e.click(*in_viewer(desktop, e2e.MAP_BACK))))
                measure("the city selector, twice", lambda: (
                    e2e.click(*at(e2e.SELECT_DOWN)), e2e.click(*at(e2e.SELECT_DOWN))))
        measure("News shown again", lambda: e2e.click(*at(e2e.TABS[0])))
        measure("ten wheel notches on News", lambda: (
            subprocess.run(["xdotool", "mousemove", *map(str, in_viewer(desktop, (150, 150)))],
                           check=True),
            wheel(10)), quiet=1.5)
        link = e2e.FIRST_LINK[0] + 10, e2e.FIRST_LINK[1] + 4
        measure("hovers over a link and off it, five times", lambda: [
            subprocess.run(["xdotool", "mousemove",
                            *map(str, in_viewer(desktop, (link[0] + dx, link[1] + dy)))],
                           check=True) or time.sleep(0.1)
            for _ in range(5) for dx, dy in ((0, 0), (260, 60))])
        measure("Unload", lambda: host.ask("unload"), quiet=0.5)
    finally:
        host.close()
        probe.close()


def main():
    global SCALE, PLACE
    e2e.BIN, e2e.DIST = sys.argv[1], sys.argv[2]
    if len(sys.argv) > 4:
        SCALE, PLACE = float(sys.argv[3]), tuple(map(int, sys.argv[4].split(",")))
    e2e.forget_saved_settings()
    if PLACE:
        e2e.store_place(PLACE)
    desktop = e2e.Desktop()
    host = None
    try:
        x, y = on_panel(desktop, (0, 0))
        width, height = e2e.scaled((PANEL_WIDTH, PANEL_HEIGHT), SCALE)
        panel = f"{x} {y} {width} {height}"

        def repaint(area, times):
            return float(desktop.ask(f"repaint {area} {times}"))

        bare_panel, bare_screen = repaint(panel, 200), repaint("0 0 0 0", 50)
        probe = e2e.WineProgram("stall_probe.exe")
        probe.read_until("probe")
        host = e2e.WineProgram("host_standin.exe", os.path.join(e2e.DIST, "orvella.dll"))
        host.read_until("exports")
        probe.ask("mark")
        if host.ask("load") != "1":
            print("the panel did not load")
            return 1
        time.sleep(2)  # the first paint and the worker's first round
        longest, p99, count, over = probe.ask("report").split()
        listed = probe.ask("stalls")
        probe.close()
        print(f"stall probe, our content set, the first Load in a fresh desktop process with the"
              f" caches' deliveries: longest {longest} ms, 99th percentile {p99} ms ({over} of"
              f" {count} round trips over 16 ms{': ' + listed if listed else ''})")
        with_panel, with_screen = repaint(panel, 200), repaint("0 0 0 0", 50)
        print(f"stand-in desktop, repaint of the panel's rectangle: {with_panel:.2f} ms with "
              f"the panel, {bare_panel:.2f} ms bare: {with_panel / bare_panel:.2f} times")
        print(f"stand-in desktop, repaint of the whole screen {desktop.width}x{desktop.height}: "
              f"{with_screen:.2f} ms with the panel, {bare_screen:.2f} ms bare: "
              f"{with_screen / bare_screen:.2f} times")
        host.ask("unload")
        host.close()
        host = None
        stalls(desktop, e2e.DIST, "our content set")
        copy = tempfile.mkdtemp(prefix="orvella-budgets-")
        try:
            dist = os.path.join(copy, "dist")
            shutil.copytree(e2e.DIST, dist)
            budget_documents(os.path.join(dist, "feeds"))
            stalls(desktop, dist, "every cache at its budgets")
        finally:
            shutil.rmtree(copy, ignore_errors=True)
    finally:
        if host:
            host.close()
        desktop.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
