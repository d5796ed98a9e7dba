#!/usr/bin/env python3
"""Benchmark: the panel at 100 %, 150 % and 200 % display scale, as Wine
takes the system's from LogPixels, on a display of its own the size of a
14-inch laptop's screen (2880 x 1800), so that the panel at 200 % fits on
it. Runs panel_bench.exe (Load, repaint ratios, a scroll tick, a hover,
private bytes) and desktop_bench.py (the stand-in desktop's repaint ratios
and the stall probe), the panel placed clear of the stand-in's icons, once
at each scale. Prints figures; asserts nothing.

Usage: scaled_bench.py BIN DIST (needs WINEPREFIX; puts LogPixels back as
it was not set, and restarts the Wine server at each scale)."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import test_desktop as e2e  # noqa: E402  the dpi setting

SCREEN = "2880x1800"
PLACE = "1600,300"  # list view pixels: clear of the stand-in's icons at every scale


def main():
    bin_dir, dist = sys.argv[1], sys.argv[2]
    number = 140
    while os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
        number += 1
    xvfb = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", f"{SCREEN}x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    outer = os.environ.get("DISPLAY")
    os.environ["DISPLAY"] = f":{number}"
    try:
        for _ in range(100):
            if subprocess.run(["xdpyinfo"], capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        for dpi in (96, 144, 192):
            e2e.set_system_dpi(dpi)
            print(f"-- panel_bench on a {SCREEN} screen at {dpi} dpi", flush=True)
            subprocess.run(["wine", os.path.join(bin_dir, "panel_bench.exe")], check=False)
            print(f"-- desktop_bench.py on a {SCREEN} screen at {dpi} dpi", flush=True)
            subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                         "desktop_bench.py"),
                            bin_dir, dist, str(dpi / 96), PLACE], check=False)
    finally:
        e2e.set_system_dpi(96)
        xvfb.kill()
        xvfb.wait()
        if outer is None:
            os.environ.pop("DISPLAY", None)
        else:
            os.environ["DISPLAY"] = outer
        e2e.restore_wine()


if __name__ == "__main__":
    main()
