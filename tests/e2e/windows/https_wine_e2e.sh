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
resign() { :; }
# Native paths reach httpget.exe through Wine's Z: drive.
httpget() { local out=$1; shift; "$WINE" "$bin/httpget.exe" -o "Z:${out//\//\\}" "$@"; }

source "$here/../lib/https_cases.sh"
https_install_cases
# Revocation is checked on Windows: the list the root publishes names this certificate.
https_httpget_cases "revoked|revoked_port|/len/1000|1|certificate has been revoked"
echo "PASS: https under Wine: install through a redirect, refusals, https -> http, httpget.exe ($url via nginx)"
