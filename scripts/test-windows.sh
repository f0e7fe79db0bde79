#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests, and runs the tests under Wine without a
# display: the unit suites through ctest and httpget.exe end to end against nginx. Ends with
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

scripts/build-windows.sh -DCORVANE_BUILD_TESTS=ON "$@" >/dev/null
cmake --build "$build" -j "$jobs"

# One prefix of our own per run; its Wine processes end with the run.
export WINEPREFIX=$root/$build/wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
trap '"$wineserver" -k 2>/dev/null || true' EXIT
"$wine" wineboot -i >/dev/null 2>&1

junit=$root/$build/ctest-junit.xml
status=0
(cd "$build" && ctest --output-on-failure -j "$jobs" --output-junit "$junit") || status=$?

python3 - "$junit" "${CI:-}" <<'PY'
import sys, xml.etree.ElementTree as ET
junit, ci = sys.argv[1], sys.argv[2] == "true"
passed = failed = skipped = 0
for case in ET.parse(junit).getroot().iter("testcase"):
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
