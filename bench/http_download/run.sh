#!/usr/bin/env bash
# Download benchmark: a big file from nginx on loopback fetched by httpget -o, by httpget followed
# by a sync of the file ("durable", as the installer makes every file), by curl -0 -o, by the floor
# (floor.c: the least any client must do, built here), by the floor that makes its file durable
# while it arrives ("dfloor": put on the disk every 8 MiB by a second thread, synced at the end)
# and by the installer's window (window.sh); the same file over https (TLS on loopback, nginx with
# a certificate from a test root that this run's own mount namespace trusts) by httpget, by curl and
# by the window (its download host redirecting to https), and by the floors over TLS; the window
# over both again through loopback shaped to a 1 Gbit/s link;
# then the CPU httpget and curl spend waiting for a reply held back, and their start-up CPU
# fetching a tiny file.
#
#   bench/http_download/run.sh [BUILD_DIR]      (default: build)
#     RUNS=15 SIZE_MB=256       rounds (each client once a round) and file size
#     WINDOW_SIZE_MB=SIZE_MB WINDOW_DISPLAY=(a free one)   the window's
#     DELAY=3 STARTS=10         the held-back reply; runs of the start-up measurement
#
# Wall, CPU (user + system) and peak resident memory come from bench/measure.py; every download
# is compared with the original. The table shows medians and their ratios to curl, the floor and
# the durable floor; a window run of another size than SIZE_MB is scaled to SIZE_MB for its
# ratios. Where the middle half of the floor's own runs spreads over more than 10% of their
# median, the machine is reported as too noisy. Where no private mount namespace can be made, the
# https rows are left out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ -z "${CORVANE_BENCH_TLS:-}" ]; then
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount); else ns=(unshare --map-root-user --mount); fi
  "${ns[@]}" true 2>/dev/null && CORVANE_BENCH_TLS=1 exec "${ns[@]}" bash "$0" "$@"
  echo "no private mount namespace here: the https rows are left out" >&2
  export CORVANE_BENCH_TLS=0
fi
build=$(cd "${1:-$root/build}" && pwd)
runs=${RUNS:-15} size_mb=${SIZE_MB:-256} delay=${DELAY:-3} starts=${STARTS:-10}
window_mb=${WINDOW_SIZE_MB:-$size_mb}
httpget=$build/tools/httpget/httpget
[ -x "$httpget" ] || { echo "build httpget first: $httpget" >&2; exit 1; }
for tool in curl cc; do command -v $tool >/dev/null || { echo "$tool is needed" >&2; exit 1; }; done
measure() { python3 "$root/bench/measure.py" "$@"; }

source "$root/tests/e2e/lib/nginx.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/http-bench-XXXXXX")
slow_pid=""
cleanup() {
  [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
cc -O2 -pthread -o "$work/floor" "$here/floor.c" -lssl -lcrypto
mkdir -p "$work/www"
echo "making a ${size_mb} MiB file of random bytes..." >&2
head -c "$((size_mb * 1024 * 1024))" /dev/urandom >"$work/www/big.bin"
head -c 1024 /dev/urandom >"$work/www/tiny.bin"
tls_server=""
if [ "$CORVANE_BENCH_TLS" = 1 ]; then
  "$root/tests/support/tls/make-certs.sh" "$work/certs" >/dev/null 2>&1
  source "$root/tests/support/tls/trust.sh"
  TMPDIR=$work tls_trust_root "$work/certs/root.pem"
  tls_port=$(_nginx_free_port)
  tls_server=$(nginx_tls_server "$tls_port" "$work/certs/good")
fi
NGINX_NO_TRAP=1 nginx_start "$work/www" "" "$tls_server"
tls_url=https://127.0.0.1:${tls_port:-}
# Warm the page cache so that the first run is not the only one reading from disk, and have the
# served files on the disk, so that the first runs do not share the machine with their writing.
cat "$work/www/big.bin" >/dev/null
sync

# Round by round, every client once a round, so that a slow spell of the machine falls on all of
# them alike; the disk is synced before each run, so that no run pays for the writes of the one
# before. Each round has an order of its own (shuffled, the same for the same round number): what a
# run leaves to the next (freed pages, a file just made durable) costs the next run measurably,
# and so follows every client from every other one alike.
declare -A r
out=$work/out.bin
big=("$work/www/big.bin" "$out")
clients=(floor dfloor httpget durable curl window)
[ "$CORVANE_BENCH_TLS" = 0 ] || clients+=(floor-tls dfloor-tls httpget-tls curl-tls window-tls window-link window-tls-link)
run_client() {
  case $1 in
  floor) measure --label floor --check "${big[@]}" -- "$work/floor" "$NGINX_URL/big.bin" "$out" ;;
  dfloor) measure --label "floor durable" --check "${big[@]}" -- "$work/floor" "$NGINX_URL/big.bin" "$out" durable ;;
  httpget) measure --label httpget --check "${big[@]}" -- "$httpget" -o "$out" "$NGINX_URL/big.bin" ;;
  # The installer makes every file durable before it replaces one; httpget leaves that to the system.
  durable) measure --label "httpget+sync" --check "${big[@]}" -- \
    sh -c '"$0" -o "$1" "$2" && sync "$1"' "$httpget" "$out" "$NGINX_URL/big.bin" ;;
  curl) measure --label curl --check "${big[@]}" -- curl -0 -s -o "$out" "$NGINX_URL/big.bin" ;;
  window) bash "$here/window.sh" "$build" "$window_mb" 1 "${WINDOW_DISPLAY:-}" ;;
  floor-tls) measure --label "floor https" --check "${big[@]}" -- "$work/floor" "$tls_url/big.bin" "$out" ;;
  dfloor-tls) measure --label "floor durable https" --check "${big[@]}" -- "$work/floor" "$tls_url/big.bin" "$out" durable ;;
  httpget-tls) measure --label "httpget https" --check "${big[@]}" -- "$httpget" -o "$out" "$tls_url/big.bin" ;;
  curl-tls) measure --label "curl https" --check "${big[@]}" -- curl -0 -s -o "$out" "$tls_url/big.bin" ;;
  window-tls) bash "$here/window.sh" "$build" "$window_mb" 1 "${WINDOW_DISPLAY:-}" https ;;
  # A link as fast as a user's may be: gigabit Ethernet, loopback shaped to it.
  window-link) RATE=1gbit bash "$here/window.sh" "$build" "$window_mb" 1 "${WINDOW_DISPLAY:-}" ;;
  window-tls-link) RATE=1gbit bash "$here/window.sh" "$build" "$window_mb" 1 "${WINDOW_DISPLAY:-}" https ;;
  esac
}
# The CPU nginx's worker has spent so far, in seconds: on loopback it shares the cores with the
# client, and over TLS it encrypts everything it serves.
ticks=$(getconf CLK_TCK)
server_cpu() {
  local worker
  worker=$(pgrep -P "$(cat "$NGINX_DIR/nginx.pid")" | head -n 1)
  awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$worker/stat"
}
# A window or https client that cannot run here (no Xvfb, a program without TLS) is left out.
declare -A dropped
# Round 0 is not counted: a round's order is the same in every invocation, so whichever client
# came first in round 1 would always be the one to meet a cold server and cold caches.
for round in $(seq 0 "$runs"); do
  if [ "$round" = 0 ]; then echo "warming up: one run of every client, not counted" >&2; else
    echo "round $round of $runs" >&2; fi
  for k in $(python3 -c 'import random, sys
order = sys.argv[2:]
random.Random(int(sys.argv[1])).shuffle(order)
print(" ".join(order))' "$round" "${clients[@]}"); do
    [ -n "${dropped[$k]:-}" ] && continue
    rm -f "$out"
    sync
    server0=$(server_cpu)
    if row=$(run_client "$k"); then
      [ "$round" = 0 ] || echo "$row" >>"$work/rows.$k"
      [ "$round" = 0 ] || echo "$server0 $(server_cpu)" >>"$work/server.$k"
    elif [ "$k" = window ] || [ "${k%-tls}" != "$k" ]; then
      dropped[$k]=1
    else
      exit 1
    fi
  done
done
rm -f "$out"
# The median CPU nginx spent on one download of client $1.
server_median() {
  [ -s "$work/server.$1" ] || { echo 0; return; }
  python3 -c 'import statistics, sys
print("%.3f" % statistics.median(float(b) - float(a) for a, b in (l.split() for l in sys.stdin)))' <"$work/server.$1"
}
median_rows() {
  python3 -c 'import statistics, sys
rows = [list(map(float, l.split())) for l in sys.stdin if l.strip()]
print(" ".join(("%d" if i == 2 else "%.6f") % statistics.median(col) for i, col in enumerate(zip(*rows))))' <"$1"
}
for k in "${clients[@]}"; do
  [ -s "$work/rows.$k" ] && r[$k]=$(median_rows "$work/rows.$k")
done
# The floor's own spread tells whether this machine is quiet enough to tell a few per cent apart:
# the middle half of its runs (interquartile range) against their median. One slow spell of the
# machine moves the whole range, not the median nor the quartiles; the range is shown beside.
read -r floor_spread floor_range < <(python3 -c 'import statistics, sys
w = sorted(float(l.split()[0]) for l in sys.stdin if l.strip())
q1, med, q3 = statistics.quantiles(w, n=4, method="inclusive")
print("%.3f %.3f" % ((q3 - q1) / med, (w[-1] - w[0]) / med))' <"$work/rows.floor")

python3 "$here/slow_server.py" "$delay" >"$work/slow.port" &
slow_pid=$!
for _ in $(seq 1 100); do [ -s "$work/slow.port" ] && break; sleep 0.05; done
slow_url="http://127.0.0.1:$(head -n 1 "$work/slow.port")/late"
r[late_httpget]=$(measure --label httpget -- "$httpget" -o "$work/late.txt" "$slow_url")
r[late_curl]=$(measure --label curl -- curl -0 -s -o "$work/late.txt" "$slow_url")
tiny=("$work/www/tiny.bin" "$out")
r[start_httpget]=$(measure --runs "$starts" --label httpget --check "${tiny[@]}" -- "$httpget" -o "$out" "$NGINX_URL/tiny.bin")
r[start_curl]=$(measure --runs "$starts" --label curl --check "${tiny[@]}" -- curl -0 -s -o "$out" "$NGINX_URL/tiny.bin")
if [ "$CORVANE_BENCH_TLS" = 1 ] && [ -z "${dropped[httpget-tls]:-}" ]; then
  r[start_httpget-tls]=$(measure --runs "$starts" --label "httpget https" --check "${tiny[@]}" -- "$httpget" -o "$out" "$tls_url/tiny.bin")
  r[start_curl-tls]=$(measure --runs "$starts" --label "curl https" --check "${tiny[@]}" -- curl -0 -s -o "$out" "$tls_url/tiny.bin")
fi

echo
echo "median of $runs interleaved rounds, ${size_mb} MiB from nginx on loopback (window: $window_mb MiB):"
for k in floor dfloor httpget durable curl window; do echo "$k ${r[$k]:-}"; done |
  awk -v scale="$(awk "BEGIN { print $size_mb / $window_mb }")" -v spread="$floor_spread" \
    -v range="$floor_range" '
  function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "n/a" }
  { name[NR] = $1 }
  NF > 1 { w[$1] = $2; c[$1] = $3; m[$1] = $4; s[$1] = $1 == "window" ? scale : 1 }
  END {
    printf "  %-8s %9s %9s %10s   %10s %10s   %10s %10s   %11s\n", "", "wall s", "cpu s", "peak KiB",
      "wall/curl", "cpu/curl", "wall/floor", "cpu/floor", "wall/dfloor"
    for (i = 1; i <= NR; i++) {
      n = name[i]
      if (!(n in w)) { printf "  %-8s not measured (see above)\n", n; continue }
      printf "  %-8s %9.3f %9.3f %10d   %10s %10s   %10s %10s   %11s\n", n, w[n], c[n], m[n],
        ratio(w[n] * s[n], w["curl"]), ratio(c[n] * s[n], c["curl"]),
        ratio(w[n] * s[n], w["floor"]), ratio(c[n] * s[n], c["floor"]), ratio(w[n] * s[n], w["dfloor"])
    }
    print ""
    printf "  floor spread (interquartile range / median): %.1f%%   (max - min: %.1f%%)\n", spread * 100,
      range * 100
    if (spread > 0.10) {
      print "  this machine is too noisy to tell: the middle half of the floor runs spreads over more than 10%; no verdict"
      exit
    }
    printf "  httpget / floor:  wall %s  cpu %s   (goal: at most 1.05 and 1.10, and under curl: %s)\n",
      ratio(w["httpget"], w["floor"]), ratio(c["httpget"], c["floor"]), ratio(w["httpget"], w["curl"])
    printf "  dfloor / floor:   wall %s  cpu %s   what writing the file durably costs here\n",
      ratio(w["dfloor"], w["floor"]), ratio(c["dfloor"], c["floor"])
    if ("window" in w)
      printf "  window / dfloor:  wall %s  (cpu %s)   (goal: at most 1.05)\n", ratio(w["window"] * scale, w["dfloor"]),
        ratio(c["window"] * scale, c["dfloor"])
  }'
if [ "$CORVANE_BENCH_TLS" = 1 ]; then
  echo
  echo "over https (TLS on loopback; the window's download host redirects to it), beside plain http:"
  for k in floor dfloor httpget curl window floor-tls dfloor-tls httpget-tls curl-tls window-tls \
    window-link window-tls-link; do
    echo "$k ${r[$k]:-}"
  done | awk -v sh="$(server_median floor)" -v st="$(server_median floor-tls)" -v cores="$(nproc)" '
  function ratio(a, b) { return b > 0 ? sprintf("%.2f", a / b) : "n/a" }
  { name[NR] = $1 }
  NF > 1 { w[$1] = $2; c[$1] = $3; m[$1] = $4 }
  END {
    printf "  %-16s %9s %9s %10s\n", "", "wall s", "cpu s", "peak KiB"
    for (i = 6; i <= NR; i++) {
      n = name[i]
      if (!(n in w)) { printf "  %-16s not measured (see above)\n", n; continue }
      printf "  %-16s %9.3f %9.3f %10d\n", n, w[n], c[n], m[n]
    }
    printf "  httpget-tls / curl-tls:  wall %s  cpu %s   (goal: at most 1.00 both)\n",
      ratio(w["httpget-tls"], w["curl-tls"]), ratio(c["httpget-tls"], c["curl-tls"])
    printf "  httpget-tls / httpget:   wall %s  cpu %s   peak %d KiB against %d KiB (goal: memory flat)\n",
      ratio(w["httpget-tls"], w["httpget"]), ratio(c["httpget-tls"], c["httpget"]), m["httpget-tls"], m["httpget"]
    printf "  window-tls / window:     wall %s  cpu %s   (goal: wall at most 1.10)\n",
      ratio(w["window-tls"], w["window"]), ratio(c["window-tls"], c["window"])
    # On loopback nginx encrypts on the same cores the client decrypts on: what TLS costs the floors
    # and curl here is the yardstick for what it costs the window.
    printf "  curl-tls / curl:         wall %s  cpu %s   what TLS costs curl on this machine\n",
      ratio(w["curl-tls"], w["curl"]), ratio(c["curl-tls"], c["curl"])
    printf "  floor-tls / floor:       wall %s  cpu %s   what TLS costs the least client\n",
      ratio(w["floor-tls"], w["floor"]), ratio(c["floor-tls"], c["floor"])
    printf "  dfloor-tls / dfloor:     wall %s  cpu %s   the same, the file made durable as the window does\n",
      ratio(w["dfloor-tls"], w["dfloor"]), ratio(c["dfloor-tls"], c["dfloor"])
    printf "  window-tls / dfloor-tls: wall %s  cpu %s\n",
      ratio(w["window-tls"], w["dfloor-tls"]), ratio(c["window-tls"], c["dfloor-tls"])
    # Both sides busy at once on the same cores: the least wall any client can reach here.
    printf "  nginx a download: %.3f s cpu over http, %.3f s over https; on %d cores the floor over\n", sh, st, cores
    printf "  https needs at least (its cpu + the server cpu) / cores = %.3f s, %s times the window over http\n",
      (c["floor-tls"] + st) / cores, ratio((c["floor-tls"] + st) / cores, w["window"])
    if ("window-link" in w && "window-tls-link" in w)
      printf "  over a 1 Gbit/s link: window %.3f s, window-tls %.3f s: wall %s\n", w["window-link"],
        w["window-tls-link"], ratio(w["window-tls-link"], w["window-link"])
  }'
fi
echo
echo "reply held back ${delay} s:"
for k in httpget curl; do
  read -r w c _ <<<"${r[late_$k]}"
  printf '  %-8s wall %.3f s  cpu %.6f s\n' "$k" "$w" "$c"
done
echo "start-up, a 1 KiB file (median of $starts runs; over https too, whose peak beside the big file's shows memory flat):"
for k in httpget curl httpget-tls curl-tls; do
  [ -n "${r[start_$k]:-}" ] || continue
  read -r w c m <<<"${r[start_$k]}"
  printf '  %-12s wall %.4f s  cpu %.4f s  peak %d KiB\n' "$k" "$w" "$c" "$m"
done
read -r _ ch _ <<<"${r[start_httpget]}"
read -r _ cc _ <<<"${r[start_curl]}"
awk -v a="$ch" -v b="$cc" 'BEGIN { printf "  httpget / curl: cpu %.2f\n", a / b }'
