#!/usr/bin/env bash
# httpget over IPv6: a file byte for byte from nginx listening on [::1] only, named by its
# bracketed address; and a host name with an address of each family of which one takes no
# connection (its SYNs are dropped, as on a broken route), both ways round: the download comes
# from the other address, without waiting for the idle limit.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"
httpget=$build/tools/httpget/httpget
name_url=http://dual.test/

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  [ -x "$httpget" ] || fail "httpget not built: $httpget"
  for tool in nginx python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
  netns_enter "$name_url"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/httpget-ipv6-e2e-XXXXXX")
silent=""
trap '[ -z "$silent" ] || kill "$silent" 2>/dev/null; nginx_stop; rm -rf "$work"' EXIT
netns_hosts "$name_url" "$work"
source "$here/lib/nginx.sh"
NGINX_NO_TRAP=1
mkdir -p "$work/www"
head -c 2000000 /dev/urandom >"$work/www/data.bin"
port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET6); s.bind(("::1",0)); print(s.getsockname()[1])')

# get NAME URL: the file into out-NAME.bin with a 30 s idle limit and no retry; fails the test
# unless it arrives whole.
get() {
  "$httpget" --idle-timeout 30 -o "$work/out-$1.bin" "$2" >"$work/$1.out" 2>&1 ||
    fail "$1: httpget exited $?: $(tr '\n' '|' <"$work/$1.out")"
  cmp -s "$work/www/data.bin" "$work/out-$1.bin" || fail "$1: the file differs"
}

# An IPv6-only server, by its address.
nginx_start "$work/www" "listen [::1]:$port;" || fail "nginx did not start"
get literal "http://[::1]:$port/data.bin"
grep -q '^::1 .*"GET /data.bin HTTP/1.0" 200' "$NGINX_DIR/access.log" ||
  fail "nginx logged no IPv6 request: $(cat "$NGINX_DIR/access.log")"
nginx_stop

# A name with both families, one of them silent.
printf '127.0.0.1 localhost\n::1 dual.test\n127.0.0.1 dual.test\n' >"$work/hosts"
for quiet in ::1 127.0.0.1; do
  if [ "$quiet" = ::1 ]; then answering=127.0.0.1 listen=127.0.0.1; else answering=::1 listen="[::1]"; fi
  python3 "$here/lib/silent_listener.py" "$quiet" "$port" >"$work/silent.out" 2>&1 &
  silent=$!
  for _ in $(seq 1 50); do grep -q ready "$work/silent.out" && break; sleep 0.1; done
  grep -q ready "$work/silent.out" || fail "the silent listener on $quiet did not start: $(cat "$work/silent.out")"
  nginx_start "$work/www" "listen $listen:$port;" || fail "nginx did not start"
  get "quiet-$quiet" "http://dual.test:$port/data.bin"
  grep -q "^$answering .*\"GET /data.bin HTTP/1.0\" 200" "$NGINX_DIR/access.log" ||
    fail "$quiet silent: nginx logged no request from $answering"
  nginx_stop
  kill "$silent"
  wait "$silent" 2>/dev/null
  silent=""
done
echo "httpget over IPv6: all checks passed"
