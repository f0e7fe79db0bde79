#!/usr/bin/env bash
# What a silent IPv6 address costs a connect: Connect to a name whose IPv6 address takes no
# connection and whose IPv4 address works, against Connect to the IPv4 address itself, in a
# private network and mount namespace whose /etc/hosts gives the name both addresses.
#   bench/happy_eyeballs/run.sh [BUILD_DIR]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
bench=$build/bench/happy_eyeballs/happy_eyeballs_bench
[ -x "$bench" ] || { echo "build it first: cmake --build $build --target happy_eyeballs_bench" >&2; exit 1; }
if [ -z "${CORVANE_BENCH_INSIDE:-}" ]; then
  ns=(unshare --mount --net)
  [ "$(id -u)" -eq 0 ] || ns=(unshare --map-root-user --mount --net)
  CORVANE_BENCH_INSIDE=1 exec "${ns[@]}" bash "$0" "$build"
fi
ip link set lo up
hosts=$(mktemp)
trap 'rm -f "$hosts"' EXIT
printf '127.0.0.1 localhost\n::1 dual.test\n127.0.0.1 dual.test\n' >"$hosts"
mount --bind "$hosts" /etc/hosts
"$bench" dual.test
