#!/usr/bin/env bash
# Compiles every source file that the Windows build shares or owns against the real Windows
# headers with mingw-w64 (no linking): keeps the Windows side of platform/ and the units on it
# building while Linux is the target.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
srcs=(framework/*.cpp netcomp/*.cpp platform/*_win.cpp platform/msgbox.cpp
      installer/Cvnsetupmain.cpp installer/Cvnsetupinstall.cpp installer/view.cpp
      installer/view_win.cpp)
for src in "${srcs[@]}"; do
  "$CXX" -std=c++20 -Wall -Wextra -Werror -I. -DCORVANE_DOWNLOAD_URL='"http://download.corvane.org/downloads/"' \
    -c "$src" -o "$out/$(echo "$src" | tr / _).o"
done
echo "check-windows: ${#srcs[@]} files compile for Windows"
