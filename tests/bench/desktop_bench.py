#!/usr/bin/env python3
"""Benchmark: what the panel costs the desktop, measured black-box in the
desktop stand-in's own window thread. The stand-in repaints the panel's
rectangle and the whole screen synchronously (median of many rounds), first
bare, then with orvella.dll loaded by the host stand-in, and the figures
are printed as ratios. Prints figures; asserts nothing.

Usage: desktop_bench.py BIN DIST (needs DISPLAY and WINEPREFIX, as
tools/scripts/build-and-test.sh sets them)."""

import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import test_desktop as e2e  # noqa: E402  the stand-ins' drivers

PANEL_WIDTH, PANEL_HEIGHT = 318, 468


def main():
    e2e.BIN, e2e.DIST = sys.argv[1], sys.argv[2]
    e2e.forget_saved_settings()
    desktop = e2e.Desktop()
    host = None
    try:
        x, y = desktop.width - e2e.PANEL_RIGHT_MARGIN, e2e.PANEL_TOP
        panel = f"{x} {y} {PANEL_WIDTH} {PANEL_HEIGHT}"

        def repaint(area, times):
            return float(desktop.ask(f"repaint {area} {times}"))

        bare_panel, bare_screen = repaint(panel, 200), repaint("0 0 0 0", 50)
        host = e2e.WineProgram("host_standin.exe", os.path.join(e2e.DIST, "orvella.dll"))
        host.read_until("exports")
        if host.ask("load") != "1":
            print("the panel did not load")
            return 1
        time.sleep(2)  # the first paint and the worker's first round
        with_panel, with_screen = repaint(panel, 200), repaint("0 0 0 0", 50)
        print(f"stand-in desktop, repaint of the panel's rectangle: {with_panel:.2f} ms with "
              f"the panel, {bare_panel:.2f} ms bare: {with_panel / bare_panel:.2f} times")
        print(f"stand-in desktop, repaint of the whole screen {desktop.width}x{desktop.height}: "
              f"{with_screen:.2f} ms with the panel, {bare_screen:.2f} ms bare: "
              f"{with_screen / bare_screen:.2f} times")
        host.ask("unload")
    finally:
        if host:
            host.close()
        desktop.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
