#!/usr/bin/env python3
"""Makes the archives that the archive reader's tests read, with real zip tools.

Usage: make_fixtures.py FOLDER

FOLDER/real/NAME.zip      archives written by Info-ZIP zip, 7-Zip, bsdtar and Python's zipfile
FOLDER/real/NAME.expected every entry's bytes as Python's zipfile reads them, one after another
FOLDER/manifest.txt       one line per entry of every real archive, tab-separated:
                          archive, index, flag bits, stored name (hex), Python's name (UTF-8
                          hex), offset and length of the entry's bytes in NAME.expected
FOLDER/split/             a split archive (zip -s 64k): part.z01, part.z02, ..., part.zip,
                          and the files it was made from under src/
FOLDER/damaged/           damaged and special inputs, each described where it is made below
The manifest is written last, so its presence means the folder is complete.
"""
import gzip
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

out = os.path.abspath(sys.argv[1])
shutil.rmtree(out, ignore_errors=True)
real = os.path.join(out, "real")
damaged = os.path.join(out, "damaged")
for folder in (real, damaged):
    os.makedirs(folder)
rng = random.Random(1468)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run(*command, cwd=None):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


# The content tree the command-line tools pack.
tree = os.path.join(out, "tree")
big_text = b"".join(b"line %06d of a compressible text file\n" % i for i in range(8000))
files = {
    "index.html": b"<html><body><a href='dir/sub/page.html'>page</a></body></html>\n",
    "big.txt": big_text,  # about 300,000 bytes: several 64 KiB output blocks
    "random.bin": bytes(rng.getrandbits(8) for _ in range(100000)),
    "empty.txt": b"",
    "Mixed Case.TXT": b"Mixed case name\r\n",
    "dir/sub/page.html": b"<p>deep</p>\n",
    "dir/sub/deeper/data.json": b'{"a": [1, 2, 3]}\n',
}
for name, data in files.items():
    write(os.path.join(tree, name), data)
entries = sorted(files)

run("zip", "-q", "-r", os.path.join(real, "infozip_deflate.zip"), *entries, "dir", cwd=tree)
run("zip", "-q", "-0", "-r", os.path.join(real, "infozip_stored.zip"), *entries, cwd=tree)
run("7z", "a", "-tzip", "-bd", os.path.join(real, "sevenzip.zip"), *entries, cwd=tree)
run("7z", "a", "-tzip", "-mm=Copy", "-bd", os.path.join(real, "sevenzip_stored.zip"), *entries, cwd=tree)
run("bsdtar", "--format", "zip", "-cf", os.path.join(real, "bsdtar.zip"), *entries, cwd=tree)
run("bsdtar", "--format", "zip", "-cf", os.path.join(real, "bsdtar_dot.zip"), ".", cwd=tree)

# Python's zipfile: UTF-8 names (flag bit 11), both methods, directories, a long name.
with zipfile.ZipFile(os.path.join(real, "python_utf8.zip"), "w") as z:
    z.writestr("café/naïve.txt", "unicode name\n", zipfile.ZIP_DEFLATED)
    z.writestr("日本語/ファイル.html", "<p>日本語</p>\n".encode(), zipfile.ZIP_DEFLATED)
    z.writestr("emoji-\U0001F600.txt", b"astral plane", zipfile.ZIP_STORED)
    z.writestr("folder/", b"")
    z.writestr("plain.txt", big_text[:70000], zipfile.ZIP_DEFLATED)
    z.writestr("x" * 300 + ".txt", b"long name", zipfile.ZIP_STORED)

# Data descriptors: zipfile writing to a stream it cannot seek sets flag bit 3 and puts the
# sizes after the data.


class Unseekable(io.RawIOBase):
    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


stream = Unseekable()
with zipfile.ZipFile(stream, "w") as z:
    z.writestr("described.txt", big_text[:200000], zipfile.ZIP_DEFLATED)
    z.writestr("stored-described.bin", files["random.bin"][:5000], zipfile.ZIP_STORED)
    z.writestr("last.txt", b"after two descriptors\n", zipfile.ZIP_DEFLATED)
write(os.path.join(real, "python_descriptor.zip"), bytes(stream.data))

# force_zip64: the local headers carry a zip64 extra field that the central ones lack.
with zipfile.ZipFile(os.path.join(real, "python_zip64.zip"), "w") as z:
    for name, data, method in (("forced.txt", big_text[:150000], zipfile.ZIP_DEFLATED),
                               ("forced.bin", files["random.bin"][:3000], zipfile.ZIP_STORED),
                               ("plain.txt", b"not forced\n", zipfile.ZIP_DEFLATED)):
        info = zipfile.ZipInfo(name, date_time=(2021, 6, 15, 12, 30, 0))
        info.compress_type = method
        with z.open(info, "w", force_zip64=(name != "plain.txt")) as f:
            f.write(data)

# Every zip64 field zipfile writes, in a small archive: with its limit lowered, each central
# header takes its sizes and local header offset from a zip64 extra field.
saved_limit = zipfile.ZIP64_LIMIT
zipfile.ZIP64_LIMIT = 10
try:
    with zipfile.ZipFile(os.path.join(real, "python_zip64_fields.zip"), "w") as z:
        z.writestr("first.txt", big_text[:90000], zipfile.ZIP_DEFLATED)
        z.writestr("second.bin", files["random.bin"][:4000], zipfile.ZIP_STORED)
        z.writestr("third.txt", b"third entry\n", zipfile.ZIP_DEFLATED)
finally:
    zipfile.ZIP64_LIMIT = saved_limit

# More than 65,535 entries: the end record's counts wrap and zipfile adds a zip64 end record.
with zipfile.ZipFile(os.path.join(real, "python_many.zip"), "w") as z:
    for i in range(70000):
        z.writestr("many/%05d.txt" % i, b"entry %d\n" % i, zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED)

# An archive comment holding the end-record signature, preceded by enough bytes that the true
# end record is found only in the second 32,764-byte chunk of the backward search.
with zipfile.ZipFile(os.path.join(real, "python_long_comment.zip"), "w") as z:
    z.writestr("a.txt", b"alpha\n")
    z.comment = b"c" * 39978
# Fixed time stamps for the time tests: 12:30:00 (local) on 2021-06-15; and one without.
with zipfile.ZipFile(os.path.join(real, "python_times.zip"), "w") as z:
    z.writestr(zipfile.ZipInfo("noon.txt", date_time=(2021, 6, 15, 12, 30, 0)), b"noon\n")
    z.writestr(zipfile.ZipInfo("odd-seconds.txt", date_time=(1999, 12, 31, 23, 59, 59)), b"odd\n")

# One deflate stream of dynamic, stored and fixed Huffman blocks, then dynamic ones again: parts
# from compressors of their own (level 6, level 0, the fixed-code strategy), each ended by a sync
# flush so the next starts on a byte of its own. zipfile cannot write a stream it did not make.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_point_archives import write_zip  # noqa: E402
parts = [(6, zlib.Z_DEFAULT_STRATEGY, big_text[:120000]), (0, zlib.Z_DEFAULT_STRATEGY, files["random.bin"]),
         (6, zlib.Z_FIXED, big_text[120000:200000]), (9, zlib.Z_DEFAULT_STRATEGY, big_text[200000:])]
stream = []
for i, (level, strategy, data) in enumerate(parts):
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    stream.append(compressor.compress(data) + compressor.flush(zlib.Z_FINISH if i == len(parts) - 1 else zlib.Z_SYNC_FLUSH))
mixed = b"".join(data for _, _, data in parts)
write_zip(os.path.join(real, "python_blocks.zip"), "mixed.bin", stream, len(mixed), sum(map(len, stream)),
          zlib.crc32(mixed))

manifest = []
for archive in sorted(os.listdir(real)):
    if not archive.endswith(".zip"):
        continue
    blob = bytearray()
    with zipfile.ZipFile(os.path.join(real, archive)) as z:
        for index, info in enumerate(z.infolist()):
            data = z.read(info)
            raw = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            manifest.append("\t".join([archive, str(index), str(info.flag_bits), raw.hex(),
                                       info.filename.encode("utf-8").hex(), str(len(blob)), str(len(data))]))
            blob += data
    write(os.path.join(real, archive[:-4] + ".expected"), bytes(blob))

# A split archive: the first part starts with the marker 0x08074b50, only the .zip part is read.
split = os.path.join(out, "split")
split_src = os.path.join(split, "src")
write(os.path.join(split_src, "first.bin"), bytes(rng.getrandbits(8) for _ in range(150000)))
write(os.path.join(split_src, "tail1.txt"), b"in the last part\n")
write(os.path.join(split_src, "tail2.txt"), b"also in the last part\n" * 10)
run("zip", "-q", "-s", "64k", os.path.join(split, "part.zip"), "first.bin", "tail1.txt", "tail2.txt", cwd=split_src)

# Damaged and special inputs.
good = open(os.path.join(real, "infozip_deflate.zip"), "rb").read()
end = good.rfind(b"PK\x05\x06")
cd_offset = struct.unpack_from("<I", good, end + 16)[0]
# The directory cut in the middle (no end record left).
write(os.path.join(damaged, "truncated_directory.zip"), good[:cd_offset + (end - cd_offset) // 2])


def one_entry(name, data, method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        z.writestr(zipfile.ZipInfo(name, date_time=(2020, 1, 2, 3, 4, 6)), data, method)
    return bytearray(buffer.getvalue())


def central(archive):
    return archive.rfind(b"PK\x01\x02")


# Deflate data starting with a block of the reserved type 3: inflate reports Z_DATA_ERROR.
corrupt = one_entry("bad.txt", big_text[:5000])
corrupt[30 + len("bad.txt")] = 0xFF
write(os.path.join(damaged, "corrupt_deflate.zip"), corrupt)
write(os.path.join(damaged, "file.gz"), gzip.compress(b"not a zip archive\n" * 100))
write(os.path.join(damaged, "text.txt"), b"hello, this is a plain text file\n" * 20)
write(os.path.join(damaged, "ff.bin"), b"\xff" * 64)
empty = io.BytesIO()
zipfile.ZipFile(empty, "w").close()
write(os.path.join(damaged, "empty.zip"), empty.getvalue())  # 22 bytes: the end record alone
write(os.path.join(damaged, "three.bin"), b"PK\x03")
# Method 12 (bzip2) patched into both headers of a stored entry.
method12 = one_entry("m12.txt", b"twelve\n", zipfile.ZIP_STORED)
struct.pack_into("<H", method12, 8, 12)
struct.pack_into("<H", method12, central(method12) + 10, 12)
write(os.path.join(damaged, "method12.zip"), method12)
# A comment that ends in the end-record signature: the false record is cut short (code 5).
short_false = one_entry("a.txt", b"alpha\n")
struct.pack_into("<H", short_false, len(short_false) - 2, len(b"note PK\x05\x06"))
write(os.path.join(damaged, "false_end_short.zip"), bytes(short_false) + b"note PK\x05\x06")
# A comment holding a whole false record that names disk 1 for a directory on disk 0 (code -1).
disk_false = one_entry("a.txt", b"alpha\n")
false_record = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 1, 0, 0, 0, 0, 0)
struct.pack_into("<H", disk_false, len(disk_false) - 2, len(false_record))
write(os.path.join(damaged, "false_end_disk.zip"), bytes(disk_false) + false_record)
# A stored entry whose sizes claim 10,000 bytes: the data runs into the directory and the end of
# the source. From a file the bytes present arrive; from memory the read at the end fails.
short = one_entry("short.bin", bytes(range(100)), zipfile.ZIP_STORED)
for at in (18, 22, central(short) + 20, central(short) + 24):
    struct.pack_into("<I", short, at, 10000)
write(os.path.join(damaged, "stored_short.zip"), short)
# An uncompressed size of 0xFFFFFFFF with version needed 20 and no zip64 record (code 10).
marker = one_entry("marker.txt", b"zip64 marker\n", zipfile.ZIP_STORED)
struct.pack_into("<I", marker, central(marker) + 24, 0xFFFFFFFF)
write(os.path.join(damaged, "zip64_marker.zip"), marker)
# A deflated entry whose compressed size is 0: the final inflate reports Z_BUF_ERROR (code 9).
zero = one_entry("zero.txt", b"some text\n" * 10)
struct.pack_into("<I", zero, central(zero) + 20, 0)
write(os.path.join(damaged, "deflate_zero_size.zip"), zero)
# A deflated entry whose compressed size is larger than its stream: the rest is ignored.
larger = one_entry("larger.txt", b"some text\n" * 10)
struct.pack_into("<I", larger, central(larger) + 20, struct.unpack_from("<I", larger, central(larger) + 20)[0] + 40)
write(os.path.join(damaged, "deflate_larger_size.zip"), larger)
# An entry without an MS-DOS time stamp (date and time 0).
unstamped = one_entry("unstamped.txt", b"no time\n", zipfile.ZIP_STORED)
struct.pack_into("<HH", unstamped, central(unstamped) + 12, 0, 0)
write(os.path.join(damaged, "unstamped.zip"), unstamped)
# Two entries whose names differ only in case: the first is found.
with zipfile.ZipFile(os.path.join(damaged, "case_duplicates.zip"), "w") as z:
    z.writestr("A.txt", b"upper\n")
    z.writestr("a.txt", b"lower\n")
# A central header pointing at bytes that are not a local header (code 15, the bytes read).
moved = one_entry("moved.txt", b"moved\n", zipfile.ZIP_STORED)
struct.pack_into("<I", moved, central(moved) + 42, 2)
write(os.path.join(damaged, "bad_local_offset.zip"), moved)
# A zip64 end record before the end record whose size field would move the walk backwards.
loop = one_entry("loop.txt", b"loop\n", zipfile.ZIP_STORED)
eocd = loop.rfind(b"PK\x05\x06")
loop[eocd:eocd] = b"PK\x06\x06" + struct.pack("<Q", 0xFFFFFFFFFFFFFFF4)
write(os.path.join(damaged, "zip64_backwards.zip"), loop)
# The split-archive marker at the start of files named .z01 and .zip: the .z01 is redirected to
# the .zip beside it, which must not redirect again.
write(os.path.join(damaged, "again.z01"), b"PK\x07\x08" + b"\0" * 40)
write(os.path.join(damaged, "again.zip"), b"PK\x07\x08" + b"\0" * 40)
write(os.path.join(damaged, "nodot"), b"PK\x07\x08" + b"\0" * 40)
write(os.path.join(damaged, "nodotzip"), good)
write(os.path.join(damaged, "chain"), b"PK\x07\x08" + b"\0" * 40)
write(os.path.join(damaged, "chainzip"), b"PK\x07\x08" + b"\0" * 40)
# Names without the UTF-8 flag. Info-ZIP's zip where names are not UTF-8 writes them in the
# OEM code page ("?" for what it lacks) with a Unicode Path record (0x7075) beside them; the
# third record here is stale (the CRC-32 of another name, as after zipnote renamed it).
class OemInfo(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437", "replace"), self.flag_bits


with zipfile.ZipFile(os.path.join(damaged, "unicode_path.zip"), "w") as z:
    for name, recorded, crc_of, data in (("Łódź/Übung 1.html", "Łódź/Übung 1.html", None, b"<p>lodz</p>\n"),
                                         ("Ärger.html", "Ärger.html", None, b"<p>aerger</p>\n"),
                                         ("renamed.txt", "old name.txt", b"old name.txt", b"renamed\n")):
        info, utf8 = OemInfo(name), recorded.encode()
        crc = zlib.crc32(crc_of or name.encode("cp437", "replace"))
        info.extra = struct.pack("<HHBI", 0x7075, 5 + len(utf8), 1, crc) + utf8
        z.writestr(info, data, zipfile.ZIP_DEFLATED)
# Info-ZIP's zip on Unix in the C locale: the file system's names (UTF-8, and Latin-1), unflagged.
unix_names = os.path.join(out, "unix_names")
write(os.path.join(unix_names.encode(), "Ärger.html".encode()), b"<p>aerger</p>\n")
write(os.path.join(unix_names.encode(), b"caf\xe9.txt"), b"latin-1\n")
subprocess.run(["zip", "-q", os.path.join(damaged, "infozip_unix_names.zip"), "Ärger.html".encode(), b"caf\xe9.txt"],
               cwd=unix_names, env=dict(os.environ, LC_ALL="C"), check=True)
# A zip64 locator after the end record whose 16 bytes run past the end of the file: the records
# after the end record are not used, so the archive before them still opens.
locator_past_end = one_entry("a.txt", b"alpha\n")
write(os.path.join(damaged, "locator_past_end.zip"), bytes(locator_past_end) + b"PK\x06\x07" + b"\0" * 5)
# An end record whose disk fields both hold the zip64 marker 0xFFFF, as some writers make it:
# the zip64 end record (written by zipfile for more entries than its lowered count limit) says
# disk 0, where every entry starts.
saved_count = zipfile.ZIP_FILECOUNT_LIMIT
zipfile.ZIP_FILECOUNT_LIMIT = 1
try:
    disk_buffer = io.BytesIO()
    with zipfile.ZipFile(disk_buffer, "w") as z:
        z.writestr("one.txt", b"first\n")
        z.writestr("two.txt", b"second\n" * 100, zipfile.ZIP_DEFLATED)
finally:
    zipfile.ZIP_FILECOUNT_LIMIT = saved_count
disk_marker = bytearray(disk_buffer.getvalue())
struct.pack_into("<HH", disk_marker, disk_marker.rfind(b"PK\x05\x06") + 4, 0xFFFF, 0xFFFF)
write(os.path.join(damaged, "zip64_disk_marker.zip"), disk_marker)

# Integrity: entries whose bytes no longer match their CRC-32 beside intact ones. One byte is
# flipped in a stored entry's data, and one in a deflated entry's, at the first place (from the
# middle on) where the stream still inflates and only the CRC-32 tells; zipfile confirms both.
integrity_buffer = io.BytesIO()
with zipfile.ZipFile(integrity_buffer, "w") as z:
    z.writestr("intact-stored.txt", b"stored and intact\n" * 100, zipfile.ZIP_STORED)
    z.writestr("flipped-stored.bin", files["random.bin"][:20000], zipfile.ZIP_STORED)
    z.writestr("flipped-deflated.txt", big_text[:100000], zipfile.ZIP_DEFLATED)
    z.writestr("intact-deflated.txt", big_text[:50000], zipfile.ZIP_DEFLATED)
integrity = bytearray(integrity_buffer.getvalue())


def data_span(archive, name):
    with zipfile.ZipFile(io.BytesIO(bytes(archive))) as z:
        info = z.getinfo(name)
    start = info.header_offset + 30 + len(name) + len(info.extra)
    return start, info.compress_size


def fails_crc_only(archive, name):
    try:
        with zipfile.ZipFile(io.BytesIO(bytes(archive))) as z:
            z.read(name)
    except zipfile.BadZipFile as error:
        return "CRC" in str(error)
    except Exception:
        return False
    return False


start, length = data_span(integrity, "flipped-stored.bin")
integrity[start + length // 2] ^= 0x01
start, length = data_span(integrity, "flipped-deflated.txt")
for at in range(start + length // 2, start + length):
    integrity[at] ^= 0x01
    if fails_crc_only(integrity, "flipped-deflated.txt"):
        break
    integrity[at] ^= 0x01
else:
    raise SystemExit("no byte of the deflated entry fails only its CRC-32")
assert fails_crc_only(integrity, "flipped-stored.bin")
write(os.path.join(damaged, "integrity.zip"), integrity)
# A deflated entry cut short: half its compressed bytes are gone (both headers and the offsets
# after them say so), and the stream does not end within what is left.
cut = one_entry("cut.txt", big_text[:100000])
start, length = data_span(cut, "cut.txt")
half = length // 2
cut = cut[:start + half] + cut[start + length:]
struct.pack_into("<I", cut, 18, half)
struct.pack_into("<I", cut, central(cut) + 20, half)
eocd = cut.rfind(b"PK\x05\x06")
struct.pack_into("<I", cut, eocd + 16, struct.unpack_from("<I", cut, eocd + 16)[0] - (length - half))
write(os.path.join(damaged, "deflate_cut.zip"), cut)
# Size fields that lie about a deflated entry: more than its stream makes (it ends short of
# it), and fewer (the stream goes on past it). Both within what deflate could make.
for file_name, claimed in (("deflate_size_more.zip", 20000), ("deflate_size_less.zip", 5000)):
    lying = one_entry("lying.txt", b"some text\n" * 1000)
    struct.pack_into("<I", lying, 22, claimed)
    struct.pack_into("<I", lying, central(lying) + 24, claimed)
    write(os.path.join(damaged, file_name), lying)
# One damaged size field claiming 3.9 GB for an entry of 1,000 bytes, stored and deflated.
for file_name, method in (("size_3g_stored.zip", zipfile.ZIP_STORED), ("size_3g_deflated.zip", zipfile.ZIP_DEFLATED)):
    claim = one_entry("claim.bin", files["random.bin"][:1000], method)
    struct.pack_into("<I", claim, central(claim) + 24, 3900000000)
    write(os.path.join(damaged, file_name), claim)

# A source of 2 GiB and more (sparse): an empty archive's end record at its very end.
with open(os.path.join(damaged, "huge.zip"), "wb") as f:
    f.truncate(2 ** 31 + 100 - len(empty.getvalue()))
    f.seek(0, 2)
    f.write(empty.getvalue())

with open(os.path.join(out, "manifest.txt"), "w") as f:
    f.write("\n".join(manifest) + "\n")
