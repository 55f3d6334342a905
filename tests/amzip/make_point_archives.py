#!/usr/bin/env python3
"""make_point_archives.py --kind random|repeated|tiny [--size-mib N] PATH: a zip (zip64 from 4 GiB)
of one deflated entry, entry.bin, for the access points' budget: a 1 MiB block (block(kind))
deflated once, ended by a full flush so no match reaches back, repeated up to SIZE. Kinds: random
bytes (stored blocks), one byte repeated (deflates to almost nothing), tiny (random bytes, a full
flush after every 64: many tiny blocks)."""
import argparse
import random
import struct
import zlib

BLOCK = 1 << 20


def block(kind):
    if kind == "repeated":
        return b"\x5a" * BLOCK
    return random.Random(2025).randbytes(BLOCK)


def deflated_block(kind):
    data = block(kind)
    compressor = zlib.compressobj(1, zlib.DEFLATED, -15)
    piece = 64 if kind == "tiny" else BLOCK
    out = b"".join(compressor.compress(data[i:i + piece]) + compressor.flush(zlib.Z_FULL_FLUSH)
                   for i in range(0, BLOCK, piece))
    return out, compressor.flush()


def write_zip(path, name, pieces, size, compressed, crc):
    """A zip of one deflated entry `name` whose raw deflate stream is `pieces` (an iterable of
    bytes, `compressed` of them in all) for `size` bytes of CRC-32 `crc`; zip64 when needed."""
    name = name.encode()
    big = size >= 0xFFFFFFFF or compressed >= 0xFFFFFFFF
    extra = struct.pack("<HHQQ", 1, 16, size, compressed) if big else b""
    low = lambda n: 0xFFFFFFFF if big else n
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 8, 0, 0x5021, crc, low(compressed), low(size),
                            len(name), len(extra)) + name + extra)
        for piece in pieces:
            f.write(piece)
        directory = f.tell()
        central_extra = struct.pack("<HHQQQ", 1, 24, size, compressed, 0) if big else b""
        f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 8, 0, 0x5021, crc, low(compressed),
                            low(size), len(name), len(central_extra), 0, 0, 0, 0, 0xFFFFFFFF if big else 0)
                + name + central_extra)
        directory_size = f.tell() - directory
        if big:
            record = f.tell()
            f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, directory_size, directory))
            f.write(struct.pack("<IIQI", 0x07064B50, 0, record, 1))
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, directory_size, low(directory), 0))


def write(path, kind, size):
    count, (one, end), data, crc = size // BLOCK, deflated_block(kind), block(kind), 0
    for _ in range(count):
        crc = zlib.crc32(data, crc)
    write_zip(path, "entry.bin", [one] * count + [end], size, len(one) * count + len(end), crc)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--kind", choices=("random", "repeated", "tiny"), required=True)
    ap.add_argument("--size-mib", type=int, default=64)
    ap.add_argument("path")
    args = ap.parse_args()
    write(args.path, args.kind, args.size_mib * BLOCK)
