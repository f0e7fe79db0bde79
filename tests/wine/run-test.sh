#!/usr/bin/env bash
# Runs a test program under Wine for ctest and for test discovery.
#
# Now and then Wine ends a program before the program has run at all: a non-zero status and not
# a byte of output (seen in CI, once among a few thousand runs). A test program prints before it
# can pass or fail, so such a run says nothing about the test: it is run once more, with a note in
# the test's output. A run that printed anything stands as it is.
set -u
wine=/usr/lib/wine/wine64
out=$(mktemp) err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
for try in 1 2; do
  "$wine" "$@" >"$out" 2>"$err"
  rc=$?
  if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$try" -eq 2 ]; then
    cat "$out"
    cat "$err" >&2
    exit "$rc"
  fi
  echo "run-test.sh: Wine ended the program with status $rc before it printed anything; running it again" >&2
done
