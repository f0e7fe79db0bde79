#!/usr/bin/env bash
# The real installer against nginx: both boxes ticked and Next clicked as a user would; then the
# downloaded files, the two shortcuts (read back with lnkinfo), the archive's run and the log text
# are checked. The download host resolves to loopback inside a private network and mount
# namespace, where nginx also listens on the URL's port.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/e2e.sh"

if [ -z "${CORVANE_E2E_INSIDE:-}" ]; then
  netns_check_outside Xvfb xdotool xclip lnkinfo nginx python3
  [ -z "${CORVANE_PUBLIC_KEY:-}" ] || [ -n "${CORVANE_SIGNING_KEY:-}" ] ||
    skip "the build checks downloads against a key, and CORVANE_SIGNING_KEY names no key to sign them with"
  netns_enter "$url"
fi

e2e_inside corvane-e2e

trap e2e_cleanup EXIT

# What the server offers.
www=$work/www/downloads
serve_program_files "$www"
cat >"$www/cvnchain.exe" <<SCRIPT
#!/bin/sh
echo "\$# \$0" > "$work/chain-ran"
mkdir -p "\$(dirname "\$0")/Corvane/blocks" && echo block > "\$(dirname "\$0")/Corvane/blocks/blk00000.dat"
SCRIPT
# With a publisher key built in, the server offers the list of downloads signed with it.
sign() { [ -z "${CORVANE_SIGNING_KEY:-}" ] || "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$www"; }
sign
# A wallet or an archive beyond 2 MB arrives slowly, for the closes during a download below.
nginx_start "$work/www" "listen 127.0.0.1:$port;
    location = /downloads/corvane-qt.exe { limit_rate_after 2m; limit_rate 100k; }
    location = /downloads/cvnchain.exe { limit_rate_after 2m; limit_rate 100k; }" ||
  fail "nginx did not start"
curl -fsS -o /dev/null "$url/version.txt" || fail "nginx does not answer at $url"

# A Wine-style prefix with its user profile, and an older installed wallet.
export WINEPREFIX=$work/prefix HOME=$work/home
unset APPDATA
user=$(id -un)
roaming=$WINEPREFIX/drive_c/users/$user/AppData/Roaming
appdir=$WINEPREFIX/drive_c/Corvane
mkdir -p "$roaming" "$appdir" "$HOME"
echo "old wallet" >"$appdir/corvane-qt.exe"

xvfb_start || fail "Xvfb did not start"
app_start "$build/corvane-setup" "$work/app.out" || { cat "$work/app.out"; fail "no window"; }

shot() { command -v import >/dev/null && import -window root "$build/installer_e2e-failure.png" 2>/dev/null &&
  echo "screenshot: $build/installer_e2e-failure.png"; }
failx() { shot; echo "--- log pane:"; app_log; echo "--- program output:"; cat "$work/app.out"; fail "$*"; }

app_click 34 50   # CheckBox1 "program"
app_click 34 126  # CheckBox2 "blockchain"
app_click 389 152 # Button1 "Next"
app_wait_log "Done." 120 2 || failx "the install did not finish"

log=$(app_log)
if [ -n "${CORVANE_SIGNING_KEY:-}" ]; then
  expected=$(install_log "$url" signed)
  actual=$(printf '%s\n' "$log" | sed -n '/^getting signed file list /,$p')
else
  expected=$(install_log "$url")
  actual=$(printf '%s\n' "$log" | sed -n '/^install program is checked$/,$p')
fi
[ "$actual" = "$expected" ] || failx "log differs:
$(diff <(echo "$expected") <(echo "$actual"))"

cmp -s "$www/cvnloader.exe" "$appdir/cvnloader.exe" || failx "launcher differs"
cmp -s "$www/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "wallet differs"
cmp -s "$www/version.txt" "$roaming/Corvane/version.txt" || failx "version file differs"
cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "archive differs"
[ "$(cat "$work/chain-ran" 2>/dev/null)" = "0 $roaming/cvnchain.exe" ] ||
  failx "the archive did not run with its path as the only word: $(cat "$work/chain-ran" 2>&1)"
[ -f "$roaming/Corvane/blocks/blk00000.dat" ] || failx "the archive's run left no chain"
grep -q '"GET /downloads//version.txt HTTP/1.0"' "$NGINX_DIR/access.log" ||
  failx "no request for the doubled-slash version URL: $(cat "$NGINX_DIR/access.log")"

check_link "$WINEPREFIX/drive_c/users/$user/Desktop/Corvane.lnk"
check_link "$roaming/Microsoft/Windows/Start Menu/Programs/Corvane/Corvane.lnk"

app_close || failx "closing the window did not end the program cleanly"
# Beside the two programs, the uninstaller the press left once it had ended.
[ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
  failx "stray files in the application folder: $(ls -A "$appdir")"

# Closing the window during a download ends the program at once and keeps the installed wallet.
cp "$appdir/corvane-qt.exe" "$work/installed-wallet"
{ printf MZ; head -c 7999998 /dev/urandom; } >"$www/corvane-qt.exe"
sign
app_start "$build/corvane-setup" "$work/app2.out" || { cat "$work/app2.out"; fail "no window"; }
app_click 34 50
app_click 389 152
for ((i = 0; i < 100; i++)); do
  [ "$(stat -c %s "$appdir/corvane-qt.exe.part" 2>/dev/null || echo 0)" -gt 2000000 ] && break
  sleep 0.2
done
[ "$i" -lt 100 ] || failx "the slow wallet download did not get going"
app_close || failx "closing the window during a download did not end the program cleanly"
cmp -s "$work/installed-wallet" "$appdir/corvane-qt.exe" || fail "the installed wallet was changed"
[ -s "$appdir/corvane-qt.exe.part" ] || fail "what arrived was not kept for the next press"

# A blockchain download stopped by closing the window resumes at the next start where it stopped.
stub=$(cat "$www/cvnchain.exe")
new_archive() { # the same program and size, other data after it
  { echo "$stub"; head -c 3000000 /dev/urandom | base64 -w 0 | sed 's/^/#/'; echo; } >"$work/chain"
  mv "$work/chain" "$www/cvnchain.exe"
  sign
}
part=$roaming/cvnchain.exe.part
cut_archive() { # OUT: starts the archive download and closes the window part-way
  rm -f "$work/chain-ran"
  app_start "$build/corvane-setup" "$1" || { cat "$1"; fail "no window"; }
  app_click 34 126
  app_click 389 152
  close_part_way "$part"
  kept=$KEPT
  [ ! -e "$work/chain-ran" ] || fail "a partial archive was run"
}
resume_archive() { # OUT STATUS: the next start's Next ends with the archive as served, run
  app_start "$build/corvane-setup" "$1" || { cat "$1"; fail "no window"; }
  app_click 34 126
  app_click 389 152
  app_wait_log "Done." 120 || failx "the resumed archive download did not finish"
  app_log | grep -qxF "resuming download from byte $kept" || failx "no resume line for byte $kept"
  cmp -s "$www/cvnchain.exe" "$roaming/cvnchain.exe" || failx "the archive differs from the served one"
  [ -f "$work/chain-ran" ] || failx "the resumed archive did not run"
  [ ! -e "$part" ] && [ ! -e "$part.total" ] || failx "the partial archive was left behind"
  grep '/downloads/cvnchain.exe ' "$NGINX_DIR/access.log" | tail -n 1 | grep -q "\" $2 " ||
    failx "the last archive request was not answered with $2: $(tail -n 3 "$NGINX_DIR/access.log")"
  app_close || failx "closing the window did not end the program cleanly"
}
new_archive
cut_archive "$work/app3.out"
resume_archive "$work/app4.out" 206
# Changed on the server since the part was fetched, at the same size: nginx sends it whole. (The
# installed archive goes first: a keyed build would not fetch the listed one again.)
rm -f "$roaming/cvnchain.exe"
cut_archive "$work/app5.out"
sleep 1 # another modification time, so another ETag
new_archive
resume_archive "$work/app6.out" 200
echo "PASS: installer end to end ($url via nginx on port $port)"
