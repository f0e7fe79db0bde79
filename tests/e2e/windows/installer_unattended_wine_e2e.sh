#!/usr/bin/env bash
# corvane-setup.exe from the command line under Wine against nginx: /VERYSILENT installs both
# parts without ever showing a window, exits 0 and writes the log file; the Apps & features entry
# is read back with Wine's reg; a wallet missing on the server exits 3, says so in the log file and
# keeps the installed wallet; /SILENT shows the window and closes it by itself; the uninstall
# refuses while the wallet runs, and so does an update with package managers' switches (exit 7,
# the download kept and installed once the wallet is closed), then the quiet uninstall (the entry's QuietUninstallString)
# removes what the install made and leaves the wallet's data folder and the blockchain byte for
# byte.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe, wintool.exe, chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx python3" "corvane-setup.exe corvane-setup-quiet.exe wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-unattended

wallet_pid=""
trap '[ -n "$wallet_pid" ] && kill "$wallet_pid" 2>/dev/null; e2e_cleanup' EXIT

www=$work/www/downloads
serve_program_files "$www"
cp "$bin/chain_stub.exe" "$www/cvnchain.exe"
nginx_start "$work/www" "listen 127.0.0.1:$NETNS_PORT;" || fail "nginx did not start"
curl -fsS -o /dev/null "${url}version.txt" || fail "nginx does not answer at $url"

wine_desktop "$work"
user=$WINE_USER roaming=$WINE_ROAMING appdir=$WINE_APPDIR
drive=$WINEPREFIX/drive_c
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane'
log=$drive/setup.log
failx() { echo "--- log file:"; tr -d '\r' <"$log"; echo "--- program output:"; cat "$work/setup.out"; fail "$*"; }
# Runs the installer to its end and sets RC; WINDOWS counts the polls that saw its window.
setup() {
  "$WINE" "$@" >"$work/setup.out" 2>&1 &
  local pid=$!
  local polls=0
  WINDOWS=0
  while kill -0 "$pid" 2>/dev/null; do
    xdotool search --onlyvisible --name "^$APP_TITLE\$" >/dev/null 2>&1 && WINDOWS=$((WINDOWS + 1))
    # An unattended install that waits for something nobody will give has failed.
    if ((++polls > 900)); then
      kill "$pid" 2>/dev/null
      failx "the unattended run $* did not end within 3 minutes"
    fi
    sleep 0.2
  done
  wait "$pid"
  RC=$?
}
# "TYPE    DATA" of one value, as reg query prints it.
reg_value() { "$WINE" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1    //p"; }

setup "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=program,blockchain '/LOG=C:\setup.log'
[ "$RC" = 0 ] || failx "the unattended install exited $RC"
[ "$WINDOWS" = 0 ] || failx "the unattended install showed its window"
expected=$(install_log "$url")
actual=$(tr -d '\r' <"$log" | sed -n '/^install program is checked$/,$p')
[ "$actual" = "$expected" ] || failx "log file differs:
$(diff <(echo "$expected") <(echo "$actual"))"
[ "$(tr -d '\r' <"$log" | head -n 1)" = "ticker is cvn" ] || failx "the log file lacks the start-up"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "wallet differs"
cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" || failx "launcher differs"
cmp -s "$bin/corvane-setup.exe" "$appdir/corvane-setup.exe" || failx "no uninstaller in C:\\Corvane"
[ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive did not run"

# The entry as Windows tools see it.
for check in "DisplayName|REG_SZ    Corvane Wallet" "DisplayVersion|REG_SZ    1.2.3" \
  "Publisher|REG_SZ    Corvane" 'InstallLocation|REG_SZ    C:\Corvane\' \
  'DisplayIcon|REG_SZ    C:\Corvane\corvane-qt.exe,0' "NoModify|REG_DWORD    0x1" \
  "NoRepair|REG_DWORD    0x1" 'UninstallString|REG_SZ    "C:\Corvane\corvane-setup.exe" /UNINSTALL' \
  'QuietUninstallString|REG_SZ    "C:\Corvane\corvane-setup.exe" /UNINSTALL /VERYSILENT'; do
  got=$(reg_value "${check%%|*}")
  [ "$got" = "${check#*|}" ] || failx "${check%%|*} reads \"$got\", not \"${check#*|}\""
done
size=$(reg_value EstimatedSize | sed -n 's/^REG_DWORD *//p')
kib=$(( ($(cat "$appdir"/cvnloader.exe "$appdir"/corvane-qt.exe "$appdir"/corvane-setup.exe | wc -c) + 1023) / 1024 ))
[ "$((size))" = "$kib" ] || failx "EstimatedSize is $size, not $kib KiB"

# The wallet missing on the server: exit 3, the log file says so, the installed wallet stays.
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
mv "$www/corvane-qt.exe" "$work/served-wallet"
setup "$bin/corvane-setup.exe" /verysilent '/log=C:\setup.log'
[ "$RC" = 3 ] || failx "a missing wallet exited $RC"
[ "$WINDOWS" = 0 ] || failx "the unattended install showed its window"
tr -d '\r' <"$log" | grep -qxF "HTTP GET Failed" &&
  tr -d '\r' <"$log" | grep -qxF "Download failure: could not download wallet" ||
  failx "the log file does not say the wallet failed"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "the failed download changed the installed wallet"

# /SILENT: the window shows its progress, asks nothing and closes by itself.
setup "$bin/corvane-setup.exe" /SILENT /COMPONENTS=blockchain '/LOG=C:\setup.log'
[ "$RC" = 0 ] || failx "/SILENT exited $RC"
[ "$WINDOWS" -gt 0 ] || failx "/SILENT showed no window"
tr -d '\r' <"$log" | grep -qxF "install blockchain is checked" || failx "/SILENT did not install the blockchain"

# An archive that asks where to unpack unless it gets the unattended arguments the build names:
# corvane-setup-quiet.exe, built with them, passes them on /VERYSILENT and nothing is asked; the
# question of an installer built without them stays on the screen until it is answered.
export CORVANE_CHAIN_QUIET_ARGS=${CORVANE_TEST_ARCHIVE_SILENT_ARGS:?the arguments corvane-setup-quiet.exe was built with}
asked=$roaming/chain-asked.txt
rm -f "$asked"
"$WINE" "$bin/corvane-setup-quiet.exe" /VERYSILENT /COMPONENTS=blockchain '/LOG=C:\setup.log' >"$work/setup.out" 2>&1 &
pid=$!
while kill -0 "$pid" 2>/dev/null && [ ! -e "$asked" ]; do sleep 0.2; done
[ ! -e "$asked" ] || { wine_box "Blockchain archive" >/dev/null; failx "the archive asked its question: /VERYSILENT did not pass \"$CORVANE_CHAIN_QUIET_ARGS\""; }
wait "$pid"
RC=$?
[ "$RC" = 0 ] || failx "the unattended install with the archive's arguments exited $RC"
[ "$(cat "$roaming/chain-ran.txt")" = "C:\\users\\$user\\AppData\\Roaming\\cvnchain.exe $CORVANE_CHAIN_QUIET_ARGS" ] ||
  failx "the archive was started as $(cat "$roaming/chain-ran.txt")"
if [ "${CORVANE_ARCHIVE_SILENT_ARGS:-}" != "$CORVANE_CHAIN_QUIET_ARGS" ]; then
  "$WINE" "$bin/corvane-setup.exe" /VERYSILENT /COMPONENTS=blockchain '/LOG=C:\setup.log' >"$work/setup.out" 2>&1 &
  pid=$!
  wine_box "Blockchain archive" | grep -qxF "text Extract to the default location?" ||
    failx "the archive did not ask without its arguments"
  wait "$pid"
  RC=$?
  [ "$RC" = 0 ] || failx "the answered install exited $RC"
fi
unset CORVANE_CHAIN_QUIET_ARGS

# A running wallet (a Windows program that stays until it is ended) holds its file: the uninstall
# says so and changes nothing.
cp "$bin/wintool.exe" "$appdir/corvane-qt.exe"
"$WINE" 'C:\Corvane\corvane-qt.exe' hold >/dev/null 2>&1 &
wallet_pid=$!
# Running once Wine's loader has mapped it.
for ((i = 0; i < 200; i++)); do
  grep -qF "$appdir/corvane-qt.exe" /proc/[0-9]*/maps 2>/dev/null && break
  sleep 0.1
done
[ "$i" -lt 200 ] || failx "the wallet stand-in did not start"
before=$(ls -A "$appdir" | sort | tr '\n' ' ')
setup "$appdir/corvane-setup.exe" /UNINSTALL /VERYSILENT '/LOG=C:\setup.log'
[ "$RC" = 7 ] || failx "the uninstall with the wallet running exited $RC"
tr -d '\r' <"$log" | grep -qF "The Corvane wallet is running" || failx "the uninstall did not say the wallet runs"
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "$before" ] && [ -n "$(reg_value DisplayName)" ] ||
  failx "the refused uninstall changed something"

# An update while it runs, with what package managers pass (/SP- /VERYSILENT /SUPPRESSMSGBOXES
# /NORESTART, /NOCANCEL, a bare /LOG): exit 7, a log in the temporary folder naming the held
# file, the finished download kept; another /DIR= exits 2. (Wine's Restart Manager names no
# program that holds a file, so the log says "another program" here.)
cp "$work/served-wallet" "$www/corvane-qt.exe"
setup "$bin/corvane-setup.exe" /SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /NOCANCEL /LOG
[ "$RC" = 7 ] || failx "an update with the wallet running exited $RC"
innolog=$(find "$drive/users/$user" -name "Setup Log ????-??-?? #001.txt" | head -n 1)
[ -n "$innolog" ] || failx "no log in the temporary folder"
tr -d '\r' <"$innolog" | grep -qF 'C:\Corvane\corvane-qt.exe is in use by ' || failx "the log does not name the held wallet: $(tr -d '\r' <"$innolog")"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe.part" || failx "the finished download was not kept"
setup "$bin/corvane-setup.exe" /VERYSILENT '/DIR=D:\Wallet'
[ "$RC" = 2 ] || failx "/DIR=D:\Wallet exited $RC"
kill "$wallet_pid"
wait "$wallet_pid" 2>/dev/null
wallet_pid=""
# Once it is closed, the next run installs the kept download without fetching it again.
fetched=$(grep -c "GET /downloads/corvane-qt.exe" "$NGINX_DIR/access.log")
for ((i = 0; i < 100; i++)); do
  grep -qF "$appdir/corvane-qt.exe" /proc/[0-9]*/maps 2>/dev/null || break
  sleep 0.1
done
setup "$bin/corvane-setup.exe" /VERYSILENT '/DIR=C:\Corvane' '/LOG=C:\setup.log'
[ "$RC" = 0 ] || failx "the update after the wallet closed exited $RC"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "the kept download was not installed"
[ "$(grep -c "GET /downloads/corvane-qt.exe" "$NGINX_DIR/access.log")" = "$fetched" ] || failx "the kept download was fetched again"

# The quiet uninstall, as the entry's QuietUninstallString starts it.
echo "the user's keys" >"$roaming/Corvane/wallet.dat"
snapshot() { (cd "$roaming" && find Corvane cvnchain.exe -type f -print0 | sort -z | xargs -0 sha256sum); }
data=$(snapshot)
setup 'C:\Corvane\corvane-setup.exe' /UNINSTALL /VERYSILENT '/LOG=C:\setup.log'
[ "$RC" = 0 ] || failx "the quiet uninstall exited $RC"
[ "$WINDOWS" = 0 ] || failx "the quiet uninstall showed a window"
[ ! -e "$appdir" ] || failx "C:\\Corvane is left: $(ls -A "$appdir")"
[ ! -e "$drive/users/$user/Desktop/Corvane.lnk" ] || failx "the desktop shortcut is left"
[ ! -e "$roaming/Microsoft/Windows/Start Menu/Programs/Corvane" ] || failx "the start-menu folder is left"
"$WINE" reg query "$key" >/dev/null 2>&1 && failx "the entry is left"
[ "$(snapshot)" = "$data" ] || failx "the wallet's data folder or the blockchain changed"
echo "PASS: unattended install, entry and uninstall under Wine ($url via nginx)"
