#!/bin/sh
# Demo blockchain archive: "unpacks" a tiny chain into the wallet's data folder beside it.
here=$(dirname "$0")
dest="$here/Corvane"
echo "Corvane blockchain (demo): unpacking into $dest"
mkdir -p "$dest/blocks" "$dest/chainstate" || exit 1
printf 'cvn demo block 0\n' > "$dest/blocks/blk00000.dat"
printf 'cvn demo chainstate\n' > "$dest/chainstate/CURRENT"
echo "Corvane blockchain (demo): done"
exit 0
