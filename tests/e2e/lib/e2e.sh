# Sourced first by the installer's end-to-end scripts: strict mode, how a test ends early, where
# the sources and the build are, the download URL built into the program, and the network
# namespace helpers. ctest passes the CORVANE_* variables; run by hand, the sources are this
# checkout, the build is build/ and the URL is the one in the build's cache.
set -uo pipefail
src=${CORVANE_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
build=${CORVANE_BUILD_DIR:-$src/build}
url=${CORVANE_DOWNLOAD_URL:-$(sed -n 's/^CORVANE_DOWNLOAD_URL:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)}
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
source "$src/tests/e2e/lib/netns.sh"

# Inside the namespace: a work folder of its own (mktemp named after $1) whose download host
# resolves to loopback (and, for an https URL, whose test root the system trusts: certificates in
# $work/certs), and the server and desktop helpers; with bin set (the Windows scripts), Wine's too.
e2e_inside() {
  # A proxy the shell names is none of the namespace's: a test that wants one sets it.
  unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
  netns_hosts "$url" "$work"
  case $url in https://*) netns_trust "$work/certs" ;; esac
  port=$NETNS_PORT host=$NETNS_HOST
  source "$src/tests/e2e/lib/nginx.sh"
  source "$src/tests/e2e/lib/desktop.sh"
  NGINX_NO_TRAP=1
  if [ -n "${bin:-}" ]; then
    source "$src/tests/e2e/lib/wine.sh"
    WINTOOL=$bin/wintool.exe
  fi
}
