#!/usr/bin/env bash
# The installer from the command line against nginx: /VERYSILENT with no display at all installs
# both parts, exits 0, writes the log file and the Apps & features entry; a wallet missing on the
# server exits 3, says so in the log file and keeps the installed wallet; a sign-in page as the
# launcher exits 3 too and keeps the installed launcher; a second installer while one runs exits
# 1 and leaves the first one's log but for one line; /SILENT shows the window and closes it by
# itself; package managers' Inno switches are taken; an update while the wallet runs exits 7 and
# keeps the download, which /CLOSEAPPLICATIONS then installs; the uninstall refuses while the
# wallet is in use (a process holds it open), keeps its entry and itself while a file stays, then
# removes what the install made and leaves the wallet's data folder and the blockchain byte for
# byte; a C:\Corvane that is a link or another user's folder gets nothing installed into it.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside Xvfb xdotool nginx python3
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  netns_enter "$url"
fi

e2e_inside corvane-unattended-e2e

holder=""
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null; e2e_cleanup' EXIT

www=$work/www/downloads
serve_program_files "$www"
cat >"$www/cvnchain.exe" <<SCRIPT
#!/bin/sh
mkdir -p "\$(dirname "\$0")/Corvane/blocks" && echo block > "\$(dirname "\$0")/Corvane/blocks/blk00000.dat"
# Long enough for the window of /SILENT to be seen.
[ -z "\$CORVANE_CHAIN_WAIT" ] || sleep "\$CORVANE_CHAIN_WAIT"
SCRIPT
sign() { [ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"; }
sign
nginx_start "$work/www" "listen 127.0.0.1:$port;" || fail "nginx did not start"
curl -fsS -o /dev/null "$url/version.txt" || fail "nginx does not answer at $url"

export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA DISPLAY
user=$(id -un)
roaming=$WINEPREFIX/drive_c/users/$user/AppData/Roaming
appdir=$WINEPREFIX/drive_c/Corvane
desktop_link=$WINEPREFIX/drive_c/users/$user/Desktop/Corvane.lnk
menu=$roaming/Microsoft/Windows/Start\ Menu/Programs/Corvane
entry=$WINEPREFIX/corvane-registry/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Uninstall/Corvane
mkdir -p "$roaming" "$HOME"
# A run that waits for something nobody will give ends with 124 after 3 minutes.
setup() { timeout 180 "$build/corvane-setup" "$@" >"$work/setup.out" 2>&1; }
failx() { echo "--- log file:"; cat "$work/setup.log"; echo "--- program output:"; cat "$work/setup.out"; fail "$*"; }
signed=""
[ -z "${CORVANE_SIGNING_KEY:-}" ] || signed=signed
only_files() { ls -A "$appdir" 2>/dev/null | sort | tr '\n' ' '; }

# No display at all: a window would end the program at once.
setup /VERYSILENT /COMPONENTS=program,blockchain "/LOG=$work/setup.log"
rc=$?
[ "$rc" = 0 ] || failx "the unattended install exited $rc"
[ "$(head -n 1 "$work/setup.log")" = "ticker is cvn" ] || failx "the log file does not start with the start-up"
expected=$(install_log "$url" $signed)
first="install program is checked"
[ -z "$signed" ] || first="getting signed file list "
actual=$(sed -n "/^$first/,\$p" "$work/setup.log")
[ "$actual" = "$expected" ] || failx "log file differs:
$(diff <(echo "$expected") <(echo "$actual"))"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "wallet differs"
cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" || failx "launcher differs"
cmp -s "$build/corvane-setup" "$appdir/corvane-setup.exe" || failx "no uninstaller in the application folder"
[ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive did not run"
[ -f "$desktop_link" ] && [ -f "$menu/Corvane.lnk" ] || failx "no shortcuts"
grep -qxF $'DisplayVersion\ts\t1.2.3' "$entry" || failx "entry: $(cat "$entry" 2>&1)"
grep -qxF $'QuietUninstallString\ts\t"C:\\Corvane\\corvane-setup.exe" /UNINSTALL /VERYSILENT' "$entry" ||
  failx "entry: $(cat "$entry")"

# A newer wallet listed but missing on the server: exit 3, the log says so, the installed wallet
# stays. (A keyed build would not request a wallet the list does not name, nor one it has.)
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
{ printf MZ; head -c 70000 /dev/urandom; } >"$www/corvane-qt.exe"
sign
mv "$www/corvane-qt.exe" "$work/served-wallet"
setup /verysilent "/log=$work/setup.log"
rc=$?
[ "$rc" = 3 ] || failx "a missing wallet exited $rc"
grep -qxF "HTTP GET Failed" "$work/setup.log" && grep -qxF "Download failure: could not download wallet" "$work/setup.log" ||
  failx "the log file does not say the wallet failed"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "the failed download changed the installed wallet"
mv "$work/served-wallet" "$www/corvane-qt.exe"
sign

# A sign-in page as the launcher is refused; the run then fails with 3 though the wallet and the
# version file arrive.
cp "$appdir/cvnloader.exe" "$work/installed-launcher"
mv "$www/cvnloader.exe" "$work/served-launcher"
printf '<html>sign in</html>\n' >"$www/cvnloader.exe"
sign
setup /VERYSILENT "/LOG=$work/setup.log"
rc=$?
[ "$rc" = 3 ] || failx "a refused launcher exited $rc"
grep -qxF 'the server sent something that is not a program for C:\Corvane\cvnloader.exe (a sign-in page may be in the way) - the download was discarded' \
  "$work/setup.log" || failx "the log file does not say the launcher was refused"
cmp -s "$work/installed-launcher" "$appdir/cvnloader.exe" || failx "the refused launcher replaced the installed one"
mv "$work/served-launcher" "$www/cvnloader.exe"
sign

# A second installer while one runs (here: while its lock is held) exits 1 and leaves the first
# one's log file as it was, but for one line at its end.
lock=$WINEPREFIX/drive_c/windows/temp/Corvane\ Setup.lock
mkdir -p "$(dirname "$lock")"
printf 'the first installer wrote this\n' >"$work/first.log"
exec {lockfd}<>"$lock"
flock -n "$lockfd" || fail "cannot take the installer's lock"
setup /VERYSILENT "/LOG=$work/first.log"
rc=$?
exec {lockfd}>&-
[ "$rc" = 1 ] || failx "the second installer exited $rc"
[ "$(cat "$work/first.log")" = "the first installer wrote this
Corvane Setup: Corvane Setup is already running." ] || failx "the second installer changed the first one's log: $(od -c "$work/first.log" | head)"

# /SILENT: the window shows, asks nothing and closes by itself.
xvfb_start || fail "Xvfb did not start"
CORVANE_CHAIN_WAIT=3 QT_QPA_PLATFORM=xcb "$build/corvane-setup" /SILENT /COMPONENTS=blockchain "/LOG=$work/setup.log" \
  >"$work/setup.out" 2>&1 &
pid=$!
timeout 30 xdotool search --sync --onlyvisible --name "^$APP_TITLE\$" >/dev/null || failx "/SILENT showed no window"
wait "$pid"
rc=$?
[ "$rc" = 0 ] || failx "/SILENT exited $rc"
grep -qxF "install blockchain is checked" "$work/setup.log" || failx "/SILENT did not install the blockchain"
xvfb_stop
unset DISPLAY

# What package managers pass to Inno-style installers: /SP- /VERYSILENT /SUPPRESSMSGBOXES
# /NORESTART, /NOCANCEL, a bare /LOG (into the temporary folder as Inno names it) and /DIR= of the
# fixed folder; another folder is refused with exit code 2.
mkdir -p "$work/tmp"
TMPDIR=$work/tmp setup /SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /NOCANCEL /LOG '/DIR=C:\Corvane'
rc=$?
[ "$rc" = 0 ] || failx "the package managers' switches exited $rc"
innolog=$(ls "$work/tmp"/"Setup Log "????-??-??" #001.txt" 2>/dev/null)
[ -n "$innolog" ] && grep -qxF "Done." "$innolog" || failx "no log in the temporary folder: $(ls "$work/tmp")"
setup /VERYSILENT '/DIR=D:\Wallet'
rc=$?
[ "$rc" = 2 ] && grep -qF "the folder is fixed" "$work/setup.out" || failx "/DIR=D:\Wallet exited $rc"

# An update while the wallet runs: exit 7 and a log line naming what holds it; the finished
# download stays, and /CLOSEAPPLICATIONS closes the holder and installs it without fetching again.
{ printf MZ; head -c 50000 /dev/urandom; } >"$www/corvane-qt.exe"
sign
sleep 600 <"$appdir/corvane-qt.exe" &
holder=$!
setup /VERYSILENT "/LOG=$work/setup.log"
rc=$?
[ "$rc" = 7 ] || failx "an update with the wallet running exited $rc"
grep -qxF 'C:\Corvane\corvane-qt.exe is in use by sleep' "$work/setup.log" || failx "the log does not name what holds the wallet"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe.part" || failx "the finished download was not kept"
fetched=$(grep -c "GET /downloads/corvane-qt.exe" "$NGINX_DIR/access.log")
setup /VERYSILENT /CLOSEAPPLICATIONS "/LOG=$work/setup.log"
rc=$?
[ "$rc" = 0 ] || failx "/CLOSEAPPLICATIONS exited $rc"
state=$(awk '{print $3}' "/proc/$holder/stat" 2>/dev/null)
[ -z "$state" ] || [ "$state" = Z ] || failx "/CLOSEAPPLICATIONS left the wallet running"
wait "$holder" 2>/dev/null
holder=""
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "the kept download was not installed"
[ "$(grep -c "GET /downloads/corvane-qt.exe" "$NGINX_DIR/access.log")" = "$fetched" ] || failx "the kept download was fetched again"

# The uninstall while the wallet is in use changes nothing.
before=$(only_files)
sleep 600 <"$appdir/corvane-qt.exe" &
holder=$!
"$appdir/corvane-setup.exe" /UNINSTALL /VERYSILENT "/LOG=$work/setup.log" >"$work/setup.out" 2>&1
rc=$?
[ "$rc" = 7 ] || failx "the uninstall with the wallet in use exited $rc"
grep -qF "The Corvane wallet is running" "$work/setup.log" || failx "the uninstall did not say the wallet runs"
[ "$(only_files)" = "$before" ] && [ -f "$desktop_link" ] && [ -f "$entry" ] || failx "the refused uninstall changed something"
kill "$holder"
wait "$holder" 2>/dev/null
holder=""

# A file the uninstall cannot remove (here a folder in the desktop shortcut's place): the rest
# goes, part files of cut downloads too, but the entry and the uninstaller stay to try again from.
rm "$desktop_link"
mkdir -p "$desktop_link/held"
printf MZ >"$appdir/corvane-qt.exe.part"
echo 1500000 >"$appdir/corvane-qt.exe.part.total"
echo 1500000 >"$appdir/corvane-qt.exe.part.total.new"
"$appdir/corvane-setup.exe" /UNINSTALL /VERYSILENT "/LOG=$work/setup.log" >"$work/setup.out" 2>&1
rc=$?
[ "$rc" = 5 ] || failx "the uninstall that could not remove a shortcut exited $rc"
[ -f "$entry" ] && [ -f "$appdir/corvane-setup.exe" ] || failx "the entry or the uninstaller went though a file stayed"
[ "$(only_files)" = "corvane-setup.exe " ] || failx "the uninstall left: $(only_files)"
grep -q "^could not remove .*Corvane.lnk$" "$work/setup.log" &&
  grep -qF "The uninstaller and the Apps & features entry were kept" "$work/setup.log" ||
  failx "the log does not say what stayed"
rm -r "$desktop_link"

# The quiet uninstall: what the install made goes, the user's keys and the blockchain stay.
echo "the user's keys" >"$roaming/Corvane/wallet.dat"
snapshot() { (cd "$roaming" && find Corvane cvnchain.exe -type f -print0 | sort -z | xargs -0 sha256sum); }
data=$(snapshot)
"$appdir/corvane-setup.exe" /UNINSTALL /VERYSILENT "/LOG=$work/setup.log" >"$work/setup.out" 2>&1
rc=$?
[ "$rc" = 0 ] || failx "the uninstall exited $rc"
[ ! -e "$appdir" ] || failx "the application folder is left: $(only_files)"
[ ! -e "$desktop_link" ] && [ ! -e "$menu" ] || failx "a shortcut or the start-menu folder is left"
[ ! -e "$entry" ] || failx "the entry is left"
[ "$(snapshot)" = "$data" ] || failx "the wallet's data folder or the blockchain changed"
grep -qxF "Corvane Setup: Corvane was removed from your computer." "$work/setup.log" || failx "the log does not say it is done"

# A C:\Corvane that is a link, or another user's folder, gets nothing: exit 5, and the log says why.
mkdir "$work/elsewhere"
ln -s "$work/elsewhere" "$appdir"
setup /VERYSILENT "/LOG=$work/setup.log"
rc=$?
[ "$rc" = 5 ] || failx "an install into a link exited $rc"
grep -qxF 'C:\Corvane\ is a link or junction - nothing will be installed into it' "$work/setup.log" ||
  failx "the log does not say why nothing was installed"
[ -z "$(ls -A "$work/elsewhere")" ] || failx "the install wrote into a link: $(ls -A "$work/elsewhere")"
rm "$appdir"
if [ "$(id -u)" = 0 ]; then
  mkdir -m 0777 "$appdir"
  chown 65534:65534 "$appdir"
  setup /VERYSILENT "/LOG=$work/setup.log"
  rc=$?
  [ "$rc" = 5 ] || failx "an install into another user's folder exited $rc"
  grep -qxF 'C:\Corvane\ belongs to another user - nothing will be installed into it' "$work/setup.log" ||
    failx "the log does not say whose the folder is"
  [ -z "$(ls -A "$appdir")" ] || failx "the install wrote into another user's folder: $(only_files)"
fi
echo "PASS: unattended install and uninstall ($url via nginx on port $port)"
