#!/usr/bin/env bash
# corvane-setup.exe under Wine, unattended, where its download host is reached over IPv6: a host
# with only an IPv6 address installs the program part; so does a host with an address of each
# family of which one takes no connection (its SYNs are dropped), both ways round, without a retry.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe and wintool.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx python3" "corvane-setup.exe wintool.exe"
fi

e2e_inside corvane-wine-ipv6
silent=""
trap '[ -z "$silent" ] || kill "$silent" 2>/dev/null; e2e_cleanup' EXIT

www=$work/www/downloads
serve_program_files "$www"
wine_desktop "$work"
appdir=$WINE_APPDIR
log=$WINEPREFIX/drive_c/setup.log

# install CASE: the program part, unattended; fails the test unless it installs both files
# without a retry.
install() {
  rm -rf "$appdir" "$log"
  timeout 180 "$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=program '/LOG=C:\setup.log' \
    >"$work/$1.out" 2>&1
  local rc=$?
  [ "$rc" = 0 ] || fail "$1: exited $rc: $(tr -d '\r' <"$log" 2>&1; cat "$work/$1.out")"
  cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" && cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" ||
    fail "$1: the installed files differ"
  ! grep -q -- " - retrying in " "$log" || fail "$1: a download was retried: $(tr -d '\r' <"$log")"
}

printf '127.0.0.1 localhost\n::1 %s\n' "$host" >"$work/hosts"
nginx_start "$work/www" "listen [::1]:$port;" || fail "nginx did not start"
install ipv6-only
grep -q '^::1 .*"GET /downloads/cvnloader.exe HTTP/1.0" 200' "$NGINX_DIR/access.log" ||
  fail "ipv6-only: nginx logged no IPv6 request"
nginx_stop

printf '127.0.0.1 localhost\n::1 %s\n127.0.0.1 %s\n' "$host" "$host" >"$work/hosts"
for quiet in ::1 127.0.0.1; do
  if [ "$quiet" = ::1 ]; then answering=127.0.0.1 listen=127.0.0.1; else answering=::1 listen="[::1]"; fi
  python3 "$here/../lib/silent_listener.py" "$quiet" "$port" >"$work/silent.out" 2>&1 &
  silent=$!
  for _ in $(seq 1 50); do grep -q ready "$work/silent.out" && break; sleep 0.1; done
  grep -q ready "$work/silent.out" || fail "the silent listener on $quiet did not start"
  nginx_start "$work/www" "listen $listen:$port;" || fail "nginx did not start"
  install "quiet-$quiet"
  grep -q "^$answering .*\"GET /downloads/corvane-qt.exe HTTP/1.0\" 200" "$NGINX_DIR/access.log" ||
    fail "$quiet silent: nginx logged no request from $answering"
  nginx_stop
  kill "$silent"
  wait "$silent" 2>/dev/null
  silent=""
done
echo "installer over IPv6 under Wine: all checks passed"
