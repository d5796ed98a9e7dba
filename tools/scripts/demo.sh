#!/usr/bin/env bash
# Builds everything and shows the widget on the stand-in desktop, loaded by
# the stand-in host. Saves a screenshot in build/demo.png. With a display of
# your own it keeps running until you close the host's window; without one it
# runs on a private Xvfb and stops after the screenshot.
source "$(dirname "$0")/common.sh"

own_display=${DISPLAY:-}
install_packages
build
ensure_display
ensure_prefix

wine "$BUILD/bin/desktop_standin.exe" </dev/null >/dev/null 2>&1 &
desktop=$!
sleep 2
wine "$BUILD/bin/host_standin.exe" "$BUILD/dist/orvella.dll" --autoload "demo" </dev/null &
host=$!
sleep 3
import -silent -window root "$BUILD/demo.png"
echo "Screenshot: $BUILD/demo.png"

if [ -n "$own_display" ]; then
  echo "Close the host stand-in's window to end the demo."
  wait "$host" || true
else
  kill "$host" 2>/dev/null || true
fi
kill "$desktop" 2>/dev/null || true
