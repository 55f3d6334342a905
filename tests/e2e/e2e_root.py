#!/usr/bin/env python3
"""A packed launcher in a root holding only itself and a static stand-in browser (root_browser),
chrooted in a mount namespace of its own, with /proc and without: every entry whole, with its
type, the sniffed ones too. Needs root (else skipped, exit 77).

usage: e2e_root.py --tool ORVANE_ZIP --launcher ORVANE --browser ROOT_BROWSER --work DIR [--emulator PROGRAM]
--emulator: a static copy of PROGRAM (qemu-user) joins the root and runs the launcher."""
import os
import re
import shutil
import subprocess

from e2e_common import Skipped, check, run_script

PNG = (b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89"
       b"\0\0\0\rIDATx\x9cc\xf8\x0f\0\0\x01\x01\0\x05\x18\xd8N\0\0\0\0IEND\xaeB`\x82")
ENTRIES = {  # name: (bytes, the type it must be served with)
    "index.html": (b"<!doctype html><title>Root</title><p>served from an empty root</p>\n", "text/html"),
    "style.css": (b"p { color: teal }\n", "text/css"),
    "app.js": (b"document.title += '!';\n", "application/javascript"),
    "data.json": (b'{"a": [1, 2]}\n', "application/json"),
    "image.png": (PNG, "image/png"),
    "lessons/one.html": (b"<html><body>one</body></html>\n", "text/html"),
    # Sniffed: extensions the table does not know.
    "page.lesson": (b"  <HTML><body>sniffed</body></html>\n", "text/html"),
    "picture.dat": (PNG, "image/png"),
    "notes.log": (b"plain words\n" * 200, "text/plain"),
    "blob.bin": (bytes(range(256)) * 40, "application/octet-stream"),
    "clip.media": (b"\x1a\x45\xdf\xa3\x9f\x42\x86\x81\x01\x42\x82\x84webm" + os.urandom(4000), "video/webm"),
}


def run_in_root(args, work, packed, with_proc):
    root = os.path.join(work, "root-proc" if with_proc else "root-bare")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    shutil.copy(packed, os.path.join(root, "course"))
    shutil.copy(args.browser, os.path.join(root, "firefox"))
    command = ["/course"]
    if args.emulator:
        shutil.copy(shutil.which(args.emulator), os.path.join(root, "emulator"))
        command = ["/emulator", "/course"]
    unshare = [shutil.which("unshare"), "--mount"]
    if with_proc:
        os.makedirs(os.path.join(root, "proc"))
        unshare += ["--pid", "--fork", "--mount-proc=" + os.path.join(root, "proc")]
    env = {"BROWSER": "/firefox", "XDG_DATA_HOME": "/data", "XDG_CONFIG_HOME": "/config",
           "ORVANE_E2E_ENTRIES": ":".join(ENTRIES)}
    result = subprocess.run(unshare + [shutil.which("chroot"), root] + command, env=env, capture_output=True, timeout=180)
    where = "with /proc" if with_proc else "without /proc"
    check(result.returncode == 0, "%s: the launcher ended with %d: %s" % (where, result.returncode, result.stderr[-2000:]))
    out, answers = result.stdout, {}
    while (at := out.find(b"ENTRY ")) >= 0:
        line, _, out = out[at:].partition(b"\n")
        name, length = line.decode().split(" ")[1:]
        head, _, body = out[:int(length)].partition(b"\r\n\r\n")
        ctype = re.search(rb"\r\nContent-Type: ([^\r]*)", head)
        answers[name], out = (head[9:12].decode(), ctype and ctype[1].decode(), body), out[int(length):]
    for name, (body, ctype) in ENTRIES.items():
        check(name in answers, "%s: no answer for %s: %r" % (where, name, result.stdout[-500:]))
        check(answers[name] == ("200", ctype, body), "%s: %s came as %s %s, %d bytes, not its %d"
              % (where, name, answers[name][0], answers[name][1], len(answers[name][2]), len(body)))
    print("%s: %d entries served with their types" % (where, len(ENTRIES)))


def check_root(args):
    if os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("chroot"):
        raise Skipped("chroot and mounts need root and unshare")
    work = os.path.join(os.path.abspath(args.work), "root")
    shutil.rmtree(work, ignore_errors=True)
    for name, (body, _) in ENTRIES.items():
        os.makedirs(os.path.dirname(os.path.join(work, "course", name)), exist_ok=True)
        with open(os.path.join(work, "course", name), "wb") as f:
            f.write(body)
    packed = os.path.join(work, "packed")
    result = subprocess.run(([args.emulator] if args.emulator else []) + [args.tool, "pack", os.path.join(work, "course"),
                            "-o", packed, "--launcher", args.launcher], capture_output=True, timeout=120)
    check(result.returncode == 0, "pack: %s" % result.stderr)
    # qemu-user carries no socket-diagnostics netlink: there the launcher learns its clients'
    # owner from /proc/net only, so without /proc it rightly refuses them all.
    for with_proc in (True,) if args.emulator else (True, False):
        run_in_root(args, work, packed, with_proc)
    if args.emulator:
        print("without /proc: not run under the emulator (no owner lookup there)")


if __name__ == "__main__":
    run_script("e2e_root", check_root, ("--tool", "--launcher", "--browser", "--work"), ("--emulator",))
