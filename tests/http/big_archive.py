#!/usr/bin/env python3
"""The server on an archive of more than 4 GiB (tests/amzip/make_big_archive.py): HEAD tells the
full 64-bit size, ranges past 4 GiB and the entries that lie past it arrive as zipfile wrote
them. --whole also fetches the 4 GiB entry whole (the long form, by hand).

Usage: big_archive.py PATH/TO/http_serve_archive ARCHIVE [--whole]"""
import hashlib
import http.client
import os
import subprocess
import sys
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "amzip"))
import make_big_archive as big  # noqa: E402

FOUR_GIB = 1 << 32
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def get(host, port, path, byte_range=None):
    connection = http.client.HTTPConnection(host, port, timeout=120)
    try:
        connection.request("GET", path, headers={"Range": byte_range} if byte_range else {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def whole_big(host, port, path):
    """Streams big.bin and compares it block by block; True when every byte matched."""
    connection = http.client.HTTPConnection(host, port, timeout=300)
    try:
        connection.request("GET", path)
        response = connection.getresponse()
        check(response.status == 200 and response.getheader("Content-Length") == str(big.BIG_SIZE),
              "whole big.bin: %s %s" % (response.status, response.getheader("Content-Length")))
        base = big.entry_bytes("big.bin", 0, big.BLOCK)[8:]  # every block but its first 8 bytes
        offset = 0
        while offset < big.BIG_SIZE:
            want = ((offset // big.BLOCK).to_bytes(8, "little") + base)[:big.BIG_SIZE - offset]
            got = response.read(len(want))
            if got != want:
                check(False, "whole big.bin differs in the block at %d" % offset)
                return False
            offset += len(want)
        check(response.read(1) == b"", "whole big.bin: bytes past its end")
        return True
    finally:
        connection.close()


def main():
    server, archive = sys.argv[1], sys.argv[2]
    proc = subprocess.Popen([server, archive], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        parsed = urllib.parse.urlsplit(proc.stdout.readline().strip())
        host, port, prefix = parsed.hostname, parsed.port, parsed.path
        connection = http.client.HTTPConnection(host, port, timeout=60)
        connection.request("HEAD", prefix + "big.bin")
        head = connection.getresponse()
        check(head.status == 200 and head.getheader("Content-Length") == str(big.BIG_SIZE),
              "HEAD big.bin: %s, Content-Length %s" % (head.status, head.getheader("Content-Length")))
        connection.close()
        ranges = [("big.bin", FOUR_GIB - 10, FOUR_GIB + 10), ("big.bin", big.BIG_SIZE - 1000, big.BIG_SIZE - 1),
                  ("after.bin", big.AFTER_SIZE // 2, big.AFTER_SIZE - 1)]
        for name, first, last in ranges:
            status, headers, body = get(host, port, prefix + name, "bytes=%d-%d" % (first, last))
            size = big.BIG_SIZE if name == "big.bin" else big.AFTER_SIZE
            check(status == 206 and headers.get("Content-Range") == "bytes %d-%d/%d" % (first, last, size)
                  and body == big.entry_bytes(name, first, last - first + 1),
                  "%s bytes=%d-%d: %s %s, %d bytes" % (name, first, last, status, headers.get("Content-Range"), len(body)))
        status, headers, body = get(host, port, prefix + "big.bin", "bytes=-1000")
        check(status == 206 and body == big.entry_bytes("big.bin", big.BIG_SIZE - 1000, 1000), "big.bin bytes=-1000")
        # Whole entries whose data lie past 4 GiB: a stored one (streamed and checked), a deflated one.
        for name, want in (("after.bin", big.entry_bytes("after.bin", 0, big.AFTER_SIZE)), ("tail.txt", big.TAIL_TEXT),
                           ("head.txt", big.HEAD_TEXT)):
            for _ in range(2):  # checked through a reader, then (stored) straight from the file
                status, headers, body = get(host, port, prefix + name)
                check(status == 200 and hashlib.sha256(body).digest() == hashlib.sha256(want).digest(),
                      "%s whole: %s, %d bytes" % (name, status, len(body)))
        if "--whole" in sys.argv:
            whole_big(host, port, prefix + "big.bin")
            whole_big(host, port, prefix + "big.bin")  # the second time straight from the file
    finally:
        proc.stdin.close()
        proc.wait(timeout=60)
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("archive past 4 GiB: HEAD, ranges past 4 GiB and the entries beyond it served as written%s"
          % (", the 4 GiB entry whole twice" if "--whole" in sys.argv else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
