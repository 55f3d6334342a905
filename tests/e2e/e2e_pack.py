#!/usr/bin/env python3
"""End-to-end test of cross-packing: a launcher packed by orvane-zip on one platform runs the
course on the other.

usage: e2e_pack.py windows-target --tool ORVANE_ZIP --launcher ORVANE.EXE --fake-iexplore EXE --work DIR
       e2e_pack.py posix-target --tool ORVANE_ZIP.EXE --emulator WINE_RUN --launcher ORVANE --work DIR

windows-target (the POSIX tool): packs a course folder for the Windows launcher and runs the
result under Wine in a fresh prefix, with the Internet Explorer stand-in: the start page and the
.start text must come from the packed resource.
posix-target (the Windows tool under Wine): packs the folder for the POSIX launcher and runs the
result natively with a stand-in browser that fetches the start page.
Either way the launcher the other build made must exist; when it does not, the test is skipped
(exit 77)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

from e2e_common import Failure, check

HERE = os.path.dirname(os.path.abspath(__file__))
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
START_TEXT = "hello-\u00e9"
SHOW = urllib.parse.quote(START_TEXT)  # the start text as the launcher encodes it
PAGE = "<!doctype html><title>Packed</title><p>packed across platforms</p>\n"


def make_course(root):
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "media"))
    with open(os.path.join(root, "index.html"), "w", encoding="utf-8") as f:
        f.write(PAGE)
    with open(os.path.join(root, "media", "clip.webm"), "wb") as f:
        f.write(os.urandom(20000))


def windows_target(args, work):
    course = os.path.join(work, "course")
    make_course(course)
    packed = os.path.join(work, "course.exe")
    result = subprocess.run([args.tool, "pack", course, "-o", packed, "--launcher", args.launcher,
                             "--start", START_TEXT], capture_output=True, timeout=120)
    check(result.returncode == 0, "pack: %s" % result.stderr)
    serve_under_wine(packed, args.fake_iexplore, work)


def serve_under_wine(packed, fake_iexplore, work):
    """Runs a packed Windows launcher under Wine in a fresh prefix, with the Internet Explorer
    stand-in: the start page and the .start text must come from its course (make_course)."""
    prefix = os.path.join(work, "wineprefix")
    out = os.path.join(work, "out")
    env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=;iexplore.exe=n",
               ORVANE_E2E_OUT="Z:" + out.replace("/", "\\"))
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(work, exist_ok=True)  # Wine makes the prefix, not the folders above it
    try:
        result = subprocess.run([WINE, "wineboot", "--init"], env=env, capture_output=True, timeout=300)
        check(result.returncode == 0, "wineboot: %s" % result.stderr[-2000:])
        iexplore = os.path.join(prefix, "drive_c", "Program Files", "Internet Explorer", "iexplore.exe")
        os.makedirs(os.path.dirname(iexplore), exist_ok=True)
        shutil.copy(fake_iexplore, iexplore)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        result = subprocess.run([WINE, "Z:" + packed.replace("/", "\\")], env=env, capture_output=True, timeout=120)
        check(result.returncode == 0, "the packed launcher ended with %d" % result.returncode)
        recorded = {}
        for name in os.listdir(out):
            with open(os.path.join(out, name), encoding="utf-8") as f:
                recorded[name] = f.read()
        line = recorded.get("cmdline.txt", "")
        check(re.search(r'/index\.html\?show=%s"$' % re.escape(SHOW), line), "command line: %r" % line)
        check(recorded.get("page.txt") == "200\n" + PAGE, "start page: %r" % recorded.get("page.txt"))
    finally:
        subprocess.run([WINESERVER, "-k"], env=env, capture_output=True, timeout=60)


def posix_target(args, work):
    course = os.path.join(work, "course")
    make_course(course)
    packed = os.path.join(work, "packed-course")
    result = subprocess.run([args.emulator, args.tool, "pack", "Z:" + course, "-o", "Z:" + packed,
                             "--launcher", "Z:" + args.launcher, "--start", START_TEXT],
                            capture_output=True, timeout=120)
    check(result.returncode == 0, "pack: %s" % result.stderr)
    os.chmod(packed, 0o755)  # Windows keeps no POSIX modes: the user marks the program executable
    serve_posix(packed, work)


def serve_posix(packed, work, emulator=()):
    """Runs a packed POSIX launcher (under `emulator`, a command line, when given) with a stand-in
    browser that fetches the start page of its course (make_course)."""
    out = os.path.join(work, "out")
    browsers = os.path.join(work, "browsers")
    for folder in (out, browsers):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    browser = os.path.join(browsers, "firefox")
    shutil.copy(os.path.join(HERE, "record_browser.sh"), browser)
    os.chmod(browser, 0o755)
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(BROWSER=browser, ORVANE_E2E_OUT=out, XDG_CONFIG_HOME=os.path.join(work, "config"),
               XDG_DATA_HOME=os.path.join(work, "data"), TMPDIR=tempfile.mkdtemp(prefix="orvane-e2e-"))
    try:
        result = subprocess.run(list(emulator) + [packed], env=env, capture_output=True, timeout=180)
    except subprocess.TimeoutExpired:
        raise Failure("the packed launcher did not end within 120 s")
    check(result.returncode == 0, "the packed launcher ended with %d: %s" % (result.returncode, result.stderr))

    def read(name):
        with open(os.path.join(out, name), encoding="utf-8") as f:
            return f.read()
    check(read("status") == "200", "status %r" % read("status"))
    check(read("page") == PAGE, "start page: %r" % read("page"))
    check(read("argv").splitlines()[-1].endswith("/index.html?show=" + SHOW), "argv: %r" % read("argv"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target", choices=["windows-target", "posix-target"])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--fake-iexplore")
    parser.add_argument("--emulator")
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    needed = [args.launcher] + ([args.fake_iexplore] if args.target == "windows-target" else [])
    missing = [path for path in needed if not os.path.exists(path)]
    if missing:
        print("skipped: the other build has not made %s" % ", ".join(missing))
        sys.exit(77)
    work = os.path.join(os.path.abspath(args.work), "pack-" + args.target)
    os.makedirs(work, exist_ok=True)
    try:
        (windows_target if args.target == "windows-target" else posix_target)(args, work)
    except Failure as failure:
        print("FAILED:", failure)
        sys.exit(1)
    print("passed: e2e_pack", args.target)


if __name__ == "__main__":
    main()
