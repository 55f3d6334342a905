#!/usr/bin/env python3
"""The access points against entries made to exceed their budget, and against a large entry
deflated by Info-ZIP's zip (dynamic blocks, boundaries inside bytes): every range read through
amzip_points_probe, before and after a whole read made the points, has the bytes Python's
zipfile reads, and the points' peak stays within the budget.

  points_budget.py PROBE WORK_DIR [--long]

Short form: 64 MiB entries, a 1 MiB budget. --long: 4 GiB zip64 entries (random blocks, one
byte repeated) with the launcher's 32 MiB budget, and a 256 MiB entry from zip."""
import argparse
import os
import random
import subprocess
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_point_archives  # noqa: E402

MIB = 1 << 20


def probe(tool, path, name, budget, reads):
    out = subprocess.run([tool, path, name, str(budget), str(MIB)] + reads, capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit("%s %s: %s" % (path, reads, out.stderr))
    lines = out.stdout.splitlines()
    fields = lines[-1].split()
    return [line.split() for line in lines[:-1]], dict(zip(fields[::2], map(int, fields[1::2])))


def check(tool, path, name, size, budget, expected_crc, rng, failures):
    ranges = ["%d:%d" % (at, min(MIB, size - at)) for at in (rng.randrange(size) for _ in range(4))]
    # The first range makes the points its skip passes; the whole read the rest.
    reads, points = probe(tool, path, name, budget, ranges[:1] + ["whole"] + ranges)
    for (offset, length, crc, _), read in zip(reads, ranges[:1] + ["whole"] + ranges):
        want = expected_crc(int(offset), int(length))
        if int(crc, 16) != want:
            failures.append("%s %s: CRC %s, zipfile's %08x" % (os.path.basename(path), read, crc, want))
    if points["peak"] > budget:
        failures.append("%s: points peaked at %d bytes, budget %d" % (os.path.basename(path), points["peak"], budget))
    if points["points"] == 0:
        failures.append("%s: no access points" % os.path.basename(path))
    print("%s: %s" % (os.path.basename(path), " ".join("%s %d" % kv for kv in points.items())))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("probe")
    ap.add_argument("work")
    ap.add_argument("--long", action="store_true")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    budget = 32 * MIB if args.long else MIB
    rng = random.Random(25)
    failures = []
    kinds = (("random", 4097), ("repeated", 4097)) if args.long else (("random", 64), ("repeated", 64), ("tiny", 64))
    for kind, size_mib in kinds:
        path = os.path.join(args.work, "%s-%d.zip" % (kind, size_mib))
        if not os.path.exists(path):
            make_point_archives.write(path, kind, size_mib * MIB)
        block = make_point_archives.block(kind)

        def expected_crc(offset, length):
            crc = 0
            while length > 0:
                at = offset % MIB
                piece = block[at:at + length]
                crc = zlib.crc32(piece, crc)
                offset += len(piece)
                length -= len(piece)
            return crc

        check(args.probe, path, "entry.bin", size_mib * MIB, budget, expected_crc, rng, failures)

    # Info-ZIP's zip on bytes it shrinks a little, as a video: its own dynamic blocks.
    size = (256 if args.long else 24) * MIB
    source = os.path.join(args.work, "video-like.bin")
    path = os.path.join(args.work, "video-like-%d.zip" % size)
    if not os.path.exists(path):
        data_rng = random.Random(7)
        with open(source, "wb") as f:
            for _ in range(size // 4096):
                f.write(data_rng.randbytes(4000) + bytes(96))
        subprocess.run(["zip", "-q", "-j", path, source], check=True)
        os.remove(source)
    with zipfile.ZipFile(path) as z:
        data = z.read("video-like.bin")
    check(args.probe, path, "video-like.bin", size, budget, lambda o, n: zlib.crc32(data[o:o + n]), rng, failures)
    for failure in failures:
        print("FAILED:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
