# Runs an end-to-end test of the installer in a private network and mount namespace in which the
# host of its download URL is loopback, so the production build's URL reaches a local nginx.
#
#   source tests/e2e/lib/netns.sh
#   netns_check_outside TOOL...  # outside: the tools, $build/corvane-setup and $url are there
#   netns_enter URL              # outside: re-runs "$0" inside a namespace (CORVANE_E2E_INSIDE=1 there)
#   netns_hosts URL DIR          # inside: loopback up, the URL's host on it through DIR/hosts;
#                                # sets NETNS_PORT, the URL's port (80 for http, 443 for https)
#   netns_trust DIR              # inside: the test certificates in DIR (make-certs.sh), their
#                                # root trusted by the system's store; sets NETNS_CERTS
# All call the script's skip and fail functions.

# Outside the namespace: the tools a test needs, the built installer ($build) and the URL built
# into it ($url).
netns_check_outside() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
  [ -x "$build/corvane-setup" ] || fail "no program at $build/corvane-setup"
  [ -n "$url" ] || fail "no download URL (CORVANE_DOWNLOAD_URL, or CMakeCache.txt in $build)"
}

netns_enter() {
  [ -z "${CORVANE_E2E_INSIDE:-}" ] || return 0
  local tool ns
  for tool in unshare ip; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh installs it)"
  done
  case $1 in http://*/* | https://*/*) ;; *) skip "download URL $1 is neither http nor https" ;; esac
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount --net); else ns=(unshare --map-root-user --mount --net); fi
  "${ns[@]}" true 2>/dev/null ||
    skip "cannot make a private network and mount namespace here (needs root or user namespaces)"
  CORVANE_E2E_INSIDE=1 exec "${ns[@]}" bash "$0"
}

netns_hosts() {
  local hostport host
  ip link set lo up || fail "cannot bring up loopback"
  hostport=${1#*://}
  hostport=${hostport%%/*}
  host=${hostport%%:*}
  NETNS_HOST=$host
  NETNS_PORT=80
  case $1 in https://*) NETNS_PORT=443 ;; esac
  [ "$host" != "$hostport" ] && NETNS_PORT=${hostport#*:}
  printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$host" >"$2/hosts"
  mount --bind "$2/hosts" /etc/hosts || skip "cannot bind-mount a private /etc/hosts"
}

# Users trust a server through the system's store, and so do the programs here: the test root is
# added to /etc/ssl/certs of this mount namespace alone (Wine prefixes made afterwards take it into
# their root store). Once per namespace.
netns_trust() {
  [ -z "${NETNS_CERTS:-}" ] || return 0
  command -v openssl >/dev/null || skip "openssl is not installed (scripts/deps.sh installs it)"
  "$src/tests/support/tls/make-certs.sh" "$1" >/dev/null 2>&1 || fail "cannot make the test certificates in $1"
  source "$src/tests/support/tls/trust.sh"
  TMPDIR=$1 tls_trust_root "$1/root.pem" || fail "cannot add the test root to /etc/ssl/certs"
  NETNS_CERTS=$1
}
