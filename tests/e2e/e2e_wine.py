#!/usr/bin/env python3
"""End-to-end test of the Windows launcher under Wine.

usage: e2e_wine.py --bin BIN_DIR --demo-zip DEMO.zip --work DIR

Makes a fresh 64-bit Wine prefix in DIR, puts fake_iexplore.exe in Internet Explorer's place and
registers fake_chromium.exe as Microsoft Edge (App Paths\msedge.exe). On Wine's own Windows 7
setting it runs orvane.exe, orvane-demo.exe and a launcher made by `orvane-zip.exe pack`: each
time Internet Explorer's recorded command line, the pages it fetched and the exit code are
checked; then the Browser setting starts the stand-in Edge instead. Set to Windows 10 it runs a
course twice with the stand-in Edge: the course's own profile, how long the run lives around the
browser's window, the browser driven over its DevTools pipe and closed by it when it lingers, a
browser that refuses the pipe, the temporary folder, and a native client refused where a Windows
one (http_fetch.exe) is answered. Every Wine run is bounded in time; running into a bound is a failure."""
import argparse
import glob
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import time
import urllib.parse
import zipfile

from e2e_common import Failure, check, free_port

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
IEXPLORE = r"C:\Program Files\Internet Explorer\iexplore.exe"
EDGE = r"C:\Program Files (x86)\Microsoft\Edge\Application\msedge.exe"
START_TEXT = "welcome-\u00fc"
SHOW = "show=" + urllib.parse.quote(START_TEXT)  # encoded whole, as encodeURIComponent does


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

    def host_path(self, windows):
        """Where a C:\\ path of the prefix is on this machine."""
        check(windows[:3].upper() == "C:\\", windows)
        return os.path.join(self.prefix, "drive_c", *windows[3:].split("\\"))

    def temp_entries(self):
        """What the users' temporary folders hold."""
        found = set()
        for temp in glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Temp")) + \
                glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "AppData", "Local", "Temp")):
            for root, dirs, files in os.walk(temp):
                found.update(os.path.join(root, name) for name in dirs + files)
        return found

    def stop(self):
        """Ends the prefix's wineserver and whatever still runs in it."""
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)

    def create(self, fake_iexplore, fake_chromium):
        shutil.rmtree(self.prefix, ignore_errors=True)
        result = self.run(["wineboot", "--init"], timeout=300)
        check(result.returncode == 0, "wineboot: %s" % result.stderr[-2000:])
        # Wine puts a stub of its own there; the test program takes its place.
        for program, windows in ((fake_iexplore, IEXPLORE), (fake_chromium, EDGE)):
            target = self.host_path(windows)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(program, target)
        self.reg_add(r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\msedge.exe", None, EDGE)

    def reg_add(self, key, name, value, kind="REG_SZ"):
        which = ["/ve"] if name is None else ["/v", name]
        result = self.run(["reg", "add", key] + which + ["/t", kind, "/d", str(value), "/f"], timeout=60)
        check(result.returncode == 0, "reg add %s: %s" % (key, result.stderr))

    def set_version(self, version):
        """The Windows version Wine reports to programs (RtlGetVersion included)."""
        self.reg_add(r"HKCU\Software\Wine", "Version", version)

    def set_port(self, value, kind="REG_DWORD"):
        key = r"HKCU\Software\keltrix\Orvane"
        if value is None:
            self.run(["reg", "delete", key, "/f"], timeout=60)
            return
        self.reg_add(key, "HttpPort", value, kind)

    def recorded(self):
        recorded = {}
        for name in os.listdir(self.out):
            with open(os.path.join(self.out, name), encoding="utf-8") as f:
                recorded[name] = f.read()
        return recorded

    def launch(self, exe, args=(), timeout=120, code=0, close_after=None):
        """Runs a launcher; returns (seconds taken, recorded files). With `close_after`, it is
        expected to wait in a message box that long: its windows are then closed (taskkill
        without /f sends them WM_CLOSE)."""
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        started = time.time()
        if close_after is None:
            result = self.run([exe] + list(args), timeout=timeout)
        else:
            result = subprocess.Popen([WINE, exe] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            time.sleep(close_after)
            check(result.poll() is None, "%s ended without waiting for its message box" % exe)
            self.run(["taskkill", "/im", exe.split("\\")[-1]], timeout=60)
            try:
                result.wait(timeout=60)
            except subprocess.TimeoutExpired:
                result.kill()
                raise Failure("%s did not end once its message box was closed" % exe)
        taken = time.time() - started
        check(result.returncode == code, "%s ended with %d" % (exe, result.returncode))
        recorded = self.recorded()
        print("%s %s: %.1f s, recorded %s" % (os.path.basename(exe), " ".join(args), taken, sorted(recorded)))
        return taken, recorded

    def launch_with_window(self, exe, args, window_ms, linger, timeout=150, while_open=None, **extra):
        """Runs a launcher whose browser is the stand-in Edge, its window open for `window_ms`;
        returns (seconds from the window's closing to the launcher's end, recorded files)."""
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)
        env = dict(self.env, ORVANE_E2E_WINDOW_MS=str(window_ms), **extra)
        if linger:
            env["ORVANE_E2E_LINGER"] = "1"
        closed_file = os.path.join(self.out, "chromium-closed.txt")
        started = time.time()
        closed = None
        process = subprocess.Popen([WINE, exe] + list(args), env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            while process.poll() is None:
                if time.time() - started > timeout:
                    raise Failure("%s did not end within %d s" % (exe, timeout))
                if closed is None and os.path.exists(closed_file):
                    closed = time.time()
                if while_open is not None and os.path.exists(os.path.join(self.out, "chromium-page.txt")):
                    while_open()
                    while_open = None
                time.sleep(0.1)
        finally:
            if process.poll() is None:
                process.kill()
        ended = time.time()
        check(process.returncode == 0, "%s ended with %d" % (exe, process.returncode))
        check(closed is not None, "the launcher ended while the window was open (%.1f s)" % (ended - started))
        recorded = self.recorded()
        print("%s %s: %.1f s, ended %.1f s after the window closed, recorded %s" % (
            os.path.basename(exe), " ".join(args), ended - started, ended - closed, sorted(recorded)))
        return ended - closed, recorded


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


def check_own_browser_run(wine, recorded, query):
    """The stand-in Edge's arguments, folder and pipe, and the page it fetched; returns (profile
    folder, port)."""
    check("cmdline.txt" not in recorded, "Internet Explorer was started: %s" % recorded.get("cmdline.txt"))
    args = recorded.get("chromium-args.txt")
    check(args is not None, "the stand-in Edge did not run")
    args = args.split("\n")[:-1]
    check(len(args) == 5, "arguments: %r" % args)
    check(args[0].startswith("--user-data-dir="), "arguments: %r" % args)
    check(args[1:4] == ["--no-first-run", "--no-default-browser-check", "--remote-debugging-pipe"],
          "arguments: %r" % args)
    profile = args[0][len("--user-data-dir="):]
    check(re.fullmatch(r"C:\\users\\[^\\]+\\AppData\\Local\\keltrix\\Orvane\\.+", profile, re.I) is not None,
          "profile folder: %s" % profile)
    check(recorded.get("chromium-folder.txt", "").lower() == profile.lower(),
          "started in %r, not its profile" % recorded.get("chromium-folder.txt"))
    # Its C runtime found the pipe's handles where the launcher put them.
    check(recorded.get("chromium-pipe.txt") == "descriptors 3 and 4\n", "pipe: %r" % recorded.get("chromium-pipe.txt"))
    match = re.fullmatch(r"(http://127\.0\.0\.1:(\d+)/[0-9a-f]+/)index\.html%s" % re.escape(query), args[4])
    check(match is not None, "start URL: %s" % args[4])
    return profile, int(match.group(2))


def methods(recorded):
    return recorded.get("chromium-methods.txt", "").splitlines()


# A SCORM 1.2 package compressed with its folder, for the record's run under Wine.
SCORM_MANIFEST = ('<manifest identifier="wine.package" xmlns="http://www.imsproject.org/xsd/imscp_rootv1p1p2" '
                  'xmlns:adlcp="http://www.adlnet.org/xsd/adlcp_rootv1p2"><metadata><schemaversion>1.2'
                  '</schemaversion></metadata><organizations default="O"><organization identifier="O"><title>Wine'
                  '</title><item identifier="I" identifierref="R"><title>One</title></item></organization>'
                  '</organizations><resources><resource identifier="R" href="sco.html" adlcp:scormtype="sco"/>'
                  '</resources></manifest>')


def check_scorm_record(wine, work, bin_dir, orvane):
    """A SCORM package's record, asked for by a Windows client as the player asks: written to the
    user's data folder, read back by the next run, and printed by --progress."""
    package = os.path.join(work, "scorm.zip")
    with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("Course/imsmanifest.xml", SCORM_MANIFEST)
        z.writestr("Course/sco.html", "<p>sco</p>")
    fetch = windows_path(os.path.join(bin_dir, "http_fetch.exe"))
    suspend = "s" * 5000
    launches = []

    def post(start_url, name, body):
        """POSTs `body` as JSON to the player's `name` from a Windows client of the course's origin."""
        url = urllib.parse.urlsplit(start_url)
        prefix = url.path.split("/.orvane/")[0]
        data = json.dumps(body).encode()
        head = ("POST %s/.orvane/%s HTTP/1.1\r\nHost: %s\r\nOrigin: http://%s\r\nContent-Type: text/plain\r\n"
                "Content-Length: %d\r\n\r\n" % (prefix, name, url.netloc, url.netloc, len(data)))
        answer = subprocess.run([WINE, fetch, str(url.port)], input=head.encode() + data, env=wine.env,
                                capture_output=True, timeout=60).stdout
        check(answer.startswith(b"HTTP/1.1 200 OK\r\n"), "%s answered %r" % (name, answer[:300]))
        return json.loads(answer.split(b"\r\n\r\n", 1)[1])

    def session():
        """The first launches and commits; the second only launches."""
        start = wine.recorded()["chromium-args.txt"].split("\n")[4]
        check("/.orvane/" in start, "the package did not start in the player: %s" % start)
        launches.append(post(start, "launch", {"item": "I"}))
        if len(launches) == 1:
            check(launches[0]["entry"] == "ab-initio", "first launch: %r" % launches[0])
            committed = post(start, "commit", {"item": "I", "session": launches[0]["session"], "seq": 1, "cmi": {
                "cmi.core.lesson_location": "page-7", "cmi.core.lesson_status": "passed",
                "cmi.core.score.raw": "85", "cmi.suspend_data": suspend, "cmi.core.exit": "suspend",
                "cmi.core.session_time": "00:01:10"}, "end": "finish"})
            check(committed == {"ok": True}, "commit: %r" % committed)

    for _ in range(2):
        wine.launch_with_window(orvane, [windows_path(package)], window_ms=8000, linger=False, while_open=session)
    check(glob.glob(os.path.join(wine.prefix, "drive_c", "users", "*", "AppData", "Local", "keltrix", "Orvane",
                                 "records", "*")), "no record in the user's data folder")
    again = launches[1] if len(launches) == 2 else {}
    cmi = again.get("cmi", {})
    check(again.get("entry") == "resume" and cmi.get("cmi.core.lesson_location") == "page-7" and
          cmi.get("cmi.suspend_data") == suspend, "after a restart: %r" % {k: str(v)[:80] for k, v in again.items()})
    result = wine.run([orvane, "--progress", windows_path(package)], timeout=120)
    check(result.returncode == 0, "--progress ended with %d: %r" % (result.returncode, result.stderr[-500:]))
    progress = json.loads(result.stdout)
    course, item = progress["course"], progress["items"][0]
    check((course["identifier"], course["scorm"], course["completion"], course["success"], item["scoreRaw"],
           item["location"], item["totalSeconds"]) == ("wine.package", "1.2", "completed", "passed", 85, "page-7", 70),
          "--progress: %r" % progress)
    print("the record under Wine: written, resumed, printed by --progress")


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
        wine.create(os.path.join(bin_dir, "fake_iexplore.exe"), os.path.join(bin_dir, "fake_chromium.exe"))

        # The archive named on the command line, query arguments, HttpPort from the registry.
        port = free_port()
        wine.set_port(port)
        taken, recorded = wine.launch(orvane, [demo_zip, "a=1", "b=2"])
        session_url, _ = check_browser_run(recorded, "?a=1&b=2&" + SHOW, port)
        check_pages(recorded, index_html, session_url)
        # The browser ended at once: noticed within a period, then three misses.
        check(8 <= taken <= 40, "took %.1f s" % taken)

        # The embedded archive; a HttpPort value longer than 4 bytes counts as none.
        wine.set_port(port, kind="REG_QWORD")
        taken, recorded = wine.launch(demo)
        session_url, bound = check_browser_run(recorded, "?" + SHOW)
        check(bound != port, "a REG_QWORD HttpPort was used")
        check_pages(recorded, index_html, session_url)
        wine.set_port(None)

        # A launcher made by orvane-zip.exe pack runs the course it was given.
        packed = os.path.join(work, "packed.exe")
        result = wine.run([windows_path(os.path.join(bin_dir, "orvane-zip.exe")), "pack", demo_zip,
                           "-o", windows_path(packed)], timeout=120)
        check(result.returncode == 0, "pack: %s" % result.stderr)
        # A launcher that carries its course: a first argument that is no file is the page's;
        # what cannot stand in a URL is encoded as UTF-8.
        taken, recorded = wine.launch(windows_path(packed), ["lesson=3", "name=J\u00fcrgen M\u00fcller"])
        session_url, _ = check_browser_run(recorded, "?lesson=3&name=J%C3%BCrgen%20M%C3%BCller&" + SHOW)
        check_pages(recorded, index_html, session_url)

        # A .start text too long for a command line: CreateProcessW refuses it, and the run ends.
        long_zip = os.path.join(work, "long.zip")
        with zipfile.ZipFile(long_zip, "w") as z:
            z.writestr("index.html", "<p>long</p>")
            z.writestr(".start", ("y" * 40000).encode("utf-16-le"))
        # No browser could be started: a message box says so; closed, the run ends with 1.
        taken, recorded = wine.launch(orvane, [windows_path(long_zip)], code=1, close_after=8)
        check("cmdline.txt" not in recorded, "the browser ran with a %d-character command line"
              % len(recorded.get("cmdline.txt", "")))

        # The Browser setting comes before everything, on Windows 7 too. Its program, named
        # without a folder, is found through App Paths; being Edge, it gets the course's profile.
        # "%1" stands for the URL, as in a ProgId's command.
        wine.reg_add(r"HKCU\Software\keltrix\Orvane", "Browser", "msedge --single-argument %1")
        after_close, recorded = wine.launch_with_window(orvane, [demo_zip], window_ms=3000, linger=False)
        args = recorded.get("chromium-args.txt", "").split("\n")[:-1]
        check(len(args) == 6 and args[4] == "--single-argument" and args[5].startswith("http://127.0.0.1:"),
              "arguments: %r" % args)
        set_profile = args[0][len("--user-data-dir="):]
        check(after_close <= 20, "ended %.1f s after the window closed" % after_close)
        wine.set_port(None)
        wine.run(["reg", "delete", r"HKCU\Software\keltrix\Orvane", "/v", "Browser", "/f"], timeout=60)

        # Windows 10: Internet Explorer is retired; the first installed browser, Edge, opens the
        # course with its own profile. The run lives while the window is open and ends soon after
        # it closes, although the browser lingers in the background: the run ends it.
        wine.set_version("win10")
        temp_before = wine.temp_entries()
        after_close, recorded = wine.launch_with_window(orvane, [demo_zip], window_ms=25000, linger=True)
        profile, port = check_own_browser_run(wine, recorded, "?" + SHOW)
        check(profile == set_profile, "profile %s, then %s" % (set_profile, profile))
        check(recorded.get("chromium-page.txt") == "200\n" + index_html,
              "start page: %r" % recorded.get("chromium-page.txt", "")[:200])
        check(after_close <= 20, "ended %.1f s after the window closed" % after_close)
        # Driven over the pipe: asked for its pages while open, then told to close.
        check(methods(recorded).count("Target.getTargets") >= 3 and methods(recorded)[-1] == "Browser.close",
              "methods: %r" % methods(recorded))
        check(recorded.get("chromium-ended.txt") == "Browser.close\n", "the lingering browser was not closed")
        check(wine.temp_entries() == temp_before, "left in the temporary folder: %s" %
              sorted(wine.temp_entries() - temp_before))

        # The same course again: the same profile, so the same storage, at the same origin. This
        # browser ends with its window.
        after_close, recorded = wine.launch_with_window(orvane, [demo_zip], window_ms=3000, linger=False)
        again, again_port = check_own_browser_run(wine, recorded, "?" + SHOW)
        session = recorded["chromium-args.txt"].split("\n")[4].split("index.html")[0]
        check(again == profile, "profile %s, then %s" % (profile, again))
        check(again_port == port, "port %d, then %d" % (port, again_port))

        # Opened again while it is open: the second run hands its page to the browser that holds
        # the course's profile, at the first run's address, and ends with 0 at once.
        def second_run():
            started = time.time()
            result = wine.run([orvane, demo_zip, "from=second"], timeout=60)
            check(result.returncode == 0, "the second run ended with %d" % result.returncode)
            handed = wine.recorded().get("chromium-handover.txt", "").split("\n")
            print("the second run: %.1f s, handed over %s" % (time.time() - started, handed[:3]))
            check(handed[:2] == ["--user-data-dir=" + profile, session + "index.html?from=second&" + SHOW],
                  "hand-over: %s" % handed)
            check(handed[2:] == ["200"] + index_html.split("\n"), "the hand-over's page: %r" % handed[2:5])
            # Only Windows programs of the account are answered: this native client has no
            # Windows process, a Windows one under Wine is a learner's program.
            page = urllib.parse.urlsplit(session + "index.html")
            request = "GET %s HTTP/1.1\r\nHost: %s\r\n\r\n" % (page.path, page.netloc)
            with socket.create_connection((page.hostname, page.port), timeout=30) as native:
                native.sendall(request.encode())
                refused = native.makefile("rb").read()
            check(refused.startswith(b"HTTP/1.1 403 Forbidden\r\n") and index_html.encode() not in refused,
                  "a native client got %r" % refused[:200])
            fetched = subprocess.run([WINE, windows_path(os.path.join(bin_dir, "http_fetch.exe")), str(page.port)],
                                     input=request.encode(), env=wine.env, capture_output=True, timeout=60).stdout
            check(fetched.startswith(b"HTTP/1.1 200 OK\r\n") and fetched.endswith(index_html.encode()),
                  "a Windows client got %r" % fetched[:200])
        after_close, recorded = wine.launch_with_window(orvane, [demo_zip], window_ms=15000, linger=False,
                                                        while_open=second_run)
        check("chromium-handover.txt" in recorded, "no second run")
        check("chromium-ended.txt" in recorded, "the stand-in Edge did not end by itself")
        check(after_close <= 20, "ended %.1f s after the window closed" % after_close)
        check(wine.temp_entries() == temp_before, "left in the temporary folder: %s" %
              sorted(wine.temp_entries() - temp_before))

        # A browser that refuses remote debugging (its pipe closed at once) is watched by its
        # process: the run lives while its window is open, and ends after it.
        after_close, recorded = wine.launch_with_window(orvane, [demo_zip], window_ms=25000, linger=False,
                                                        ORVANE_E2E_REFUSE="1")
        check_own_browser_run(wine, recorded, "?" + SHOW)
        check(methods(recorded) == [], "answered over a closed pipe: %r" % methods(recorded))
        check(after_close <= 20, "ended %.1f s after the window closed" % after_close)

        check_scorm_record(wine, work, bin_dir, orvane)  # last: nothing after it depends on it
    except Failure as failure:
        print("FAILED:", failure)
        sys.exit(1)
    finally:
        wine.stop()
    print("passed: e2e_wine")


if __name__ == "__main__":
    main()
