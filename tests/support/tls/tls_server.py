#!/usr/bin/env python3
"""Loopback HTTPS servers for the TLS tests, one port each, around a command.

  tls_server.py CERTDIR COMMAND [ARGS...]

CERTDIR holds the certificates of make-certs.sh. For the command's run, CORVANE_TLS_PORT_<NAME>
names the port of each server (127.0.0.1):

  GOOD, EXPIRED, WRONGHOST, SELFSIGNED, UNKNOWN   that certificate, TLS 1.2 and 1.3
  TLS10                                           the good certificate, TLS 1.0 only
  REVOKED                                         from the test root, revoked in the list its
                                                  certificate names (served over http here)
  CUT                                             the good certificate; every reply ends with a
                                                  plain close, no close_notify

Each answers GET /len/N with Content-Length N and N bytes, GET /nolen/N with N bytes and no length
(the end is the close, after close_notify but on CUT), GET /to/URL with a 302 to URL whose short
body has no length, GET /status/N with status N, no length and no body, anything else with
"hello\\n". HEAD gets the header GET would, without the body. The body's bytes are i % 251 for
i = 0, 1, ... The exit code is the command's.
"""
import http.server
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import warnings

warnings.filterwarnings("ignore", category=DeprecationWarning)  # TLS 1.0 is the point of TLS10

VARIANTS = {
    "GOOD": "good", "EXPIRED": "expired", "WRONGHOST": "wronghost", "SELFSIGNED": "selfsigned",
    "UNKNOWN": "unknown", "TLS10": "good", "CUT": "good", "REVOKED": "revoked",
}
PATTERN = bytes(i % 251 for i in range(251 * 1024))


def body(n):
    out = bytearray()
    while len(out) < n:
        out += PATTERN[: n - len(out)]
    return bytes(out)


def context(certdir, name, variant):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    chain = os.path.join(certdir, name + ".pem")
    ctx.load_cert_chain(chain, os.path.join(certdir, name + ".key"))
    if variant == "TLS10":
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        ctx.minimum_version = ssl.TLSVersion.TLSv1
        ctx.maximum_version = ssl.TLSVersion.TLSv1
    else:
        ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    return ctx


def serve(conn, ctx, variant):
    try:
        tls = ctx.wrap_socket(conn, server_side=True)
    except (ssl.SSLError, OSError):
        conn.close()
        return
    try:
        request = b""
        while b"\r\n\r\n" not in request:
            data = tls.recv(65536)
            if not data:
                return
            request += data
        words = request.split(b" ")
        method = words[0]
        path = words[1].decode() if len(words) > 1 else "/"
        parts = path.strip("/").split("/")
        length = True
        status = b"200 OK"
        if path.startswith("/to/"):
            status = b"302 Found\r\nLocation: " + path[4:].encode()
            data, length = b"moved\n", False
        elif len(parts) == 2 and parts[0] == "status" and parts[1].isdigit():
            status = parts[1].encode() + b" Status"
            data, length = b"", False
        elif len(parts) == 2 and parts[0] in ("len", "nolen") and parts[1].isdigit():
            data = body(int(parts[1]))
            length = parts[0] == "len"
        else:
            data = b"hello\n"
        head = b"HTTP/1.0 " + status + b"\r\n"
        if length:
            head += b"Content-Length: %d\r\n" % len(data)
        tls.sendall(head + b"\r\n" + (b"" if method == b"HEAD" else data))
        if variant == "CUT":
            tls.close()  # no close_notify: the TCP connection just ends
            return
        try:
            tls.unwrap().close()
        except (ssl.SSLError, OSError):
            tls.close()
    except (ssl.SSLError, OSError):
        tls.close()


def listen(certdir, variant):
    ctx = context(certdir, VARIANTS[variant], variant)
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)

    def accept():
        while True:
            conn, _ = sock.accept()
            threading.Thread(target=serve, args=(conn, ctx, variant), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return sock.getsockname()[1]


def revoked_certificate(certdir, work):
    """Issues WORK/revoked.{pem,key} from the test root of CERTDIR and revokes it in a list served
    over http on loopback, at the address the certificate names for its revocation list."""
    crl = bytearray()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "application/pkix-crl")
            self.send_header("Content-Length", str(len(crl)))
            self.end_headers()
            self.wfile.write(bytes(crl))

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/root.crl" % server.server_address[1]
    with open(os.path.join(work, "ca.cnf"), "w") as cnf:
        cnf.write(f"""[ca]
default_ca = test
[test]
database = {work}/index.txt
new_certs_dir = {work}
serial = {work}/serial
crlnumber = {work}/crlnumber
default_md = sha256
default_days = 30
default_crl_days = 1
policy = any
x509_extensions = leaf
[any]
commonName = supplied
[leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:download.corvane.org,DNS:localhost,IP:127.0.0.1,IP:::1
crlDistributionPoints = URI:{url}
""")
    open(os.path.join(work, "index.txt"), "w").close()
    # A serial of its own each time: Windows keeps the revocation status it learned per certificate.
    for name, value in (("serial", os.urandom(8).hex() + "\n"), ("crlnumber", "01\n")):
        with open(os.path.join(work, name), "w") as f:
            f.write(value)
    ca = ["-config", os.path.join(work, "ca.cnf"), "-cert", os.path.join(certdir, "root.pem"),
          "-keyfile", os.path.join(certdir, "root.key")]
    pem, key = os.path.join(work, "revoked.pem"), os.path.join(work, "revoked.key")
    for args in (
        ["genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key],
        ["req", "-new", "-key", key, "-subj", "/CN=localhost", "-out", pem + ".csr"],
        ["ca", "-batch", "-notext", *ca, "-in", pem + ".csr", "-out", pem],
        ["ca", *ca, "-revoke", pem],
        ["ca", *ca, "-gencrl", "-out", pem + ".crl"],
    ):
        subprocess.run(["openssl", *args], check=True, capture_output=True)
    der = subprocess.run(["openssl", "crl", "-in", pem + ".crl", "-outform", "DER"],
                         check=True, capture_output=True).stdout
    crl.extend(der)


def main():
    certdir, command = sys.argv[1], sys.argv[2:]
    env = dict(os.environ)
    work = tempfile.mkdtemp(prefix="corvane-revoked-")
    try:
        revoked_certificate(certdir, work)
        for variant in VARIANTS:
            where = work if variant == "REVOKED" else certdir
            env["CORVANE_TLS_PORT_" + variant] = str(listen(where, variant))
        status = subprocess.call(command, env=env)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(status)


if __name__ == "__main__":
    main()
