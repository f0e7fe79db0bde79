# The IPv6 install cases both targets run end to end (tests/e2e/installer_ipv6_e2e.sh on Linux,
# tests/e2e/windows/installer_ipv6_wine_e2e.sh under Wine), sourced inside the test's namespace.
# The caller sets work, www, appdir, port and host, and defines:
#   run_install CASE   an unattended install of the program part; sets RC, and LOG to the text
#                      of its log file
#
#   ipv6_cases         an IPv6-only host; then both families, each one silent in turn; then both
#                      answering, the family the system prefers taken first

silent=""

# install CASE: fails the test unless the program part installs both files without a retry.
install() {
  rm -rf "$appdir"
  run_install "$1"
  [ "$RC" = 0 ] || fail "$1: exited $RC: $LOG $(cat "$work/$1.out")"
  cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" && cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" ||
    fail "$1: the installed files differ"
  ! grep -q -- " - retrying in " <<<"$LOG" || fail "$1: a download was retried: $LOG"
}

ipv6_cases() {
  local quiet answering listen
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
    python3 "$src/tests/e2e/lib/silent_listener.py" "$quiet" "$port" >"$work/silent.out" 2>&1 &
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

  # Both families answering: the first is the one the system sorts first (RFC 6724, by default
  # ::1 before 127.0.0.1), or IPv4 where an administrator prefers it in /etc/gai.conf; on a
  # machine whose only IPv6 address is loopback's, IPv4 alone is asked for.
  local prefer expect
  printf '127.0.0.1 localhost\n::1 %s\n127.0.0.1 %s\n' "$host" "$host" >"$work/hosts"
  printf 'precedence ::1/128 50\nprecedence ::/0 40\nprecedence 2002::/16 30\nprecedence ::/96 20\nprecedence ::ffff:0:0/96 100\n' >"$work/gai.conf"
  nginx_start "$work/www" "listen 127.0.0.1:$port; listen [::1]:$port;" || fail "nginx did not start"
  for prefer in system ipv4 no-ipv6; do
    case $prefer in
    system) expect=::1 ;;
    ipv4)
      mount --bind "$work/gai.conf" /etc/gai.conf || fail "cannot bind-mount a private /etc/gai.conf"
      expect=127.0.0.1
      ;;
    no-ipv6)
      umount /etc/gai.conf
      ip addr add 192.0.2.10/32 dev lo || fail "cannot add an IPv4 address"
      expect=127.0.0.1
      ;;
    esac
    : >"$NGINX_DIR/access.log"
    install "prefer-$prefer"
    grep -q "^$expect .*\"GET /downloads/cvnloader.exe HTTP/1.0\" 200" "$NGINX_DIR/access.log" ||
      fail "prefer-$prefer: nginx logged no request from $expect: $(cat "$NGINX_DIR/access.log")"
  done
  ip addr del 192.0.2.10/32 dev lo
  nginx_stop
}
