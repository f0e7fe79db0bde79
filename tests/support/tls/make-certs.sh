#!/usr/bin/env bash
# Makes the certificates the TLS tests serve, into DIR (made if missing):
#   root.pem             a test root, trusted only where tls_trust_root adds it (trust.sh)
#   good.{pem,key}       from that root for the names below, valid now
#   expired.{pem,key}    from that root, valid only in 2020
#   wronghost.{pem,key}  from that root, for other.example.org only
#   selfsigned.{pem,key} signed by itself, for the names below
#   unknown.{pem,key}    from a root no store holds, for the names below
# The names: download.corvane.org, localhost, 127.0.0.1 and ::1. Usage: make-certs.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
[ -s good.pem ] && [ -s root.pem ] && exit 0
names="DNS:download.corvane.org,DNS:localhost,IP:127.0.0.1,IP:::1"

key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
root() { # NAME KEY OUT
  key "$2"
  openssl req -x509 -new -key "$2" -subj "/CN=$1" -days 3650 -sha256 -out "$3" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
# Issues NAME.pem for SAN with the CA CAKEY/CAPEM between START and END (YYYYMMDDHHMMSSZ).
issue() { # NAME SAN CAPEM CAKEY START END
  local ca
  ca=$(mktemp -d)
  : >"$ca/index.txt"
  cat >"$ca/ca.cnf" <<CNF
[ca]
default_ca = test
[test]
database = $ca/index.txt
new_certs_dir = $ca
serial = $ca/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
x509_extensions = leaf
[any]
commonName = supplied
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $2
CNF
  openssl rand -hex 8 >"$ca/serial"
  key "$1.key"
  openssl req -new -key "$1.key" -subj "/CN=${2#*:}" -out "$ca/req.csr"
  openssl ca -batch -notext -config "$ca/ca.cnf" -cert "$3" -keyfile "$4" -in "$ca/req.csr" \
    -startdate "$5" -enddate "$6" -out "$1.pem" 2>/dev/null
  rm -rf "$ca"
}

root "Corvane Test Root" root.key root.pem
root "Corvane Unknown Root" unknown-root.key unknown-root.pem
now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+365 days' +%Y%m%d%H%M%SZ)
issue good "$names" root.pem root.key "$now" "$later"
issue expired "$names" root.pem root.key 20200101000000Z 20201231000000Z
issue wronghost "DNS:other.example.org" root.pem root.key "$now" "$later"
issue unknown "$names" unknown-root.pem unknown-root.key "$now" "$later"
key selfsigned.key
openssl req -x509 -new -key selfsigned.key -subj "/CN=download.corvane.org" -days 365 -sha256 \
  -addext "subjectAltName=$names" -out selfsigned.pem
rm -f unknown-root.key
