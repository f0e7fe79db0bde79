#!/usr/bin/env bash
# The Windows half of the crypto interface (CNG) under Wine: built with mingw-w64, fed keys,
# lists and signatures made by openssl, as a publisher makes them.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=${CORVANE_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
build=${CORVANE_BUILD_DIR:-$src/build}
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
wine=/usr/lib/wine/wine64
command -v "$cxx" >/dev/null || skip "$cxx is not installed"
[ -x "$wine" ] || skip "wine64 is not installed"

work=$build/wine-crypto
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
trap '/usr/lib/wine/wineserver -k 2>/dev/null' EXIT
"$cxx" -std=c++20 -O1 -I"$src" "$src/tests/wine/crypto_check.cpp" "$src/platform/crypto_win.cpp" \
  "$src/platform/crypto_der.cpp" "$src/platform/paths_win.cpp" "$src/platform/text.cpp" -static \
  -o "$work/crypto_check.exe" || fail "build"
cd "$work" || fail "no $work"
key() { openssl ecparam -genkey -noout -name "$2" -out "$1.pem" && openssl ec -in "$1.pem" -pubout -out "$1.pub" 2>/dev/null; }
key publisher prime256v1 && key other prime256v1 && key p384 secp384r1 || fail "openssl"
head -c 200000 /dev/urandom >list
openssl dgst -sha256 -sign publisher.pem -out list.sig list
openssl dgst -sha256 -sign p384.pem -out p384.sig list
{ head -c 100 list; printf 'x'; tail -c +102 list; } >tampered

check() { # PUBLIC DATA SIGNATURE EXPECTED-VERIFY
  local out
  out=$("$wine" crypto_check.exe "$1" "$2" "$3" | tr -d '\r')
  [ "$out" = "sha256 $(sha256sum "$2" | cut -d' ' -f1)
verify $4" ] || fail "crypto_check $1 $2 $3 printed: $out (want verify $4)"
}
check publisher.pub list list.sig 1
check other.pub list list.sig 0
check publisher.pub tampered list.sig 0
check p384.pub list p384.sig 0
echo "PASS: CNG under Wine verifies P-256 signatures and hashes files"
