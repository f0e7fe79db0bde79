#!/usr/bin/env bash
# Resume benchmark: a 1 GiB download from nginx is cut about half-way (the server stalls and
# httpget's time-out ends the request), then continued with a range request into the same file.
# Prints the sizes, the bytes fetched twice, the resumed part's wall time and rate, and whether
# the joined file is byte-identical to the original. Then a power cut: the installer is killed
# (SIGKILL) half-way through an archive of the same size, 20 MiB past the durable length its
# record names are overwritten with zeros, and the next run installs it (the end-to-end test
# tests/e2e/installer_power_cut_e2e.sh at that size): the bytes fetched twice.
#
#   bench/resume/run.sh [BUILD_DIR]      (default: build; SIZE_MB=1024)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
size_mb=${SIZE_MB:-1024}
httpget=$build/tools/httpget/httpget
[ -x "$httpget" ] || { echo "build httpget first: $httpget" >&2; exit 1; }

source "$root/tests/e2e/lib/nginx.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/resume-bench-XXXXXX")
cleanup() {
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www"
total=$((size_mb * 1024 * 1024))
echo "making a ${size_mb} MiB file of random bytes..." >&2
head -c "$total" /dev/urandom >"$work/www/big.bin"
# /cut/ serves the same file but stalls after half of it.
NGINX_NO_TRAP=1 nginx_start "$work/www" "location /cut/ { alias $work/www/;
    limit_rate_after $((size_mb / 2))m; limit_rate 1k; }"
cat "$work/www/big.bin" >/dev/null

out=$work/out.bin
status=0
"$httpget" --timeout 2000 -o "$out" "$NGINX_URL/cut/big.bin" 2>"$work/cut.log" || status=$?
have=$(stat -c %s "$out")
echo "cut:     exit $status ($(tail -n 1 "$work/cut.log")), $have of $total bytes kept"

start=$(date +%s.%N)
"$httpget" --resume "$have/$total" -o "$out" "$NGINX_URL/big.bin" 2>"$work/resume.log"
end=$(date +%s.%N)
line=$(tail -n 1 "$NGINX_DIR/access.log")
sent=$(awk '{ print $10 }' <<<"$line")
echo "resumed: $(grep -o '"GET [^"]*"' <<<"$line") status $(awk '{ print $9 }' <<<"$line"), $sent bytes sent"
awk -v s="$start" -v e="$end" -v b="$sent" \
  'BEGIN { printf "resumed part: %.2f s, %.0f MiB/s\n", e - s, b / 1048576 / (e - s) }'
echo "bytes fetched twice: $((have + sent - total))"
if cmp -s "$out" "$work/www/big.bin"; then echo "joined file: byte-identical"; else echo "joined file: DIFFERS"; exit 1; fi

echo "power cut: the installer killed half-way, 20 MiB of zeros past the durable length" >&2
CORVANE_BUILD_DIR=$build CORVANE_SOURCE_DIR=$root CORVANE_POWER_CUT_MIB=$size_mb CORVANE_ZEROS_MIB=20 \
  bash "$root/tests/e2e/installer_power_cut_e2e.sh" | grep -E '^(archive|bytes fetched twice|FAIL|SKIP)'
