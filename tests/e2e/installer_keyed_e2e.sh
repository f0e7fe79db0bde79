#!/usr/bin/env bash
# The keyed window on Linux (tests/e2e/lib/keyed.sh): a build whose CORVANE_PUBLIC_KEY holds two
# keys, whose private halves are CORVANE_SIGNING_KEY and CORVANE_SECOND_SIGNING_KEY, against
# nginx as in installer_e2e.sh. The archive of release 2 is a shell script padded to
# CORVANE_KEYED_ARCHIVE_MIB (default 1024) MiB.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside Xvfb xdotool xclip nginx openssl python3
  [ -n "${CORVANE_SIGNING_KEY:-}" ] && [ -n "${CORVANE_SECOND_SIGNING_KEY:-}" ] ||
    fail "CORVANE_SIGNING_KEY and CORVANE_SECOND_SIGNING_KEY name no keys"
  [ "$(grep -c 'BEGIN PUBLIC KEY' "${CORVANE_PUBLIC_KEY:-/dev/null}")" = 2 ] ||
    fail "the build's CORVANE_PUBLIC_KEY does not hold two keys"
  netns_enter "$url"
fi

e2e_inside corvane-keyed

source "$here/lib/keyed.sh"
trap e2e_cleanup EXIT

path=${url#http://*/}
mkdir -p "$work/www"
www=$work/www/${path%/}
mkdir -p "$(dirname "$www")"
KEY_A=$CORVANE_SIGNING_KEY KEY_B=$CORVANE_SECOND_SIGNING_KEY
RAN=$work/chain-ran
ARCHIVE=$work/archive
printf '#!/bin/sh\necho ran >"%s"\nexit 0\n' "$RAN" >"$ARCHIVE"
head -c $((${CORVANE_KEYED_ARCHIVE_MIB:-1024} * 1048576 - $(stat -c %s "$ARCHIVE"))) /dev/urandom >>"$ARCHIVE"
nginx_start "$work/www" "listen 127.0.0.1:$NETNS_PORT;" || fail "nginx did not start"

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA
roaming=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$roaming" "$appdir" "$HOME"
xvfb_start || fail "Xvfb did not start"

start() { app_start "$build/corvane-setup" "$1"; }
box() {
  local wid
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name "^$1\$" | head -1)
  [ -n "$wid" ] || return 1
  xdotool key --window "$wid" Return 2>/dev/null # the release may find the box gone
  echo shown
}
BOX_TEXT=shown
failx() { echo "--- log pane:"; app_log; echo "--- program output:"; cat "$work"/app*.out; fail "$*"; }

keyed_scenario
echo "PASS: the keyed window refuses replayed, expired and foreign lists and fetches nothing twice ($url via nginx)"
