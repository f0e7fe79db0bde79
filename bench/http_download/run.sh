#!/usr/bin/env bash
# Download benchmark: httpget -o beside curl -0 -o, fetching a 1 GiB file from nginx on loopback,
# then the CPU both spend waiting for a reply held back for 3 seconds.
#
#   bench/http_download/run.sh [BUILD_DIR]      (default: build; RUNS=3 SIZE_MB=1024 DELAY=3)
#
# Prints per run and the median of wall seconds, CPU seconds (user + system) and peak resident
# memory from /usr/bin/time -v, and the ratios httpget / curl.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${RUNS:-3}
size_mb=${SIZE_MB:-1024}
delay=${DELAY:-3}
httpget=$build/tools/httpget/httpget
[ -x "$httpget" ] || { echo "build httpget first: $httpget" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

source "$root/tests/e2e/lib/nginx.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/http-bench-XXXXXX")
slow_pid=""
cleanup() {
  [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www"
echo "making a ${size_mb} MiB file of random bytes..." >&2
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/www/big.bin"
NGINX_NO_TRAP=1 nginx_start "$work/www"
url="$NGINX_URL/big.bin"
# Warm the page cache so that the first run is not the only one reading from disk.
cat "$work/www/big.bin" >/dev/null

# measure LABEL CMD...: runs under /usr/bin/time -v, prints "wall cpu maxrss_kib" for the run.
measure() {
  local tf=$work/time.txt
  /usr/bin/time -v -o "$tf" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "failed: $* ($(tail -n 2 "$work/stderr.txt" | tr '\n' ' '))" >&2
    exit 1
  }
  awk -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + p[i] }
    /User time/ { u = $2 } /System time/ { s = $2 } /Maximum resident/ { m = $2 }
    END { printf "%.3f %.3f %d\n", w, u + s, m }' "$tf"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A results
for tool in httpget curl; do
  : >"$work/$tool.runs"
  for i in $(seq 1 "$runs"); do
    rm -f "$work/out.bin"
    if [ "$tool" = httpget ]; then
      r=$(measure "$httpget" -o "$work/out.bin" "$url")
    else
      r=$(measure curl -0 -s -o "$work/out.bin" "$url")
    fi
    cmp -s "$work/www/big.bin" "$work/out.bin" || { echo "$tool: downloaded file differs" >&2; exit 1; }
    echo "$r" >>"$work/$tool.runs"
    read -r w c m <<<"$r"
    printf '%-8s run %d: wall %7.3f s  cpu %7.3f s  peak %8d KiB\n' "$tool" "$i" "$w" "$c" "$m"
  done
  results[$tool.wall]=$(cut -d' ' -f1 "$work/$tool.runs" | median)
  results[$tool.cpu]=$(cut -d' ' -f2 "$work/$tool.runs" | median)
  results[$tool.mem]=$(cut -d' ' -f3 "$work/$tool.runs" | median)
done
rm -f "$work/out.bin"

python3 "$here/slow_server.py" "$delay" >"$work/slow.port" &
slow_pid=$!
for _ in $(seq 1 100); do [ -s "$work/slow.port" ] && break; sleep 0.05; done
slow_url="http://127.0.0.1:$(head -n 1 "$work/slow.port")/late"
read -r sw_h sc_h _ <<<"$(measure "$httpget" -o "$work/late.txt" "$slow_url")"
read -r sw_c sc_c _ <<<"$(measure curl -0 -s -o "$work/late.txt" "$slow_url")"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
echo
echo "median of $runs runs, ${size_mb} MiB from nginx on loopback:"
printf '  %-8s %10s %10s %14s\n' "" "wall s" "cpu s" "peak KiB"
for tool in httpget curl; do
  printf '  %-8s %10.3f %10.3f %14d\n' "$tool" "${results[$tool.wall]}" "${results[$tool.cpu]}" \
    "${results[$tool.mem]}"
done
printf '  %-8s %10s %10s %14s\n' "ratio" "$(ratio "${results[httpget.wall]}" "${results[curl.wall]}")" \
  "$(ratio "${results[httpget.cpu]}" "${results[curl.cpu]}")" \
  "$(ratio "${results[httpget.mem]}" "${results[curl.mem]}")"
echo
echo "reply held back ${delay} s:"
printf '  httpget  wall %.3f s  cpu %.3f s\n' "$sw_h" "$sc_h"
printf '  curl     wall %.3f s  cpu %.3f s\n' "$sw_c" "$sc_c"
