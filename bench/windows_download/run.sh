#!/usr/bin/env bash
# Windows benchmark: httpget.exe under Wine (no display) beside curl -0 on the same nginx download,
# over plain http and over https (TLS on loopback, a certificate from a test root trusted in this
# run's own mount namespace, the prefix made afresh after it, so that its root store holds it too),
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
if [ -z "${CORVANE_BENCH_TLS:-}" ]; then
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount); else ns=(unshare --map-root-user --mount); fi
  "${ns[@]}" true 2>/dev/null && CORVANE_BENCH_TLS=1 exec "${ns[@]}" bash "$0" "$@"
  echo "no private mount namespace here: the https rows are left out" >&2
  export CORVANE_BENCH_TLS=0
fi

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

tls_server=""
if [ "$CORVANE_BENCH_TLS" = 1 ]; then
  "$root/tests/support/tls/make-certs.sh" "$work/certs" >/dev/null 2>&1
  source "$root/tests/support/tls/trust.sh"
  TMPDIR=$work tls_trust_root "$work/certs/root.pem"
  tls_port=$(_nginx_free_port)
  tls_server=$(nginx_tls_server "$tls_port" "$work/certs/good")
  # Wine fills a prefix's root store from the system's bundle only when the prefix is made.
  rm -rf "$WINEPREFIX"
fi
"$wine" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -k 2>/dev/null || true
/usr/lib/wine/wineserver -f -p &
server_pid=$!
"$wine" "$exe" >/dev/null 2>&1 || true # warm: the first start loads the prefix

mkdir -p "$work/www"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/www/big.bin"
NGINX_NO_TRAP=1 nginx_start "$work/www" "" "$tls_server"
cat "$work/www/big.bin" >/dev/null

measure() { python3 "$root/bench/measure.py" --also "$server_pid" "$@"; }
out_win="Z:${work//\//\\}\\out.bin"
big=("$work/www/big.bin" "$work/out.bin")
exe_run=$(measure --runs "$runs" --label httpget.exe --check "${big[@]}" -- "$wine" "$exe" -o "$out_win" "$NGINX_URL/big.bin")
curl_run=$(measure --runs "$runs" --label curl --check "${big[@]}" -- curl -0 -s -o "$work/out.bin" "$NGINX_URL/big.bin")
if [ "$CORVANE_BENCH_TLS" = 1 ]; then
  tls_url=https://127.0.0.1:$tls_port/big.bin
  exe_tls_run=$(measure --runs "$runs" --label "httpget.exe https" --check "${big[@]}" -- "$wine" "$exe" -o "$out_win" "$tls_url") ||
    exe_tls_run=""
  curl_tls_run=$(measure --runs "$runs" --label "curl https" --check "${big[@]}" -- curl -0 -s -o "$work/out.bin" "$tls_url")
fi

python3 "$root/bench/http_download/slow_server.py" "$delay" >"$work/slow.port" &
slow_pid=$!
for _ in $(seq 1 100); do [ -s "$work/slow.port" ] && break; sleep 0.05; done
slow_url="http://127.0.0.1:$(head -n 1 "$work/slow.port")/late"
read -r sw_h sc_h _ ss_h <<<"$(measure --label httpget.exe -- "$wine" "$exe" -o "Z:${work//\//\\}\\late.txt" "$slow_url")"
read -r sw_c sc_c _ <<<"$(measure --label curl -- curl -0 -s -o "$work/late.txt" "$slow_url")"

echo
echo "median of $runs runs, ${size_mb} MiB from nginx on loopback:"
rows=("httpget.exe $exe_run" "curl $curl_run")
[ "$CORVANE_BENCH_TLS" = 0 ] || rows+=("httpget.exe-tls ${exe_tls_run:-}" "curl-tls $curl_tls_run")
for row in "${rows[@]}"; do
  read -r tool w c m s <<<"$row"
  if [ -z "${w:-}" ]; then printf '  %-15s not measured (see above)\n' "$tool" && continue; fi
  printf '  %-15s wall %7.3f s  cpu %7.3f s  peak %8d KiB  wineserver %6.3f s\n' "$tool" "$w" "$c" "$m" "${s:-0}"
done
echo "reply held back ${delay} s:"
printf '  httpget.exe wall %.3f s  cpu %.3f s  wineserver %.3f s\n' "$sw_h" "$sc_h" "$ss_h"
printf '  curl        wall %.3f s  cpu %.3f s\n' "$sw_c" "$sc_c"
echo "sizes:"
for f in httpget.exe corvane-setup.exe; do
  printf '  %-18s %8d bytes (%d KiB)\n' "$f" "$(stat -c %s "$build/bin/$f")" "$(($(stat -c %s "$build/bin/$f") / 1024))"
done
