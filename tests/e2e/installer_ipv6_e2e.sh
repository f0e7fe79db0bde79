#!/usr/bin/env bash
# The installer, unattended, where its download host is reached over IPv6: a host with only an
# IPv6 address installs the program part; a host with an address of each family of which one
# takes no connection (its SYNs are dropped, as behind a broken route) installs it too, both
# ways round, from the other address and without a retry, so without waiting for the idle limit;
# with both answering, over the family the system prefers (/etc/gai.conf), and over IPv4 where
# the machine's only IPv6 address is loopback's.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside nginx python3
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  netns_enter "$url"
fi

e2e_inside corvane-ipv6-e2e
trap '[ -z "${silent:-}" ] || kill "$silent" 2>/dev/null; e2e_cleanup' EXIT

www=$work/www/downloads
serve_program_files "$www"
[ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming" "$HOME"

run_install() {
  timeout 180 "$build/corvane-setup" /VERYSILENT /COMPONENTS=program "/LOG=$work/$1.log" >"$work/$1.out" 2>&1
  RC=$?
  LOG=$(cat "$work/$1.log" 2>&1)
}
source "$here/lib/ipv6_cases.sh"
ipv6_cases
echo "installer over IPv6: all checks passed"
