#!/usr/bin/env bash
# Runs a TLS test program under Wine in a prefix of its own, made inside the test's mount
# namespace (tests/support/tls/with-test-root.sh): Wine fills a new prefix's root store from the
# system's bundle, which there holds the test root. The prefix is made once and kept while the
# test root stays the same.
#   run-tls-test.sh PREFIX PROGRAM [ARGS...]
set -eu
prefix=$1
shift
: "${CORVANE_TLS_CERTS:?run-tls-test.sh runs inside with-test-root.sh}"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d}
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if ! cmp -s "$CORVANE_TLS_CERTS/root.pem" "$prefix/test-root.pem"; then
    "$wineserver" -k 2>/dev/null 9>&- || true
    rm -rf "$prefix"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    cp "$CORVANE_TLS_CERTS/root.pem" "$prefix/test-root.pem"
  fi
  # A server that stays a while between the test's programs: one that quits just as the next
  # program connects would end that program with "wine client error". It must not hold the lock.
  "$wineserver" -p30 </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$prefix.lock"
exec "$(dirname "$0")/run-test.sh" "$@"
