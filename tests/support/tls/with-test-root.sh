#!/usr/bin/env bash
# Runs a command in a mount namespace of its own whose system store trusts the test root of the
# certificates in CERTDIR (made there if missing); CORVANE_TLS_CERTS names CERTDIR for the command.
#   with-test-root.sh CERTDIR COMMAND [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${CORVANE_TLS_INSIDE:-}" ]; then
  "$here/make-certs.sh" "$1"
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount); else ns=(unshare --map-root-user --mount); fi
  CORVANE_TLS_INSIDE=1 exec "${ns[@]}" "$0" "$@"
fi
source "$here/trust.sh"
tls_trust_root "$1/root.pem"
export CORVANE_TLS_CERTS=$1
shift
unset CORVANE_TLS_INSIDE
exec "$@"
