#!/usr/bin/env bash
# corvane-setup.exe under Wine through a power cut in the middle of the blockchain archive's
# download (lib/power_cut.sh): killed with SIGKILL part-way, then the part's tail past the durable
# length its record names overwritten with zeros and made longer than it was. The next run must
# install the archive byte for byte, continuing from the durable length and fetching again at
# most what lay past it plus one sync interval (8 MiB). Prints the bytes fetched twice.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe, wintool.exe, chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx python3" "corvane-setup.exe wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-powercut
source "$here/../lib/power_cut.sh"
setup_pid=""
trap '[ -z "$setup_pid" ] || kill -KILL "$setup_pid" 2>/dev/null; e2e_cleanup' EXIT

# A program with the rest of the archive after it, as a self-extracting archive is.
power_cut_serve "$bin/chain_stub.exe" "$NETNS_PORT"
wine_desktop "$work"
roaming=$WINE_ROAMING
part=$roaming/cvnchain.exe.part
log=$WINEPREFIX/drive_c/setup.log
failx() { echo "--- log file:"; tr -d '\r' <"$log"; echo "--- program output:"; cat "$work"/*.out; fail "$*"; }

"$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=blockchain '/LOG=C:\setup.log' >"$work/first.out" 2>&1 &
setup_pid=$!
power_cut_kill "$setup_pid" "$part"
setup_pid=""
timeout 600 "$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=blockchain '/LOG=C:\setup.log' \
  >"$work/second.out" 2>&1 || failx "the run after the cut exited $?"
cmp -s "$POWER_CUT_ARCHIVE" "$roaming/cvnchain.exe" || failx "the installed archive differs"
[ -f "$roaming/chain-ran.txt" ] || failx "the archive did not run"
power_cut_check "$part" "$log"
echo "PASS"
