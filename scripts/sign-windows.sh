#!/usr/bin/env bash
# Signs the Windows executables with Authenticode (osslsigncode), in place.
#   scripts/sign-windows.sh [--unverified] [EXE...]
#                                       default: build-windows/bin/corvane-setup.exe and httpget.exe
# An installer built without a publisher key (CORVANE_PUBLIC_KEY) installs whatever the network
# sends: it is refused unless --unverified says that is meant.
# The publisher's certificate and key come from the environment:
#   CORVANE_SIGN_PKCS12      a .pfx/.p12 file holding both, or
#   CORVANE_SIGN_CERT        the certificate (and its chain), PEM or DER, with
#   CORVANE_SIGN_KEY         the private key, PEM or DER
#   CORVANE_SIGN_PASSWORD    the key's password, if it has one (never put on a command line)
#   CORVANE_SIGN_TIMESTAMP   an RFC 3161 time-stamp server URL (optional; keeps the signature
#                            valid after the certificate expires)
set -euo pipefail
cd "$(dirname "$0")/.."
die() { echo "sign-windows.sh: $*" >&2; exit 1; }
command -v osslsigncode >/dev/null || die "osslsigncode is missing (scripts/deps.sh installs it)"
unverified=
if [ "${1:-}" = --unverified ]; then
  unverified=1
  shift
fi

if [ -n "${CORVANE_SIGN_PKCS12:-}" ]; then
  [ -r "$CORVANE_SIGN_PKCS12" ] || die "cannot read $CORVANE_SIGN_PKCS12"
  creds=(-pkcs12 "$CORVANE_SIGN_PKCS12")
elif [ -n "${CORVANE_SIGN_CERT:-}" ] && [ -n "${CORVANE_SIGN_KEY:-}" ]; then
  [ -r "$CORVANE_SIGN_CERT" ] || die "cannot read $CORVANE_SIGN_CERT"
  [ -r "$CORVANE_SIGN_KEY" ] || die "cannot read $CORVANE_SIGN_KEY"
  creds=(-certs "$CORVANE_SIGN_CERT" -key "$CORVANE_SIGN_KEY")
else
  die "set CORVANE_SIGN_PKCS12, or CORVANE_SIGN_CERT and CORVANE_SIGN_KEY"
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ -n "${CORVANE_SIGN_PASSWORD:-}" ]; then
  (umask 077 && printf '%s' "$CORVANE_SIGN_PASSWORD" >"$tmp/pass")
  creds+=(-readpass "$tmp/pass")
fi
[ -n "${CORVANE_SIGN_TIMESTAMP:-}" ] && creds+=(-ts "$CORVANE_SIGN_TIMESTAMP")

files=("$@")
[ ${#files[@]} -gt 0 ] || files=(build-windows/bin/corvane-setup.exe build-windows/bin/httpget.exe)
for exe in "${files[@]}"; do
  [ -f "$exe" ] || die "no $exe (scripts/build-windows.sh builds it)"
  # The installer's build writes whether it carries a key into the executable.
  if [ -z "$unverified" ]; then
    if grep -qaF CORVANE_SETUP_KEYS=none "$exe" ||
      { [[ $(basename "$exe") == corvane-setup* ]] && ! grep -qaF CORVANE_SETUP_KEYS=built-in "$exe"; }; then
      die "$exe was built without a publisher key and would install anything the network sends (build with CORVANE_PUBLIC_KEY, or sign with --unverified)"
    fi
  fi
  # A file signed before gets the new signature in place of the old one.
  osslsigncode sign "${creds[@]}" -h sha256 -n "Corvane Setup" -in "$exe" -out "$tmp/signed" \
    >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; die "signing $exe failed"; }
  cat "$tmp/signed" >"$exe"
  rm -f "$tmp/signed"
  echo "sign-windows.sh: signed $exe"
done
