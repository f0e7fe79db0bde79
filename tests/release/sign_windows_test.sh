#!/usr/bin/env bash
# scripts/sign-windows.sh with a throwaway self-signed certificate: both executables get one
# valid Authenticode signature (also when signed again), and a changed byte breaks it.
#   sign_windows_test.sh EXE...
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*"; exit 1; }
for tool in osslsigncode openssl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ $# -gt 0 ] || fail "no executables given"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export CORVANE_SIGN_PASSWORD="throwaway pass"
openssl req -x509 -newkey rsa:2048 -days 2 -subj "/CN=Corvane Test Publisher" \
  -addext "extendedKeyUsage=codeSigning" -passout env:CORVANE_SIGN_PASSWORD \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || fail "openssl: $(cat "$work/openssl.log")"
export CORVANE_SIGN_CERT=$work/cert.pem CORVANE_SIGN_KEY=$work/key.pem

exes=()
for exe in "$@"; do
  cp "$exe" "$work/" || fail "no $exe"
  exes+=("$work/$(basename "$exe")")
done
"$root/scripts/sign-windows.sh" "${exes[@]}" >/dev/null || fail "signing failed"
"$root/scripts/sign-windows.sh" "${exes[0]}" >/dev/null || fail "signing again failed"
for exe in "${exes[@]}"; do
  out=$(osslsigncode verify -CAfile "$work/cert.pem" -in "$exe" 2>&1) || fail "$(basename "$exe") does not verify: $out"
  grep -q "Signature verification: ok" <<<"$out" || fail "$(basename "$exe"): $out"
  grep -q "Corvane Test Publisher" <<<"$out" || fail "$(basename "$exe") is signed by someone else: $out"
done

# A byte changed in the signed code must fail verification.
tampered=$work/tampered.exe
cp "${exes[0]}" "$tampered"
printf '\xCC' | dd of="$tampered" bs=1 seek=4096 conv=notrunc status=none
osslsigncode verify -CAfile "$work/cert.pem" -in "$tampered" >/dev/null 2>&1 &&
  fail "a changed executable still verifies"
echo "PASS: ${#exes[@]} executables signed and verified"
