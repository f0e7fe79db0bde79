#!/usr/bin/env bash
# For the publisher: writes SHA256SUMS (the SHA-256 of every file in DIR) and SHA256SUMS.sig, its
# ECDSA P-256 signature made with KEY.pem, into DIR. Installers built with the matching public
# key install only what the list names.
#   scripts/sign-downloads.sh KEY.pem DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 KEY.pem DIR" >&2; exit 2; }
key=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cd "$2"
files=()
while IFS= read -r -d '' f; do
  f=${f#./}
  case $f in SHA256SUMS | SHA256SUMS.sig | SHA256SUMS.tmp) continue ;; esac
  # sha256sum escapes these two in its list, which the installer does not read.
  case $f in *\\* | *$'\n'*) echo "$0: cannot list a file name with a backslash or line break: $f" >&2; exit 1 ;; esac
  files+=("$f")
done < <(find . -maxdepth 1 -type f -print0 | LC_ALL=C sort -z)
[ ${#files[@]} -gt 0 ] || { echo "$0: no files in $2" >&2; exit 1; }
sha256sum -- "${files[@]}" >SHA256SUMS.tmp
openssl dgst -sha256 -sign "$key" -out SHA256SUMS.sig SHA256SUMS.tmp
mv SHA256SUMS.tmp SHA256SUMS
