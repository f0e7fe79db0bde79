#!/usr/bin/env bash
# For the publisher: writes SHA256SUMS, the list of every file in DIR with its SHA-256 and size,
# a serial and an expiry time, and SHA256SUMS.sig, its ECDSA P-256 signature made with KEY.pem,
# into DIR. Installers built with the matching public key install only what the list names, and
# refuse a list older than one they accepted before or past its expiry.
#   scripts/sign-downloads.sh [--serial N] [--expires YYYY-MM-DDTHH:MM:SSZ] KEY.pem DIR
# The serial defaults to the time of signing in seconds since 1970, the expiry to 90 days on.
set -euo pipefail
usage() { echo "usage: $0 [--serial N] [--expires YYYY-MM-DDTHH:MM:SSZ] KEY.pem DIR" >&2; exit 2; }
now=$(date -u +%s)
serial=$now
expires=$(date -u -d "@$((now + 90 * 86400))" +%Y-%m-%dT%H:%M:%SZ)
while [ $# -gt 0 ]; do
  case $1 in
  --serial) [ $# -ge 2 ] || usage; serial=$2; shift 2 ;;
  --expires) [ $# -ge 2 ] || usage; expires=$2; shift 2 ;;
  --) shift; break ;;
  -*) usage ;;
  *) break ;;
  esac
done
[ $# -eq 2 ] || usage
[[ $serial =~ ^[0-9]{1,18}$ ]] || { echo "$0: the serial must be a decimal number of at most 18 digits" >&2; exit 2; }
[[ $expires =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] &&
  [ "$(date -u -d "${expires%Z}Z" +%Y-%m-%dT%H:%M:%SZ 2>/dev/null)" = "$expires" ] ||
  { echo "$0: the expiry must be a UTC time as YYYY-MM-DDTHH:MM:SSZ" >&2; exit 2; }
key=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cd "$2"
files=()
while IFS= read -r -d '' f; do
  f=${f#./}
  case $f in SHA256SUMS | SHA256SUMS.sig | SHA256SUMS.tmp) continue ;; esac
  case $f in *\\* | *[[:cntrl:]]*) echo "$0: cannot list a file name with a backslash or control character: $f" >&2; exit 1 ;; esac
  files+=("$f")
done < <(find . -maxdepth 1 -type f -print0 | LC_ALL=C sort -z)
[ ${#files[@]} -gt 0 ] || { echo "$0: no files in $2" >&2; exit 1; }
{
  echo "serial $serial"
  echo "expires $expires"
  for f in "${files[@]}"; do
    sum=$(sha256sum -- "$f")
    echo "${sum%% *} $(stat -c %s -- "$f") $f"
  done
} >SHA256SUMS.tmp
openssl dgst -sha256 -sign "$key" -out SHA256SUMS.sig SHA256SUMS.tmp
mv SHA256SUMS.tmp SHA256SUMS
