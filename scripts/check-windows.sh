#!/usr/bin/env bash
# Compiles the socket component against the real Windows headers with mingw-w64 (no linking):
# keeps the Windows side of platform/ and the units on it building while Linux is the target.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for src in netcomp/Psock.cpp; do
  "$CXX" -std=c++20 -Wall -Wextra -Werror -I. -c "$src" -o "$out/$(basename "$src").o"
done
echo "check-windows: ok"
