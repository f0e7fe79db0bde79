#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang and runs each on its seed corpus.
#   scripts/fuzz.sh           a long run: FUZZ_SECONDS (default 600) per target
#   scripts/fuzz.sh --short   a fixed short run of every target, as the test command does
# A crash fails the run; its input is left in build-fuzz/crashes/ to be kept as a seed.
# Closes with "fuzz: N passed, N failed, N skipped" (one per target).
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-600}
[ "${1:-}" = "--short" ] && seconds=10
CXX=${FUZZ_CXX:-clang++-14}
targets=(fuzz/*_fuzz.cpp)
out=build-fuzz
mkdir -p "$out/obj" "$out/crashes"

if ! command -v "$CXX" >/dev/null; then
  echo "fuzz: $CXX not installed"
  echo "fuzz: 0 passed, 0 failed, ${#targets[@]} skipped"
  exit 0
fi

flags=(-std=c++20 -g -O1 -I. -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
# The parsing units and what they stand on, without sockets or windows.
units=(netcomp/NMHttpParse.cpp netcomp/PsockText.cpp netcomp/NMURL.cpp netcomp/NMUUE.cpp
       framework/Classes.cpp framework/Sysutils.cpp platform/paths_posix.cpp platform/files.cpp
       platform/files_posix.cpp platform/crypto_posix.cpp
       platform/base_posix.cpp platform/proxy.cpp installer/SignedList.cpp)
objs=()
for src in "${units[@]}"; do
  obj=$out/obj/$(echo "$src" | tr / _).o
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ]; then
    "$CXX" "${flags[@]}" -c "$src" -o "$obj" || { echo "fuzz: 0 passed, ${#targets[@]} failed, 0 skipped"; exit 1; }
  fi
  objs+=("$obj")
done

passed=0 failed=0
for src in "${targets[@]}"; do
  name=$(basename "$src" .cpp)
  if ! "$CXX" "${flags[@]}" -fsanitize=fuzzer "$src" "${objs[@]}" -lcrypto -o "$out/$name"; then
    echo "fuzz: $name does not build"
    failed=$((failed + 1))
    continue
  fi
  mkdir -p "$out/corpus/$name" "fuzz/corpus/$name"
  if UBSAN_OPTIONS=halt_on_error=1 "$out/$name" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=0 -artifact_prefix="$out/crashes/$name-" \
      "$out/corpus/$name" "fuzz/corpus/$name" >"$out/$name.log" 2>&1; then
    echo "fuzz: $name ran $(grep -o 'Done [0-9]* runs' "$out/$name.log" | tail -1 | cut -d' ' -f2) inputs, no crash"
    passed=$((passed + 1))
  else
    echo "fuzz: $name FAILED, see $out/$name.log"
    tail -n 30 "$out/$name.log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed, 0 skipped"
[ "$failed" -eq 0 ]
