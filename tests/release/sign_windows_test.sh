#!/usr/bin/env bash
# scripts/sign-windows.sh with a throwaway self-signed certificate: the executables get one valid
# Authenticode signature (also when signed again), and a changed byte breaks it. An installer
# without a publisher key is refused unless --unverified is given; one with a key is signed as is.
#   sign_windows_test.sh UNKEYED-INSTALLER KEYED-INSTALLER EXE...
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

[ $# -ge 3 ] || fail "give the unkeyed installer, the keyed one and the other executables"
exes=()
for exe in "$@"; do
  cp "$exe" "$work/" || fail "no $exe"
  exes+=("$work/$(basename "$exe")")
done
unkeyed=${exes[0]}
before=$(sha256sum <"$unkeyed")
out=$("$root/scripts/sign-windows.sh" "$unkeyed" 2>&1) && fail "an installer without a key was signed"
grep -q "built without a publisher key" <<<"$out" || fail "the refusal said: $out"
[ "$(sha256sum <"$unkeyed")" = "$before" ] || fail "the refused installer was changed"
"$root/scripts/sign-windows.sh" --unverified "$unkeyed" >/dev/null || fail "signing with --unverified failed"
"$root/scripts/sign-windows.sh" "${exes[@]:1}" >/dev/null || fail "signing failed"
"$root/scripts/sign-windows.sh" "${exes[1]}" >/dev/null || fail "signing again failed"
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
