#!/usr/bin/env python3
"""Checks orvane-zip pack with a course folder, for a POSIX and a Windows launcher.

Usage: check_pack.py [--emulator PROGRAM] [--path-prefix PREFIX] [--posix LAUNCHER]
                     [--windows LAUNCHER] TOOL WORK

Each launcher given (a missing file is left out: the other build may not exist) is packed with a
folder of media, non-ASCII and non-UTF-8 names, links (inside, outside, a loop, a fan) and junk,
and read back with zipfile (names, methods, UTF-8 flag, bytes), `list`, `cat` and, natively, the
packed POSIX probe. Then: reproducible packs, repacking a packed launcher, a pack into the folder
itself, refusals (exit 1, the reason, no OUTPUT left), planted links, --icon and --title read back
(also through Windows' calls under Wine) and signed, and the shipped launchers' size and resources.
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
parser.add_argument("--shipped", action="append", default=[], help="a launcher beside which orvane(.exe) is checked")
parser.add_argument("--sanitized", action="store_true", help="the POSIX launcher keeps its symbols: its size is not checked")
parser.add_argument("tool")
parser.add_argument("work")
args = parser.parse_args()
failures = []
work = os.path.abspath(args.work)


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def write(path, data):
    """Writes `data` (bytes, or text) to `path`, making its folder first."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w" if isinstance(data, str) else "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tool_path(path):
    return args.path_prefix + os.path.abspath(path) if args.path_prefix else path


def run_tool(*arguments, env=None):
    command = ([args.emulator] if args.emulator else []) + [args.tool] + list(arguments)
    # The tool says why whenever it fails; a silent failure under Wine is Wine's (seen once in a
    # full run), so that run is made again, and said.
    for attempt in (1, 2):
        result = subprocess.run(command, capture_output=True, timeout=300, env=dict(os.environ, **(env or {})))
        if not (args.emulator and attempt == 1 and result.returncode != 0 and not result.stdout and not result.stderr):
            return result
        print("note: Wine ended %r with %d and no output; run again" % (arguments[:1], result.returncode))


def pack(source, output, launcher, *extra, env=None):
    return run_tool("pack", tool_path(source), "-o", tool_path(output), "--launcher", tool_path(launcher), *extra, env=env)


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
    write(path, os.urandom(50000))


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
        write(path, data)
    webm(os.path.join(root, "media", "clip.webm"))
    files["media/clip.webm"] = read(os.path.join(root, "media", "clip.webm"))
    # Silence, which deflate would shrink to nothing: stored all the same.
    files["media/tone.wav"] = b"RIFF" + b"\0" * 40000
    # Left out: by default and by --exclude.
    for junk in (".git/HEAD", ".DS_Store", "Thumbs.db", "media/desktop.ini", "index.html~", "css/.site.css.swp",
                 "drafts/plan.txt", "media/raw.psd"):
        write(os.path.join(root, junk), "junk\n")
    write(os.path.join(root, "media", "tone.wav"), files["media/tone.wav"])
    if not args.emulator:
        outside = os.path.join(work, "shared.js")
        write(outside, "var shared = 1;\n")
        os.symlink(outside, os.path.join(root, "outside.js"))
        files["outside.js"] = b"var shared = 1;\n"
        os.symlink("../index.html", os.path.join(root, "css", "inside.html"))
        files["css/inside.html"] = files["index.html"]
        # A loop (a link to a folder that holds it) and a fan (two links to each folder, five
        # deep): each folder is packed once, under its first name in name order, so they add
        # nothing.
        os.symlink("..", os.path.join(root, "deep", "loop"))
        os.symlink("../..", os.path.join(root, "deep", "vendor-assets"))  # the folder around SOURCE
        for level in range(5):
            os.makedirs(os.path.join(root, "fan", "f%d" % level))
            for link in ("a", "b"):
                os.symlink("../f%d" % (level - 1) if level else "../../deep/er", os.path.join(root, "fan", "f%d" % level, link))
        files[b"bad\xffname.txt"] = b"not UTF-8\n"
        write(os.path.join(root.encode(), b"bad\xffname.txt"), b"not UTF-8\n")
    # A name without the UTF-8 flag reads as code page 437, as zipfile reads it.
    return {(k.decode("utf-8") if k.isascii() or b"\xff" not in k else k.decode("cp437")) if isinstance(k, bytes) else k: v
            for k, v in files.items()}


EXCLUDES = ("--exclude", "drafts/", "--exclude", "*.psd")
# .start: a few bytes that deflate cannot shrink.
STORED = {"media/pic.png", "media/clip.webm", "media/tone.wav", "empty.txt", ".start", "outside.js", "bad\xa0name.txt"}
NOT_UTF8 = {"bad\xa0name.txt"}


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
                check(bool(info.flag_bits & 0x800) == (not info.filename.isascii() and info.filename not in NOT_UTF8),
                      "%s: %s has flags %#x" % (label, info.filename, info.flag_bits))
                check(z.read(info) == expected[info.filename], "%s: %s differs" % (label, info.filename))
    except zipfile.BadZipFile as error:
        check(False, "%s: %s" % (label, error))


def check_refused(result, output, reason, label):
    message = result.stderr.decode("utf-8", "replace")
    check(result.returncode == 1 and reason in message, "%s: exit %d, %r" % (label, result.returncode, message))
    leftovers = [n for n in os.listdir(os.path.dirname(output)) if n.startswith(os.path.basename(output))]
    check(not leftovers, "%s: left %r behind" % (label, leftovers))


def u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def pe_layout(data):
    """Offsets of the PE header, optional header, section table and data directories; the sections."""
    pe = u32(data, 0x3C)
    optional = pe + 24
    table = optional + u16(data, pe + 20)
    sections = [struct.unpack_from("<III", data, table + 40 * i + 12) for i in range(u16(data, pe + 6))]
    return pe, optional, table, optional + (96 if u16(data, optional) == 0x10B else 112), sections


def pe_offset(data, rva):
    for address, size, pointer in pe_layout(data)[4]:
        if address <= rva < address + size:
            return pointer + rva - address


def pe_resources(data):
    """{(type, name, language): bytes}, names as integers or strings, as the loader finds them."""
    root = pe_offset(data, u32(data, pe_layout(data)[3] + 16))
    found = {}

    def walk(at, path):
        for i in range(u16(data, root + at + 12) + u16(data, root + at + 14)):
            name, target = struct.unpack_from("<II", data, root + at + 16 + 8 * i)
            if name >> 31:
                start = root + (name & 0x7FFFFFFF)
                name = data[start + 2:start + 2 + 2 * u16(data, start)].decode("utf-16-le")
            if target >> 31:
                walk(target & 0x7FFFFFFF, path + (name,))
            else:
                rva, size = struct.unpack_from("<II", data, root + target)
                found[path + (name,)] = data[pe_offset(data, rva):pe_offset(data, rva) + size]
    walk(0, ())
    return found


def broken_copies(launchers, path):
    """(label, file, reason) for each damaged copy of the launchers at hand."""
    cases = []

    def copy(label, source, reason, edit):
        data = bytearray(read(source))
        edited = edit(data)
        data = edited if isinstance(edited, (bytes, bytearray)) else data
        name = os.path.join(path, label.replace(" ", "-"))
        write(name, data)
        cases.append((label, name, reason))
    if "windows" in launchers:
        # orvane.exe has resources; the probe has none.
        w = os.path.join(os.path.dirname(launchers["windows"]), "orvane.exe")
        w = w if os.path.exists(w) else launchers["windows"]
        pe = pe_layout
        copy("SizeOfHeaders short of the sections", w, "does not cover the section table",
             lambda d: struct.pack_into("<I", d, pe(d)[1] + 60, pe(d)[2] + 20))
        copy("SizeOfHeaders 0", w, "SizeOfHeaders 0", lambda d: struct.pack_into("<I", d, pe(d)[1] + 60, 0))
        copy("PE32+ of 96 bytes", w, "too small for a PE32+",
             lambda d: (struct.pack_into("<H", d, pe(d)[1], 0x20B), struct.pack_into("<H", d, pe(d)[0] + 20, 96)))
        copy("FileAlignment 3", w, "FileAlignment 3", lambda d: struct.pack_into("<I", d, pe(d)[1] + 36, 3))
        copy("section past the end", w, "section 1's data", lambda d: struct.pack_into("<I", d, pe(d)[2] + 20, len(d)))
        copy("sections overlap", w, "overlaps the one before it",
             lambda d: struct.pack_into("<I", d, pe(d)[2] + 40 + 12, u32(d, pe(d)[2] + 12)))
        copy("resource directory entry outside", w, "data directory 2",
             lambda d: struct.pack_into("<I", d, pe(d)[3] + 16, 0x7FFFFFF0))
        root = lambda d: pe_offset(d, u32(d, pe(d)[3] + 16))  # noqa: E731
        has_resources = root(read(w)) is not None
        has_resources and copy("resource loop", w, "reached twice", lambda d: struct.pack_into("<I", d, root(d) + 20, 0x80000000))
        has_resources and copy("resource entries", w, "resource", lambda d: struct.pack_into("<HH", d, root(d) + 12, 0xFFFF, 0xFFFF))
    if "posix" in launchers:
        p = launchers["posix"]
        copy("ELF of 100 bytes", p, "program headers", lambda d: d[:100])
        # The first program header's file size (ELF64), far past the end.
        copy("ELF segment past the end", p, "segment 1",
             lambda d: struct.pack_into("<Q", d, u32(d, 32) + 32, len(d) * 2))
        tool = os.path.join(os.path.dirname(p), "orvane-zip")
        if os.path.exists(tool):
            cases.append(("orvane-zip itself", tool, "no launcher mark"))
    return cases


def signed_copy(launcher, path):
    """The Windows launcher with a certificate table in its security directory entry."""
    data = bytearray(read(launcher))
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    struct.pack_into("<II", data, directories + 8 * 4, len(data), 8)
    write(path, data + b"\0" * 8)


def check_icon_and_title(course, out, windows_launcher):
    """--icon and --title on orvane.exe beside the Windows launcher: read back from the resources."""
    orvane = os.path.join(os.path.dirname(windows_launcher), "orvane.exe")
    if not os.path.exists(orvane):
        print("no %s: --icon and --title are not checked here" % orvane)
        return
    image = png(32, 32)
    icon = os.path.join(work, "course.ico")
    write(icon, struct.pack("<HHHBBBBHHII", 0, 1, 1, 32, 32, 0, 0, 1, 32, len(image), 22) + image)
    titled = os.path.join(out, "titled.exe")
    title = "Cours d'\u00e9t\u00e9 \u2713"
    result = pack(course, titled, orvane, "--icon", tool_path(icon), "--title", title)
    check(result.returncode == 0, "--icon --title: %r" % (result,))
    if result.returncode != 0:
        return
    before, after = pe_resources(read(orvane)), pe_resources(read(titled))
    groups = [key for key in after if key[0] == 14]
    check(len(groups) == 1 and after[groups[0]][:6] == struct.pack("<HHH", 0, 1, 1) and u16(after[groups[0]], 18) == 1,
          "icon group %r" % groups)
    check([v for k, v in after.items() if k[:2] == (3, 1)] == [image], "the icon's image")
    version = [v for k, v in after.items() if k[0] == 16]
    check(len(version) == 1 and version[0].count(title.encode("utf-16-le") + b"\0\0") == 2, "the title in %r" % version)
    check([v for k, v in after.items() if k[0] == 24] == [v for k, v in before.items() if k[0] == 24], "the manifest kept")
    # Signed after packing, the signature verifies (osslsigncode, as the README shows).
    if shutil.which("osslsigncode") and shutil.which("openssl"):
        key, cert, signed = (os.path.join(work, n) for n in ("key.pem", "cert.pem", "signed.exe"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=Orvane test"], capture_output=True, check=True)
        if os.path.exists(signed):
            os.remove(signed)
        sign = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256", "-in", titled,
                               "-out", signed], capture_output=True)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, signed], capture_output=True)
        check(sign.returncode == 0 and verify.returncode == 0 and b"Signature verification: ok" in verify.stdout,
              "signing after packing: %r" % (verify,))
    # Under Wine: as Windows' own resource loading reads them.
    probe = os.path.join(os.path.dirname(windows_launcher), "amzip_resource_probe.exe")
    if args.emulator and os.path.exists(probe):
        shown = subprocess.run([args.emulator, probe, tool_path(titled)], capture_output=True, timeout=120).stdout.decode()
        check(shown.split() == ["FileDescription=Cours", "d'\u00e9t\u00e9", "\u2713", "ProductName=Cours", "d'\u00e9t\u00e9",
                                "\u2713", "icons=1"], "Wine reads %r" % shown)


def check_shipped(orvane):
    """The shipped launcher: under 3.5 MB (the POSIX one static, 2.9 MB, of which 0.6 MB is the
    SCORM runtime of the player); a Windows one with its manifest and version, large-address-aware."""
    if not os.path.exists(orvane):
        print("no %s: not checked here" % orvane)
        return
    if not (args.sanitized and not orvane.endswith(".exe")):
        check(os.path.getsize(orvane) < 3500000, "%s is %d bytes" % (orvane, os.path.getsize(orvane)))
    data = read(orvane)
    if data[:2] == b"MZ":
        found = pe_resources(data)
        manifest = [v for k, v in found.items() if k[:2] == (24, 1)]
        check(manifest and b'level="asInvoker"' in manifest[0] and b"longPathAware" in manifest[0] and
              b"Microsoft.Windows.Common-Controls" in manifest[0], "%s: manifest %r" % (orvane, manifest))
        check(any(k[0] == 16 and b"O\0r\0v\0a\0n\0e\0" in v for k, v in found.items()), "%s: no version resource" % orvane)
        check(u16(data, u32(data, 0x3C) + 22) & 0x20, "%s is not large-address-aware" % orvane)


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
        result = pack(course, output, launcher, "--start", "Welcome \u00fc", *EXCLUDES)
        stderr = result.stderr.decode("utf-8", "replace")
        summary = result.stdout.decode("utf-8", "replace")
        check(result.returncode == 0, "%s: pack exits %d: %s" % (kind, result.returncode, stderr))
        for item in (".git/ (left out by default", "index.html~", "drafts/ (--exclude drafts/)", "media/raw.psd (--exclude *.psd)",
                     "%d files" % (len(expected) + 1)):
            check(item in summary, "%s: %r not in the summary %r" % (kind, item, summary))
        if not args.emulator:
            check("followed outside.js -> " in summary and "deep/loop/ (a link to SOURCE or a folder above it" in summary and
                  "deep/vendor-assets/ (a link to SOURCE or a folder above it" in summary and
                  "fan/f4/b/ (the same folder as fan/f3/)" in summary, "%s: links in the summary %r" % (kind, summary))
            check("bad\ufffdname.txt is not a UTF-8 name" in stderr, "%s: no word of the name that is not UTF-8: %r" % (kind, stderr))
        with_start = dict(expected)
        with_start[".start"] = "Welcome \u00fc".encode("utf-16-le")
        check_archive(output, with_start, kind)
        # list and cat read the packed launcher as they read a zip.
        listed = run_tool("list", tool_path(output)).stdout.decode("utf-8", "replace").splitlines()
        check(len(listed) == len(with_start), "%s: list gives %d lines" % (kind, len(listed)))
        check(run_tool("cat", tool_path(output), "css/site.css").stdout == expected["css/site.css"], "%s: cat" % kind)
        if kind == "posix":
            if args.emulator:
                # Windows keeps no POSIX mode bits: the Linux user marks the program executable.
                os.chmod(output, 0o755)
            check(os.access(output, os.X_OK), "posix: output not executable")
            names = [b"bad\xffname.txt" if n in NOT_UTF8 else os.fsencode(n) for n in sorted(with_start)]
            run = subprocess.run([output] + names, capture_output=True, timeout=60)
            check(run.returncode == 0, "posix: the packed probe finds %r" % run.stdout)

        # The same folder, course ID and launcher with SOURCE_DATE_EPOCH give the same bytes, new file times
        # notwithstanding.
        copies = []
        for i in range(2):
            for name in ("index.html", "css/site.css"):
                os.utime(os.path.join(course, name), (1600000000 + i * 1000, 1600000000 + i * 1000))
            copy = os.path.join(out, "repro-%s-%d" % (kind, i))
            result = pack(course, copy, launcher, "--id", "repro", env={"SOURCE_DATE_EPOCH": "1700000000"})
            check(result.returncode == 0, "%s: reproducible pack exits %d" % (kind, result.returncode))
            copies.append(read(copy))
        check(copies[0] == copies[1], "%s: two packs with SOURCE_DATE_EPOCH differ" % kind)
        with zipfile.ZipFile(os.path.join(out, "repro-%s-0" % kind)) as z:
            check(all(i.date_time == (2023, 11, 14, 22, 13, 20) for i in z.infolist()), "%s: stamps %r" % (kind, z.infolist()[0].date_time))

    # A packed launcher as SOURCE: its archive is packed again, for the other platform too.
    for kind, launcher in launchers.items():
        source = os.path.join(out, "course-" + ("windows" if kind == "posix" and "windows" in launchers else "posix"))
        if os.path.exists(source):
            repacked = os.path.join(out, "repacked-" + kind)
            result = pack(source, repacked, launcher)
            check(result.returncode == 0, "repacking %s: %r" % (source, result))
            with zipfile.ZipFile(source) as a, zipfile.ZipFile(repacked) as b:
                check([(i.filename, i.CRC) for i in a.infolist()] == [(i.filename, i.CRC) for i in b.infolist()],
                      "%s: repacked entries differ" % kind)

    # The course ID: new and named in the summary, kept from a packed launcher or a zip that has
    # one, given with --id, kept in the folder with --keep-id (and never packed as a file).
    def course_id(path):
        with zipfile.ZipFile(path) as z:
            lines = [l for l in z.comment.decode().splitlines() if l.startswith("orvane-course-id: ")]
            return lines[0][18:] if len(lines) == 1 else None
    first = course_id(os.path.join(out, "course-" + next(iter(launchers))))
    check(first is not None and len(first) == 32, "a new course ID: %r" % first)
    for kind in launchers:
        # each folder pack draws its own ID; a launcher is repacked from the other platform's course
        own = course_id(os.path.join(out, "course-" + ("windows" if kind == "posix" and "windows" in launchers else "posix")))
        check(own is not None and course_id(os.path.join(out, "repacked-" + kind)) == own,
              "%s: repacking keeps the ID" % kind)
    any_launcher = next(iter(launchers.values()))
    plain_zip = os.path.join(work, "plain.zip")
    with zipfile.ZipFile(plain_zip, "w") as z:
        z.comment = b"a zip of another tool"
        z.writestr("index.html", "<p>plain</p>")
    result = pack(plain_zip, os.path.join(out, "from-zip"), any_launcher)
    given = course_id(os.path.join(out, "from-zip"))
    check(result.returncode == 0 and given and ("course ID %s (new" % given).encode() in result.stdout,
          "a zip without an ID gets one: %r" % (result,))
    with zipfile.ZipFile(os.path.join(out, "from-zip")) as z:
        check(z.namelist() == ["index.html"] and z.comment.startswith(b"a zip of another tool\n"), "the zip's entries and comment kept")
    pack(os.path.join(out, "from-zip"), os.path.join(out, "from-zip-2"), any_launcher, "--id", "vendor-a.safety-2")
    check(course_id(os.path.join(out, "from-zip-2")) == "vendor-a.safety-2", "--id replaces the ID")
    check_refused(pack(plain_zip, os.path.join(out, "bad-id"), any_launcher, "--id", "a b"), os.path.join(out, "bad-id"),
                  "a course ID is", "--id with a blank")
    keep = os.path.join(work, "keep")
    shutil.rmtree(keep, ignore_errors=True)
    write(os.path.join(keep, "index.html"), "<p>v1</p>")
    pack(keep, os.path.join(out, "keep-1"), any_launcher, "--keep-id")
    kept_id = course_id(os.path.join(out, "keep-1"))
    check(read(os.path.join(keep, ".orvane-course-id")) == (kept_id + "\n").encode(), "--keep-id writes the ID beside the files")
    write(os.path.join(keep, "index.html"), "<p>v2</p>")
    pack(keep, os.path.join(out, "keep-2"), any_launcher)
    with zipfile.ZipFile(os.path.join(out, "keep-2")) as z:
        check(course_id(os.path.join(out, "keep-2")) == kept_id and z.namelist() == ["index.html"], "the next version keeps it")

    # Names another system reads as paths or a terminal as commands are refused; an unreadable
    # path fails the pack; list shows control characters escaped.
    if not args.emulator:
        for bad in ("..\\..\\evil.bat", "line\nbreak.txt", "\x1b[31mred.txt"):
            named = os.path.join(work, "named")
            shutil.rmtree(named, ignore_errors=True)
            write(os.path.join(named, "index.html"), "x")
            write(os.path.join(named, bad), "x")
            check_refused(pack(named, os.path.join(out, "named"), any_launcher), os.path.join(out, "named"), "rename it", repr(bad))
        fd = os.open(named, os.O_RDONLY)
        for _ in range(30):  # deeper than PATH_MAX from SOURCE
            os.mkdir("d" * 200, dir_fd=fd)
            fd, old = os.open("d" * 200, os.O_RDONLY, dir_fd=fd), fd
            os.close(old)
        os.close(fd)
        os.remove(os.path.join(named, "\x1b[31mred.txt"))
        check_refused(pack(named, os.path.join(out, "named"), any_launcher), os.path.join(out, "named"), "File name too long",
                      "a path too long")
        escaped = os.path.join(work, "escaped.zip")
        with zipfile.ZipFile(escaped, "w") as z:
            z.writestr("a\nb\x1b[2J.txt", "x")
        listed = run_tool("list", tool_path(escaped)).stdout
        check(listed.endswith(b"\ta\\x0ab\\x1b[2J.txt\n"), "list escapes control characters: %r" % listed)

    # A folder without index.html is packed with a warning.
    bare = os.path.join(work, "bare")
    shutil.rmtree(bare, ignore_errors=True)
    os.makedirs(bare)
    write(os.path.join(bare, "page.html"), "<p>no index</p>")
    result = pack(bare, os.path.join(out, "bare"), any_launcher)
    check(result.returncode == 0 and b"no index.html" in result.stderr, "no index.html: %r" % (result,))

    # A SCORM package's manifest is checked, folder or zip (with its top folder): each problem
    # is a warning, and it is packed all the same.
    package = os.path.join(work, "package", "Course")
    shutil.rmtree(os.path.dirname(package), ignore_errors=True)
    write(os.path.join(package, "start.html"), "<p>sco</p>")
    manifest = ('<manifest identifier="P" xmlns="http://www.imsproject.org/xsd/imscp_rootv1p1p2" '
                'xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2"><metadata><schemaversion>%s</schemaversion>'
                '</metadata><organizations default="%s"><organization identifier="O"><item identifier="I" '
                'identifierref="R"><title>I</title></item></organization></organizations><resources><resource '
                'identifier="R" href="%s" adlcp:scormtype="sco"/></resources></manifest>')
    for values, problems in ((("1.2", "O", "start.html"), []),
                             (("1.2", "X", "gone.html"), [b'"X" does not exist', b'"gone.html", which is not']),
                             (("9.9", "O", "start.html"), [b'"9.9" is not one of SCORM 1.2'])):
        write(os.path.join(package, "imsmanifest.xml"), manifest % values)
        zipped = os.path.join(work, "package.zip")
        subprocess.run(["zip", "-qr", zipped, "Course"], cwd=os.path.dirname(package), check=True)
        for source in (package, zipped):
            result = pack(source, os.path.join(out, "package"), any_launcher)
            warnings = [line for line in result.stderr.splitlines() if b"SCORM manifest" in line]
            check(result.returncode == 0 and len(warnings) == len(problems) and
                  all(any(p in w for w in warnings) for p in problems) and b"no index.html" not in result.stderr,
                  "SCORM check of %s %r: %r" % (source, values, result.stderr))
        os.remove(zipped)

    # Names the launcher cannot tell apart (it ignores ASCII case): the first is packed, the
    # other named as skipped.
    clash = os.path.join(work, "clash")
    shutil.rmtree(clash, ignore_errors=True)
    os.makedirs(clash)
    for name in ("Index.html", "index.html"):
        write(os.path.join(clash, name), name)
    result = pack(clash, os.path.join(out, "clash"), any_launcher)
    check(result.returncode == 0 and b"skipped index.html" in result.stderr, "clashing names: %r" % (result,))
    if result.returncode == 0:
        with zipfile.ZipFile(os.path.join(out, "clash")) as z:
            check(z.namelist() == ["Index.html"], "clashing names packed as %r" % z.namelist())

    if not args.emulator:
        kept_in = os.path.join(out, "no-outside")
        result = pack(course, kept_in, any_launcher, "--no-outside-links")
        check(b"left out outside.js (a link to outside the folder, --no-outside-links)" in result.stdout,
              "--no-outside-links: %r" % (result,))
        with zipfile.ZipFile(kept_in) as z:
            check("outside.js" not in z.namelist(), "--no-outside-links packed outside.js")
    result = run_tool("list", tool_path(any_launcher))
    check(result.returncode == 1 and b"carries no course" in result.stderr, "list of a bare launcher: %r" % (result,))

    # A pack into the folder itself, twice, leaves out OUTPUT and a stopped pack's temporary file:
    # the same size both times.
    inside = os.path.join(course, "self")
    write(inside + ".orvane-zip-0badf00d", "a stopped pack's temporary file\n")
    sizes = []
    for _ in range(2):
        result = pack(course, inside, any_launcher, *EXCLUDES)
        check(result.returncode == 0 and b"self (OUTPUT itself)" in result.stdout or not sizes, "inside: %r" % (result,))
        sizes.append(os.path.getsize(inside))
    check(sizes[0] == sizes[1], "packing into the folder grows it: %r" % sizes)
    os.remove(inside)
    os.remove(inside + ".orvane-zip-0badf00d")

    # Refusals: exit 1, the reason, no OUTPUT.
    empty = os.path.join(work, "empty")
    shutil.rmtree(empty, ignore_errors=True)
    os.makedirs(empty)
    refused = os.path.join(out, "refused")
    check_refused(pack(empty, refused, any_launcher), refused, "has no files", "empty folder")
    text = os.path.join(work, "launcher.txt")
    write(text, "not a program\n")
    check_refused(pack(course, refused, text), refused, "neither a POSIX launcher", "text launcher")
    if "windows" in launchers:
        signed = os.path.join(work, "signed.exe")
        signed_copy(launchers["windows"], signed)
        check_refused(pack(course, refused, signed), refused, "Authenticode signature", "signed launcher")
    broken = os.path.join(work, "broken")
    shutil.rmtree(broken, ignore_errors=True)
    os.makedirs(broken)
    for label, launcher, reason in broken_copies(launchers, broken):
        check_refused(pack(course, refused, launcher), refused, reason, label)
    if "posix" in launchers:
        check_refused(pack(course, refused, launchers["posix"], "--icon", launchers["posix"]), refused, "for Windows launchers",
                      "--icon for POSIX")
    if "windows" in launchers:
        check_icon_and_title(course, out, launchers["windows"])
    result = pack(course, out, any_launcher)
    check(result.returncode == 1 and b"is a folder" in result.stderr, "OUTPUT a folder: %r" % (result,))
    if not args.emulator:
        # Links planted at OUTPUT and at the old temporary name are replaced or left alone, never
        # written through.
        victim = os.path.join(work, "victim")
        write(victim, "not to be overwritten\n")
        planted = os.path.join(out, "planted")
        for link in (planted, planted + ".orvane-zip-tmp"):
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(victim, link)
        result = pack(course, planted, any_launcher)
        with open(victim) as f:
            check(result.returncode == 0 and f.read() == "not to be overwritten\n" and not os.path.islink(planted),
                  "planted links: %r" % (result,))

    blocker = os.path.join(out, "a-file")
    write(blocker, "a file where a folder should be\n")
    unwritable = os.path.join(blocker, "course")
    result = pack(course, unwritable, any_launcher)
    check(result.returncode == 1 and b"cannot write" in result.stderr, "unwritable output: %r" % (result,))
    check(not os.path.exists(blocker + ".orvane-zip-tmp"), "unwritable output left a file")

    for launcher in list(launchers.values()) + args.shipped:
        check_shipped(os.path.join(os.path.dirname(launcher), "orvane.exe" if launcher.endswith(".exe") else "orvane"))

    print("%d failures" % len(failures))
    sys.exit(1 if failures else 0)


main()
