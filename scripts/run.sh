#!/usr/bin/env bash
# Builds the installer against the bundled demo download server and starts it.
#   scripts/run.sh            (CORVANE_DEMO_PORT=8753 by default; WINEPREFIX=... to install
#                              into another prefix than build-demo/wineprefix)
set -euo pipefail
cd "$(dirname "$0")/.."
port=${CORVANE_DEMO_PORT:-8753}
jobs=${JOBS:-2}

scripts/deps.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<MSG
scripts/run.sh: no display. The installer is a desktop program and needs a graphical session
(DISPLAY or WAYLAND_DISPLAY is not set). Run it from a desktop session, over ssh -X, or under a
virtual display, e.g.:  xvfb-run -a scripts/run.sh
MSG
  exit 1
fi

# A demo publisher key: the demo server signs its files with it, the demo build checks them.
mkdir -p build-demo
key=$PWD/build-demo/demo-key.pem
[ -s "$key" ] || openssl ecparam -genkey -noout -name prime256v1 -out "$key"
openssl ec -in "$key" -pubout -out build-demo/demo-key.pub.pem 2>/dev/null
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE="${CORVANE_BUILD_TYPE:-RelWithDebInfo}" -DCORVANE_BUILD_TESTS=OFF \
  -DCORVANE_DOWNLOAD_URL="http://127.0.0.1:$port/downloads/" -DCORVANE_PUBLIC_KEY="$PWD/build-demo/demo-key.pub.pem"
cmake --build build-demo -j "$jobs" --target corvane-setup

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "scripts/run.sh: port $port is in use; choose another with CORVANE_DEMO_PORT=..." >&2
  exit 1
fi
python3 scripts/demo-server.py --port "$port" --sign-key "$key" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || { echo "scripts/run.sh: the demo server did not start" >&2; exit 1; }
  sleep 0.05
done

# The demo installs into a Wine-style prefix of its own (the user's ~/.wine stays untouched)
# unless WINEPREFIX names one. The installer creates its folders one level deep, as on Windows,
# where the user profile exists.
export WINEPREFIX=${WINEPREFIX:-$PWD/build-demo/wineprefix}
mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming"
echo "Corvane Setup (demo): files go to $WINEPREFIX/drive_c (the Wine-style C: drive)."
status=0
build-demo/corvane-setup || status=$?
echo "Corvane Setup (demo) closed. What it installed is under $WINEPREFIX/drive_c;"
echo "the shortcuts and the blockchain are in the user profile, $WINEPREFIX/drive_c/users/$(id -un)."
exit "$status"
