#!/usr/bin/env bash
# The installer, unattended, where its download host is reached over IPv6: a host with only an
# IPv6 address installs the program part; a host with an address of each family of which one
# takes no connection (its SYNs are dropped, as behind a broken route) installs it too, both
# ways round, from the other address and without a retry, so without waiting for the idle limit.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside nginx python3
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  netns_enter "$url"
fi

e2e_inside corvane-ipv6-e2e
silent=""
trap '[ -z "$silent" ] || kill "$silent" 2>/dev/null; e2e_cleanup' EXIT

www=$work/www/downloads
serve_program_files "$www"
[ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming" "$HOME"

# install CASE: the program part, unattended; fails the test unless it installs both files
# without a retry.
install() {
  rm -rf "$appdir"
  timeout 180 "$build/corvane-setup" /VERYSILENT /COMPONENTS=program "/LOG=$work/$1.log" \
    >"$work/$1.out" 2>&1
  local rc=$?
  [ "$rc" = 0 ] || fail "$1: exited $rc: $(cat "$work/$1.log" "$work/$1.out" 2>&1)"
  cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" && cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" ||
    fail "$1: the installed files differ"
  ! grep -q -- " - retrying in " "$work/$1.log" || fail "$1: a download was retried: $(cat "$work/$1.log")"
}

# Only an IPv6 address.
printf '127.0.0.1 localhost\n::1 %s\n' "$host" >"$work/hosts"
nginx_start "$work/www" "listen [::1]:$port;" || fail "nginx did not start"
install ipv6-only
grep -q '^::1 .*"GET /downloads/cvnloader.exe HTTP/1.0" 200' "$NGINX_DIR/access.log" ||
  fail "ipv6-only: nginx logged no IPv6 request"
nginx_stop

# Both families, one silent.
printf '127.0.0.1 localhost\n::1 %s\n127.0.0.1 %s\n' "$host" "$host" >"$work/hosts"
for quiet in ::1 127.0.0.1; do
  if [ "$quiet" = ::1 ]; then answering=127.0.0.1 listen=127.0.0.1; else answering=::1 listen="[::1]"; fi
  python3 "$here/lib/silent_listener.py" "$quiet" "$port" >"$work/silent.out" 2>&1 &
  silent=$!
  for _ in $(seq 1 50); do grep -q ready "$work/silent.out" && break; sleep 0.1; done
  grep -q ready "$work/silent.out" || fail "the silent listener on $quiet did not start: $(cat "$work/silent.out")"
  nginx_start "$work/www" "listen $listen:$port;" || fail "nginx did not start"
  install "quiet-$quiet"
  grep -q "^$answering .*\"GET /downloads/corvane-qt.exe HTTP/1.0\" 200" "$NGINX_DIR/access.log" ||
    fail "$quiet silent: nginx logged no request from $answering"
  nginx_stop
  kill "$silent"
  wait "$silent" 2>/dev/null
  silent=""
done
echo "installer over IPv6: all checks passed"
