# The HTTPS cases both targets run end to end (tests/e2e/https_e2e.sh on Linux,
# tests/e2e/windows/https_wine_e2e.sh under Wine), sourced inside the test's namespace.
#
# The caller sets work, www (the served downloads folder, under $work/www), certs, url, appdir and
# roaming, and defines:
#   setup ARGS...      an unattended run of the installer with ARGS; sets RC
#   has TEXT           the run's log file holds TEXT (any case)
#   failx MESSAGE      fails, showing the log file and the program's output
#   resign             after the served files changed (signs them anew where the build checks)
#   httpget OUT URL    the platform's httpget; stderr as it is, the exit code its own
#
#   https_install_cases          the install through the redirect, the refusals, https -> http, and
#                                a wallet part resumed over https
#   https_httpget_cases [ROW...] a file over https from nginx, then the scripted TLS servers; each
#                                ROW is one more case of the table below

# https_serve CERT [PROTOCOLS] [DIRECTIVES]: nginx anew. Plain http sends everything to https, but
# for /plain/, which serves the same files as they are; https on 443 has certificate CERT.
https_serve() {
  nginx_stop
  nginx_start "$work/www" "listen 127.0.0.1:$port;
    location / { return 301 https://\$host\$request_uri; }
    location /plain/ { alias $work/www/; }" \
    "$(nginx_tls_server 443 "$certs/$1" "${2:-}" "${3:-}")" || fail "nginx did not start"
  tls_log=$NGINX_DIR/logs/tls.log
}

https_install_cases() {
  local pair row cert protocols says name
  https_serve good
  curl -fsSL -o /dev/null "${url}version.txt" || fail "nginx does not answer at $url through https"
  setup /COMPONENTS=program,blockchain
  [ "$RC" = 0 ] || failx "the install through the redirect to https exited $RC"
  for pair in "cvnloader.exe|$appdir/cvnloader.exe" "corvane-qt.exe|$appdir/corvane-qt.exe" \
    "version.txt|$roaming/Corvane/version.txt" "cvnchain.exe|$roaming/cvnchain.exe"; do
    cmp -s "$www/${pair%%|*}" "${pair#*|}" || failx "${pair%%|*} was not installed byte for byte"
    grep -qE "\"GET /downloads/+${pair%%|*} HTTP/1.0\" 200 " "$tls_log" || failx "${pair%%|*} did not come over https"
  done
  [ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive did not run"

  # A newer wallet on the server, which a run that accepted the server would install.
  cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
  { printf MZ; head -c 80000 /dev/urandom; } >"$www/corvane-qt.exe"
  resign

  # certificate | protocols | what the log file says
  local refusals=(
    "expired||certificate has expired"
    "wronghost||certificate is not valid for $host"
    "selfsigned||certificate"
    "unknown||certificate"
    "good|TLSv1|protocol"
  )
  for row in "${refusals[@]}"; do
    IFS='|' read -r cert protocols says <<<"$row"
    name="$cert${protocols:+ $protocols}"
    https_serve "$cert" "$protocols"
    setup /COMPONENTS=program,blockchain
    [ "$RC" != 0 ] && [ "$RC" != 124 ] || failx "$name: the run exited $RC"
    cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "$name: the installed wallet changed"
    has "$says" || failx "$name: the log file does not say \"$says\""
    ! has "retrying" || failx "$name: the refusal was retried"
    ! grep -q '"GET ' "$tls_log" || failx "$name: a request went to the refused server: $(cat "$tls_log")"
  done

  # https -> http: the wallet's https location sends the client back to plain http.
  https_serve good "" "location = /downloads/corvane-qt.exe { return 302 http://\$host/plain/downloads/corvane-qt.exe; }"
  setup /COMPONENTS=program
  [ "$RC" != 0 ] && [ "$RC" != 124 ] || failx "https -> http: the run exited $RC"
  cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "https -> http: the installed wallet changed"
  has "http://$host/plain/downloads/corvane-qt.exe" || failx "https -> http: the log file does not name the refused location"
  ! grep -q '"GET /plain/' "$NGINX_DIR/access.log" || failx "https -> http: the plain location was asked"

  # A wallet part left by a cut: the next run asks for the rest, and its range goes along through
  # the redirect to https.
  https_serve good
  head -c 40000 "$www/corvane-qt.exe" >"$appdir/corvane-qt.exe.part"
  stat -c %s "$www/corvane-qt.exe" >"$appdir/corvane-qt.exe.part.total"
  setup /COMPONENTS=program
  [ "$RC" = 0 ] || failx "the resumed install exited $RC"
  cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "the resumed wallet differs"
  grep -q '"GET /downloads/corvane-qt.exe HTTP/1.0" 206 ' "$tls_log" ||
    failx "the wallet was not resumed over https: $(cat "$tls_log")"
}

https_httpget_cases() {
  local row name p path fails says rc err
  head -c 20000000 /dev/urandom >"$work/www/big.bin"
  httpget "$work/big.out" "https://$host/big.bin" >/dev/null 2>"$work/httpget.err" ||
    fail "httpget over https exited $?: $(cat "$work/httpget.err")"
  cmp -s "$work/www/big.bin" "$work/big.out" || fail "httpget over https: the file differs"

  # The scripted TLS servers (tls_server.py) serve until this script ends: an expired certificate,
  # one revoked in the list its root publishes, a body without length that ends with
  # close_notify (GOOD) or without it (CUT), and a redirect without length that ends without it.
  python3 "$src/tests/support/tls/tls_server.py" "$certs" bash -c \
    'echo "$CORVANE_TLS_PORT_GOOD $CORVANE_TLS_PORT_EXPIRED $CORVANE_TLS_PORT_CUT $CORVANE_TLS_PORT_REVOKED" >"$0.new" &&
     mv "$0.new" "$0" && exec tail --pid="$1" -f /dev/null' "$work/tls.ports" $$ >"$work/tls.out" 2>&1 &
  for ((i = 0; i < 100; i++)); do [ -s "$work/tls.ports" ] && break; sleep 0.1; done
  read -r good_port expired_port cut_port revoked_port <"$work/tls.ports" || fail "the scripted TLS servers did not start"
  python3 -c 'import sys; sys.stdout.buffer.write(bytes(i % 251 for i in range(300000)))' >"$work/nolen.expected"
  # name | the variable holding its port | path | 0 when it succeeds | its stderr has
  local cases=(
    "expired|expired_port|/len/1000|1|certificate"
    "nolen|good_port|/nolen/300000|0|success 0"
    "cut|cut_port|/nolen/300000|1|"
    "cut-redirect|cut_port|/to/https://$host:$cut_port/len/300000|0|success 0"
    "$@"
  )
  for row in "${cases[@]}"; do
    IFS='|' read -r name p path fails says <<<"$row"
    rm -f "$work/$name.out"
    httpget "$work/$name.out" "https://$host:${!p}$path" >/dev/null 2>"$work/$name.err.raw"
    rc=$?
    tr -d '\r' <"$work/$name.err.raw" >"$work/$name.err"
    err=$(tr '\n' '|' <"$work/$name.err")
    if [ "$fails" = 0 ]; then
      [ "$rc" = 0 ] || fail "httpget $name: exit $rc: $err"
      cmp -s "$work/nolen.expected" "$work/$name.out" || fail "httpget $name: the body differs"
    else
      [ "$rc" != 0 ] || fail "httpget $name: exit 0: $err"
      ! grep -q '^success' "$work/$name.err" || fail "httpget $name: a success: $err"
    fi
    [ -z "$says" ] || grep -qF "$says" "$work/$name.err" || fail "httpget $name: stderr lacks \"$says\": $err"
  done
}
