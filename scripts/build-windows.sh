#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build-windows/; corvane-setup.exe and
# httpget.exe end up in build-windows/bin/. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${CORVANE_WINDOWS_BUILD:-build-windows}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build" -j "${JOBS:-2}" --target corvane-setup httpget
ls -l "$build/bin/corvane-setup.exe" "$build/bin/httpget.exe"
