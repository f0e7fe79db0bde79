#!/usr/bin/env python3
"""The bundled demo download server: serves a demo launcher, wallet, version file and a small
runnable blockchain archive under /downloads/ on a loopback port, with HTTP/1.0 replies. With
--sign-key it also serves their signed list (SHA256SUMS, SHA256SUMS.sig) and answers range
requests, as a publisher's server would."""
import argparse
import functools
import http.server
import os
import shutil
import re
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO = os.path.join(os.path.dirname(HERE), "demo")


def make_downloads(root):
    downloads = os.path.join(root, "downloads")
    os.makedirs(downloads, exist_ok=True)
    files = {
        "cvnloader.exe": "#!/bin/sh\necho 'Corvane launcher (demo): starting the wallet'\n"
                         "exec \"$(dirname \"$0\")/corvane-qt.exe\"\n",
        # Large enough for the progress bar to be seen moving.
        "corvane-qt.exe": "#!/bin/sh\necho 'Corvane wallet (demo)'\nexit 0\n"
                          + "#" * 79 + "\n" + ("# demo wallet payload " + "." * 57 + "\n") * 20000,
        "version.txt": "1.0.0-demo\n",
    }
    with open(os.path.join(DEMO, "cvnchain.sh"), encoding="utf-8") as f:
        files["cvnchain.exe"] = f.read()
    for name, text in files.items():
        with open(os.path.join(downloads, name), "w", encoding="utf-8") as f:
            f.write(text)
    return downloads


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("demo-server: " + (fmt % args) + "\n")

    def send_head(self):
        # "Range: bytes=N-" on a file: 206 with the rest, 416 past its end; anything else as usual.
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        path = self.translate_path(self.path)
        if not match or not os.path.isfile(path):
            return super().send_head()
        start, size = int(match.group(1)), os.path.getsize(path)
        if start >= size:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{size}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        f = open(path, "rb")
        f.seek(start)
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Length", str(size - start))
        self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
        self.end_headers()
        return f


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=8753, help="0 picks a free port")
    parser.add_argument("--root", help="folder to serve (default: a fresh temporary folder)")
    parser.add_argument("--sign-key", help="publisher's private key (PEM) to sign the files with")
    args = parser.parse_args()
    own_root = not args.root
    root = args.root or tempfile.mkdtemp(prefix="corvane-demo-")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    downloads = make_downloads(root)
    if args.sign_key:
        subprocess.run([os.path.join(HERE, "sign-downloads.sh"), args.sign_key, downloads], check=True)
    server = http.server.ThreadingHTTPServer(
        ("127.0.0.1", args.port), functools.partial(Handler, directory=root))
    print(f"demo-server: serving http://127.0.0.1:{server.server_address[1]}/downloads/ "
          f"from {root}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if own_root:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
