"""Clients that hold a server's descriptors, shared by real_clients.py and ../stress/stay_up.py."""
import os
import socket
import time


def cpu_seconds(pid):
    """User and system CPU time of `pid` so far, from /proc."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def closed_by_server(s):
    """True when the server has ended the connection without an answer."""
    s.settimeout(0.3)
    try:
        return s.recv(1) == b""
    except socket.timeout:
        return False
    except OSError:
        return True


def non_readers(host, port, request, count, timeout, pause=0.0):
    """`count` connections with small receive buffers that send `request` and do not read."""
    readers = []
    for _ in range(count):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.settimeout(timeout)
        s.connect((host, port))
        s.sendall(request)
        readers.append(s)
        time.sleep(pause)
    return readers


def read_out(readers, body):
    """Reads each reader to its end and closes it: (answers that are a whole 200 with `body`,
    connections ended by a reset)."""
    whole = reset = 0
    for s in readers:
        answer = bytearray()
        try:
            while True:
                chunk = s.recv(1 << 20)
                if not chunk:
                    break
                answer += chunk
        except ConnectionResetError:
            reset += 1
            continue
        finally:
            s.close()
        head, _, got = bytes(answer).partition(b"\r\n\r\n")
        whole += head.startswith(b"HTTP/1.1 200 OK\r\n") and got == body
    return whole, reset
