#!/usr/bin/env bash
# HTTPS end to end: the production program in a private network and mount namespace whose system
# store trusts a test root. Its download host answers plain http with a redirect to https, and an
# unattended install follows it and installs all four files byte for byte over TLS. Then servers
# with an expired, a wrong-host, a self-signed and an unknown root's certificate, and one that
# speaks only TLS 1.0: each run fails at once (no retry), sends no request, keeps the installed
# wallet and names the fault in the log file; a redirect from https back to plain http is refused
# and the plain location never asked; a wallet part left by a cut is continued over https with a
# range. httpget: a file over https byte for byte, an expired certificate refused with
# "certificate" on stderr, and a body without length that ends without close_notify is no success
# (one that ends with it is).
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"
httpget=$build/tools/httpget/httpget

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside nginx python3 openssl curl
  [ -x "$httpget" ] || fail "no httpget at $httpget"
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  case $url in http://*) ;; *) skip "the redirect to https starts from a plain http download URL, not $url" ;; esac
  netns_enter "$url"
fi

e2e_inside corvane-https-e2e
netns_trust "$work/certs"
certs=$NETNS_CERTS
trap e2e_cleanup EXIT

www=$work/www/downloads
serve_program_files "$www"
cat >"$www/cvnchain.exe" <<'SCRIPT'
#!/bin/sh
mkdir -p "$(dirname "$0")/Corvane/blocks" && echo block >"$(dirname "$0")/Corvane/blocks/blk00000.dat"
SCRIPT
sign() { [ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"; }
sign
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

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
roaming=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$roaming" "$HOME"
# A run that waits for something nobody will give ends with 124 after 3 minutes.
setup() {
  rm -f "$work/setup.log"
  timeout 180 "$build/corvane-setup" /VERYSILENT "/LOG=$work/setup.log" "$@" >"$work/setup.out" 2>&1
}
failx() { echo "--- log file:"; cat "$work/setup.log"; echo "--- program output:"; cat "$work/setup.out"; fail "$*"; }

setup /COMPONENTS=program,blockchain
rc=$?
[ "$rc" = 0 ] || failx "the install through the redirect to https exited $rc"
for pair in "cvnloader.exe|$appdir/cvnloader.exe" "corvane-qt.exe|$appdir/corvane-qt.exe" \
  "version.txt|$roaming/Corvane/version.txt" "cvnchain.exe|$roaming/cvnchain.exe"; do
  cmp -s "$www/${pair%%|*}" "${pair#*|}" || failx "${pair%%|*} was not installed byte for byte"
  grep -qE "\"GET /downloads/+${pair%%|*} HTTP/1.0\" 200 " "$tls_log" || failx "${pair%%|*} did not come over https"
done
[ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive did not run"

# A newer wallet on the server, which a run that accepted the server would install.
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
{ printf MZ; head -c 80000 /dev/urandom; } >"$www/corvane-qt.exe"
sign

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
  rc=$?
  [ "$rc" != 0 ] && [ "$rc" != 124 ] || failx "$name: the run exited $rc"
  cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "$name: the installed wallet changed"
  grep -qiF "$says" "$work/setup.log" || failx "$name: the log file does not say \"$says\""
  ! grep -qF "retrying" "$work/setup.log" || failx "$name: the refusal was retried"
  ! grep -q '"GET ' "$tls_log" || failx "$name: a request went to the refused server: $(cat "$tls_log")"
done

# https -> http: the wallet's https location sends the client back to plain http.
serve good "" "location = /downloads/corvane-qt.exe { return 302 http://\$host/plain/downloads/corvane-qt.exe; }"
setup /COMPONENTS=program
rc=$?
[ "$rc" != 0 ] && [ "$rc" != 124 ] || failx "https -> http: the run exited $rc"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "https -> http: the installed wallet changed"
grep -qF "http://$host/plain/downloads/corvane-qt.exe" "$work/setup.log" ||
  failx "https -> http: the log file does not name the refused location"
! grep -q '"GET /plain/' "$NGINX_DIR/access.log" || failx "https -> http: the plain location was asked"

# A wallet part left by a cut: the next run asks for the rest, and its range goes along through
# the redirect to https.
serve good
head -c 40000 "$www/corvane-qt.exe" >"$appdir/corvane-qt.exe.part"
stat -c %s "$www/corvane-qt.exe" >"$appdir/corvane-qt.exe.part.total"
setup /COMPONENTS=program
rc=$?
[ "$rc" = 0 ] || failx "the resumed install exited $rc"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "the resumed wallet differs"
grep -q '"GET /downloads/corvane-qt.exe HTTP/1.0" 206 ' "$tls_log" || failx "the wallet was not resumed over https: $(cat "$tls_log")"

# httpget: a file over https, from nginx.
head -c 20000000 /dev/urandom >"$work/www/big.bin"
"$httpget" -o "$work/big.out" "https://$host/big.bin" >/dev/null 2>"$work/httpget.err" ||
  fail "httpget over https exited $?: $(cat "$work/httpget.err")"
cmp -s "$work/www/big.bin" "$work/big.out" || fail "httpget over https: the file differs"

# httpget against scripted TLS servers (tls_server.py): an expired certificate, and a body without
# length that ends with close_notify (GOOD) or without it (CUT). They serve until this script ends.
python3 "$src/tests/support/tls/tls_server.py" "$certs" bash -c \
  'echo "$CORVANE_TLS_PORT_GOOD $CORVANE_TLS_PORT_EXPIRED $CORVANE_TLS_PORT_CUT" >"$0.new" && mv "$0.new" "$0" &&
   exec tail --pid="$1" -f /dev/null' "$work/tls.ports" $$ >"$work/tls.out" 2>&1 &
for ((i = 0; i < 100; i++)); do [ -s "$work/tls.ports" ] && break; sleep 0.1; done
read -r good_port expired_port cut_port <"$work/tls.ports" || fail "the scripted TLS servers did not start"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(i % 251 for i in range(300000)))' >"$work/nolen.expected"
# name | port | path | 0 when it succeeds | its stderr has
httpget_cases=(
  "expired|$expired_port|/len/1000|1|certificate"
  "nolen|$good_port|/nolen/300000|0|success 0"
  "cut|$cut_port|/nolen/300000|1|"
)
for row in "${httpget_cases[@]}"; do
  IFS='|' read -r name p path fails says <<<"$row"
  rm -f "$work/$name.out"
  "$httpget" -o "$work/$name.out" "https://$host:$p$path" >/dev/null 2>"$work/$name.err"
  rc=$?
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
echo "PASS: https install through a redirect, refusals, https -> http, httpget ($url via nginx)"
