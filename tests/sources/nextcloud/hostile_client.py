#!/usr/bin/env python3
"""A sync client on the Nextcloud socket that lies and floods: it registers
the whole file system and a system folder beside the real root, then flaps a
large root and floods the socket with view updates and states until killed.
Whatever Vantorel sends is read and dropped.

    hostile_client.py SOCKET ROOT FLAPPING_ROOT
"""
import os
import socket
import sys

path, root, flapping = sys.argv[1:4]
os.makedirs(os.path.dirname(path), exist_ok=True)
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(path)
listener.listen(1)
connection, _ = listener.accept()
connection.sendall(f"REGISTER_PATH:/\nREGISTER_PATH:/proc\nREGISTER_PATH:{root}\n".encode())
flood = "".join(
    f"REGISTER_PATH:{flapping}\nUPDATE_VIEW:{flapping}\nSTATUS:SYNC:{flapping}/d{i}\n"
    f"UPDATE_VIEW:{root}\nUNREGISTER_PATH:{flapping}\n" for i in range(500)).encode()
connection.setblocking(False)
while True:
    try:
        while connection.recv(65536):
            pass
    except BlockingIOError:
        pass
    try:
        connection.send(flood)
    except BlockingIOError:
        pass
    except OSError:
        break
