#!/usr/bin/env python3
"""Answers every request after holding the reply back: python3 slow_server.py DELAY_SECONDS.

Prints the port it listens on (127.0.0.1, ephemeral) as its first line, then serves until killed.
"""
import socket
import sys
import threading
import time


def serve(conn, delay):
    with conn:
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(4096)
            if not chunk:
                return
            data += chunk
        time.sleep(delay)
        body = b"late but complete\n"
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)


def main():
    delay = float(sys.argv[1]) if len(sys.argv) > 1 else 3.0
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, delay), daemon=True).start()


if __name__ == "__main__":
    main()
