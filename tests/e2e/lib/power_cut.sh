# A power cut in the middle of the blockchain archive's download, made the way a file system may
# leave one, for installer_power_cut_e2e.sh and its Wine twin. CORVANE_POWER_CUT_MIB sets the
# archive's size (default 64), CORVANE_ZEROS_MIB the zeros written past the durable length
# (default 20).
#
#   power_cut_serve HEAD PORT     # $work/www/downloads/cvnchain.exe: the program HEAD (a file)
#                                 # and random bytes; nginx on PORT, slow past half of it
#   power_cut_kill PID PART       # once PART holds half the archive: SIGKILL to PID, then zeros
#                                 # over the tail past the recorded durable length, longer than
#                                 # PART was; sets KILLED and DURABLE
#   power_cut_check PART LOG      # the second run's archive, log and the bytes fetched twice
# failx is the test's own.

mib=$((1 << 20))
power_cut_mib=${CORVANE_POWER_CUT_MIB:-64}
power_cut_half=$((power_cut_mib / 2))

power_cut_serve() {
  POWER_CUT_ARCHIVE=$work/www/downloads/cvnchain.exe
  mkdir -p "$work/www/downloads"
  { cat "$1"; head -c $((power_cut_mib * mib)) /dev/urandom; } >"$POWER_CUT_ARCHIVE"
  [ -z "${CORVANE_SIGNING_KEY:-}" ] ||
    "$src/scripts/sign-downloads.sh" "$CORVANE_SIGNING_KEY" "$work/www/downloads" ||
    fail "cannot sign the downloads"
  # The first request runs at full speed to half the archive, then slowly, so that the kill comes
  # there; a request for the rest runs at full speed.
  nginx_start "$work/www" "listen 127.0.0.1:$2;
    location = /downloads/cvnchain.exe {
      if (\$http_range = '') { limit_rate_after ${power_cut_half}m; limit_rate 2m; } }" ||
    fail "nginx did not start"
}

power_cut_kill() {
  local i
  for ((i = 0; i < 1800; i++)); do
    [ "$(stat -c %s "$2" 2>/dev/null || echo 0)" -gt $(((power_cut_half + 2) * mib)) ] && break
    kill -0 "$1" 2>/dev/null || failx "the installer ended before half the archive"
    sleep 0.1
  done
  kill -KILL "$1"
  wait "$1" 2>/dev/null
  KILLED=$(stat -c %s "$2")
  DURABLE=$(tr -d '\r' <"$2.total" | sed -n 's/^durable \([0-9]*\)$/\1/p')
  [ -n "$DURABLE" ] || failx "no durable length beside the part: $(cat "$2.total" 2>&1)"
  [ "$DURABLE" -ge $((8 * mib)) ] && [ "$DURABLE" -le "$KILLED" ] ||
    failx "durable length $DURABLE for a part of $KILLED bytes"
  head -c $((${CORVANE_ZEROS_MIB:-20} * mib)) /dev/zero |
    dd of="$2" bs=1M seek="$DURABLE" oflag=seek_bytes conv=notrunc status=none
  [ "$(stat -c %s "$2")" -gt "$KILLED" ] || failx "the damaged part is no longer than the killed one"
}

power_cut_check() {
  local size served twice lost
  tr -d '\r' <"$2" | grep -qxF "resuming download from byte $DURABLE" ||
    failx "the second run did not continue from the durable length $DURABLE"
  [ ! -e "$1" ] && [ ! -e "$1.total" ] || failx "the part or its record stayed"
  size=$(stat -c %s "$POWER_CUT_ARCHIVE")
  served=$(awk '$7 == "/downloads/cvnchain.exe" { s += $10 } END { print s + 0 }' "$NGINX_DIR/access.log")
  twice=$((served - size))
  lost=$((KILLED - DURABLE))
  echo "archive $size bytes; killed with $KILLED on the disk, $DURABLE durable;" \
    "$((${CORVANE_ZEROS_MIB:-20} * mib)) zeros written past it"
  echo "bytes fetched twice: $twice (past the durable length at the kill: $lost)"
  [ "$twice" -le $((lost + 8 * mib)) ] ||
    failx "fetched $twice bytes twice, more than the $lost past the durable length and 8 MiB"
}
