#!/usr/bin/env bash
# httpget.exe carries the HTTP component and the downloads below the installer: a link that brings
# in more (the installer's units, or std::filesystem with the locale machinery behind it) makes it
# grow by hundreds of KiB, and shows here first. The limit leaves room for what httpget itself
# needs (Schannel's and WinHTTP's callers, the resolver and the connect race), not for that.
#   size_test.sh EXE MAX_BYTES
set -uo pipefail
size=$(stat -c %s "$1") || exit 1
echo "$(basename "$1"): $size bytes (at most $2)"
[ "$size" -le "$2" ] || { echo "FAIL: $(basename "$1") is larger than $2 bytes"; exit 1; }
