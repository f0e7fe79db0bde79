#!/usr/bin/env bash
# Windows benchmark: httpget.exe under Wine (no display) beside curl -0 on the same nginx download,
# the CPU httpget.exe spends waiting for a reply held back, and the size of both executables.
#
#   bench/windows_download/run.sh [BUILD_DIR]   (default: build-windows; RUNS=3 SIZE_MB=256 DELAY=3)
#
# CPU is user + system of the program's process from /usr/bin/time -v; under Wine the share of the
# wineserver (a process of its own, started here) is printed beside it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build-windows}" && pwd)
runs=${RUNS:-3}
size_mb=${SIZE_MB:-256}
delay=${DELAY:-3}
exe=$build/bin/httpget.exe
wine=/usr/lib/wine/wine64
[ -f "$exe" ] || { echo "build it first: scripts/build-windows.sh" >&2; exit 1; }

export WINEPREFIX=$build/wineprefix-bench WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
unset DISPLAY WAYLAND_DISPLAY
source "$root/tests/e2e/lib/nginx.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/win-bench-XXXXXX")
slow_pid="" server_pid=""
cleanup() {
  [ -z "$slow_pid" ] || kill "$slow_pid" 2>/dev/null
  [ -z "$server_pid" ] || /usr/lib/wine/wineserver -k 2>/dev/null
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT

"$wine" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -f -p &
server_pid=$!
"$wine" "$exe" >/dev/null 2>&1 || true # warm: the first start loads the prefix

mkdir -p "$work/www"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/www/big.bin"
NGINX_NO_TRAP=1 nginx_start "$work/www"
cat "$work/www/big.bin" >/dev/null

server_cpu() { awk '{ printf "%.3f\n", ($14 + $15) / 100 }' "/proc/$server_pid/stat"; }
measure() {
  local tf=$work/time.txt before after
  before=$(server_cpu)
  /usr/bin/time -v -o "$tf" "$@" >/dev/null 2>"$work/stderr.txt" || {
    echo "failed: $*" >&2
    exit 1
  }
  after=$(server_cpu)
  awk -F': ' -v srv="$(awk -v a="$after" -v b="$before" 'BEGIN { print a - b }')" '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + p[i] }
    /User time/ { u = $2 } /System time/ { s = $2 }
    END { printf "%.3f %.3f %.3f\n", w, u + s, srv }' "$tf"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

out_win="Z:${work//\//\\}\\out.bin"
for tool in httpget.exe curl; do
  : >"$work/$tool.runs"
  for i in $(seq 1 "$runs"); do
    rm -f "$work/out.bin"
    if [ "$tool" = httpget.exe ]; then
      r=$(measure "$wine" "$exe" -o "$out_win" "$NGINX_URL/big.bin")
    else
      r=$(measure curl -0 -s -o "$work/out.bin" "$NGINX_URL/big.bin")
    fi
    cmp -s "$work/www/big.bin" "$work/out.bin" || { echo "$tool: file differs" >&2; exit 1; }
    echo "$r" >>"$work/$tool.runs"
    read -r w c s <<<"$r"
    printf '%-11s run %d: wall %7.3f s  cpu %7.3f s  (wineserver %6.3f s)\n' "$tool" "$i" "$w" "$c" "$s"
  done
done

python3 "$root/bench/http_download/slow_server.py" "$delay" >"$work/slow.port" &
slow_pid=$!
for _ in $(seq 1 100); do [ -s "$work/slow.port" ] && break; sleep 0.05; done
slow_url="http://127.0.0.1:$(head -n 1 "$work/slow.port")/late"
read -r sw_h sc_h ss_h <<<"$(measure "$wine" "$exe" -o "Z:${work//\//\\}\\late.txt" "$slow_url")"
read -r sw_c sc_c _ <<<"$(measure curl -0 -s -o "$work/late.txt" "$slow_url")"

echo
echo "median of $runs runs, ${size_mb} MiB from nginx on loopback:"
for tool in httpget.exe curl; do
  printf '  %-11s wall %7.3f s  cpu %7.3f s  wineserver %6.3f s\n' "$tool" \
    "$(cut -d' ' -f1 "$work/$tool.runs" | median)" "$(cut -d' ' -f2 "$work/$tool.runs" | median)" \
    "$(cut -d' ' -f3 "$work/$tool.runs" | median)"
done
echo "reply held back ${delay} s:"
printf '  httpget.exe wall %.3f s  cpu %.3f s  wineserver %.3f s\n' "$sw_h" "$sc_h" "$ss_h"
printf '  curl        wall %.3f s  cpu %.3f s\n' "$sw_c" "$sc_c"
echo "sizes:"
for f in httpget.exe corvane-setup.exe; do
  printf '  %-18s %8d bytes (%d KiB)\n' "$f" "$(stat -c %s "$build/bin/$f")" "$(($(stat -c %s "$build/bin/$f") / 1024))"
done
