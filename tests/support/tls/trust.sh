# Trusts the test root as users' trust works: the root added to the system's store, here only in
# the caller's own mount namespace (the machine's /etc/ssl/certs is never touched).
#
#   source tests/support/tls/trust.sh
#   tls_trust_root ROOT.pem      # inside a private mount namespace: /etc/ssl/certs with ROOT added
#
# Programs that read the distribution's store (OpenSSL's default paths, curl) and Wine prefixes made
# afterwards (Wine fills a new prefix's root store from ca-certificates.crt) then trust it.

tls_trust_root() {
  local store
  store=$(mktemp -d "${TMPDIR:-/tmp}/corvane-certs-XXXXXX")
  cp -a /etc/ssl/certs/. "$store/"
  rm -f "$store/ca-certificates.crt"
  { cat /etc/ssl/certs/ca-certificates.crt 2>/dev/null; cat "$1"; } >"$store/ca-certificates.crt"
  cp "$1" "$store/corvane-test-root.pem"
  openssl rehash "$store" >/dev/null 2>&1 || return 1
  mount --bind "$store" /etc/ssl/certs
}
