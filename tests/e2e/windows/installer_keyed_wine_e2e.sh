#!/usr/bin/env bash
# The keyed window under Wine (tests/e2e/lib/keyed.sh): corvane-setup-keyed.exe, whose two built-in
# keys have the private halves CORVANE_SIGNING_KEY and CORVANE_SECOND_SIGNING_KEY, against nginx as
# in installer_verified_wine_e2e.sh. The archive of release 2 is the stand-in program with 3 MB of
# data after it.
#   CORVANE_BUILD_DIR    the Windows build: bin/ holds corvane-setup-keyed.exe, wintool.exe, chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  [ -f "$bin/corvane-setup-keyed.exe" ] && [ -n "${CORVANE_SIGNING_KEY:-}" ] &&
    [ -n "${CORVANE_SECOND_SIGNING_KEY:-}" ] ||
    fail "no keyed installer with two keys (scripts/test-windows.sh configures one)"
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx openssl python3" "wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-keyed

source "$here/../lib/keyed.sh"
trap e2e_cleanup EXIT

path=${url#http://*/}
www=$work/www/${path%/}
mkdir -p "$(dirname "$www")"
KEY_A=$CORVANE_SIGNING_KEY KEY_B=$CORVANE_SECOND_SIGNING_KEY
ARCHIVE=$work/archive
{ cat "$bin/chain_stub.exe"; head -c 3000000 /dev/urandom; } >"$ARCHIVE"
nginx_start "$work/www" "listen 127.0.0.1:$NETNS_PORT;" || fail "nginx did not start"

wine_desktop "$work"
appdir=$WINE_APPDIR roaming=$WINE_ROAMING
RAN=$roaming/chain-ran.txt
start() { wine_app_start "$bin/corvane-setup-keyed.exe" "$1"; }
box() { wine_box "$1" | sort; }
BOX_TEXT=$'button OK\ntext could not verify the list of downloads'

keyed_scenario
echo "PASS: the keyed Windows installer under Wine refuses replayed, expired and foreign lists and fetches nothing twice"
