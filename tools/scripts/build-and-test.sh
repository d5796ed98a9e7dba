#!/usr/bin/env bash
# Builds everything and runs every test (unit tests under Wine, end to end
# tests with the stand-ins), then the benchmark. Installs what it needs.
source "$(dirname "$0")/common.sh"

install_packages
build
ensure_display
ensure_prefix
cd "$BUILD"
ctest --output-on-failure --timeout 300
echo
echo "Benchmark (median of repeated runs):"
wine "$BUILD/bin/paint_bench.exe"
wine "$BUILD/bin/drawing_bench.exe"
wine "$BUILD/bin/layout_bench.exe"
wine "$BUILD/bin/panel_bench.exe"
python3 "$ROOT/tests/bench/desktop_bench.py" "$BUILD/bin" "$BUILD/dist"
python3 "$ROOT/tests/bench/scaled_bench.py" "$BUILD/bin" "$BUILD/dist"
python3 "$ROOT/tests/servers/with_servers.py" --bin "$BUILD/bin" -- \
  python3 "$ROOT/tests/bench/http_bench.py" "$BUILD/bin"
python3 "$ROOT/tests/servers/with_servers.py" --bin "$BUILD/bin" -- \
  wine "$BUILD/bin/feed_bench.exe"
python3 "$ROOT/tests/servers/with_servers.py" --bin "$BUILD/bin" -- \
  wine "$BUILD/bin/stats_bench.exe" upload
python3 "$ROOT/tests/servers/with_servers.py" --bin "$BUILD/bin" -- \
  wine "$BUILD/bin/teardown_bench.exe"
ORVELLA_CAPTURE_AUDIO=1 python3 "$ROOT/tests/servers/with_servers.py" --bin "$BUILD/bin" -- wine "$BUILD/bin/bass_bench.exe"
echo
echo "Page gallery (the pages as the page viewer shows them):"
wine "$BUILD/bin/page_gallery.exe" "$(winepath -w "$BUILD/gallery")"
