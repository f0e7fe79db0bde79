# Starts a private squid on a free loopback port: the download host resolves only through the
# proxy's own hosts file, with Basic credentials checked when a user is given.
#
#   source tests/e2e/lib/squid.sh
#   squid_start HOST [USER PASSWORD]   # sets SQUID_PORT, SQUID_DIR, SQUID_PID; 77 without squid
#   squid_requests                     # the access log since the last squid_mark:
#                                      # "STATUS METHOD URL USER" a request
#   squid_mark                         # later requests only, from here on
#   squid_saw REGEX                    # squid_requests has a line matching REGEX within 5 s
#   squid_stop
#
# squid runs in the foreground with its own config, pid file, logs and no disk cache under
# SQUID_DIR; a system squid is never touched. Started as root it works as the user "proxy", who
# owns SQUID_DIR.

SQUID_BIN=${SQUID_BIN:-$(command -v squid || echo /usr/sbin/squid)}
SQUID_AUTH=${SQUID_AUTH:-/usr/lib/squid/basic_ncsa_auth}

squid_start() {
  local host=$1 user=${2:-} password=${3:-} auth="" attempt i
  [ -x "$SQUID_BIN" ] || { echo "squid not found" >&2; return 77; }
  SQUID_DIR=$(mktemp -d "${TMPDIR:-/tmp}/corvane-squid-XXXXXX")
  SQUID_SEEN=0
  chmod 755 "$SQUID_DIR"
  printf '127.0.0.1 %s\n' "$host" >"$SQUID_DIR/hosts"
  if [ -n "$user" ]; then
    [ -x "$SQUID_AUTH" ] && command -v htpasswd >/dev/null || { echo "no basic_ncsa_auth or htpasswd" >&2; return 77; }
    htpasswd -bc "$SQUID_DIR/passwd" "$user" "$password" 2>/dev/null || return 1
    auth="auth_param basic program $SQUID_AUTH $SQUID_DIR/passwd
auth_param basic realm Corvane test proxy
acl authed proxy_auth REQUIRED
http_access allow authed"
  else
    auth="http_access allow all"
  fi
  [ "$(id -u)" -eq 0 ] && chown -R proxy: "$SQUID_DIR" 2>/dev/null
  for attempt in 1 2 3 4 5; do
    SQUID_PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
    cat >"$SQUID_DIR/squid.conf" <<EOF
http_port 127.0.0.1:$SQUID_PORT
pid_filename $SQUID_DIR/squid.pid
cache_log $SQUID_DIR/cache.log
access_log stdio:$SQUID_DIR/access.log squid
cache_store_log none
cache deny all
cache_mem 8 MB
coredump_dir $SQUID_DIR
hosts_file $SQUID_DIR/hosts
cache_effective_user proxy
pinger_enable off
netdb_filename none
shutdown_lifetime 0 seconds
$auth
http_access deny all
EOF
    "$SQUID_BIN" -N -f "$SQUID_DIR/squid.conf" >"$SQUID_DIR/stdout.log" 2>&1 &
    SQUID_PID=$!
    for i in $(seq 1 100); do
      kill -0 "$SQUID_PID" 2>/dev/null || break
      if (exec 3<>"/dev/tcp/127.0.0.1/$SQUID_PORT") 2>/dev/null; then
        export SQUID_PORT SQUID_DIR SQUID_PID
        return 0
      fi
      sleep 0.05
    done
    kill "$SQUID_PID" 2>/dev/null
    wait "$SQUID_PID" 2>/dev/null
  done
  echo "squid did not start:" >&2
  cat "$SQUID_DIR/cache.log" "$SQUID_DIR/stdout.log" >&2 2>/dev/null
  return 1
}

SQUID_SEEN=0
squid_requests() {
  tail -n +$((SQUID_SEEN + 1)) "$SQUID_DIR/access.log" 2>/dev/null |
    awk '{ split($4, s, "/"); print s[2], $6, $7, $8 }'
}

# squid logs a request once it has ended.
squid_saw() {
  local i
  for i in $(seq 1 50); do
    squid_requests | grep -qE "$1" && return 0
    sleep 0.1
  done
  return 1
}

squid_mark() {
  SQUID_SEEN=$(wc -l <"$SQUID_DIR/access.log" 2>/dev/null || echo 0)
}

squid_stop() {
  if [ -n "${SQUID_PID:-}" ]; then
    kill -TERM "$SQUID_PID" 2>/dev/null
    wait "$SQUID_PID" 2>/dev/null
    SQUID_PID=""
  fi
  if [ -n "${SQUID_DIR:-}" ] && [ -d "$SQUID_DIR" ]; then
    rm -rf "$SQUID_DIR"
    SQUID_DIR=""
  fi
}
