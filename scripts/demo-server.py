#!/usr/bin/env python3
"""The bundled demo download server: serves a demo launcher, wallet, version file and a small
runnable blockchain archive under /downloads/ on a loopback port, with HTTP/1.0 replies."""
import argparse
import functools
import http.server
import os
import shutil
import signal
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


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        sys.stderr.write("demo-server: " + (fmt % args) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=8753, help="0 picks a free port")
    parser.add_argument("--root", help="folder to serve (default: a fresh temporary folder)")
    args = parser.parse_args()
    own_root = not args.root
    root = args.root or tempfile.mkdtemp(prefix="corvane-demo-")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    make_downloads(root)
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
