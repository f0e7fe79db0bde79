#!/usr/bin/env bash
# corvane-setup.exe under Wine through a power cut in the middle of the blockchain archive's
# download, made the way a file system may leave one: the program (/VERYSILENT) is killed with
# SIGKILL part-way, then the part's tail past the durable length its record names is overwritten
# with zeros and made longer than it was. The next run must install the archive byte for byte,
# continuing from the durable length and fetching again at most what lay past it plus one sync
# interval (8 MiB). Prints the bytes fetched twice. CORVANE_POWER_CUT_MIB sets the archive's size
# (default 64), CORVANE_ZEROS_MIB the zeros written past the durable length (default 20).
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe, wintool.exe, chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx python3" "corvane-setup.exe wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-powercut
setup_pid=""
trap '[ -z "$setup_pid" ] || kill -KILL "$setup_pid" 2>/dev/null; e2e_cleanup' EXIT

mib=$((1 << 20))
size_mib=${CORVANE_POWER_CUT_MIB:-64}
zeros=$((${CORVANE_ZEROS_MIB:-20} * mib))
half=$((size_mib / 2))
www=$work/www/downloads
mkdir -p "$www"
# A program with the rest of the archive after it, as a self-extracting archive is.
{
  cat "$bin/chain_stub.exe"
  head -c $((size_mib * mib)) /dev/urandom
} >"$www/cvnchain.exe"
size=$(stat -c %s "$www/cvnchain.exe")
# The first request runs at full speed to half the archive, then slowly, so that the kill comes
# there; a request for the rest runs at full speed.
nginx_start "$work/www" "listen 127.0.0.1:$NETNS_PORT;
    location = /downloads/cvnchain.exe { if (\$http_range = '') { limit_rate_after ${half}m; limit_rate 2m; } }" ||
  fail "nginx did not start"

wine_desktop "$work"
roaming=$WINE_ROAMING
part=$roaming/cvnchain.exe.part
log=$WINEPREFIX/drive_c/setup.log
failx() { echo "--- log file:"; tr -d '\r' <"$log"; echo "--- program output:"; cat "$work"/*.out; fail "$*"; }

"$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=blockchain '/LOG=C:\setup.log' >"$work/first.out" 2>&1 &
setup_pid=$!
for ((i = 0; i < 1800; i++)); do
  [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt $(((half + 2) * mib)) ] && break
  kill -0 "$setup_pid" 2>/dev/null || failx "the installer ended before half the archive"
  sleep 0.1
done
kill -KILL "$setup_pid"
wait "$setup_pid" 2>/dev/null
setup_pid=""
killed=$(stat -c %s "$part")
durable=$(tr -d '\r' <"$part.total" | sed -n 's/^durable \([0-9]*\)$/\1/p')
[ -n "$durable" ] || failx "no durable length beside the part: $(cat "$part.total" 2>&1)"
[ "$durable" -ge $((8 * mib)) ] && [ "$durable" -le "$killed" ] ||
  failx "durable length $durable for a part of $killed bytes"

# What a file system may leave after a cut: zeros past what reached the disk, and more of them.
head -c "$zeros" /dev/zero | dd of="$part" bs=1M seek="$durable" oflag=seek_bytes conv=notrunc status=none
[ "$(stat -c %s "$part")" -gt "$killed" ] || failx "the damaged part is no longer than the killed one"

timeout 600 "$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=blockchain '/LOG=C:\setup.log' \
  >"$work/second.out" 2>&1 || failx "the run after the cut exited $?"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "the installed archive differs"
[ -f "$roaming/chain-ran.txt" ] || failx "the archive did not run"
tr -d '\r' <"$log" | grep -qxF "resuming download from byte $durable" ||
  failx "the second run did not continue from the durable length $durable"
[ ! -e "$part" ] && [ ! -e "$part.total" ] || failx "the part or its record stayed"

served=$(awk '$7 == "/downloads/cvnchain.exe" { s += $10 } END { print s + 0 }' "$NGINX_DIR/access.log")
twice=$((served - size))
lost=$((killed - durable))
echo "archive $size bytes; killed with $killed on the disk, $durable durable; $zeros zeros written past it"
echo "bytes fetched twice: $twice (past the durable length at the kill: $lost)"
[ "$twice" -le $((lost + 8 * mib)) ] ||
  failx "fetched $twice bytes twice, more than the $lost past the durable length and 8 MiB"
echo "PASS"
