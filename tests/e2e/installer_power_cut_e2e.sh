#!/usr/bin/env bash
# A power cut in the middle of the blockchain archive's download (lib/power_cut.sh): the installer
# (/VERYSILENT, no display) is killed with SIGKILL part-way, then the part's tail past the durable
# length its record names is overwritten with zeros and made longer than it was. The next run must
# install the archive byte for byte, continuing from the durable length and fetching again at
# most what lay past it plus one sync interval (8 MiB), and put the archive's move on the disk
# before it runs it. Prints the bytes fetched twice.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside nginx python3 strace
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  netns_enter "$url"
fi

e2e_inside corvane-powercut
source "$here/lib/power_cut.sh"
setup_pid=""
trap '[ -z "$setup_pid" ] || kill -KILL "$setup_pid" 2>/dev/null; e2e_cleanup' EXIT

printf '#!/bin/sh\necho ran > "%s"\nexit 0\n' "$work/chain-ran" >"$work/head"
power_cut_serve "$work/head" "$port"
export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
roaming=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming
part=$roaming/cvnchain.exe.part
mkdir -p "$roaming" "$HOME"
args=(/VERYSILENT /COMPONENTS=blockchain)
failx() { for f in "$work"/*.log "$work"/*.out; do echo "--- $f:"; cat "$f"; done; fail "$*"; }

"$build/corvane-setup" "${args[@]}" "/LOG=$work/first.log" >"$work/first.out" 2>&1 &
setup_pid=$!
power_cut_kill "$setup_pid" "$part"
setup_pid=""
# The second run's renames, removals, syncs and program starts are traced (in a sanitizer build
# without the leak check, which cannot run under a tracer).
ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 timeout 600 strace -f --seccomp-bpf -qq -y -s 4096 -o "$work/second.trace" \
  -e trace=rename,renameat,renameat2,unlink,unlinkat,fsync,execve \
  "$build/corvane-setup" "${args[@]}" "/LOG=$work/second.log" >"$work/second.out" 2>&1 ||
  failx "the run after the cut exited $?"
cmp -s "$POWER_CUT_ARCHIVE" "$roaming/cvnchain.exe" || failx "the installed archive differs"
[ -f "$work/chain-ran" ] || failx "the archive did not run"
power_cut_check "$part" "$work/second.log"
# The archive's move over the old one and its record's removal are on the disk before it runs: a
# power cut then must not bring the old archive back.
folder=$(realpath "$roaming")
awk -v archive="$folder/cvnchain.exe" -v folder="<$folder>" '
  /rename/ && index($0, "\"" archive ".part\", ") { moved = NR }
  moved && /unlink/ && index($0, "\"" archive ".part.total\"") { removed = NR }
  removed && /fsync\(/ && index($0, folder) { synced = NR }
  /execve\(/ && index($0, "\"" archive "\"") { ran = NR; exit }
  END { exit !(moved && removed && synced && synced < ran) }' "$work/second.trace" ||
  failx "the folder was not synced between the archive's move and its run: $(grep -F cvnchain "$work/second.trace")"
echo "PASS"
