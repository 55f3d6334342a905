#!/usr/bin/env python3
"""Builds the demo course archive from this folder.

Every course file here goes into the zip (text deflated), plus what is better made than checked
in: images/logo.png, drawn here and stored uncompressed, and the .start entry, whose text the
launcher hands to the start page as ?show=, written as UTF-16LE. Entry times are fixed so the
archive is the same on every build.

usage: make_demo.py SOURCE_DIR OUTPUT.zip [START_TEXT]
"""
import os
import struct
import sys
import zipfile
import zlib

STAMP = (2024, 5, 17, 12, 30, 0)
SKIP = {"make_demo.py", "CMakeLists.txt", "README.md"}
LOGO_SIZE = (64, 48)
DEFAULT_START_TEXT = "welcome-\u00fc"


def png(width, height, pixel):
    """An 8-bit RGB PNG of pixel(x, y) -> (r, g, b)."""
    rows = b"".join(
        b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def logo_pixel(x, y):
    """A teal ring on a soft gradient."""
    w, h = LOGO_SIZE
    dx, dy = x - w / 2 + 0.5, y - h / 2 + 0.5
    r = (dx * dx + dy * dy) ** 0.5
    if 12 <= r <= 19:
        return (31, 111, 139)
    return (230 - y, 238 - y // 2, 245)


def add(archive, name, data, method):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = method
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    source, output = sys.argv[1], sys.argv[2]
    start_text = sys.argv[3] if len(sys.argv) == 4 else DEFAULT_START_TEXT
    files = []
    for folder, dirs, names in os.walk(source):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, source).replace(os.sep, "/")
            if relative not in SKIP and not name.startswith("."):
                files.append((relative, path))
    temporary = output + ".tmp"
    with zipfile.ZipFile(temporary, "w") as archive:
        for relative, path in files:
            with open(path, "rb") as f:
                add(archive, relative, f.read(), zipfile.ZIP_DEFLATED)
        add(archive, "images/logo.png", png(*LOGO_SIZE, logo_pixel), zipfile.ZIP_STORED)
        add(archive, ".start", start_text.encode("utf-16-le"), zipfile.ZIP_DEFLATED)
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
