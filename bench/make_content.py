#!/usr/bin/env python3
"""Writes the benchmark content into a folder: the files on disk (for nginx and Python's
http.server) and the same files in content.zip (for Orvane), each entry stored or deflated
as a real course would have it. Deterministic, so runs compare."""
import os
import random
import struct
import sys
import zipfile
import zlib


def html(size):
    para = ("<p>Lesson text with <em>markup</em>, links to <a href='page2.html'>the next page</a>"
            " and a little variety: %d.</p>\n")
    out, i = ["<!doctype html><html><head><title>Bench</title></head><body>\n"], 0
    while sum(map(len, out)) < size:
        out.append(para % i)
        i += 1
    text = "".join(out)[: size - 15] + "</body></html>\n"
    return text.encode()


def png(size, rng):
    # A valid grey-scale PNG whose pixel rows are noise, so that it does not compress.
    width = 256
    height = max(1, (size - 100) // (width + 1))
    raw = b"".join(b"\0" + rng.randbytes(width) for _ in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b"")


def script(size, rng):
    words = ["function", "return", "var", "let", "const", "if", "else", "for", "while", "this",
             "value", "count", "index", "lesson", "score", "page", "next", "prev", "state"]
    lines, total = [], 0
    while total < size:
        line = "  %s = %s(%d, '%s');\n" % (rng.choice(words), rng.choice(words), rng.randrange(1 << 20), rng.choice(words))
        lines.append(line)
        total += len(line)
    return "".join(lines).encode()[:size]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    rng = random.Random(1468)
    files = [
        ("page.html", html(4096), zipfile.ZIP_DEFLATED),
        ("image.png", png(100 * 1024, rng), zipfile.ZIP_STORED),
        ("app.js", script(2 * 1024 * 1024, rng), zipfile.ZIP_DEFLATED),
        ("big.js", script(64 * 1024 * 1024, rng), zipfile.ZIP_DEFLATED),
        ("video.mp4", rng.randbytes(100 * 1024 * 1024), zipfile.ZIP_STORED),
        ("index.html", html(1024), zipfile.ZIP_DEFLATED),
    ]
    site = os.path.join(out, "site")
    os.makedirs(site, exist_ok=True)
    with zipfile.ZipFile(os.path.join(out, "content.zip"), "w") as z:
        for name, data, method in files:
            with open(os.path.join(site, name), "wb") as f:
                f.write(data)
            z.writestr(zipfile.ZipInfo(name, (2026, 1, 2, 3, 4, 6)), data, compress_type=method)


if __name__ == "__main__":
    main()
