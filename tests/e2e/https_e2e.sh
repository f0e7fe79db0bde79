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

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside nginx python3 openssl curl
  [ -x "$build/tools/httpget/httpget" ] || fail "no httpget in $build/tools/httpget"
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
resign() { [ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"; }
resign
export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
roaming=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$roaming" "$HOME"
# A run that waits for something nobody will give ends with 124 after 3 minutes.
setup() {
  rm -f "$work/setup.log"
  timeout 180 "$build/corvane-setup" /VERYSILENT "/LOG=$work/setup.log" "$@" >"$work/setup.out" 2>&1
  RC=$?
}
has() { grep -qiF -- "$1" "$work/setup.log"; }
failx() { echo "--- log file:"; cat "$work/setup.log"; echo "--- program output:"; cat "$work/setup.out"; fail "$*"; }
httpget() { "$build/tools/httpget/httpget" -o "$@"; }

source "$here/lib/https_cases.sh"
https_install_cases
https_httpget_cases
echo "PASS: https install through a redirect, refusals, https -> http, httpget ($url via nginx)"
