#!/usr/bin/env bash
# The Windows installer with a publisher key built in (corvane-setup-keyed.exe, a throwaway key)
# under Wine against nginx, which serves the downloads with their list signed by the private half:
# a verified install of the program; a wallet changed on the server after signing, refused while
# the installed one stays; a blockchain download cut by closing the window, then resumed with a
# range request at the next start, verified and run. Set-up as in installer_wine_e2e.sh.
#   CORVANE_BUILD_DIR    the Windows build: bin/ holds corvane-setup-keyed.exe, wintool.exe, chain_stub.exe
#   CORVANE_SIGNING_KEY  the private key matching the build's CORVANE_TEST_PUBLIC_KEY
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib/e2e.sh"
bin=${CORVANE_WIN_BIN:-${CORVANE_BUILD_DIR:?CORVANE_BUILD_DIR not set}/bin}

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  [ -f "$bin/corvane-setup-keyed.exe" ] && [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "no keyed installer: configure with CORVANE_TEST_PUBLIC_KEY and CORVANE_SIGNING_KEY (scripts/test-windows.sh does)"
  source "$here/../lib/wine.sh"
  wine_e2e_enter "Xvfb xdotool nginx openssl python3" "wintool.exe chain_stub.exe"
fi

e2e_inside corvane-wine-verified

setup=$bin/corvane-setup-keyed.exe
trap e2e_cleanup EXIT

# The archive is the stand-in program with data after it, as a self-extracting archive carries.
# Past 2 MiB it comes slowly, so the window can be closed part-way; the rest of it is under 2 MiB,
# which the resumed request then gets at full speed.
www=$work/www/downloads
serve_program_files "$www"
total=3500000
{ cat "$bin/chain_stub.exe"; head -c $((total - $(stat -c %s "$bin/chain_stub.exe"))) /dev/urandom; } >"$www/cvnchain.exe"
"$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www" || fail "cannot sign the downloads"
nginx_start "$work/www" "listen 127.0.0.1:$NETNS_PORT;
    location = /downloads/cvnchain.exe { limit_rate_after 2m; limit_rate 100k; }" ||
  fail "nginx did not start"
curl -fsS -o /dev/null "${url}SHA256SUMS" || fail "nginx does not answer at $url"

wine_desktop "$work"
appdir=$WINE_APPDIR roaming=$WINE_ROAMING
# The log from the signed list on, and the files left in the application folder.
log_since_list() { app_log | sed -n '/^getting signed file list /,$p'; }
appdir_files() { ls -A "$appdir" | sort | tr '\n' ' '; }

# A verified install of the program.
wine_app_start "$setup" "$work/app1.out" || failx "no window"
app_click 34 50   # CheckBox1 "program"
app_click 389 152 # Button1 "Next"
app_wait_log "Done." 60 || failx "the install did not finish"
expected=$(install_log "$url" signed | sed '/^Done\.$/q')
actual=$(log_since_list)
[ "$actual" = "$expected" ] || failx "log differs:
$(diff <(echo "$expected") <(echo "$actual"))"
cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" || failx "launcher differs"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "wallet differs"
cmp -s "$www/version.txt" "$roaming/Corvane/version.txt" || failx "version file differs"
app_close || failx "closing the window did not end the program cleanly"
[ "$(appdir_files)" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] || failx "stray files: $(appdir_files)"

# One byte of the wallet changed on the server, the signed list as it was: refused. The installed
# wallet is an older one (the listed one would be up to date and not fetched).
echo "old wallet" >"$appdir/corvane-qt.exe"
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(1000); b = f.read(1); f.seek(1000); f.write(bytes([b[0] ^ 1]))' \
  "$www/corvane-qt.exe"
wine_app_start "$setup" "$work/app2.out" || failx "no window"
app_click 34 50
app_click 389 152
box=$(wine_box "Download failure" | sort) || failx "no failure box"
[ "$box" = $'button OK\ntext could not download wallet' ] || failx "the failure box showed: $box"
actual=$(app_log | sed -n '/^Downloading cvn Wallet$/,$p')
[ "$actual" = $'Downloading cvn Wallet\napp download is C:\\Corvane\\corvane-qt.exe\ncould not verify corvane-qt.exe - the download was discarded' ] ||
  failx "log after the changed wallet: $actual"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || failx "the installed wallet was changed"
app_close || failx "closing the window after the refusal did not end the program cleanly"
[ "$(appdir_files)" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] || failx "files left behind: $(appdir_files)"

# The archive download closed part-way keeps its part and total; the next start resumes it.
part=$roaming/cvnchain.exe.part
wine_app_start "$setup" "$work/app3.out" || failx "no window"
app_click 34 126 # CheckBox2 "blockchain"
app_click 389 152
close_part_way "$part"
kept=$KEPT
[ "$kept" -lt "$total" ] || fail "the archive was whole before the window closed"
# The total, and the version of the archive the part belongs to (nginx's ETag).
{ read -r t && read -r v; } < <(tr -d '\r' <"$part.total" 2>/dev/null) && [ "$t" = "$total" ] &&
  [[ $v == \"*\" ]] || fail "the part's total and version are $(od -c "$part.total" 2>&1)"
[ ! -e "$roaming/chain-ran.txt" ] || fail "a partial archive was run"

wine_app_start "$setup" "$work/app4.out" || failx "no window"
app_click 34 126
app_click 389 152
app_wait_log "Done." 60 || failx "the resumed archive download did not finish"
expected=$(install_log "$url" signed | sed -n '1,2p;/^install blockchain is checked$/,$p' |
  sed "/^trying /a resuming download from byte $kept")
actual=$(log_since_list)
[ "$actual" = "$expected" ] || failx "log of the resumed download differs:
$(diff <(echo "$expected") <(echo "$actual"))"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "the resumed archive differs"
[ "$(cat "$roaming/chain-ran.txt" 2>/dev/null)" = "C:\\users\\$WINE_USER\\AppData\\Roaming\\cvnchain.exe" ] ||
  failx "the resumed archive did not run: $(cat "$roaming/chain-ran.txt" 2>&1)"
[ ! -e "$part" ] && [ ! -e "$part.total" ] || failx "the partial archive was left behind"
requests=$(grep -F '"GET /downloads/cvnchain.exe ' "$NGINX_DIR/access.log")
[ "$(wc -l <<<"$requests")" = 2 ] && tail -n 1 <<<"$requests" | grep -qF "\" 206 $((total - kept)) " ||
  failx "the rest was not fetched as one part of $((total - kept)) bytes: $requests"
app_close || failx "closing the window did not end the program cleanly"
echo "PASS: verified and resumed downloads of the keyed Windows installer under Wine ($url via nginx)"
