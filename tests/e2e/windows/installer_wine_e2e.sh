#!/usr/bin/env bash
# The Windows installer (corvane-setup.exe, the production build) under Wine against nginx: both
# boxes ticked and Next clicked as a user would; the exact log, the four files, both shortcuts as
# the real shell wrote them, the blockchain archive (a small Windows program) run and waited for;
# then a 404 for the wallet that keeps the installed one, then closing the window during a slow
# download. The download host resolves to loopback inside a private network and mount namespace,
# where nginx listens on the URL's port.
# The program's sockets live in the wineserver, so the test boots a prefix of its own inside the
# namespace rather than using one whose server runs outside it.
#   CORVANE_BUILD_DIR   the Windows build: bin/ holds corvane-setup.exe, wintool.exe, chain_stub.exe
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool lnkinfo nginx python3" "corvane-setup.exe wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-e2e

trap e2e_cleanup EXIT

www=$work/www/downloads
serve_program_files "$www"
cp "$bin/chain_stub.exe" "$www/cvnchain.exe"
nginx_start "$work/www" "listen 127.0.0.1:$port;
    location = /downloads/corvane-qt.exe { limit_rate_after 2m; limit_rate 100k; }" ||
  fail "nginx did not start"
curl -fsS -o /dev/null "${url}version.txt" || fail "nginx does not answer at $url"

wine_desktop "$work"
user=$WINE_USER roaming=$WINE_ROAMING appdir=$WINE_APPDIR
echo "old wallet" >"$appdir/corvane-qt.exe"

wine_app_start "$bin/corvane-setup.exe" "$work/app.out" || failx "no window"
app_click 34 50   # CheckBox1 "program"
app_click 34 126  # CheckBox2 "blockchain"
app_click 389 152 # Button1 "Next"
app_wait_log "Done." 120 2 || failx "the install did not finish"

expected=$(install_log "$url")
actual=$(app_log | sed -n '/^install program is checked$/,$p')
[ "$actual" = "$expected" ] || failx "log differs:
$(diff <(echo "$expected") <(echo "$actual"))"
app_log | grep -qxF "datapath is C:\\users\\$user\\AppData\\Roaming" || failx "APPDATA was not Wine's"

# The archive ran with its path as the whole command line, and the install waited for its end.
cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" || failx "launcher differs"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "wallet differs"
cmp -s "$www/version.txt" "$roaming/Corvane/version.txt" || failx "version file differs"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "archive differs"
ran=$(cat "$roaming/chain-ran.txt" 2>/dev/null)
[ "$ran" = "C:\\users\\$user\\AppData\\Roaming\\cvnchain.exe" ] || failx "the archive ran as: $ran"
[ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive's run left no chain"
grep -q '"GET /downloads//version.txt HTTP/1.0"' "$NGINX_DIR/access.log" ||
  failx "no request for the doubled-slash version URL"

check_link "$WINEPREFIX/drive_c/users/$user/Desktop/Corvane.lnk"
check_link "$roaming/Microsoft/Windows/Start Menu/Programs/Corvane/Corvane.lnk"
app_close || failx "closing the window did not end the program cleanly"
# Beside the two programs, the uninstaller the press left once it had ended.
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
  failx "stray files in the application folder: $(ls -A "$appdir")"

# A 404 for the wallet: the box says so and the installed wallet stays as it was.
mv "$www/corvane-qt.exe" "$work/installed-wallet"
wine_app_start "$bin/corvane-setup.exe" "$work/app.out" || failx "no window"
app_click 34 50
app_click 389 152
box=$(wine_box "Download failure" | sort) || failx "no failure box"
[ "$box" = $'button OK\ntext could not download wallet' ] || failx "the failure box showed: $box"
app_wait_log "HTTP GET Failed" 10 || failx "no failure line"
actual=$(app_log | sed -n '/^Downloading cvn Wallet$/,$p')
[ "$actual" = $'Downloading cvn Wallet\napp download is C:\\Corvane\\corvane-qt.exe\nHTTP GET Failed' ] ||
  failx "log after the 404: $actual"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "the 404 changed the installed wallet"
app_close || failx "closing the window after the 404 did not end the program cleanly"
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
  failx "the 404 left files behind: $(ls -A "$appdir")"

# Closing the window during a download ends the program at once and keeps the installed wallet.
{ printf MZ; head -c 7999998 /dev/urandom; } >"$www/corvane-qt.exe"
wine_app_start "$bin/corvane-setup.exe" "$work/app.out" || failx "no window"
app_click 34 50
app_click 389 152
for ((i = 0; i < 100; i++)); do
  partial=$(find "$appdir" -type f ! -name corvane-qt.exe ! -name cvnloader.exe ! -name corvane-setup.exe -size +2000k)
  [ -n "$partial" ] && break
  sleep 0.2
done
[ -n "$partial" ] || failx "the slow wallet download did not get going"
app_close || failx "closing the window during a download did not end the program cleanly"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || fail "the installed wallet was changed"
# What arrived stays beside it for the next press to continue.
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-qt.exe.part corvane-qt.exe.part.total corvane-setup.exe cvnloader.exe " ] ||
  fail "files after the close: $(ls -A "$appdir")"
echo "PASS: Windows installer under Wine end to end ($url via nginx on port $port)"
