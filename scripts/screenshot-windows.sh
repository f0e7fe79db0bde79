#!/usr/bin/env bash
# Starts corvane-setup.exe under Wine on a virtual display with a throw-away prefix, waits for its
# window and saves a picture of it to docs/screenshot-windows.png (or the path given).
#   scripts/screenshot-windows.sh [out.png]      CORVANE_WIN_BIN=build-windows/bin by default
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-windows.png}
bin=${CORVANE_WIN_BIN:-build-windows/bin}
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshot-windows.sh: $tool is missing (scripts/deps.sh)" >&2; exit 1; }
done
[ -f "$bin/corvane-setup.exe" ] || scripts/build-windows.sh

tmp=$(mktemp -d)
source tests/e2e/lib/desktop.sh
source tests/e2e/lib/wine.sh
trap 'app_kill; wine_stop; xvfb_stop; rm -rf "$tmp"' EXIT
xvfb_start
export HOME=$tmp/home
mkdir -p "$HOME"
wine_prefix_init "$tmp/prefix"
wine_app_start "$bin/corvane-setup.exe" "$tmp/app.log"
sleep 0.5 # let it paint
mkdir -p "$(dirname "$out")"
import -window "$APP_WID" "$out"
echo "screenshot-windows.sh: saved $out"
