#!/usr/bin/env bash
# Builds everything and shows the widget on the stand-in desktop, loaded by
# the stand-in host, with its feeds served by nginx on 127.0.0.1 from our
# content set (resources/content/media), which tests/servers/with_servers.py
# copies and serves as it does for the tests. Saves a screenshot in
# build/demo.png. With a display of your own it keeps running until you
# close the host's window; without one it runs on a private Xvfb and stops
# after the screenshot.
#
# ORVELLA_SCALE=150 (or 125, 175, 200: any percentage from 100 to 200) runs
# the desktop at that display scale, as Wine takes it from LogPixels, on a
# private Xvfb of 2880 x 1800 (a 14-inch laptop's screen), so that the panel
# at 200 % fits on it.
source "$(dirname "$0")/common.sh"

scale=${ORVELLA_SCALE:-100}
if ! [[ "$scale" =~ ^[0-9]+$ ]] || [ "$scale" -lt 100 ] || [ "$scale" -gt 200 ]; then
  echo "ORVELLA_SCALE must be a percentage from 100 to 200, not '$scale'" >&2
  exit 2
fi

# Wine's system dpi, which it reads from LogPixels when its server starts.
set_display_scale() {
  local dpi=$(( $1 * 96 / 100 ))
  if [ "$dpi" = 96 ]; then
    wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
  else
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
      >/dev/null 2>&1
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# The part that runs inside with_servers.py, with nginx up.
show() {
  local www=${ORVELLA_WWW:-}
  if [ -n "$www" ]; then
    www=${www#Z:}
    www=${www//\\//}
    echo "Content server: http://127.0.0.1/media/data/ serves $www/media/data/"
    echo "  (a temporary copy of resources/content/media, removed when the demo ends)"
  fi
  local played=${ORVELLA_AUDIO_FILE:-}
  if [ -n "$played" ]; then
    played=${played#Z:}
    echo "Sound: written to ${played//\\//} (16-bit stereo, 44.1 kHz), removed when the demo ends"
  fi
  # Both servers on the local nginx, set before the host loads the widget.
  local value
  for value in ContentServer StorageServer; do
    wine reg add 'HKCU\Software\Tambrel\Orvella' /v "$value" /t REG_SZ /d 127.0.0.1 /f \
      >/dev/null 2>&1
  done

  if [ "$scale" != 100 ]; then
    echo "Display scale: $scale %"
    set_display_scale "$scale"
  fi

  wine "$BUILD/bin/desktop_standin.exe" </dev/null >/dev/null 2>&1 &
  local desktop=$!
  sleep 2
  wine "$BUILD/bin/host_standin.exe" "$BUILD/dist/orvella.dll" --autoload "demo" </dev/null &
  local host=$!
  sleep 3
  import -silent -window root "$BUILD/demo.png"
  echo "Screenshot: $BUILD/demo.png"

  if [ -n "${ORVELLA_DEMO_INTERACTIVE:-}" ]; then
    echo "Close the host stand-in's window to end the demo."
    wait "$host" || true
  else
    kill "$host" 2>/dev/null || true
  fi
  kill "$desktop" 2>/dev/null || true
  # The tests and the next demo start at 100 %.
  if [ "$scale" != 100 ]; then
    set_display_scale 100
  fi
  # The test storage publishes a newer build, which the widget fetches
  # beside itself: keep the install folder as the build made it.
  rm -f "$BUILD/dist/orvella_update.tmp"
}

if [ "${1:-}" = "--show" ]; then
  show
  exit
fi

own_display=${DISPLAY:-}
install_packages
build
if [ "$scale" != 100 ]; then
  export ORVELLA_SCREEN=2880x1800
fi
ensure_display
ensure_prefix
export ORVELLA_DEMO_INTERACTIVE=$own_display

# nginx needs port 80, which only root may open; without it the panel shows
# the first-run caches that the build installed.
if ! python3 -c 'import socket, sys
s = socket.socket()
try:
    s.bind(("127.0.0.1", 80))
except PermissionError:
    sys.exit(1)
except OSError:
    pass' 2>/dev/null; then
  echo "No content server: port 80 needs root. The panel shows its first-run caches."
  show
  exit
fi

# The servers outlive an interactive demo by far; a shot alone takes seconds.
seconds=120
if [ -n "$own_display" ]; then seconds=86400; fi
python3 "$ROOT/tests/servers/with_servers.py" --bin "$BUILD/bin" --timeout "$seconds" \
  -- bash "$ROOT/tools/scripts/demo.sh" --show
