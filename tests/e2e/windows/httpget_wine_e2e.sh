#!/usr/bin/env bash
# httpget.exe under Wine, without a display, against a real nginx on loopback: 50 MB byte for
# byte into a file (also resumed), from its IPv6 address too, and to stdout, a 404, a redirect, and a
# silent server ended by --timeout;
# then through a link that cuts and stalls (--retry, --idle-timeout), a refused connection tried
# again, and a file continued with -C -.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
source "$here/lib/nginx.sh"

build=${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}
exe=$build/bin/httpget.exe
wine=${WINE:-/usr/lib/wine/wine64}
[ -f "$exe" ] || { echo "httpget.exe not built: $exe" >&2; exit 1; }
[ -x "$wine" ] || { echo "wine64 not found: $wine" >&2; exit 77; }
[ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX not set: run through scripts/test-windows.sh" >&2; exit 77; }
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/httpget-wine-e2e-XXXXXX")
silent_pid=""
hostile_pid=""
cleanup() {
  nginx_stop
  [ -z "$silent_pid" ] || kill "$silent_pid" 2>/dev/null
  [ -z "$hostile_pid" ] || kill "$hostile_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www/sub" "$work/out"
head -c 50000000 /dev/urandom >"$work/www/big.bin"
printf 'index of sub\n' >"$work/www/sub/index.html"

# It also listens on [::1] alone, on a port of its own.
v6port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET6); s.bind(("::1",0)); print(s.getsockname()[1])')
NGINX_NO_TRAP=1 nginx_start "$work/www" "listen [::1]:$v6port;"
rc=$?
[ $rc -eq 0 ] || exit $rc

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# Native paths reach the Windows program through Wine's Z: drive.
winpath() { echo "Z:${1//\//\\}"; }
run() {
  local name=$1
  shift
  "$wine" "$exe" "$@" >"$work/out/$name.stdout" 2>"$work/out/$name.events"
  code=$?
}
has_line() { tr -d '\r' <"$work/out/$1.events" | grep -qxF -- "$2" || fail "$1: no line '$2' in: $(tr '\n' '|' <"$work/out/$1.events")"; }

run file -o "$(winpath "$work/out/big.bin")" "$NGINX_URL/big.bin"
[ $code -eq 0 ] || fail "file: exit $code"
cmp -s "$work/www/big.bin" "$work/out/big.bin" || fail "file: differs"
has_line file "success 0"
has_line file "packet-recvd 50000000 50000000"

run ipv6 -o "$(winpath "$work/out/ipv6.bin")" "http://[::1]:$v6port/big.bin"
[ $code -eq 0 ] || fail "ipv6: exit $code"
cmp -s "$work/www/big.bin" "$work/out/ipv6.bin" || fail "ipv6: differs"
grep -q '^::1 .*"GET /big.bin HTTP/1.0" 200' "$NGINX_DIR/access.log" || fail "ipv6: nginx logged no IPv6 request"

# stdout is binary: no CR is added before the body's LF bytes.
# The first 20 MB of a cut download, continued with a range request: nginx answers 206.
head -c 20000000 "$work/www/big.bin" >"$work/out/resumed.bin"
run resumed --resume 20000000/50000000 -o "$(winpath "$work/out/resumed.bin")" "$NGINX_URL/big.bin"
[ $code -eq 0 ] || fail "resumed: exit $code"
cmp -s "$work/www/big.bin" "$work/out/resumed.bin" || fail "resumed: joined file differs"
tail -n 1 "$NGINX_DIR/access.log" | grep -q '" 206 30000000 ' || fail "resumed: $(tail -n 1 "$NGINX_DIR/access.log")"

run stdout "$NGINX_URL/big.bin"
[ $code -eq 0 ] || fail "stdout: exit $code"
cmp -s "$work/www/big.bin" "$work/out/stdout.stdout" || fail "stdout: body differs"

run missing -o "$(winpath "$work/out/missing.html")" "$NGINX_URL/no-such-file"
[ $code -eq 1 ] || fail "missing: exit $code"
has_line missing "failure 0"
has_line missing "reply 404"

run dir -o "$(winpath "$work/out/dir.html")" "$NGINX_URL/sub"
[ $code -eq 0 ] || fail "dir: exit $code"
has_line dir "redirect"
has_line dir "success 0"
cmp -s "$work/www/sub/index.html" "$work/out/dir.html" || fail "dir: index page differs"

# A server that accepts and never answers: the time-out ends the wait for the status line.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(4)
held = []
while True:
    c, _ = s.accept(); held.append(c)
' "$port" &
silent_pid=$!
for _ in $(seq 1 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
run silent --timeout 1000 "http://127.0.0.1:$port/x"
[ $code -eq 2 ] || fail "silent: exit $code"
has_line silent "error EAbortError: Socket readln aborted"

# A link that cuts the file, then goes silent: each try continues where the last one ended.
mkdir -p "$work/flaky"
head -c 3000000 /dev/urandom >"$work/flaky/flaky.bin"
python3 "$here/lib/hostile_server.py" --serve "$work/flaky" --port 0 --stats "$work/flaky.stats" \
  flaky.bin=cut:1000000,stall:1000000 >"$work/flaky.port" &
hostile_pid=$!
for _ in $(seq 1 50); do [ -s "$work/flaky.port" ] && break; sleep 0.1; done
flaky_url="http://127.0.0.1:$(cat "$work/flaky.port")/flaky.bin"
run retried --retry 3 --idle-timeout 1 -o "$(winpath "$work/out/flaky.bin")" "$flaky_url"
[ $code -eq 0 ] || fail "retried: exit $code"
cmp -s "$work/flaky/flaky.bin" "$work/out/flaky.bin" || fail "retried: differs"
[ "$(tr -d '\r' <"$work/out/retried.events" | grep -cxF "retry in 1000 ms")" -eq 2 ] ||
  fail "retried: not two retries in: $(tr '\n' '|' <"$work/out/retried.events")"
served=$(awk '{ n += $3 } END { print n }' "$work/flaky.stats")
[ "$served" -eq 3000000 ] || fail "retried: $served bytes served for 3000000"

# A refused connection, twice tried again: nothing arrived, so the pauses grow from the first
# (an empty file is no progress).
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
run refused --retry 2 -o "$(winpath "$work/out/refused.bin")" "http://127.0.0.1:$closed/x"
[ $code -eq 2 ] || fail "refused: exit $code"
pauses=$(tr -d '\r' <"$work/out/refused.events" | grep '^retry in ' | tr '\n' '|')
[ "$pauses" = "retry in 1000 ms|retry in 2000 ms|" ] || fail "refused: pauses $pauses"

# -C - continues a file from what it holds.
head -c 1200000 "$work/flaky/flaky.bin" >"$work/out/continued.bin"
run continued -C - -o "$(winpath "$work/out/continued.bin")" "$flaky_url"
[ $code -eq 0 ] || fail "continued: exit $code"
cmp -s "$work/flaky/flaky.bin" "$work/out/continued.bin" || fail "continued: differs"
[ "$(tail -n 1 "$work/flaky.stats" | cut -d' ' -f3)" = 1800000 ] || fail "continued: $(tail -n 1 "$work/flaky.stats")"

[ $failures -eq 0 ] || exit 1
echo "httpget.exe under Wine end-to-end: all checks passed"
