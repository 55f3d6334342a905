#!/usr/bin/env python3
"""points_budget.py PROBE WORK_DIR [--long]: ranges read through amzip_points_probe, before and
after a whole read made the access points, have zipfile's bytes, and the points stay within the
budget, for entries made to exceed it (make_point_archives.py) and one Info-ZIP's zip deflated.
Short form: 64 MiB entries, a 1 MiB budget; --long: 4 GiB zip64 ones, the launcher's 32 MiB, 256 MiB from zip."""
import os
import random
import subprocess
import sys
import zipfile
import zlib

import make_point_archives

MIB = 1 << 20


def check(tool, path, name, size, budget, expected_crc, rng, failures):
    ranges = ["%d:%d" % (at, min(MIB, size - at)) for at in (rng.randrange(size) for _ in range(4))]
    reads = ranges[:1] + ["whole"] + ranges  # the first range makes the points its skip passes, the whole read the rest
    out = subprocess.run([tool, path, name, str(budget), str(MIB)] + reads, capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit("%s %s: %s" % (path, reads, out.stderr))
    lines = out.stdout.splitlines()
    points = dict(zip(lines[-1].split()[::2], map(int, lines[-1].split()[1::2])))
    for line, read in zip(lines[:-1], reads):
        offset, length, crc, _ = line.split()
        if int(crc, 16) != expected_crc(int(offset), int(length)):
            failures.append("%s %s: CRC %s, zipfile's %08x" % (path, read, crc, expected_crc(int(offset), int(length))))
    if points["peak"] > budget or points["points"] == 0:
        failures.append("%s: %d points peaked at %d bytes, budget %d" % (path, points["points"], points["peak"], budget))
    print("%s: %s" % (os.path.basename(path), " ".join("%s %d" % kv for kv in points.items())))


def main():
    probe, work, long_form = sys.argv[1], sys.argv[2], "--long" in sys.argv[3:]
    os.makedirs(work, exist_ok=True)
    budget, rng, failures = (32 if long_form else 1) * MIB, random.Random(25), []
    for kind in ("random", "repeated") + (() if long_form else ("tiny",)):
        size = (4097 if long_form else 64) * MIB
        path = os.path.join(work, "%s-%d.zip" % (kind, size // MIB))
        if not os.path.exists(path):
            make_point_archives.write(path, kind, size)
        block = make_point_archives.block(kind)

        def expected_crc(offset, length):
            crc = 0
            while length > 0:
                piece = block[offset % MIB:offset % MIB + length]
                crc, offset, length = zlib.crc32(piece, crc), offset + len(piece), length - len(piece)
            return crc
        check(probe, path, "entry.bin", size, budget, expected_crc, rng, failures)

    # Info-ZIP's zip on bytes it shrinks a little, as a video: its own dynamic blocks.
    size = (256 if long_form else 24) * MIB
    source, path = os.path.join(work, "video-like.bin"), os.path.join(work, "video-like-%d.zip" % size)
    if not os.path.exists(path):
        data_rng = random.Random(7)
        with open(source, "wb") as f:
            for _ in range(size // 4096):
                f.write(data_rng.randbytes(4000) + bytes(96))
        subprocess.run(["zip", "-q", "-j", path, source], check=True)
        os.remove(source)
    with zipfile.ZipFile(path) as z:
        data = z.read("video-like.bin")
    check(probe, path, "video-like.bin", size, budget, lambda o, n: zlib.crc32(data[o:o + n]), rng, failures)
    for failure in failures:
        print("FAILED:", failure)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
