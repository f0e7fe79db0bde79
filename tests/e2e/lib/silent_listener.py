#!/usr/bin/env python3
"""A listener that takes no connection: its accept queue is full, so the kernel drops further
SYNs and a connect to it hangs as one to a dead route does.

    silent_listener.py HOST PORT    # prints "ready" when the queue is full, runs until killed
"""
import signal
import socket
import sys
import time

host, port = sys.argv[1], int(sys.argv[2])
family = socket.AF_INET6 if ":" in host else socket.AF_INET
listener = socket.socket(family, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind((host, port))
listener.listen(0)
fillers = []
for _ in range(3):
    filler = socket.socket(family, socket.SOCK_STREAM)
    filler.setblocking(False)
    filler.connect_ex((host, port))
    fillers.append(filler)
time.sleep(0.2)
print("ready", flush=True)
signal.pause()
