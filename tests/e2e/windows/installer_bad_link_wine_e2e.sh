#!/usr/bin/env bash
# The Windows installer (corvane-setup.exe) under Wine through a link that goes wrong: the
# launcher reset before its first byte, the wallet cut, the version file answered 503 with
# Retry-After: 2, and the archive (chain_stub with 8 MiB behind it) cut, then silently stalled,
# then answered 503. One press of Next must install everything with no box, the window answering
# during the stall, the archive fetched exactly once and run; the figures (archive bytes served,
# how long the stall was waited for, the whole press) are printed. Then a sign-in page in place
# of the wallet is refused, and with no server at all the user is told after two minutes of tries;
# nothing is replaced.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe, wintool.exe, chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

source "$here/../lib/desktop.sh"
source "$here/../lib/wine.sh"
if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  # A keyed build fetches a signed list first; this test is about the link, not the list.
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || skip "the build checks downloads against a key"
  wine_e2e_enter "Xvfb xdotool python3" "corvane-setup.exe wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-badlink

server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null
  app_kill
  wine_stop
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

www=$work/www
serve_program_files "$www"
mib=$((1 << 20))
{ cat "$bin/chain_stub.exe"; head -c $((8 * mib)) /dev/urandom; } >"$www/cvnchain.exe"
size=$(stat -c %s "$www/cvnchain.exe")
stats=$work/stats
python3 "$here/../lib/hostile_server.py" --serve "$www" --port "$port" --stats "$stats" \
  cvnloader.exe=reset corvane-qt.exe=cut:700000 version.txt=busy:2 \
  cvnchain.exe=cut:$((2 * mib)),stall:$((2 * mib)),busy:1 >"$work/port" &
server_pid=$!
for ((i = 0; i < 50; i++)); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || fail "the server did not start"

wine_desktop "$work"
user=$WINE_USER roaming=$WINE_ROAMING appdir=$WINE_APPDIR
failx_served() { echo "--- served:"; cat "$stats"; failx "$*"; }
boxes() { xdotool search --onlyvisible --name '^(Corvane Setup|Download failure)$' 2>/dev/null; }

wine_app_start "$bin/corvane-setup.exe" "$work/app.out" || failx "no window"
start=$(date +%s.%N)
app_click 34 50   # CheckBox1 "program"
app_click 34 126  # CheckBox2 "blockchain"
app_click 389 152 # Button1 "Next"
# While the connection is silent the window answers messages.
part=$roaming/cvnchain.exe.part
for ((i = 0; i < 600; i++)); do
  [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -ge $((4 * mib)) ] && break
  sleep 0.1
done
[ "$i" -lt 600 ] || failx_served "the stalled try did not bring its bytes"
"$WINE" "$WINTOOL" ping 2000 >/dev/null 2>&1 || failx_served "the window did not answer during the stall"
during=$(app_log)
grep -qxF "resuming download from byte $((2 * mib))" <<<"$during" && ! grep -q "^connection stalled" <<<"$during" ||
  failx_served "the window was asked after the stall: $during"
app_wait_log "Done." 150 2 || failx_served "the install did not finish"
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
[ -z "$(boxes)" ] || failx_served "a box was shown"
log=$(app_log)
for f in cvnloader.exe corvane-qt.exe; do cmp -s "$www/$f" "$appdir/$f" || failx_served "$f differs"; done
cmp -s "$www/version.txt" "$roaming/Corvane/version.txt" || failx_served "version file differs"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx_served "archive differs"
[ "$(cat "$roaming/chain-ran.txt" 2>/dev/null)" = "C:\\users\\$user\\AppData\\Roaming\\cvnchain.exe" ] ||
  failx_served "the archive did not run"
for line in "connection lost at byte 0 - retrying in 1 s" \
  "connection lost at byte 700000 - retrying in 1 s" "resuming download from byte 700000" \
  "the server answered 503 - retrying in 2 s" \
  "connection lost at byte $((2 * mib)) - retrying in 1 s" "resuming download from byte $((2 * mib))" \
  "connection stalled at byte $((4 * mib)) - retrying in 1 s" "resuming download from byte $((4 * mib))" \
  "the server answered 503 - retrying in 1 s"; do
  grep -qxF -- "$line" <<<"$log" || failx_served "no line: $line"
done
# Each try continued where the last one ended: not a byte came twice.
served=$(awk '$1 == "cvnchain.exe" { n += $3 } END { print n }' "$stats")
[ "$served" -eq "$size" ] || failx_served "archive bytes served: $served of $size"
stall=$(awk '$1 == "cvnchain.exe" && $2 ~ /^stall/ { printf "%.1f", $6 - $5 }' "$stats")
echo "figures: archive $size bytes, served $served bytes; stall given up after ${stall} s; press took ${took} s"
app_close || failx "closing the window did not end the program cleanly"
# Beside the two programs, the uninstaller the press left once it had ended.
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
  failx_served "stray files in the application folder: $(ls -A "$appdir")"

# A sign-in page where the wallet should be: refused before it replaces anything, the user told.
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
printf '<html><body>Sign in to the hotel Wi-Fi</body></html>\n' >"$www/corvane-qt.exe"
wine_app_start "$bin/corvane-setup.exe" "$work/app.out" || failx "no window"
app_click 34 50
app_click 389 152
box=$(wine_box "Download failure" | sort) || failx "no failure box for the sign-in page"
[ "$box" = $'button OK\ntext could not download wallet' ] || failx "the box showed: $box"
app_log | grep -qxF "the server sent something that is not a program for C:\Corvane\corvane-qt.exe (a sign-in page may be in the way) - the download was discarded" ||
  failx "the sign-in page was not named in the log"
app_close || failx "closing the window after the sign-in page did not end the program cleanly"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || fail "the sign-in page replaced the wallet"
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
  fail "files after the sign-in page: $(ls -A "$appdir")"

# No server at all: the launcher is tried through two minutes of outage, pauses growing to a
# minute, then the user is told and nothing is replaced.
kill "$server_pid"
wait "$server_pid" 2>/dev/null
server_pid=""
cp "$appdir/cvnloader.exe" "$work/installed-launcher"
wine_app_start "$bin/corvane-setup.exe" "$work/app2.out" || failx "no window"
start=$(date +%s.%N)
app_click 34 50
app_click 389 152
# The launcher's refused connection ends the press as an error, in the program's error box.
timeout 300 xdotool search --sync --onlyvisible --name '^Corvane Setup$' >/dev/null ||
  failx "no box within 5 minutes"
told=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
echo "figures: with no server the user was told after ${told} s"
box=$(wine_box "Corvane Setup" | sort) || failx "the box went"
[ "$box" = $'button OK\ntext Connection Failed.' ] || failx "the box showed: $box"
log=$(app_log)
[ "$(grep -c -- "- retrying in " <<<"$log")" -eq 7 ] || failx "not seven retries before the box"
grep -qxF "connection lost at byte 0 - retrying in 60 s" <<<"$log" || failx "no pause of a minute"
app_close || failx "closing the window after the failed press did not end the program cleanly"
cmp -s "$work/installed-launcher" "$appdir/cvnloader.exe" || fail "the installed launcher was changed"
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
  fail "files after the failed press: $(ls -A "$appdir")"
echo "PASS: Windows installer under Wine through a bad link ($url on port $port)"
