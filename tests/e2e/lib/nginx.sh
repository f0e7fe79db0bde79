# Starts a private nginx on a free loopback port for end-to-end tests and benchmarks.
#
#   source tests/e2e/lib/nginx.sh
#   nginx_start DOCROOT [EXTRA_SERVER_DIRECTIVES] [MORE_SERVERS]
#                                                   # sets NGINX_PORT, NGINX_URL, NGINX_DIR, NGINX_PID
#   ...  curl "$NGINX_URL/file"
#   nginx_stop                                      # also runs from an EXIT trap set by nginx_start
#                                                   # (unless NGINX_NO_TRAP is set: then call it yourself)
#   nginx_tls_server PORT CERTDIR/NAME [PROTOCOLS] [DIRECTIVES]
#                                                   # prints a TLS server block for MORE_SERVERS
#
# nginx runs in the foreground (daemon off) with its own prefix, config, pid file, logs and temp
# folders under NGINX_DIR, so several tests and a system nginx never share anything. EXTRA text is
# inserted into the server block (e.g. 'location /slow/ { limit_rate 1k; }'); MORE_SERVERS into the
# http block, beside it. Every server serves DOCROOT.
# nginx_start returns 77 (the skip code) when no nginx binary is found.

NGINX_BIN=${NGINX_BIN:-$(command -v nginx || echo /usr/sbin/nginx)}

_nginx_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

_nginx_write_conf() {
  local docroot=$1 extra=$2 port=$3 servers=$4 user_line=""
  # Workers of a root-started nginx drop to "nobody", which cannot read private temp folders.
  [ "$(id -u)" -eq 0 ] && user_line="user root root;"
  cat >"$NGINX_DIR/nginx.conf" <<EOF
$user_line
daemon off;
master_process on;
worker_processes 1;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/error.log warn;
events { worker_connections 256; }
http {
  include /etc/nginx/mime.types;
  default_type application/octet-stream;
  access_log $NGINX_DIR/access.log;
  client_body_temp_path $NGINX_DIR/tmp/body;
  proxy_temp_path $NGINX_DIR/tmp/proxy;
  fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
  uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
  scgi_temp_path $NGINX_DIR/tmp/scgi;
  sendfile on;
  root $docroot;
  server {
    listen 127.0.0.1:$port;
    server_name localhost;
    $extra
  }
  $servers
}
EOF
}

nginx_start() {
  local docroot extra=${2:-} servers=${3:-} attempt i
  [ -x "$NGINX_BIN" ] || { echo "nginx not found" >&2; return 77; }
  docroot=$(cd "$1" && pwd)
  NGINX_DIR=$(mktemp -d "${TMPDIR:-/tmp}/corvane-nginx-XXXXXX")
  mkdir -p "$NGINX_DIR/tmp" "$NGINX_DIR/logs"
  # The port is free when chosen but another process may take it before nginx binds: retry.
  for attempt in 1 2 3 4 5; do
    NGINX_PORT=$(_nginx_free_port)
    _nginx_write_conf "$docroot" "$extra" "$NGINX_PORT" "$servers"
    "$NGINX_BIN" -p "$NGINX_DIR" -c "$NGINX_DIR/nginx.conf" >"$NGINX_DIR/stdout.log" 2>&1 &
    NGINX_PID=$!
    for i in $(seq 1 100); do
      if ! kill -0 "$NGINX_PID" 2>/dev/null; then break; fi
      if (exec 3<>"/dev/tcp/127.0.0.1/$NGINX_PORT") 2>/dev/null; then
        NGINX_URL="http://127.0.0.1:$NGINX_PORT"
        export NGINX_PORT NGINX_URL NGINX_DIR NGINX_PID
        [ -n "${NGINX_NO_TRAP:-}" ] || trap nginx_stop EXIT
        return 0
      fi
      sleep 0.05
    done
    kill "$NGINX_PID" 2>/dev/null
    wait "$NGINX_PID" 2>/dev/null
  done
  echo "nginx did not start:" >&2
  cat "$NGINX_DIR/error.log" "$NGINX_DIR/stdout.log" >&2 2>/dev/null
  return 1
}

nginx_stop() {
  if [ -n "${NGINX_PID:-}" ]; then
    kill -TERM "$NGINX_PID" 2>/dev/null
    wait "$NGINX_PID" 2>/dev/null
    NGINX_PID=""
  fi
  if [ -n "${NGINX_DIR:-}" ] && [ -d "$NGINX_DIR" ]; then
    rm -rf "$NGINX_DIR"
    NGINX_DIR=""
  fi
}

# A server of https on 127.0.0.1:PORT with the certificate CERTDIR/NAME.pem and its key (as
# tests/support/tls/make-certs.sh makes them), TLS 1.2 and 1.3 unless PROTOCOLS names others;
# DIRECTIVES go inside it. Its requests are logged in logs/tls.log of NGINX_DIR. A server of old
# (PROTOCOLS "TLSv1") also needs OpenSSL's lowest security level for its ciphers.
nginx_tls_server() { # PORT CERTDIR/NAME [PROTOCOLS] [DIRECTIVES]
  local protocols=${3:-TLSv1.2 TLSv1.3} ciphers=""
  case " $protocols " in *" TLSv1 "* | *" TLSv1.1 "*) ciphers="ssl_ciphers DEFAULT:@SECLEVEL=0;" ;; esac
  cat <<EOF
server {
    listen 127.0.0.1:$1 ssl;
    server_name localhost;
    ssl_certificate $2.pem;
    ssl_certificate_key $2.key;
    ssl_protocols $protocols;
    $ciphers
    access_log logs/tls.log;
    ${4:-}
  }
EOF
}
