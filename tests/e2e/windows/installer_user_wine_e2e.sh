#!/usr/bin/env bash
# The Windows installer as a user whose name the Western code page cannot spell, "Łukasz Żółć",
# started from the Downloads folder where a web page has dropped a bcrypt.dll: a prefix of that
# user's own; both boxes ticked and Next clicked; the start-up log with the real profile path, the
# whole verified install (corvane-setup-keyed.exe, so the hashes come from bcrypt), both
# shortcuts in that user's folders, the archive run with its path on the command line; the window
# answering within 2 s all through an 8-second archive; and the planted DLL never loaded, while
# a program that does not guard its DLL search loads it from the same folder. Set-up as in
# installer_wine_e2e.sh.
#   CORVANE_BUILD_DIR    the Windows build: bin/ holds corvane-setup-keyed.exe, wintool.exe,
#                        chain_stub.exe, dll_probe.exe; planted/ holds the planted bcrypt.dll
#   CORVANE_SIGNING_KEY  the private key matching the build's CORVANE_TEST_PUBLIC_KEY
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  [ -f "$bin/corvane-setup-keyed.exe" ] && [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "no keyed installer: configure with CORVANE_TEST_PUBLIC_KEY and CORVANE_SIGNING_KEY (scripts/test-windows.sh does)"
  [ -f "$bin/../planted/bcrypt.dll" ] || fail "no $bin/../planted/bcrypt.dll (the test build makes it)"
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool lnkinfo nginx openssl python3" "wintool.exe chain_stub.exe dll_probe.exe"
fi

e2e_inside corvane-wine-user

trap e2e_cleanup EXIT

www=$work/www/downloads
serve_program_files "$www"
cp "$bin/chain_stub.exe" "$www/cvnchain.exe"
"$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www" || fail "cannot sign the downloads"
nginx_start "$work/www" "listen 127.0.0.1:$NETNS_PORT;" || fail "nginx did not start"
curl -fsS -o /dev/null "${url}SHA256SUMS" || fail "nginx does not answer at $url"

# wineboot names the profile after the Unix user name it sees.
name='Łukasz Żółć'
export USER=$name LOGNAME=$name
wine_desktop "$work"
[ "$WINE_USER" = "$name" ] || fail "the prefix's user is $WINE_USER"
profile='C:\users\'$name
roaming=$WINE_ROAMING appdir=$WINE_APPDIR
rmdir "$appdir" # the installer makes it

downloads=$WINEPREFIX/drive_c/users/$name/Downloads
mkdir -p "$downloads"
cp "$bin/corvane-setup-keyed.exe" "$downloads/corvane-setup.exe"
cp "$bin/dll_probe.exe" "$bin/../planted/bcrypt.dll" "$downloads/"
marker=$downloads/planted-loaded.txt
# Native first for that name, so Wine takes a bcrypt.dll it finds before its own.
export WINEDLLOVERRIDES="bcrypt=n,b;winemenubuilder.exe=d"

# The test can fail: an unguarded program finds the planted DLL beside it and runs it.
"$WINE" "$downloads/dll_probe.exe" || fail "dll_probe could not load bcrypt.dll"
grep -q 'dll_probe.exe' "$marker" 2>/dev/null || fail "the planted DLL was not loaded by an unguarded program"
rm -f "$marker"

export CORVANE_CHAIN_MS=8000
wine_app_start "$downloads/corvane-setup.exe" "$work/app.out" || failx "no window"
app_click 34 50   # CheckBox1 "program"
app_click 34 126  # CheckBox2 "blockchain"
app_click 389 152 # Button1 "Next"
app_wait_log "unzipping blockchain - this will take a while..." 120 || failx "the archive did not start"
# While the archive runs the window answers the system, as Windows asks before it says "Not
# responding".
pings=0
while [ ! -f "$roaming/Corvane/blocks/blk00000.dat" ]; do
  [ -f "$roaming/chain-ran.txt" ] || { sleep 0.1; continue; }
  answer=$("$WINE" "$WINTOOL" ping 2000 2>/dev/null | tr -d '\r')
  [ -f "$roaming/Corvane/blocks/blk00000.dat" ] && break
  [ "$answer" = answered ] || failx "the window did not answer within 2 s while the archive ran ($answer)"
  pings=$((pings + 1))
  sleep 0.5 # a few pings a second are enough, and leave the machine to the archive
done
[ "$pings" -ge 3 ] || failx "only $pings pings while the 8-second archive ran"
app_wait_log "Done." 30 || failx "the install did not finish"

startup=$(app_log | sed '/^install program is checked$/,$d' | sed -n '/^datapath is /,$p')
expected="datapath is $profile\\AppData\\Roaming
looking for file $profile\\AppData\\Roaming\\Corvane\\
attribs= 4294967295
AppData\\Corvane\\ chain directory found is: false
I will now create it.
looking for file C:\\Corvane\\
attribs= 4294967295
C:\\Corvane\\ app directory found is: false
I will now create it.
getting signed file list ${url}SHA256SUMS
file list verified"
[ "$startup" = "$expected" ] || failx "start-up log differs:
$(diff <(echo "$expected") <(echo "$startup"))"
expected=$(install_log "$url")
actual=$(app_log | sed -n '/^install program is checked$/,$p')
[ "$actual" = "$expected" ] || failx "log differs:
$(diff <(echo "$expected") <(echo "$actual"))"

cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" || failx "launcher differs"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "wallet differs"
cmp -s "$www/version.txt" "$roaming/Corvane/version.txt" || failx "version file differs"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "archive differs"
# The archive's path is its whole command line: the short form, or the path quoted, since it
# holds a space.
ran=$(cat "$roaming/chain-ran.txt")
archive="$profile\\AppData\\Roaming\\cvnchain.exe"
if [[ $ran == *' '* ]]; then
  [ "$ran" = "\"$archive\"" ] || failx "the archive ran as: $ran"
else
  [[ ${ran^^} == C:\\* && ${ran^^} == *'\CVNCHAIN.EXE' ]] || failx "the archive ran as: $ran"
fi
check_link "$WINEPREFIX/drive_c/users/$name/Desktop/Corvane.lnk"
check_link "$roaming/Microsoft/Windows/Start Menu/Programs/Corvane/Corvane.lnk"
[ ! -e "$marker" ] || failx "the planted bcrypt.dll was loaded by: $(cat "$marker")"
app_close || failx "closing the window did not end the program cleanly"
echo "PASS: the installer as $name from a Downloads folder with a planted bcrypt.dll ($pings pings answered during the archive; it ran as $ran)"
