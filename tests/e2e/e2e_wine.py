#!/usr/bin/env python3
"""End-to-end test of the Windows launcher under Wine.

usage: e2e_wine.py --bin BIN_DIR --demo-zip DEMO.zip --work DIR

Makes a fresh 64-bit Wine prefix in DIR, puts fake_iexplore.exe in Internet Explorer's place,
and runs orvane.exe, orvane-demo.exe and a launcher made by `orvane-zip.exe pack`: each time the
browser's recorded command line, the pages it fetched and the exit code are checked. Every Wine
run is bounded in time; running into a bound is a failure."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

from e2e_common import Failure, check, free_port

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
IEXPLORE = r"C:\Program Files\Internet Explorer\iexplore.exe"
START_TEXT = "welcome-\u00fc"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Wine:
    def __init__(self, work):
        self.prefix = os.path.join(work, "wineprefix")
        self.out = os.path.join(work, "out")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;iexplore.exe=n",
                        ORVANE_E2E_OUT=windows_path(self.out))

    def run(self, args, timeout):
        try:
            return subprocess.run([WINE] + args, env=self.env, capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("wine %s did not end within %d s" % (" ".join(args), timeout))

    def stop(self):
        """Ends the prefix's wineserver and whatever still runs in it."""
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)

    def create(self, fake_iexplore):
        shutil.rmtree(self.prefix, ignore_errors=True)
        result = self.run(["wineboot", "--init"], timeout=300)
        check(result.returncode == 0, "wineboot: %s" % result.stderr[-2000:])
        # Wine puts a stub of its own there; the test program takes its place.
        target = os.path.join(self.prefix, "drive_c", "Program Files", "Internet Explorer", "iexplore.exe")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy(fake_iexplore, target)

    def set_port(self, value, kind="REG_DWORD"):
        key = r"HKCU\Software\keltrix\Orvane"
        if value is None:
            self.run(["reg", "delete", key, "/f"], timeout=60)
            return
        result = self.run(["reg", "add", key, "/v", "HttpPort", "/t", kind, "/d", str(value), "/f"],
                          timeout=60)
        check(result.returncode == 0, "reg add: %s" % result.stderr)

    def launch(self, exe, args=(), timeout=120):
        """Runs a launcher; returns (seconds taken, recorded files)."""
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        started = time.time()
        result = self.run([exe] + list(args), timeout=timeout)
        taken = time.time() - started
        check(result.returncode == 0, "%s ended with %d" % (exe, result.returncode))
        recorded = {}
        for name in os.listdir(self.out):
            with open(os.path.join(self.out, name), encoding="utf-8") as f:
                recorded[name] = f.read()
        print("%s %s: %.1f s, recorded %s" % (os.path.basename(exe), " ".join(args), taken, sorted(recorded)))
        return taken, recorded


def check_browser_run(recorded, query, port=None):
    """The command line Internet Explorer got, and what it fetched; returns SessionUrl."""
    line = recorded.get("cmdline.txt")
    check(line is not None, "the browser did not run")
    pattern = r'"%s" -nohome "(http://127\.0\.0\.1:(\d+)/[0-9a-f]+/)index\.html%s"' % (
        re.escape(IEXPLORE), re.escape(query))
    match = re.fullmatch(pattern, line)
    check(match is not None, "command line: %s" % line)
    session_url, bound = match.group(1), int(match.group(2))
    check(bound != 0, line)
    if port is not None:
        check(bound == port, "port %d, wanted %d" % (bound, port))
    return session_url, bound


def check_pages(recorded, index_html, session_url):
    check(recorded.get("page.txt") == "200\n" + index_html, "start page: %r" % recorded.get("page.txt", "")[:200])
    kxv = recorded.get("kxv.txt", "")
    check(kxv.startswith("200\n") and "'wa_base':'%s'" % session_url in kxv, "navigation file: %r" % kxv)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--demo-zip", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    work = os.path.join(os.path.abspath(args.work), "wine")
    os.makedirs(work, exist_ok=True)
    with zipfile.ZipFile(args.demo_zip) as z:
        index_html = z.read("index.html").decode("utf-8")
    bin_dir = args.bin
    orvane = windows_path(os.path.join(bin_dir, "orvane.exe"))
    demo = windows_path(os.path.join(bin_dir, "orvane-demo.exe"))
    demo_zip = windows_path(args.demo_zip)

    wine = Wine(work)
    try:
        wine.create(os.path.join(bin_dir, "fake_iexplore.exe"))

        # The archive named on the command line, query arguments, HttpPort from the registry.
        port = free_port()
        wine.set_port(port)
        taken, recorded = wine.launch(orvane, [demo_zip, "a=1", "b=2"])
        session_url, _ = check_browser_run(recorded, "?a=1&b=2?show=" + START_TEXT, port)
        check_pages(recorded, index_html, session_url)
        # The browser ended at once: noticed within a period, then three misses.
        check(8 <= taken <= 40, "took %.1f s" % taken)

        # The embedded archive; a HttpPort value longer than 4 bytes counts as none.
        wine.set_port(port, kind="REG_QWORD")
        taken, recorded = wine.launch(demo)
        session_url, bound = check_browser_run(recorded, "?show=" + START_TEXT)
        check(bound != port, "a REG_QWORD HttpPort was used")
        check_pages(recorded, index_html, session_url)
        wine.set_port(None)

        # A launcher made by orvane-zip.exe pack runs the course it was given.
        packed = os.path.join(work, "packed.exe")
        result = wine.run([windows_path(os.path.join(bin_dir, "orvane-zip.exe")), "pack", demo_zip,
                           "-o", windows_path(packed)], timeout=120)
        check(result.returncode == 0, "pack: %s" % result.stderr)
        # "x" is the archive candidate here; not being a file, it is dropped, "y" is the query.
        taken, recorded = wine.launch(windows_path(packed), ["x", "y"])
        session_url, _ = check_browser_run(recorded, "?y?show=" + START_TEXT)
        check_pages(recorded, index_html, session_url)

        # A .start text too long for a command line: CreateProcessW refuses it, and the run ends.
        long_zip = os.path.join(work, "long.zip")
        with zipfile.ZipFile(long_zip, "w") as z:
            z.writestr("index.html", "<p>long</p>")
            z.writestr(".start", ("y" * 40000).encode("utf-16-le"))
        taken, recorded = wine.launch(orvane, [windows_path(long_zip)])
        check("cmdline.txt" not in recorded, "the browser ran with a %d-character command line"
              % len(recorded.get("cmdline.txt", "")))
        check(taken < 8, "took %.1f s" % taken)
    except Failure as failure:
        print("FAILED:", failure)
        sys.exit(1)
    finally:
        wine.stop()
    print("passed: e2e_wine")


if __name__ == "__main__":
    main()
