#!/usr/bin/env bash
# Builds everything and runs every test, in stages: the plain build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, short fuzz runs, and the Windows build with its
# tests under Wine.
#
# Contract of a stage: one command whose output ends with a line of the form
#   NAME: N passed, N failed, N skipped
# and whose exit status is non-zero when something failed (a build included). Every stage runs,
# even after another one failed; the last line adds all stages up:
#   total: N passed, N failed, N skipped
# A stage that fails without printing its line counts as one failure. To add a stage, add one
# `stage` line below.
#
# In CI (CI=true) a skipped end-to-end test is a failure: the set-up it needs must be there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh

jobs=${JOBS:-2}
passed=0 failed=0 skipped=0

# Configures a build folder; one configured before keeps its generator.
configure() {
  local dir=$1
  shift
  local generator=()
  [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
  cmake -S . -B "$dir" "${generator[@]}" "$@"
}

# Builds in DIR with the given CMake settings, runs its ctest suite and counts it as NAME.
ctest_stage() {
  local name=$1 dir=$2
  shift 2
  configure "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
  local junit=$root/$dir/ctest-junit.xml strict=() rc=0
  rm -f "$junit"
  [ "${CI:-}" != true ] || strict=(--skip-fails e2e.)
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --output-junit "$junit") || rc=$?
  python3 scripts/junit-counts.py "$name" "$junit" "${strict[@]}" || rc=1
  return "$rc"
}

# The sanitizer build has two publisher keys built in, so that its end-to-end runs install
# verified downloads signed by either; the plain build verifies nothing, as a build without a key.
asan_stage() {
  mkdir -p build-asan
  local k
  for k in test-key test-key-2; do
    [ -s build-asan/$k.pem ] || openssl ecparam -genkey -noout -name prime256v1 -out build-asan/$k.pem
    openssl ec -in build-asan/$k.pem -pubout 2>/dev/null
  done >build-asan/test-key.pub.pem
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest_stage asan build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON \
    -DCORVANE_PUBLIC_KEY="$root/build-asan/test-key.pub.pem" \
    -DCORVANE_SIGNING_KEY="$root/build-asan/test-key.pem" \
    -DCORVANE_SECOND_SIGNING_KEY="$root/build-asan/test-key-2.pem"
}

count_re='^[A-Za-z0-9_.-]+: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$'

stage() {
  local out rc line
  out=$(mktemp)
  set +e
  (
    set -e
    "$@"
  ) 2>&1 | tee "$out"
  rc=${PIPESTATUS[0]}
  set -e
  line=$(grep -E "$count_re" "$out" | tail -n 1 || true)
  rm -f "$out"
  if [ -z "$line" ]; then
    echo "test.sh: stage '$*' ended (status $rc) without its count line"
    failed=$((failed + 1))
    return
  fi
  read -r p f s < <(sed -E 's/^[^:]+: ([0-9]+) passed, ([0-9]+) failed, ([0-9]+) skipped$/\1 \2 \3/' <<<"$line")
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
  # A stage that failed while its tests all passed (a leak report at exit, say) is still a failure.
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
    echo "test.sh: stage '$*' failed (status $rc)"
    failed=$((failed + 1))
  fi
}

stage ctest_stage build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON
stage asan_stage
stage bash scripts/fuzz.sh --short
stage bash scripts/test-windows.sh

echo "total: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
