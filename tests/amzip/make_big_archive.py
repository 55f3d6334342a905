#!/usr/bin/env python3
"""Writes a zip archive of more than 4 GiB with Python's zipfile (streamed writes, zip64), for
the tests of the archive reader and of the server.

Usage: make_big_archive.py PATH

Writes PATH unless it already holds this archive (PATH.done names its layout), so one copy
serves every build and test that asks for it; prints PATH. Concurrent calls wait for each other.

Entries, in this order (their bytes are given by entry_bytes below, which tests may import):
  head.txt   deflated  HEAD_TEXT
  big.bin    stored    BIG_SIZE bytes (more than 4 GiB)
  after.bin  stored    AFTER_SIZE bytes; its local header lies past 4 GiB
  tail.txt   deflated  TAIL_TEXT; the last entry, past 4 GiB
The stored entries are made of 1 MiB blocks: block k starts with k as 8 little-endian bytes,
so a read from a wrong 4 GiB-multiple offset cannot match; byte i >= 8 of a block is
(i * MUL + ADD) & 0xFF with MUL, ADD = 7, 3 for big.bin and 13, 5 for after.bin.
"""
import fcntl
import os
import sys
import zipfile

BLOCK = 1 << 20
BIG_SIZE = (4 << 30) + BLOCK + 123
AFTER_SIZE = 3 * BLOCK + 17
HEAD_TEXT = b"the first entry, before the big one\n" * 50
TAIL_TEXT = b"the last entry, past 4 GiB\n" * 300
PATTERNS = {"big.bin": (7, 3), "after.bin": (13, 5)}
LAYOUT = "big-archive 1 %d %d\n" % (BIG_SIZE, AFTER_SIZE)


def _base(name):
    mul, add = PATTERNS[name]
    return bytes((i * mul + add) & 0xFF for i in range(BLOCK))


def entry_bytes(name, offset, length):
    """The bytes of a stored entry from `offset`, `length` of them (within the entry)."""
    base = _base(name)
    out = bytearray()
    while length > 0:
        block, at = divmod(offset, BLOCK)
        piece = block.to_bytes(8, "little") + base[8:]
        n = min(length, BLOCK - at)
        out += piece[at:at + n]
        offset += n
        length -= n
    return bytes(out)


def _write_stored(z, name, size):
    base = _base(name)
    info = zipfile.ZipInfo(name, date_time=(2024, 3, 1, 10, 0, 0))
    info.compress_type = zipfile.ZIP_STORED
    with z.open(info, "w", force_zip64=True) as f:
        for block in range((size + BLOCK - 1) // BLOCK):
            piece = block.to_bytes(8, "little") + base[8:]
            f.write(piece[:min(BLOCK, size - block * BLOCK)])


def make(path):
    part = path + ".part"
    with zipfile.ZipFile(part, "w") as z:
        z.writestr(zipfile.ZipInfo("head.txt", date_time=(2024, 3, 1, 10, 0, 0)), HEAD_TEXT, zipfile.ZIP_DEFLATED)
        _write_stored(z, "big.bin", BIG_SIZE)
        _write_stored(z, "after.bin", AFTER_SIZE)
        z.writestr(zipfile.ZipInfo("tail.txt", date_time=(2024, 3, 1, 10, 0, 0)), TAIL_TEXT, zipfile.ZIP_DEFLATED)
    os.replace(part, path)


def main():
    path = os.path.abspath(sys.argv[1])
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        done = path + ".done"
        current = os.path.exists(path) and os.path.exists(done) and open(done).read() == LAYOUT
        if not current:
            if os.path.exists(done):
                os.remove(done)
            make(path)
            with open(done, "w") as f:
                f.write(LAYOUT)
    print(path)


if __name__ == "__main__":
    main()
