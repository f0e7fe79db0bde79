#!/usr/bin/env bash
# httpget against a real nginx on loopback: a file byte for byte, a 404, the redirect nginx sends
# for a directory named without its slash, HEAD, and a body to stdout.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/nginx.sh"

build=${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}
httpget=$build/tools/httpget/httpget
[ -x "$httpget" ] || { echo "httpget not built: $httpget" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/httpget-e2e-XXXXXX")
trap 'nginx_stop; rm -rf "$work"' EXIT
mkdir -p "$work/www/sub" "$work/out"
head -c 3000000 /dev/urandom >"$work/www/data.bin"
printf 'index of sub\n' >"$work/www/sub/index.html"
printf 'small text\n' >"$work/www/small.txt"

NGINX_NO_TRAP=1 nginx_start "$work/www"
rc=$?
[ $rc -eq 0 ] || exit $rc

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# run NAME ARGS...: runs httpget, leaving its exit code in $code, stdout in out/NAME.stdout and
# the event lines in out/NAME.events.
run() {
  local name=$1
  shift
  "$httpget" "$@" >"$work/out/$name.stdout" 2>"$work/out/$name.events"
  code=$?
}
has_line() { grep -qxF -- "$2" "$work/out/$1.events" || fail "$1: no line '$2' in: $(tr '\n' '|' <"$work/out/$1.events")"; }
last_line() { [ "$(tail -n 1 "$work/out/$1.events")" = "$2" ] || fail "$1: last line is not '$2'"; }

# A 3 MB file into a file, byte for byte, with progress lines that end at the full size.
run get -o "$work/out/data.bin" "$NGINX_URL/data.bin"
[ $code -eq 0 ] || fail "get: exit $code"
cmp -s "$work/www/data.bin" "$work/out/data.bin" || fail "get: file differs"
has_line get "success 0"
has_line get "packet-recvd 3000000 3000000"
last_line get "reply 200"
[ ! -s "$work/out/get.stdout" ] || fail "get: body also on stdout"

# Without -o the body goes to stdout.
run text "$NGINX_URL/small.txt"
[ $code -eq 0 ] || fail "text: exit $code"
[ "$(cat "$work/out/text.stdout")" = "small text" ] || fail "text: stdout differs"

# A 404: failure, exit 1, nginx's error page stored where the body goes.
run missing -o "$work/out/missing.html" "$NGINX_URL/no-such-file"
[ $code -eq 1 ] || fail "missing: exit $code"
has_line missing "failure 0"
last_line missing "reply 404"
grep -q "404 Not Found" "$work/out/missing.html" || fail "missing: no error page in the file"

# nginx answers a directory without its slash with 301 and an absolute Location; it is followed.
run dir -o "$work/out/dir.html" "$NGINX_URL/sub"
[ $code -eq 0 ] || fail "dir: exit $code"
outcome=$(grep -v '^packet-recvd' "$work/out/dir.events" | tr '\n' ' ')
[ "$outcome" = "redirect success 0 reply 200 " ] || fail "dir: events are '$outcome'"
cmp -s "$work/www/sub/index.html" "$work/out/dir.html" || fail "dir: index page differs"

# HEAD: success for command 2, no body.
run head -X HEAD "$NGINX_URL/data.bin"
[ $code -eq 0 ] || fail "head: exit $code"
has_line head "success 2"
last_line head "reply 200"
[ ! -s "$work/out/head.stdout" ] || fail "head: a body was printed"

# An https URL to a port that speaks plain http: the handshake fails, and says so.
run https "https://127.0.0.1:$NGINX_PORT/"
[ $code -eq 2 ] || fail "https: exit $code"
grep -q "^error ETlsError: The TLS handshake with the server failed" "$work/out/https.events" ||
  fail "https: no handshake error in: $(tr '\n' '|' <"$work/out/https.events")"

grep -c '"GET /data.bin HTTP/1.0"' "$NGINX_DIR/access.log" | grep -qx 1 ||
  fail "nginx did not log exactly one HTTP/1.0 GET of data.bin"

[ $failures -eq 0 ] || exit 1
echo "httpget end-to-end: all checks passed"
