#!/usr/bin/env bash
# The real installer through a link that goes wrong in every way a home network can: the launcher
# reset before its first byte, the wallet cut, the version file answered 503 with Retry-After: 2,
# and a 256 MiB archive reset, then silently stalled, then answered 503. One press of Next must
# install everything with no box; the figures (archive bytes served, how long the stall was
# waited for, the whole press) are printed. Then, with no server at all, the installer keeps
# trying for two minutes, the user is told and nothing is replaced.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside Xvfb xdotool xclip python3
  # A keyed build fetches a signed list first; this test is about the link, not the list.
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || skip "the build checks downloads against a key"
  netns_enter "$url"
fi

e2e_inside corvane-badlink

server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null
  app_kill
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

www=$work/www
serve_program_files "$www"
mib=$((1 << 20))
{
  printf '#!/bin/sh\necho "$#" > "%s"\nexit 0\n' "$work/chain-ran"
  head -c $((256 * mib)) /dev/urandom
} >"$www/cvnchain.exe"
size=$(stat -c %s "$www/cvnchain.exe")
stats=$work/stats
python3 "$here/lib/hostile_server.py" --serve "$www" --port "$port" --stats "$stats" \
  cvnloader.exe=reset corvane-qt.exe=cut:700000 version.txt=busy:2 \
  cvnchain.exe=reset:$((64 * mib)),stall:$((64 * mib)),busy:1 >"$work/port" &
server_pid=$!
for ((i = 0; i < 50; i++)); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the server did not start"

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA
roaming=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$roaming" "$appdir" "$HOME"

xvfb_start || fail "Xvfb did not start"
app_start "$build/corvane-setup" "$work/app.out" || { cat "$work/app.out"; fail "no window"; }
failx() { echo "--- log pane:"; app_log; echo "--- served:"; cat "$stats"; fail "$*"; }

start=$(date +%s.%N)
app_click 34 50
app_click 34 126
app_click 389 152
app_wait_log "unzipping blockchain - this will take a while..." 300 || failx "the install did not finish"
app_wait_log "Done." 30 2 || failx "the archive's run did not end"
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
log=$(app_log)
! grep -q "could not" <<<"$log" || failx "a download failed"
for f in cvnloader.exe corvane-qt.exe; do cmp -s "$www/$f" "$appdir/$f" || failx "$f differs"; done
cmp -s "$www/version.txt" "$roaming/Corvane/version.txt" || failx "version file differs"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "archive differs"
[ "$(cat "$work/chain-ran" 2>/dev/null)" = 0 ] || failx "the archive did not run"
for line in "connection lost at byte 0 - retrying in 1 s" "the server answered 503 - retrying in 2 s" \
  "connection lost at byte 700000 - retrying in 1 s"; do
  grep -qxF "$line" <<<"$log" || failx "no line: $line"
done
grep -q "^connection stalled at byte [0-9]* - retrying in " <<<"$log" || failx "the stall was not logged"
served=$(awk '$1 == "cvnchain.exe" { n += $3 } END { print n }' "$stats")
stall=$(awk '$1 == "cvnchain.exe" && $2 ~ /^stall/ { printf "%.1f", $6 - $5 }' "$stats")
[ "$served" -le $((size + 24 * mib)) ] || failx "archive bytes served: $served of $size"
echo "figures: archive $size bytes, served $served bytes; stall given up after ${stall} s; press took ${took} s"
awk -v s="$stall" 'BEGIN { exit !(s < 90) }' || failx "the stall was waited for ${stall} s"
app_close || failx "closing the window did not end the program cleanly"

# No server at all: the tries go on through two minutes of outage, pauses growing to a minute,
# then the user is told and nothing is replaced.
kill "$server_pid"
wait "$server_pid" 2>/dev/null
server_pid=""
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
app_start "$build/corvane-setup" "$work/app2.out" || { cat "$work/app2.out"; fail "no window"; }
start=$(date +%s.%N)
app_click 34 50
app_click 389 152
app_wait_log "connection lost at byte 0 - retrying in 60 s" 150 || failx "no pause of a minute"
for ((i = 0; i < 360; i++)); do
  box=$(xdotool search --onlyvisible --name "^Corvane Setup\$" 2>/dev/null | wc -l)
  [ "$box" -ge 1 ] && break
  sleep 0.5
done
told=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
[ "$box" -ge 1 ] || failx "no box within 3 minutes"
echo "figures: with no server the user was told after ${told} s"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || fail "the installed wallet was changed"
echo "PASS: installer through a bad link ($url on port $port)"
