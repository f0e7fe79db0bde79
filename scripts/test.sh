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

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON
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
