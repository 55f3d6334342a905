#!/usr/bin/env python3
"""Checks orvane-zip against Python's zipfile on the fixture archives.

Usage: check_tool.py [--emulator PROGRAM] [--path-prefix PREFIX] [--sample N] TOOL FIXTURES
       check_tool.py [--emulator PROGRAM] [--path-prefix PREFIX] --big ARCHIVE TOOL

`list` must give zipfile's entries in order (method, sizes, the stamp as UTC, the name with
"\\" separators), `cat` every entry's bytes (N entries per archive when --sample is given,
else all, at most 200 of the largest archive), and archive errors, missing entries and wrong
usage their exit status and message. Run with the zone of the tests (TZ=<+01>-1): the stamps
are local time. With --emulator (Wine) non-ASCII names are compared only in count, as the
Windows tool writes them in the ANSI code page.

With --big (the archive of make_big_archive.py): `list` gives the full zip64 sizes and `cat`
streams the entry of more than 4 GiB, its byte count and CRC-32 as zipfile has them.
"""
import argparse
import os
import subprocess
import sys
import time
import zipfile
import zlib

parser = argparse.ArgumentParser()
parser.add_argument("--emulator")
parser.add_argument("--path-prefix", default="")
parser.add_argument("--sample", type=int)
parser.add_argument("--big")
parser.add_argument("tool")
parser.add_argument("fixtures", nargs="?")
args = parser.parse_args()
failures = []


def tool(*arguments):
    command = ([args.emulator] if args.emulator else []) + [args.tool] + list(arguments)
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)


def path(relative):
    return args.path_prefix + os.path.join(os.path.abspath(args.fixtures), relative)


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def stamp(info):
    utc = time.gmtime(time.mktime(info.date_time + (0, 0, -1)))
    return time.strftime("%Y-%m-%d %H:%M:%S", utc)


def check_big(archive):
    with zipfile.ZipFile(archive) as z:
        infos = z.infolist()
    result = tool("list", args.path_prefix + archive)
    sizes = [line.split("\t")[1:3] for line in result.stdout.decode().splitlines()]
    check(result.returncode == 0 and sizes == [[str(i.compress_size), str(i.file_size)] for i in infos],
          "list of the big archive: %r" % (sizes,))
    big = next(i for i in infos if i.file_size > 1 << 32)
    command = ([args.emulator] if args.emulator else []) + [args.tool, "cat", args.path_prefix + archive, big.filename]
    with subprocess.Popen(command, stdout=subprocess.PIPE) as process:
        crc, count = 0, 0
        while piece := process.stdout.read(1 << 20):
            crc = zlib.crc32(piece, crc)
            count += len(piece)
    check(process.returncode == 0 and count == big.file_size and crc == big.CRC,
          "cat of %s: status %d, %d bytes" % (big.filename, process.returncode, count))


if args.big:
    check_big(args.big)
    print("%d failures" % len(failures))
    sys.exit(1 if failures else 0)

real = os.path.join(args.fixtures, "real")
for archive in sorted(f for f in os.listdir(real) if f.endswith(".zip")):
    with zipfile.ZipFile(os.path.join(real, archive)) as z:
        infos = z.infolist()
        result = tool("list", path("real/" + archive))
        check(result.returncode == 0, "%s: list exits %d" % (archive, result.returncode))
        lines = result.stdout.decode("utf-8", "replace").splitlines()
        check(len(lines) == len(infos), "%s: %d lines for %d entries" % (archive, len(lines), len(infos)))
        for line, info in zip(lines, infos):
            fields = line.split("\t")
            name = info.filename.replace("/", "\\")
            want = [str(info.compress_type), str(info.compress_size), str(info.file_size), stamp(info), name]
            if args.emulator and not name.isascii():
                fields, want = fields[:4], want[:4]
            if fields != want:
                check(False, "%s: list gives %r, zipfile %r" % (archive, fields, want))
                break
        chosen = infos
        if args.sample:
            chosen = infos[:args.sample]
        elif len(infos) > 200:
            chosen = infos[::len(infos) // 200]
        for info in chosen:
            if args.emulator and not info.filename.isascii():
                continue
            result = tool("cat", path("real/" + archive), info.filename)
            check(result.returncode == 0 and result.stdout == z.read(info),
                  "%s: cat %s exits %d with %d bytes" % (archive, info.filename, result.returncode, len(result.stdout)))

# Names from Info-ZIP's Unicode Path record, listed and found by them (a stale one ignored).
result = tool("list", path("damaged/unicode_path.zip"))
names = [line.split("\t")[-1] for line in result.stdout.decode("utf-8", "replace").splitlines()]
check(len(names) == 3 and names[2] == "renamed.txt" and (args.emulator or names[0] == "Łódź\\Übung 1.html"),
      "list of Unicode Path names: %r" % (names,))
result = tool("cat", path("damaged/unicode_path.zip"), "Łódź/Übung 1.html")
check(args.emulator or result.stdout == b"<p>lodz</p>\n", "cat by a Unicode Path name: %r" % (result,))

# Errors: the archive's message on standard error and status 1; a missing entry 2; usage 64.
result = tool("list", path("damaged/text.txt"))
check(result.returncode == 1 and b"Unknown signature 6c6c6568" in result.stderr, "list of a text file: %r" % (result,))
result = tool("cat", path("damaged/corrupt_deflate.zip"), "bad.txt")
check(result.returncode == 1 and b"Internal compression error" in result.stderr and b"data error" in result.stderr,
      "cat of corrupt data: %r" % (result,))
result = tool("list", path("damaged/file.gz"))
check(result.returncode == 1 and b"is not a zip archive" in result.stderr and result.stdout == b"",
      "list of a gzip file: %r" % (result,))
result = tool("list", path("damaged/empty.zip"))
check(result.returncode == 0 and result.stdout == b"", "list of an empty archive: %r" % (result,))
# A damaged entry: its error and status 1, never the complete wrong bytes; its neighbours read.
result = tool("cat", path("damaged/integrity.zip"), "flipped-stored.bin")
check(result.returncode == 1 and b"CRC-32 mismatch" in result.stderr and len(result.stdout) < 20000,
      "cat of a flipped byte: %r" % ((result.returncode, result.stderr),))
result = tool("cat", path("damaged/integrity.zip"), "intact-stored.txt")
check(result.returncode == 0 and result.stdout == b"stored and intact\n" * 100, "cat of an intact entry: %r" % (result,))
result = tool("cat", path("damaged/size_3g_stored.zip"), "claim.bin")
check(result.returncode == 1 and b"shorter than the directory says" in result.stderr, "cat of a 3.9 GB claim: %r" % (result,))
result = tool("list", path("damaged/no-such-file.zip"))
check(result.returncode == 1 and b"Failed to open file for reading" in result.stderr, "list of a missing file: %r" % (result,))
result = tool("cat", path("real/infozip_deflate.zip"), "no/such/entry.txt")
check(result.returncode == 2 and b"no such entry" in result.stderr and result.stdout == b"", "cat of a missing entry: %r" % (result,))
result = tool("list")
check(result.returncode == 64 and b"usage" in result.stderr, "list without an archive: %r" % (result,))
result = tool("--help")
check(result.returncode == 0 and b"pack SOURCE -o OUTPUT" in result.stdout, "--help: %r" % (result,))

print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
