#!/usr/bin/env bash
# httpget against a misbehaving server: bodies past 4 GiB, a lying Content-Length, a server that
# keeps the connection open, one that goes silent, an unwritable output, a refused connection
# tried again, and a big body to stdout in little memory.
# CORVANE_BIG_GIB sets the size of the big download (default 3).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}
httpget=$build/tools/httpget/httpget
[ -x "$httpget" ] || { echo "httpget not built: $httpget" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/httpget-hostile-XXXXXX")
python3 "$here/lib/hostile_server.py" 600 >"$work/port" &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
run() {
  local name=$1
  shift
  "$httpget" "$@" >"$work/$name.stdout" 2>"$work/$name.events"
  code=$?
}

big=$(( ${CORVANE_BIG_GIB:-3} << 30 ))
# A body past 2 and 4 GiB into a sink: success, counters right, progress only growing.
run big --timeout 600000 -o /dev/null "$url/big/$big"
[ $code -eq 0 ] || fail "big: exit $code"
grep -qxF "packet-recvd $big $big" "$work/big.events" || fail "big: no final progress line"
awk -v total=$big '/^packet-recvd/ { if ($2 <= last || $3 != total) bad = 1; last = $2 }
  END { exit bad }' "$work/big.events" || fail "big: progress went back or total changed"

# A transfer gone silent: the progress so far is on stderr within a moment, not held back until
# the next block or the end.
"$httpget" -o /dev/null "$url/stall/1000000/5000" 2>"$work/stall.events" &
stalled=$!
sleep 1
[ "$(tail -n 1 "$work/stall.events")" = "packet-recvd 5000 1000000" ] ||
  fail "stall: last line '$(tail -n 1 "$work/stall.events")'"
kill $stalled 2>/dev/null

# The same size announced, the connection closed after 1 MiB: a failure, never a success.
run cut -o /dev/null "$url/cut/$big/1048576"
[ $code -eq 1 ] || fail "cut: exit $code"

# The whole body has arrived while the server keeps the connection open: done at once.
run keepalive --timeout 20000 "$url/keepalive/5"
[ $code -eq 0 ] || fail "keepalive: exit $code"
[ "$(cat "$work/keepalive.stdout")" = "ZZZZZ" ] || fail "keepalive: body differs"

# A full disk: an exception naming the file, no success.
run full -o /dev/full "$url/big/100000"
[ $code -eq 2 ] || fail "full: exit $code"
grep -qF "error EWriteError: Cannot write file /dev/full" "$work/full.events" || fail "full: no error line"

# A refused connection, twice tried again: nothing arrived, so the pauses grow from the first
# (an empty file is no progress).
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
run refused --retry 2 -o "$work/refused.bin" "http://127.0.0.1:$closed/x"
[ $code -eq 2 ] || fail "refused: exit $code"
[ "$(grep '^retry in ' "$work/refused.events" | tr '\n' '|')" = "retry in 1000 ms|retry in 2000 ms|" ] ||
  fail "refused: pauses $(grep '^retry in ' "$work/refused.events" | tr '\n' '|')"

# 200 MiB to stdout: streamed, so memory stays far below the body's size.
/usr/bin/time -f %M -o "$work/rss" "$httpget" "$url/big/209715200" 2>/dev/null | wc -c >"$work/count"
[ "$(cat "$work/count")" = 209715200 ] || fail "stdout: $(cat "$work/count") bytes"
[ "$(cat "$work/rss")" -lt 100000 ] || fail "stdout: max RSS $(cat "$work/rss") KiB"

[ $failures -eq 0 ] && echo "httpget hostile: all passed"
exit $((failures > 0))
