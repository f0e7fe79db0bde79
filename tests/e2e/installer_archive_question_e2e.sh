#!/usr/bin/env bash
# An unattended blockchain install against nginx, with an archive that asks where to unpack (it
# waits for an answer on its input) unless it gets the unattended arguments the build names:
# corvane-setup-quiet, built with them, passes them on /VERYSILENT and the archive finishes without
# asking; an installer built without them leaves it waiting until someone answers.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside nginx python3
  [ -x "$build/corvane-setup-quiet" ] || fail "no program at $build/corvane-setup-quiet"
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  netns_enter "$url"
fi
quiet_args=${CORVANE_TEST_ARCHIVE_SILENT_ARGS:?the arguments corvane-setup-quiet was built with}

e2e_inside corvane-archive-question-e2e

pid="" asked=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; [ -s "$asked" ] && kill "$(cat "$asked")" 2>/dev/null; e2e_cleanup' EXIT

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
roaming=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming
mkdir -p "$roaming" "$HOME"
# The archive notes its process in $asked when it asks, then waits for a line on $answer.
asked=$roaming/archive-asked
answer=$roaming/archive-answer
mkfifo "$answer"

www=$work/www/downloads
serve_program_files "$www"
cat >"$www/cvnchain.exe" <<SCRIPT
#!/bin/sh
here=\$(dirname "\$0")
if [ "\$*" != "$quiet_args" ]; then
  echo "Extract to the default location? [Y/n]"
  echo \$\$ >"\$here/archive-asked"
  read -r reply <"\$here/archive-answer"
fi
mkdir -p "\$here/Corvane/blocks" && echo block >"\$here/Corvane/blocks/blk00000.dat"
SCRIPT
[ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"
nginx_start "$work/www" "listen 127.0.0.1:$port;" || fail "nginx did not start"
curl -fsS -o /dev/null "$url/version.txt" || fail "nginx does not answer at $url"

failx() { echo "--- log file:"; cat "$work/setup.log"; echo "--- program output:"; cat "$work/setup.out"; fail "$*"; }
# Starts PROGRAM /VERYSILENT /COMPONENTS=blockchain and waits until it ends (RC: its exit code)
# or the archive asks (RC empty; the installer still runs as $pid).
install_blockchain() {
  rm -f "$asked" "$roaming/Corvane/blocks/blk00000.dat"
  "$1" /VERYSILENT /COMPONENTS=blockchain "/LOG=$work/setup.log" >"$work/setup.out" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null && [ ! -s "$asked" ]; do sleep 0.1; done
  RC=""
  [ -s "$asked" ] && return
  wait "$pid"
  RC=$?
  pid=""
}

install_blockchain "$build/corvane-setup-quiet"
[ -n "$RC" ] || failx "the archive asked its question: the unattended install did not pass \"$quiet_args\""
[ "$RC" = 0 ] || failx "the unattended install exited $RC"
[ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive did not unpack"

# The same install by a build that names other arguments (by default none) waits for the answer.
if [ "${CORVANE_ARCHIVE_SILENT_ARGS:-}" != "$quiet_args" ]; then
  install_blockchain "$build/corvane-setup"
  [ -z "$RC" ] || failx "the archive did not ask without its arguments (the installer exited $RC)"
  echo y >"$answer"
  wait "$pid"
  rc=$?
  pid=""
  [ "$rc" = 0 ] || failx "the answered install exited $rc"
  [ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the answered archive did not unpack"
fi
echo "PASS: the archive's unattended arguments ($url via nginx on port $port)"
