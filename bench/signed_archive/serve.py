#!/usr/bin/env python3
"""Serves the files of a folder over HTTP/1.0 and notes, for each body sent whole, the time its
last byte went to the socket: "PATH SECONDS" lines in a log.

    serve.py FOLDER PORT LOG
"""
import http.server
import os
import sys
import time

folder, port, log = sys.argv[1], int(sys.argv[2]), sys.argv[3]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = os.path.join(folder, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            self.wfile.flush()
            sent = self.connection.sendfile(f)
        if sent == size:
            with open(log, "a") as out:
                out.write("%s %.6f\n" % (os.path.basename(path), time.time()))

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
