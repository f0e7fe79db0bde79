#!/usr/bin/env bash
# The pause between the server's last byte of a signed archive and the archive's start: the keyed
# Linux installer on a private Xvfb display, only the blockchain box ticked, its download host
# loopback inside a private network and mount namespace (as tests/e2e/installer_e2e.sh). The
# archive is a shell script padded to SIZE_MB that notes the time it starts; the server
# (serve.py) notes when it sent the last byte. Prints each run and the median.
#
#   SIGNING_KEY=KEY.pem bench/signed_archive/run.sh [BUILD_DIR]    (default: build)
#     SIZE_MB=1024 RUNS=3
# The build needs a key: corvane-setup-keyed (CORVANE_TEST_PUBLIC_KEY) or a corvane-setup built
# with CORVANE_PUBLIC_KEY; SIGNING_KEY is its private half.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
size_mb=${SIZE_MB:-1024} runs=${RUNS:-3}
url=$(sed -n 's/^CORVANE_DOWNLOAD_URL:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
die() { echo "signed_archive: $*" >&2; exit 1; }

if [ -z "${CORVANE_BENCH_INSIDE:-}" ]; then
  for tool in Xvfb xdotool unshare ip openssl python3; do command -v "$tool" >/dev/null || die "no $tool"; done
  [ -r "${SIGNING_KEY:-}" ] || die "SIGNING_KEY names no private key"
  case $url in http://*/*) ;; *) die "the build's download URL '$url' is not plain http" ;; esac
  if [ "$(id -u)" -eq 0 ]; then ns=(unshare --mount --net); else ns=(unshare --map-root-user --mount --net); fi
  "${ns[@]}" true 2>/dev/null || die "no private network and mount namespace here"
  SIGNING_KEY=$(cd "$(dirname "$SIGNING_KEY")" && pwd)/$(basename "$SIGNING_KEY") \
    CORVANE_BENCH_INSIDE=1 exec "${ns[@]}" bash "$0" "$@"
fi

setup=$build/corvane-setup-keyed
[ -x "$setup" ] || setup=$build/corvane-setup
ip link set lo up
hostport=${url#http://} && hostport=${hostport%%/*}
host=${hostport%%:*} port=80
[ "$host" != "$hostport" ] && port=${hostport#*:}
work=$(mktemp -d "${TMPDIR:-/tmp}/signed-archive-bench-XXXXXX")
printf '127.0.0.1 localhost\n127.0.0.1 %s\n' "$host" >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts

source "$root/tests/e2e/lib/desktop.sh"
server=""
cleanup() {
  # Each step runs whatever the one before it returned (a killed installer's status, say).
  set +e
  app_kill
  xvfb_stop
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

mkdir -p "$work/www"
archive=$work/www/cvnchain.exe
printf '#!/bin/sh\ndate +%%s.%%N >"%s"\nexit 0\n' "$work/ran" >"$archive"
echo "making a ${size_mb} MiB archive of random bytes and signing it..." >&2
head -c "$((size_mb * 1024 * 1024 - $(stat -c %s "$archive")))" /dev/urandom >>"$archive"
"$root/scripts/sign-downloads.sh" "$SIGNING_KEY" "$work/www"
python3 "$here/serve.py" "$work/www" "$port" "$work/sent" &
server=$!
for ((i = 0; i < 100; i++)); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done
xvfb_start

export HOME=$work/home
unset APPDATA
roaming=$work/prefix/drive_c/users/$(id -un)/AppData/Roaming
: >"$work/pauses"
for i in $(seq 1 "$runs"); do
  rm -rf "$work/prefix" "$work/ran" "$work/sent"
  mkdir -p "$roaming" "$HOME"
  sync
  WINEPREFIX=$work/prefix app_start "$setup" "$work/app.out"
  # Clicks before the window has finished its start-up can be lost.
  app_wait_log "C:\\Corvane\\ app directory found is: false" 30 || die "the window did not start up"
  app_click 34 126 # CheckBox2 "blockchain"
  app_click 389 152 # Button1 "Next"
  for ((t = 0; t < 3000; t++)); do
    [ -s "$work/ran" ] && break
    [ "$t" = 100 ] && ! [ -s "$work/sent" ] && die "the press of Next asked for nothing within 10 s"
    sleep 0.1
  done
  [ -s "$work/ran" ] || { cat "$work/app.out" >&2; die "the archive did not run"; }
  last=$(awk '$1 == "cvnchain.exe" { print $2 }' "$work/sent")
  [ -n "$last" ] || die "the server sent no whole archive"
  cmp -s "$archive" "$roaming/cvnchain.exe" || die "the archive differs"
  awk -v a="$last" -v b="$(cat "$work/ran")" 'BEGIN { printf "%.3f\n", b - a }' | tee -a "$work/pauses" |
    { read -r p; printf 'run %d: %s s from the last byte sent to the archive'"'"'s start\n' "$i" "$p"; }
  app_close || true
done
sort -n "$work/pauses" | awk '{ v[NR] = $1 } END {
  printf "median of %d runs, %d MiB signed archive: %.3f s (target <= 0.35 s)\n", NR, '"$size_mb"', v[int((NR + 1) / 2)] }'
