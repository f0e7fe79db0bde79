#!/usr/bin/env bash
# HTTPS end to end under Wine, as tests/e2e/https_e2e.sh on Linux: the production
# corvane-setup.exe in a private network and mount namespace whose system store trusts a test root
# (the prefix is made afterwards, so Wine's root store holds it too). Its download host redirects
# plain http to https, and an unattended install follows and installs all four files byte for
# byte over TLS. Servers with an expired, a wrong-host, a self-signed and an unknown root's
# certificate, and one that speaks only TLS 1.0, are refused at once with the installed wallet
# kept and the fault named in the log file (Wine's Schannel itself accepts them all: the program
# checks them); https -> http is refused; a wallet part left by a cut is continued over https with
# a range. httpget.exe: a file over https byte for byte, an expired and a revoked certificate
# refused with "certificate" on stderr, a body without length cut without close_notify no success.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe, httpget.exe, wintool.exe,
#                       chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  case $url in http://*) ;; *) skip "the redirect to https starts from a plain http download URL, not $url" ;; esac
  wine_e2e_enter "Xvfb xdotool nginx python3 openssl curl" "corvane-setup.exe httpget.exe wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-https
# Before the prefix: Wine fills a new prefix's root store from the system's bundle.
netns_trust "$work/certs"
certs=$NETNS_CERTS
trap e2e_cleanup EXIT

www=$work/www/downloads
serve_program_files "$www"
cp "$bin/chain_stub.exe" "$www/cvnchain.exe"
host=${url#http://} && host=${host%%/*} && host=${host%%:*}

# serve CERT [PROTOCOLS] [DIRECTIVES]: nginx anew. Plain http sends everything to https, but for
# /plain/, which serves the same files as they are; https on 443 has certificate CERT.
serve() {
  nginx_stop
  nginx_start "$work/www" "listen 127.0.0.1:$port;
    location / { return 301 https://\$host\$request_uri; }
    location /plain/ { alias $work/www/; }" \
    "$(nginx_tls_server 443 "$certs/$1" "${2:-}" "${3:-}")" || fail "nginx did not start"
  tls_log=$NGINX_DIR/logs/tls.log
}
serve good
curl -fsSL -o /dev/null "${url}version.txt" || fail "nginx does not answer at $url through https"

wine_desktop "$work"
roaming=$WINE_ROAMING appdir=$WINE_APPDIR
log=$WINEPREFIX/drive_c/setup.log
failx() { echo "--- log file:"; tr -d '\r' <"$log"; echo "--- program output:"; cat "$work/setup.out"; fail "$*"; }
# A run that waits for something nobody will give ends with 124 after 3 minutes.
setup() {
  rm -f "$log"
  CORVANE_CHAIN_MS=100 timeout 180 "$WINE" "$bin/corvane-setup.exe" /VERYSILENT '/LOG=C:\setup.log' "$@" \
    >"$work/setup.out" 2>&1
  RC=$?
}
has() { tr -d '\r' <"$log" | grep -qiF -- "$1"; }

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

# certificate | protocols | what the log file says
refusals=(
  "expired||certificate has expired"
  "wronghost||certificate is not valid for $host"
  "selfsigned||certificate"
  "unknown||certificate"
  "good|TLSv1|protocol"
)
for row in "${refusals[@]}"; do
  IFS='|' read -r cert protocols says <<<"$row"
  name="$cert${protocols:+ $protocols}"
  serve "$cert" "$protocols"
  setup /COMPONENTS=program,blockchain
  [ "$RC" != 0 ] && [ "$RC" != 124 ] || failx "$name: the run exited $RC"
  cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "$name: the installed wallet changed"
  has "$says" || failx "$name: the log file does not say \"$says\""
  ! has "retrying" || failx "$name: the refusal was retried"
  ! grep -q '"GET ' "$tls_log" || failx "$name: a request went to the refused server: $(cat "$tls_log")"
done

# https -> http: the wallet's https location sends the client back to plain http.
serve good "" "location = /downloads/corvane-qt.exe { return 302 http://\$host/plain/downloads/corvane-qt.exe; }"
setup /COMPONENTS=program
[ "$RC" != 0 ] && [ "$RC" != 124 ] || failx "https -> http: the run exited $RC"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "https -> http: the installed wallet changed"
has "http://$host/plain/downloads/corvane-qt.exe" || failx "https -> http: the log file does not name the refused location"
! grep -q '"GET /plain/' "$NGINX_DIR/access.log" || failx "https -> http: the plain location was asked"

# A wallet part left by a cut: the next run asks for the rest, and its range goes along through
# the redirect to https.
serve good
head -c 40000 "$www/corvane-qt.exe" >"$appdir/corvane-qt.exe.part"
stat -c %s "$www/corvane-qt.exe" >"$appdir/corvane-qt.exe.part.total"
setup /COMPONENTS=program
[ "$RC" = 0 ] || failx "the resumed install exited $RC"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "the resumed wallet differs"
grep -q '"GET /downloads/corvane-qt.exe HTTP/1.0" 206 ' "$tls_log" || failx "the wallet was not resumed over https: $(cat "$tls_log")"

# httpget.exe: a file over https, from nginx. Native paths reach it through Wine's Z: drive.
winpath() { echo "Z:${1//\//\\}"; }
head -c 20000000 /dev/urandom >"$work/www/big.bin"
"$WINE" "$bin/httpget.exe" -o "$(winpath "$work/big.out")" "https://$host/big.bin" >/dev/null 2>"$work/httpget.err" ||
  fail "httpget.exe over https exited $?: $(cat "$work/httpget.err")"
cmp -s "$work/www/big.bin" "$work/big.out" || fail "httpget.exe over https: the file differs"

# httpget.exe against scripted TLS servers (tls_server.py): an expired certificate, one revoked in
# the list its root publishes (refused on Windows), and a body without length that ends with
# close_notify (GOOD) or without it (CUT). They serve until this script ends.
python3 "$src/tests/support/tls/tls_server.py" "$certs" bash -c \
  'echo "$CORVANE_TLS_PORT_GOOD $CORVANE_TLS_PORT_EXPIRED $CORVANE_TLS_PORT_CUT $CORVANE_TLS_PORT_REVOKED" >"$0.new" &&
   mv "$0.new" "$0" &&
   exec tail --pid="$1" -f /dev/null' "$work/tls.ports" $$ >"$work/tls.out" 2>&1 &
for ((i = 0; i < 100; i++)); do [ -s "$work/tls.ports" ] && break; sleep 0.1; done
read -r good_port expired_port cut_port revoked_port <"$work/tls.ports" || fail "the scripted TLS servers did not start"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(i % 251 for i in range(300000)))' >"$work/nolen.expected"
# name | port | path | 0 when it succeeds | its stderr has
httpget_cases=(
  "expired|$expired_port|/len/1000|1|certificate"
  "revoked|$revoked_port|/len/1000|1|certificate has been revoked"
  "nolen|$good_port|/nolen/300000|0|success 0"
  "cut|$cut_port|/nolen/300000|1|"
)
for row in "${httpget_cases[@]}"; do
  IFS='|' read -r name p path fails says <<<"$row"
  rm -f "$work/$name.out"
  "$WINE" "$bin/httpget.exe" -o "$(winpath "$work/$name.out")" "https://$host:$p$path" >/dev/null 2>"$work/$name.err"
  rc=$?
  err=$(tr -d '\r' <"$work/$name.err" | tr '\n' '|')
  if [ "$fails" = 0 ]; then
    [ "$rc" = 0 ] || fail "httpget.exe $name: exit $rc: $err"
    cmp -s "$work/nolen.expected" "$work/$name.out" || fail "httpget.exe $name: the body differs"
  else
    [ "$rc" != 0 ] || fail "httpget.exe $name: exit 0: $err"
    ! tr -d '\r' <"$work/$name.err" | grep -q '^success' || fail "httpget.exe $name: a success: $err"
  fi
  [ -z "$says" ] || tr -d '\r' <"$work/$name.err" | grep -qF "$says" || fail "httpget.exe $name: stderr lacks \"$says\": $err"
done
echo "PASS: https under Wine: install through a redirect, refusals, https -> http, httpget.exe ($url via nginx)"
