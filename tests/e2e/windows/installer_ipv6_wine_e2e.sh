#!/usr/bin/env bash
# corvane-setup.exe under Wine, unattended, where its download host is reached over IPv6: a host
# with only an IPv6 address installs the program part; so does a host with an address of each
# family of which one takes no connection (its SYNs are dropped), both ways round, without a retry;
# with both answering, over the family the system prefers, and over IPv4 where the machine's only
# IPv6 address is loopback's.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe and wintool.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx python3" "corvane-setup.exe wintool.exe"
fi

e2e_inside corvane-wine-ipv6
trap '[ -z "${silent:-}" ] || kill "$silent" 2>/dev/null; e2e_cleanup' EXIT

www=$work/www/downloads
serve_program_files "$www"
wine_desktop "$work"
appdir=$WINE_APPDIR
log=$WINEPREFIX/drive_c/setup.log

run_install() {
  rm -f "$log"
  timeout 180 "$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=program '/LOG=C:\setup.log' >"$work/$1.out" 2>&1
  RC=$?
  LOG=$(tr -d '\r' <"$log" 2>&1)
}
source "$here/../lib/ipv6_cases.sh"
ipv6_cases
echo "installer over IPv6 under Wine: all checks passed"
