#!/usr/bin/env python3
"""Checks orvane-zip pack with a course folder, for a POSIX and a Windows launcher.

Usage: check_pack.py [--emulator PROGRAM] [--path-prefix PREFIX] [--posix LAUNCHER]
                     [--windows LAUNCHER] TOOL WORK

The folder has nested folders, non-ASCII names, a page, a style sheet, a PNG, a WebM video, an
empty file and links (one inside the folder, one to outside it). For each launcher given (a
missing file is reported and left out: the other build may not exist) the output is read back
with Python's zipfile: the names, the methods (media stored, text deflated), the UTF-8 flag and
every byte. A packed POSIX launcher (the embedded-archive probe) is also run, natively, and
must find every entry. Of names the launcher cannot tell apart only the first is packed. Two packs with SOURCE_DATE_EPOCH are byte-identical. Refusals (an empty
folder, a signed Windows launcher, a text file as launcher, an OUTPUT that cannot be written)
exit 1 with their reason and leave no OUTPUT behind.
With --emulator (the Windows tool under Wine) no links are made: Wine shows a POSIX link as the
file it points to, as a Windows program would see it.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

parser = argparse.ArgumentParser()
parser.add_argument("--emulator")
parser.add_argument("--path-prefix", default="")
parser.add_argument("--posix")
parser.add_argument("--windows")
parser.add_argument("tool")
parser.add_argument("work")
args = parser.parse_args()
failures = []
work = os.path.abspath(args.work)


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def tool_path(path):
    return args.path_prefix + os.path.abspath(path) if args.path_prefix else path


def pack(source, output, launcher, *extra, env=None):
    command = ([args.emulator] if args.emulator else []) + [args.tool, "pack", tool_path(source), "-o",
                                                             tool_path(output), "--launcher", tool_path(launcher)]
    return subprocess.run(command + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
                          env=dict(os.environ, **(env or {})))


def png(width, height):
    rows = b"".join(b"\0" + bytes((x * 7 + y * 3) % 256 for x in range(width * 3)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def webm(path):
    """A second of VP8 video from ffmpeg, else incompressible bytes under the name."""
    if shutil.which("ffmpeg"):
        result = subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                 "testsrc=size=96x64:rate=10", "-t", "1", "-c:v", "libvpx", path],
                                capture_output=True, timeout=120)
        if result.returncode == 0:
            return
    with open(path, "wb") as f:
        f.write(os.urandom(50000))


def make_course(root):
    """The course folder; returns {entry name: bytes} of what must be packed."""
    shutil.rmtree(root, ignore_errors=True)
    files = {
        "index.html": b"<!doctype html><title>Course</title>\n" + b"<p>Lesson text.</p>\n" * 200,
        "css/site.css": b"".join(b"p.n%d { margin: %dpx; color: #333; }\n" % (i, i) for i in range(300)),
        "media/pic.png": png(48, 48),
        "empty.txt": b"",
        "chapitre \u00e9t\u00e9/le\u00e7on \u00fc.html".encode(): "<p>\u00e9t\u00e9</p>\n".encode() * 50,
        "deep/er/still/notes.txt": b"notes\n" * 400,
    }
    for name, data in files.items():
        path = os.path.join(root.encode(), name if isinstance(name, bytes) else name.encode())
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    webm(os.path.join(root, "media", "clip.webm"))
    with open(os.path.join(root, "media", "clip.webm"), "rb") as f:
        files["media/clip.webm"] = f.read()
    if not args.emulator:
        os.symlink("/etc/hostname", os.path.join(root, "outside.txt"))
        os.symlink("../index.html", os.path.join(root, "css", "inside.html"))
        files["css/inside.html"] = files["index.html"]
    return {(k.decode() if isinstance(k, bytes) else k): v for k, v in files.items()}


# .start: a few bytes that deflate cannot shrink.
STORED = {"media/pic.png", "media/clip.webm", "empty.txt", ".start"}


def check_archive(output, expected, label):
    try:
        with zipfile.ZipFile(output) as z:
            infos = z.infolist()
            names = [info.filename for info in infos]
            check(names == sorted(expected, key=lambda n: n.encode()), "%s: entries %r" % (label, names))
            for info in infos:
                if info.filename not in expected:
                    continue
                want = zipfile.ZIP_STORED if info.filename in STORED else zipfile.ZIP_DEFLATED
                check(info.compress_type == want, "%s: %s has method %d" % (label, info.filename, info.compress_type))
                check(bool(info.flag_bits & 0x800) == (not info.filename.isascii()),
                      "%s: %s has flags %#x" % (label, info.filename, info.flag_bits))
                check(z.read(info) == expected[info.filename], "%s: %s differs" % (label, info.filename))
    except zipfile.BadZipFile as error:
        check(False, "%s: %s" % (label, error))


def check_refused(result, output, reason, label):
    message = result.stderr.decode("utf-8", "replace")
    check(result.returncode == 1 and reason in message, "%s: exit %d, %r" % (label, result.returncode, message))
    leftovers = [n for n in os.listdir(os.path.dirname(output)) if n.startswith(os.path.basename(output))]
    check(not leftovers, "%s: left %r behind" % (label, leftovers))


def signed_copy(launcher, path):
    """The Windows launcher with a certificate table in its security directory entry."""
    with open(launcher, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    struct.pack_into("<II", data, directories + 8 * 4, len(data), 8)
    with open(path, "wb") as f:
        f.write(data + b"\0" * 8)


def main():
    os.makedirs(work, exist_ok=True)
    course = os.path.join(work, "course")
    expected = make_course(course)
    launchers = {}
    for kind in ("posix", "windows"):
        path = getattr(args, kind)
        if path and os.path.exists(path):
            launchers[kind] = path
        else:
            print("no %s launcher at %s: its packs are not checked here" % (kind, path))
    check(launchers, "no launcher to pack for")
    out = os.path.join(work, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)

    for kind, launcher in launchers.items():
        output = os.path.join(out, "course-" + kind)
        result = pack(course, output, launcher, "--start", "Welcome \u00fc")
        stderr = result.stderr.decode("utf-8", "replace")
        check(result.returncode == 0, "%s: pack exits %d: %s" % (kind, result.returncode, stderr))
        if not args.emulator:
            check("outside.txt" in stderr and "css/inside.html" not in stderr, "%s: skipped items: %r" % (kind, stderr))
        with_start = dict(expected)
        with_start[".start"] = "Welcome \u00fc".encode("utf-16-le")
        check_archive(output, with_start, kind)
        if kind == "posix":
            if args.emulator:
                # Windows keeps no POSIX mode bits: the Linux user marks the program executable.
                os.chmod(output, 0o755)
            check(os.access(output, os.X_OK), "posix: output not executable")
            run = subprocess.run([output] + sorted(with_start), capture_output=True, timeout=60)
            check(run.returncode == 0, "posix: the packed probe finds %r" % run.stdout)

        # The same folder and launcher with SOURCE_DATE_EPOCH give the same bytes, new file times
        # notwithstanding.
        copies = []
        for i in range(2):
            for name in ("index.html", "css/site.css"):
                os.utime(os.path.join(course, name), (1600000000 + i * 1000, 1600000000 + i * 1000))
            copy = os.path.join(out, "repro-%s-%d" % (kind, i))
            result = pack(course, copy, launcher, env={"SOURCE_DATE_EPOCH": "1700000000"})
            check(result.returncode == 0, "%s: reproducible pack exits %d" % (kind, result.returncode))
            with open(copy, "rb") as f:
                copies.append(f.read())
        check(copies[0] == copies[1], "%s: two packs with SOURCE_DATE_EPOCH differ" % kind)
        with zipfile.ZipFile(os.path.join(out, "repro-%s-0" % kind)) as z:
            check(all(i.date_time == (2023, 11, 14, 22, 13, 20) for i in z.infolist()), "%s: stamps %r" % (kind, z.infolist()[0].date_time))

    # A folder without index.html is packed with a warning.
    bare = os.path.join(work, "bare")
    shutil.rmtree(bare, ignore_errors=True)
    os.makedirs(bare)
    with open(os.path.join(bare, "page.html"), "w") as f:
        f.write("<p>no index</p>")
    any_launcher = next(iter(launchers.values()))
    result = pack(bare, os.path.join(out, "bare"), any_launcher)
    check(result.returncode == 0 and b"no index.html" in result.stderr, "no index.html: %r" % (result,))

    # Names the launcher cannot tell apart (it ignores ASCII case): the first is packed, the
    # other named as skipped.
    clash = os.path.join(work, "clash")
    shutil.rmtree(clash, ignore_errors=True)
    os.makedirs(clash)
    for name in ("Index.html", "index.html"):
        with open(os.path.join(clash, name), "w") as f:
            f.write(name)
    result = pack(clash, os.path.join(out, "clash"), any_launcher)
    check(result.returncode == 0 and b"skipped index.html" in result.stderr, "clashing names: %r" % (result,))
    if result.returncode == 0:
        with zipfile.ZipFile(os.path.join(out, "clash")) as z:
            check(z.namelist() == ["Index.html"], "clashing names packed as %r" % z.namelist())

    # Refusals: exit 1, the reason, no OUTPUT.
    empty = os.path.join(work, "empty")
    shutil.rmtree(empty, ignore_errors=True)
    os.makedirs(empty)
    refused = os.path.join(out, "refused")
    check_refused(pack(empty, refused, any_launcher), refused, "has no files", "empty folder")
    text = os.path.join(work, "launcher.txt")
    with open(text, "w") as f:
        f.write("not a program\n")
    check_refused(pack(course, refused, text), refused, "neither a POSIX launcher", "text launcher")
    if "windows" in launchers:
        signed = os.path.join(work, "signed.exe")
        signed_copy(launchers["windows"], signed)
        check_refused(pack(course, refused, signed), refused, "Authenticode signature", "signed launcher")
    blocker = os.path.join(out, "a-file")
    with open(blocker, "w") as f:
        f.write("a file where a folder should be\n")
    unwritable = os.path.join(blocker, "course")
    result = pack(course, unwritable, any_launcher)
    check(result.returncode == 1 and b"cannot write" in result.stderr, "unwritable output: %r" % (result,))
    check(not os.path.exists(blocker + ".orvane-zip-tmp"), "unwritable output left a file")

    print("%d failures" % len(failures))
    sys.exit(1 if failures else 0)


main()
