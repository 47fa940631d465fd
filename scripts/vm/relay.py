#!/usr/bin/env python3
"""Carries one guest connection to the stand-in dashboard.

QEMU starts this program for every TCP connection that the virtual machine
opens to the dashboard's address (guestfwd ... cmd:), with the connection as
standard input and output. Nothing may be printed: standard error is the
connection too.
    relay.py HOST PORT
"""
import os
import selectors
import socket
import sys


def main():
    host, port = sys.argv[1], int(sys.argv[2])
    guest = socket.socket(fileno=os.dup(0))
    try:
        server = socket.create_connection((host, port), timeout=10)
    except OSError:
        return 1
    server.settimeout(None)
    sel = selectors.DefaultSelector()
    sel.register(guest, selectors.EVENT_READ, server)
    sel.register(server, selectors.EVENT_READ, guest)
    open_ends = 2
    while open_ends:
        for key, _ in sel.select():
            src, dst = key.fileobj, key.data
            try:
                data = src.recv(65536)
            except OSError:
                data = b""
            if data:
                dst.sendall(data)
                continue
            sel.unregister(src)
            open_ends -= 1
            if src is server:
                # the dashboard ends each reply by closing: so does the guest's connection
                return 0
            try:
                dst.shutdown(socket.SHUT_WR)
            except OSError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
