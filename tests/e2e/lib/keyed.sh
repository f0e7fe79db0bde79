# The keyed window's releases, shared by the Linux and the Wine test: release 1 signed by the
# first key, release 2 by the second; then release 1 replayed, a newer list past its expiry and a
# list by a key the build does not have, each refused while the installed wallet stays and the
# user is told; then release 2 once more, whose programs are not downloaded again, with its
# signed archive, run.
#
#   source tests/e2e/lib/keyed.sh
#   keyed_scenario
# Uses from the caller: url, work, www (the folder nginx serves as the download URL's path; this
# makes it a link to each release in turn), appdir, roaming, KEY_A and KEY_B (the private halves of
# the build's two keys), ARCHIVE (a signed archive to add to release 2, which writes the file RAN
# when it runs), NGINX_DIR, and the functions
#   start OUT          the window started, its output in OUT
#   box CAPTION        waits for the message box CAPTION, prints what it shows, closes it
#   BOX_TEXT           what box prints for "could not verify the list of downloads"
# and failx, fail, app_click, app_log, app_wait_log, app_close.

keyed_publish() { # RELEASE-FOLDER
  rm -f "$www"
  ln -s "$1" "$www"
}

keyed_program() { # OUT: ticks "program" and presses Next
  start "$1" || failx "no window"
  app_click 34 50
  app_click 389 152
}

keyed_log_since_list() { app_log | sed -n '/^getting signed file list /,$p'; }

keyed_same_release() { # RELEASE-FOLDER WHAT
  cmp -s "$1/cvnloader.exe" "$appdir/cvnloader.exe" || failx "$2: the launcher differs"
  cmp -s "$1/corvane-qt.exe" "$appdir/corvane-qt.exe" || failx "$2: the wallet differs"
  cmp -s "$1/version.txt" "$roaming/Corvane/version.txt" || failx "$2: the version file differs"
  # Beside the programs, the uninstaller a press leaves once it has ended.
  [ "$(ls -A "$appdir" | sort | tr '\n' ' ')" = "corvane-qt.exe corvane-setup.exe cvnloader.exe " ] ||
    failx "$2: stray files: $(ls -A "$appdir")"
}

keyed_install() { # RELEASE-FOLDER WHAT OUT
  keyed_publish "$1"
  keyed_program "$3"
  app_wait_log "Done." 60 || failx "$2: the install did not finish"
  local expected actual
  expected=$(install_log "$url" signed | sed '/^Done\.$/q')
  actual=$(keyed_log_since_list)
  [ "$actual" = "$expected" ] || failx "$2: log differs:
$(diff <(echo "$expected") <(echo "$actual"))"
  app_close || failx "$2: closing the window did not end the program cleanly"
  keyed_same_release "$1" "$2"
}

keyed_refused() { # RELEASE-FOLDER WHAT OUT REASON-LINE (empty: none)
  keyed_publish "$1"
  keyed_program "$3"
  local shown expected actual
  shown=$(box "Verification failure") || failx "$2: no verification failure box"
  [ "$shown" = "$BOX_TEXT" ] || failx "$2: the box showed: $shown"
  expected="getting signed file list ${url}SHA256SUMS${4:+
$4}
could not verify the file list - nothing was installed"
  actual=$(keyed_log_since_list)
  [ "$actual" = "$expected" ] || failx "$2: log differs:
$(diff <(echo "$expected") <(echo "$actual"))"
  app_close || failx "$2: closing the window did not end the program cleanly"
  keyed_same_release "$work/release2" "$2"
}

keyed_scenario() {
  local now sign=$src/scripts/sign-downloads.sh r
  now=$(date -u +%s)
  for r in 1 2 expired foreign; do serve_program_files "$work/release$r"; done
  echo "1.0.0" >"$work/release1/version.txt"
  echo "2.0.0" >"$work/release2/version.txt"
  mv "$ARCHIVE" "$work/release2/cvnchain.exe"
  # Serials below the time of signing, so that lists other tests sign later are newer.
  "$sign" --serial $((now - 3000)) "$KEY_A" "$work/release1" &&
    "$sign" --serial $((now - 2000)) "$KEY_B" "$work/release2" &&
    "$sign" --serial $((now - 1000)) --expires 2020-01-01T00:00:00Z "$KEY_A" "$work/releaseexpired" &&
    openssl ecparam -genkey -noout -name prime256v1 -out "$work/foreign.pem" &&
    "$sign" --serial $((now - 1000)) "$work/foreign.pem" "$work/releaseforeign" ||
    fail "cannot sign the releases"

  keyed_install "$work/release1" "release 1 (first key)" "$work/app1.out"
  keyed_install "$work/release2" "release 2 (second key)" "$work/app2.out"
  keyed_refused "$work/release1" "release 1 replayed" "$work/app3.out" \
    "the file list is older than the installed release"
  keyed_refused "$work/releaseexpired" "an expired newer list" "$work/app4.out" "the file list has expired"
  keyed_refused "$work/releaseforeign" "a list by an unknown key" "$work/app5.out" ""

  # Release 2 again, with its archive: the programs are the listed ones and stay as they are.
  keyed_publish "$work/release2"
  local before expected actual
  before=$(wc -l <"$NGINX_DIR/access.log")
  start "$work/app6.out" || failx "no window"
  app_click 34 50
  app_click 34 126
  app_click 389 152
  app_wait_log "Done." 300 2 || failx "release 2 with its archive did not finish"
  expected=$(install_log "$url" signed | awk '
    /^Making Shortcut to your Desktop$/ { print "cvnloader.exe is up to date" }
    /^Downloading : version\.txt$/ { print "corvane-qt.exe is up to date" }
    /^Done\.$/ && !done++ { print "version.txt is up to date" }
    { print }')
  actual=$(keyed_log_since_list)
  [ "$actual" = "$expected" ] || failx "release 2 again: log differs:
$(diff <(echo "$expected") <(echo "$actual"))"
  local fetched
  fetched=$(tail -n +$((before + 1)) "$NGINX_DIR/access.log" | grep -o '"GET [^ ]*' | sed 's/.*\///' | tr '\n' ' ')
  [ "$fetched" = "SHA256SUMS SHA256SUMS.sig cvnchain.exe " ] || failx "release 2 again fetched: $fetched"
  cmp -s "$work/release2/cvnchain.exe" "$roaming/cvnchain.exe" || failx "the archive differs"
  [ -e "$RAN" ] || failx "the signed archive did not run"
  app_close || failx "closing the window did not end the program cleanly"
  keyed_same_release "$work/release2" "release 2 again"
}
