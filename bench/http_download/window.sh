#!/usr/bin/env bash
# The installer's own download: the Linux program on a private Xvfb display, only the blockchain
# box ticked, timed from the press of Next to the archive in place, run after run in a fresh
# prefix. As in tests/e2e/installer_e2e.sh, the built-in download host is loopback inside a
# private network and mount namespace, and the archive is a shell script (padded to SIZE_MB) that
# stands in for the real one. That script notes the time and reads the installer's CPU and peak
# memory while the installer waits for it. With "https", the download host redirects to https on
# 443 (a certificate from a test root that the namespace's system store trusts). With RATE (tc's
# notation, "1gbit"), the namespace's loopback carries no more than that: a link, not a memory copy.
#
#   [RATE=1gbit] bench/http_download/window.sh BUILD_DIR SIZE_MB RUNS [DISPLAY_NUMBER] [https]
#
# Prints each run on stderr and the medians "wall cpu peak_kib" on stdout; exits 77 when it
# cannot run here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "$1" && pwd)
size_mb=$2 runs=$3 display=${4:-} scheme=${5:-http}
url=$(sed -n 's/^CORVANE_DOWNLOAD_URL:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
skip() { echo "window: skipped, $*" >&2; exit 77; }

if [ -z "${CORVANE_BENCH_INSIDE:-}" ]; then
  for tool in Xvfb xdotool nginx unshare ip; do command -v "$tool" >/dev/null || skip "no $tool"; done
  [ -x "$build/corvane-setup" ] || skip "no $build/corvane-setup"
  case $url in http://*/*) ;; *) skip "the build's download URL '$url' is not plain http" ;; esac
  grep -q '^CORVANE_PUBLIC_KEY:[A-Z]*=.' "$build/CMakeCache.txt" && skip "the build checks signed downloads"
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount --net); else ns=(unshare --map-root-user --mount --net); fi
  "${ns[@]}" true 2>/dev/null || skip "no private network and mount namespace here"
  CORVANE_BENCH_INSIDE=1 exec "${ns[@]}" bash "$0" "$@"
fi

ip link set lo up
if [ -n "${RATE:-}" ]; then
  tc qdisc add dev lo root tbf rate "$RATE" burst 1mb latency 20ms || skip "tc cannot shape the loopback"
fi
hostport=${url#http://} && hostport=${hostport%%/*}
host=${hostport%%:*} port=80
[ "$host" != "$hostport" ] && port=${hostport#*:}
path=${url#http://"$hostport"}
work=$(mktemp -d "${TMPDIR:-/tmp}/window-bench-XXXXXX")
printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$host" >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts

source "$root/tests/e2e/lib/nginx.sh"
source "$root/tests/e2e/lib/desktop.sh"
cleanup() {
  app_kill
  xvfb_stop
  nginx_stop
  rm -rf "$work"
}
NGINX_NO_TRAP=1
trap cleanup EXIT

mkdir -p "$work/www$path"
archive=$work/www$path/cvnchain.exe
cat >"$archive" <<SCRIPT
#!/bin/sh
date +%s.%N >"$work/ran"
python3 "$root/bench/measure.py" proc \$PPID >>"$work/ran"
exit 0
SCRIPT
head -c "$((size_mb * 1024 * 1024 - $(stat -c %s "$archive")))" /dev/urandom >>"$archive"
redirect="" tls=""
if [ "$scheme" = https ]; then
  "$root/tests/support/tls/make-certs.sh" "$work/certs" >/dev/null 2>&1
  source "$root/tests/support/tls/trust.sh"
  TMPDIR=$work tls_trust_root "$work/certs/root.pem"
  redirect="location / { return 301 https://\$host\$request_uri; }"
  tls=$(nginx_tls_server 443 "$work/certs/good")
fi
nginx_start "$work/www" "listen 127.0.0.1:$port; $redirect" "$tls" >&2
cat "$archive" >/dev/null
xvfb_start "$display"

# A click whose release (Qt acts on it) is timed as it is sent: xdotool sleeps 100 ms after a
# click before it ends, and its own start-up comes before the press.
click='import ctypes, time
x11, xtst = ctypes.CDLL("libX11.so.6"), ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
d = ctypes.c_void_p(x11.XOpenDisplay(None))
xtst.XTestFakeButtonEvent(d, 1, 1, 0)
x11.XFlush(d)
time.sleep(0.012)
t0 = time.time()
xtst.XTestFakeButtonEvent(d, 1, 0, 0)
x11.XFlush(d)
print("%.6f" % t0)'

export HOME=$work/home
unset APPDATA
roaming=$work/prefix/drive_c/users/$(id -un)/AppData/Roaming
: >"$work/runs"
for i in $(seq 1 "$runs"); do
  rm -rf "$work/prefix" "$work/ran"
  mkdir -p "$roaming" "$HOME"
  # The installer waits for the disk to have the archive; other files' writes still queued for the
  # disk (the served copy just made, the last run's) are not its own.
  sync
  WINEPREFIX=$work/prefix app_start "$build/corvane-setup" "$work/app.out"
  app_click 34 126 # CheckBox2 "blockchain"
  xdotool mousemove --window "$APP_WID" 389 152
  read -r cpu0 _ <<<"$(python3 "$root/bench/measure.py" proc "$APP_PID")"
  t0=$(python3 -c "$click") # Button1 "Next"
  for ((t = 0; t < 6000; t++)); do
    [ "$(wc -l 2>/dev/null <"$work/ran")" = 2 ] && break
    sleep 0.1
  done
  [ "$t" -lt 6000 ] || { cat "$work/app.out" >&2; echo "window: the archive did not run" >&2; exit 1; }
  cmp -s "$archive" "$roaming/cvnchain.exe" || { echo "window: the archive differs" >&2; exit 1; }
  { read -r t1; read -r cpu1 peak; } <"$work/ran"
  awk -v t0="$t0" -v t1="$t1" -v c0="$cpu0" -v c1="$cpu1" -v m="$peak" \
    'BEGIN { printf "%.6f %.3f %d\n", t1 - t0, c1 - c0, m }' | tee -a "$work/runs" |
    { read -r w c m; printf 'window %-5s run %d: wall %7.3f s  cpu %7.3f s  peak %8d KiB\n' "$scheme" "$i" "$w" "$c" "$m" >&2; }
  app_close || true
done
python3 -c 'import statistics, sys
rows = [list(map(float, l.split())) for l in sys.stdin]
w, c, m = (statistics.median(col) for col in zip(*rows))
print("%.6f %.3f %d" % (w, c, m))' <"$work/runs"
