#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests, and runs the tests under Wine: the unit
# suites without a display, the window tests on Xvfb, httpget.exe and corvane-setup.exe (also a
# build of it with a throwaway publisher key) end to end against nginx, and the signing of both
# with a throwaway certificate. Ends with
#   windows: N passed, N failed, N skipped
# Skips that name a documented Wine deviation are allowed; in CI (CI=true) any other skip counts
# as a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${CORVANE_WINDOWS_BUILD:-build-windows}
jobs=${JOBS:-2}
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

# Beside the installer it ships, the build makes one with a throwaway publisher key, whose
# end-to-end test serves downloads signed with the private half.
# It holds two keys: the keyed window's test signs one release with each.
mkdir -p "$build"
for k in test-key test-key-2; do
  [ -s "$build/$k.pem" ] || openssl ecparam -genkey -noout -name prime256v1 -out "$build/$k.pem"
  openssl ec -in "$build/$k.pem" -pubout 2>/dev/null
done >"$build/test-key.pub.pem"
scripts/build-windows.sh -DCORVANE_BUILD_TESTS=ON -DCORVANE_TEST_PUBLIC_KEY="$root/$build/test-key.pub.pem" \
  -DCORVANE_SIGNING_KEY="$root/$build/test-key.pem" -DCORVANE_SECOND_SIGNING_KEY="$root/$build/test-key-2.pem" \
  "$@" >/dev/null
cmake --build "$build" -j "$jobs"

# One prefix of our own per run; its Wine processes end with the run.
export WINEPREFIX=$root/$build/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
# The TLS tests make their own prefix inside their mount namespace (tests/wine/run-tls-test.sh):
# a fresh one each run too, and its server ended with the run.
tls_prefix=$root/$build/wineprefix-tls
rm -rf "$tls_prefix"
trap '"$wineserver" -k 2>/dev/null || true; WINEPREFIX=$tls_prefix "$wineserver" -k 2>/dev/null || true' EXIT
"$wine" wineboot -i >/dev/null 2>&1
# A fresh prefix links the user's Desktop, Documents, ... to the real home folder; the installer
# tests write shortcuts there. Real folders of the prefix's own take their place.
"$wineserver" -w
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then
    rm "$link"
    mkdir "$link"
  fi
done

# One server and one desktop for each batch of tests, kept running: a server that quits after its
# last program can go just as the next test program connects to it, which then dies with "wine
# client error"; the desktop closes a second after its last window program has left, and a window
# made just then fails. Both and the server's services are started here with no output to hold:
# started by a test program, they would keep its output pipe open, and ctest would wait for them.
# wintool hold stays on the desktop until the server is ended.
# With a display, the hold also makes sure a window can be made (see wine_hold).
source tests/e2e/lib/wine.sh
wine_warm() {
  local hold=$root/$build/wine-hold.out
  "$wineserver" -p
  "$wine" wineboot </dev/null >/dev/null 2>&1
  WINE=$wine wine_hold "$build/bin/wintool.exe" "$hold" ${DISPLAY:+window} && return 0
  echo "windows: the Wine desktop did not open: $(cat "$hold")" >&2
  return 1
}
wine_warm

junit=$root/$build/ctest-junit.xml
status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" -LE '^gui$' --output-junit "$junit") || status=$?

# The window tests need a display: an Xvfb of their own, one test at a time, since they take
# the focus and the foreground.
source tests/e2e/lib/desktop.sh
trap 'xvfb_stop; "$wineserver" -k 2>/dev/null || true; WINEPREFIX=$tls_prefix "$wineserver" -k 2>/dev/null || true' EXIT
"$wineserver" -k 2>/dev/null || true # a fresh server and desktop that see the display
xvfb_start
wine_warm
(cd "$build" && ctest --output-on-failure -L '^gui$' --output-junit "$junit.gui") || status=$?
"$wineserver" -k 2>/dev/null || true
xvfb_stop
unset DISPLAY

python3 - "${CI:-}" "$junit" "$junit.gui" <<'PY'
import sys, xml.etree.ElementTree as ET
ci, junits = sys.argv[1] == "true", sys.argv[2:]
passed = failed = skipped = 0
for case in (c for j in junits for c in ET.parse(j).getroot().iter("testcase")):
    state = case.get("status")
    out = "".join(e.text or "" for e in case.iter("system-out"))
    if state == "run":
        passed += 1
    elif state in ("notrun", "skipped") or case.find("skipped") is not None:
        if ci and "Wine deviation:" not in out:
            print(f"CI: skipped without a documented Wine deviation: {case.get('name')}")
            failed += 1
        else:
            skipped += 1
    else:
        failed += 1
print(f"windows: {passed} passed, {failed} failed, {skipped} skipped")
sys.exit(1 if failed else 0)
PY
