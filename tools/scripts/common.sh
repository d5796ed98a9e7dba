# Shared by build-and-test.sh and demo.sh: installs what is missing, builds,
# prepares the Wine prefix and gives Wine an X display. Sourced, not run.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${ORVELLA_BUILD:-$ROOT/build}
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko downloads when the prefix is made: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools
          binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-utils xdotool
          imagemagick nlohmann-json3-dev libgtest-dev python3
          fonts-paratype librsvg2-bin fonts-liberation
          nginx-light tinyproxy-bin curl lame)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  # The tests run nginx on 127.0.0.1:80 themselves: a system nginx that the
  # package has just started would hold the port.
  if printf '%s\n' "${missing[@]}" | grep -qx nginx-light; then
    as_root service nginx stop >/dev/null 2>&1 || true
  fi
}

build() {
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$BUILD"
}

# Starts Xvfb on a free display when none is set; stopped when the script ends.
XVFB_PID=
ensure_display() {
  if [ -n "${DISPLAY:-}" ]; then return; fi
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${ORVELLA_SCREEN:-1280x800}x24" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && return
    sleep 0.1
  done
  echo "Xvfb did not start on $DISPLAY" >&2
  exit 1
}

ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  # Without a window manager Wine waits two seconds for every managed window
  # it destroys; unmanaged windows are the desktop's own behaviour anyway.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  # Windows always has the generic sans-serif family (Microsoft Sans Serif)
  # that fonts fall back to; Wine has none, so lend it Liberation Sans.
  local face
  for face in 'Microsoft Sans Serif' Arial; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ \
      /d 'Liberation Sans' /f >/dev/null 2>&1
  done
  # At 100 %: a run stopped half way through the scaled tests may have left
  # the system's dpi of another scale.
  wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
  # One wineserver for the whole run instead of one per program: let the
  # server that the steps above started end, then start a lasting one.
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  # Start Wine's own services and desktop process now, away from any pipe:
  # started later by a test program they would inherit its output and keep
  # CTest waiting for it to close.
  wineboot </dev/null >/dev/null 2>&1
}

cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT
