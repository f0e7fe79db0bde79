#!/usr/bin/env bash
# Starts the installer on a virtual display with a throw-away Wine prefix and APPDATA, waits for
# its window and saves a picture of it to docs/screenshot.png (or the path given).
#   scripts/screenshot.sh [out.png]      CORVANE_BUILD_DIR=build by default
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot.png}
build=${CORVANE_BUILD_DIR:-build}
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (scripts/deps.sh)" >&2; exit 1; }
done
if [ ! -x "$build/corvane-setup" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j "${JOBS:-2}" --target corvane-setup
fi

tmp=$(mktemp -d)
xvfb=""
app=""
cleanup() {
  if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# Xvfb picks a free display and tells us its number.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 1 100); do [ -s "$tmp/display" ] && break; sleep 0.05; done
[ -s "$tmp/display" ] || { echo "screenshot.sh: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$tmp/display")"

# Its own C: drive and profile, so that the user's files stay untouched.
export WINEPREFIX="$tmp/prefix"
user=$(id -un)
export APPDATA="C:\\users\\$user\\AppData\\Roaming"
mkdir -p "$WINEPREFIX/drive_c/users/$user/AppData/Roaming"
export QT_QPA_PLATFORM=xcb

"$build/corvane-setup" >"$tmp/app.log" 2>&1 &
app=$!
win=""
for _ in $(seq 1 200); do
  win=$(xdotool search --onlyvisible --name '^Corvane Installer - Updater$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  kill -0 "$app" 2>/dev/null || { echo "screenshot.sh: the installer ended" >&2; cat "$tmp/app.log" >&2; exit 1; }
  sleep 0.05
done
[ -n "$win" ] || { echo "screenshot.sh: no installer window" >&2; exit 1; }
sleep 0.5  # let it paint
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
echo "screenshot.sh: saved $out"
