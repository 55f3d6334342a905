#!/usr/bin/env python3
"""The authors' kits scripts/test makes with cpack: from each unpacked kit (the Windows one's
orvane-zip.exe under Wine) `pack --all` makes four launchers, and the three that can run here
serve the course (x86-64 natively, arm64 under qemu-user, windows-x64 under Wine). Every Linux
launcher in a kit is static; --tar keeps the run bit.

usage: e2e_kit.py --kits BUILD/kit --wine-run SCRIPT --qemu PROGRAM --fake-iexplore EXE --work DIR"""
import glob
import os
import shutil
import subprocess
import tarfile

from e2e_common import Skipped, check, run_script
from e2e_pack import START_TEXT, make_course, serve_posix, serve_under_wine

TARGETS = {"windows-x86": "orvane.exe", "windows-x64": "orvane.exe", "linux-x86_64": "orvane", "linux-arm64": "orvane"}


def unpack(archive, into):
    """The kit's top folder, unpacked from its .tar.gz or .zip (modes kept from the tar only);
    every Linux launcher in it static (no interpreter, no NEEDED entry)."""
    shutil.rmtree(into, ignore_errors=True)
    shutil.unpack_archive(archive, into)
    tops = os.listdir(into)
    check(len(tops) == 1, "%s: %s at the top" % (archive, tops))
    top = os.path.join(into, tops[0])
    for target, program in TARGETS.items():
        program = os.path.join(top, "launchers", target, program)
        check(os.path.isfile(program), "%s: no %s launcher" % (archive, target))
        if target.startswith("linux"):
            headers = subprocess.run(["readelf", "-ldW", program], capture_output=True, text=True).stdout
            check("INTERP" not in headers and "(NEEDED)" not in headers, "%s is not static:\n%s" % (program, headers))
    return top


def pack(command, what, timeout=300):
    result = subprocess.run(command, capture_output=True, timeout=timeout)
    check(result.returncode == 0, "%s: %s" % (what, result.stderr))


def serve_all(out, args, work, name):
    """The four outputs in `out`, and the runnable three serving the course."""
    want = sorted("course-%s%s" % (t, ".exe" if t.startswith("windows") else "") for t in TARGETS)
    check(sorted(os.listdir(out)) == want, "%s made %s" % (name, sorted(os.listdir(out))))
    for target, emulator in (("x86_64", []), ("arm64", [args.qemu])):
        program = os.path.join(out, "course-linux-" + target)
        os.chmod(program, 0o755)  # a Windows orvane-zip writes no POSIX modes
        serve_posix(program, os.path.join(work, "%s-%s" % (name, target)), emulator)
    serve_under_wine(os.path.join(out, "course-windows-x64.exe"), args.fake_iexplore, os.path.join(work, name + "-win64"))
    print("%s: four launchers, three served" % name)


def check_kits(args):
    linux = glob.glob(os.path.join(args.kits, "orvane-kit-*-linux-x86_64.tar.gz"))
    windows = glob.glob(os.path.join(args.kits, "orvane-kit-*-windows.zip"))
    if not linux or not windows or not os.path.exists(args.fake_iexplore):
        raise Skipped("no kits in %s (scripts/test makes them after all four builds)" % args.kits)
    work = os.path.join(os.path.abspath(args.work), "kit")
    shutil.rmtree(work, ignore_errors=True)
    course = os.path.join(work, "course")
    make_course(course)
    top = unpack(linux[0], os.path.join(work, "linux-kit"))
    out = os.path.join(work, "out-linux")
    pack([os.path.join(top, "orvane-zip"), "pack", course, "--all", "-o", out, "--start", START_TEXT], "pack --all")
    serve_all(out, args, work, "linux-kit")
    tarred = os.path.join(work, "out-tar")
    pack([os.path.join(top, "orvane-zip"), "pack", course, "--target", "linux-arm64", "--target", "windows-x86",
          "--tar", "-o", tarred], "pack --tar")
    with tarfile.open(os.path.join(tarred, "course-linux-arm64.tar.gz")) as kept:
        check([(m.name, m.mode) for m in kept] == [("course-linux-arm64", 0o755)], "tar holds %s" % kept.getmembers())
    check(os.path.isfile(os.path.join(tarred, "course-windows-x86.exe")), "--tar: no Windows launcher beside")

    top = unpack(windows[0], os.path.join(work, "windows-kit"))
    out = os.path.join(work, "out-windows")
    pack([args.wine_run, os.path.join(top, "orvane-zip.exe"), "pack", "Z:" + course, "--all", "-o", "Z:" + out,
          "--start", START_TEXT], "orvane-zip.exe pack --all", timeout=600)
    serve_all(out, args, work, "windows-kit")


if __name__ == "__main__":
    run_script("e2e_kit", check_kits, ("--kits", "--wine-run", "--qemu", "--fake-iexplore", "--work"))
