#!/usr/bin/env bash
# Builds everything and passes every test: the plain build, the same suite under AddressSanitizer
# and UndefinedBehaviorSanitizer, and the Windows build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh

jobs=${JOBS:-2}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs") | tee -a "$log"

# The sanitizer build has a publisher key built in, so that its end-to-end run installs verified
# downloads; the plain build above verifies nothing, as a build without a key.
mkdir -p build-asan
[ -s build-asan/test-key.pem ] || openssl ecparam -genkey -noout -name prime256v1 -out build-asan/test-key.pem
openssl ec -in build-asan/test-key.pem -pubout -out build-asan/test-key.pub.pem 2>/dev/null
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON \
  -DCORVANE_PUBLIC_KEY="$root/build-asan/test-key.pub.pem" -DCORVANE_SIGNING_KEY="$root/build-asan/test-key.pem"
cmake --build build-asan -j "$jobs"
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$jobs") | tee -a "$log"

scripts/fuzz.sh --short | tee -a "$log"

bash scripts/test-windows.sh

# Both runs passed in full (a failure stops the script above).
total=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | awk '{s += $1} END {print s + 0}')
echo "total: $total passed, 0 failed"
