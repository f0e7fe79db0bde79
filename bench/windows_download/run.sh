#!/usr/bin/env bash
# Windows benchmark: httpget.exe under Wine (no display) beside curl -0 on the same nginx download,
# the CPU httpget.exe spends waiting for a reply held back, and the size of both executables.
#
#   bench/windows_download/run.sh [BUILD_DIR]   (default: build-windows; RUNS=3 SIZE_MB=256 DELAY=3)
#
# Wall, CPU (user + system) and peak memory of the program's process come from bench/measure.py;
# under Wine the share of the wineserver (a process of its own, started here) is printed beside it.
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

measure() { python3 "$root/bench/measure.py" --also "$server_pid" "$@"; }
out_win="Z:${work//\//\\}\\out.bin"
big=("$work/www/big.bin" "$work/out.bin")
exe_run=$(measure --runs "$runs" --label httpget.exe --check "${big[@]}" -- "$wine" "$exe" -o "$out_win" "$NGINX_URL/big.bin")
curl_run=$(measure --runs "$runs" --label curl --check "${big[@]}" -- curl -0 -s -o "$work/out.bin" "$NGINX_URL/big.bin")

python3 "$root/bench/http_download/slow_server.py" "$delay" >"$work/slow.port" &
slow_pid=$!
for _ in $(seq 1 100); do [ -s "$work/slow.port" ] && break; sleep 0.05; done
slow_url="http://127.0.0.1:$(head -n 1 "$work/slow.port")/late"
read -r sw_h sc_h _ ss_h <<<"$(measure --label httpget.exe -- "$wine" "$exe" -o "Z:${work//\//\\}\\late.txt" "$slow_url")"
read -r sw_c sc_c _ <<<"$(measure --label curl -- curl -0 -s -o "$work/late.txt" "$slow_url")"

echo
echo "median of $runs runs, ${size_mb} MiB from nginx on loopback:"
for row in "httpget.exe $exe_run" "curl $curl_run"; do
  read -r tool w c m s <<<"$row"
  printf '  %-11s wall %7.3f s  cpu %7.3f s  peak %8d KiB  wineserver %6.3f s\n' "$tool" "$w" "$c" "$m" "$s"
done
echo "reply held back ${delay} s:"
printf '  httpget.exe wall %.3f s  cpu %.3f s  wineserver %.3f s\n' "$sw_h" "$sc_h" "$ss_h"
printf '  curl        wall %.3f s  cpu %.3f s\n' "$sw_c" "$sc_c"
echo "sizes:"
for f in httpget.exe corvane-setup.exe; do
  printf '  %-18s %8d bytes (%d KiB)\n' "$f" "$(stat -c %s "$build/bin/$f")" "$(($(stat -c %s "$build/bin/$f") / 1024))"
done
