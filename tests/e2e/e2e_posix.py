#!/usr/bin/env python3
"""End-to-end tests of the POSIX launcher: the real orvane with headless Chromium (or a recording
stand-in) as $BROWSER, on the demo course.

usage: e2e_posix.py CASE --bin BIN_DIR --demo-zip DEMO.zip --work DIR [--emulator COMMAND]

BIN_DIR holds orvane, orvane-demo and orvane-zip. Each case runs in a fresh folder under DIR with
its own TMPDIR, XDG_CONFIG_HOME and XDG_DATA_HOME and without a display, and fails on any
time-out. --emulator (a command line, e.g. "qemu-aarch64-static -L /usr/aarch64-linux-gnu") runs
the build's programs when they are for another processor."""
import argparse
import glob
import html.parser
import os
import select
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request
import zipfile

from e2e_common import (AS_OTHER_ACCOUNT, OTHER_PYTHON, Failure, Skipped, check, free_port, local_server,
                        other_account_ready, run_script)

HERE = os.path.dirname(os.path.abspath(__file__))
PERIOD = 5.0  # the launcher's watch period
START_TEXT = "welcome-\u00fc"


class DomChecks(html.parser.HTMLParser):
    """The attributes of the elements that carry an id, from the page's DOM dump."""

    def __init__(self, text):
        super().__init__()
        self.by_id = {}
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.by_id[attrs["id"]] = attrs


class Case:
    def __init__(self, args, name):
        self.bin = args.bin
        self.emulator = shlex.split(args.emulator or "")
        self.demo_zip = args.demo_zip
        self.dir = os.path.join(args.work, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        self.out = os.path.join(self.dir, "out")
        # Chromium puts a socket into TMPDIR, and socket paths are short: keep it under /tmp.
        self.tmp = tempfile.mkdtemp(prefix="orvane-e2e-")
        self.config = os.path.join(self.dir, "config")
        self.data = os.path.join(self.dir, "data")
        self.profiles = os.path.join(self.data, "keltrix", "orvane", "profiles")
        self.browsers = os.path.join(self.dir, "browsers")
        for d in (self.out, self.config, self.browsers):
            os.makedirs(d)
        self.chromium = shutil.which("chromium") or "/usr/bin/chromium"
        self.firefox_program = shutil.which("firefox-esr") or shutil.which("firefox")

    def browser(self, name, script):
        """Installs a stand-in browser script under `name`; returns its path."""
        path = os.path.join(self.browsers, name)
        shutil.copy(os.path.join(HERE, script), path)
        os.chmod(path, 0o755)
        return path

    def firefox(self):
        check(self.firefox_program is not None, "no firefox-esr here")
        return self.browser("firefox", "headless_firefox.sh")

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "BROWSER")}
        env.update(TMPDIR=self.tmp, XDG_CONFIG_HOME=self.config, XDG_DATA_HOME=self.data,
                   ORVANE_E2E_OUT=self.out,
                   ORVANE_E2E_CHROMIUM=self.chromium, ORVANE_E2E_FIREFOX=self.firefox_program or "")
        env.update(extra)
        return env

    def start(self, program, args=(), **env):
        self.started = time.time()
        return subprocess.Popen(self.emulator + [os.path.join(self.bin, program)] + list(args), env=self.env(**env),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def finish(self, process, timeout, code=0):
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise Failure("orvane did not end within %d s" % timeout)
        self.ended = time.time()
        self.stderr = stderr
        check(process.returncode == code, "exit code %r, stderr: %s" % (process.returncode, stderr))
        return stderr

    def read(self, name):
        path = os.path.join(self.out, name)
        if not os.path.exists(path):
            raise Failure("the browser left no %s" % name)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def argv(self):
        return self.read("argv").splitlines()

    def wait_for(self, name, poll=0.2):
        """The file `name` the browser writes, waiting up to 30 s for it."""
        deadline = time.time() + 30
        while not os.path.exists(os.path.join(self.out, name)) and time.time() < deadline:
            time.sleep(poll)
        return self.read(name)

    def read_profile_file(self, name):
        """The text of `name` in the course's one profile folder ("" when it is missing)."""
        files = glob.glob(os.path.join(self.profiles, "*", name))
        return open(files[0]).read() if files else ""

    def browser_gone_at(self):
        return float(self.read("browser-gone"))

    def check_temp_clean(self):
        """Nothing of the run in the temporary folder (the browser's own files aside)."""
        left = glob.glob(os.path.join(self.tmp, "orvane*"))
        check(not left, "left in the temporary folder: %s" % left)
        others = os.listdir(self.tmp)
        if others:
            print("the browser left in TMPDIR: %s" % others)

    def profile_of(self, word):
        """The course profile folder a switch names; it must be under the data folder."""
        check(os.path.dirname(os.path.dirname(word)) == self.profiles,
              "profile %r not under %r" % (word, self.profiles))
        check(os.path.isdir(word), "profile %r does not exist" % word)
        return word

    def check_chromium_arguments(self, argv):
        """The launcher's own-profile switches, then the start URL; returns that URL."""
        check(len(argv) == 5, "arguments: %s" % argv)
        check(argv[0].startswith("--user-data-dir="), argv[0])
        self.profile_of(argv[0][len("--user-data-dir="):])
        check(argv[1:4] == ["--no-first-run", "--no-default-browser-check",
                            "--remote-debugging-pipe"], argv)
        return argv[4]

    def check_ended_after(self, gone, low, high):
        waited = self.ended - gone
        check(low <= waited <= high, "orvane ended %.1f s after the browser (want %.0f to %.0f s)"
              % (waited, low, high))
        print("orvane ended %.1f s after the browser" % waited)


def session_url_of(start_url):
    check(start_url.startswith("http://127.0.0.1:"), start_url)
    at = start_url.find("/index.html")
    check(at > 0, start_url)
    return start_url[:at + 1]


def check_rendered_demo(dom_text, session_url):
    dom = DomChecks(dom_text).by_id
    for item in ("check-script", "check-style", "check-image", "check-navigation", "check-show"):
        check(dom.get(item, {}).get("data-ok") == "yes", "%s: %s" % (item, dom.get(item)))
    check(dom["check-script"]["data-session"] == session_url, dom["check-script"])
    check((dom["check-image"]["data-width"], dom["check-image"]["data-height"]) == ("64", "48"),
          "image size: %s" % dom["check-image"])
    check(dom["check-navigation"]["data-base"] == session_url,
          "wa_base %r, SessionUrl %r" % (dom["check-navigation"]["data-base"], session_url))
    check(dom["check-show"]["data-text"] == START_TEXT, dom["check-show"])
    check(dom["verdict"].get("data-ok") == "yes", dom["verdict"])


def run_headless(case, program, args=()):
    """Runs `program` with headless Chromium dumping the page; checks the page and the end."""
    browser = case.browser("chromium", "headless_chromium.sh")
    process = case.start(program, args, BROWSER=browser, ORVANE_E2E_MODE="dump")
    case.finish(process, timeout=120)
    start_url = case.check_chromium_arguments(case.argv())
    session_url = session_url_of(start_url)
    check(start_url == session_url + "index.html?show=" + urllib.parse.quote(START_TEXT), start_url)
    check_rendered_demo(case.read("dom.html"), session_url)
    # Noticed within one period, then three misses one period apart.
    case.check_ended_after(case.browser_gone_at(), 2 * PERIOD - 1, 3 * PERIOD + 2)
    case.check_temp_clean()


def test_demo_headless(case):
    """orvane-demo serves its embedded course to headless Chromium."""
    run_headless(case, "orvane-demo")


def test_packed_course(case):
    """`orvane-zip pack` makes a launcher that runs the course it was given."""
    packed = os.path.join(case.dir, "packed")
    result = subprocess.run(case.emulator + [os.path.join(case.bin, "orvane-zip"), "pack", case.demo_zip, "-o", packed],
                            capture_output=True, text=True, timeout=120)
    check(result.returncode == 0, "pack: %s" % result.stderr)
    case.bin = case.dir
    run_headless(case, "packed")


def test_devtools_probe(case):
    """A browser process that hands off and ends while its page stays open keeps the run alive,
    found through the DevTools pipe the Chromium it started inherited; ending it ends the run."""
    watched_until_ended(case, "detach", 2 * PERIOD - 1, 3 * PERIOD + 2)


def test_devtools_refused(case):
    """A Chromium whose DevTools pipe is closed at once (remote debugging turned off) is watched by
    its process: the run lives while it runs and ends after it does."""
    watched_until_ended(case, "refuse", 0, 20)


def watched_until_ended(case, mode, low, high):
    """The run lives for five periods while the Chromium of `mode` runs, and ends `low` to `high`
    seconds after it is ended."""
    browser = case.browser("chromium", "headless_chromium.sh")
    process = case.start("orvane-demo", BROWSER=browser, ORVANE_E2E_MODE=mode)
    chromium_pid = int(case.wait_for("chromium.pid"))
    try:
        time.sleep(5 * PERIOD)
        check(process.poll() is None, "orvane ended while the browser ran")
        case.check_chromium_arguments(case.argv())
    finally:
        os.kill(chromium_pid, signal.SIGTERM)
    gone = time.time()
    case.finish(process, timeout=60)
    case.check_ended_after(gone, low, high)
    case.check_temp_clean()


def test_signal_ends_the_run(case):
    """SIGTERM ends the watch at once; tear-down ends the browser of the course's own; its
    profile stays for the next run."""
    browser = case.browser("chromium", "headless_chromium.sh")
    process = case.start("orvane-demo", BROWSER=browser, ORVANE_E2E_MODE="foreground")
    chromium_pid = int(case.wait_for("chromium.pid"))
    time.sleep(2)
    check(process.poll() is None, "orvane ended by itself")
    sent = time.time()
    process.send_signal(signal.SIGTERM)
    case.finish(process, timeout=30)
    check(case.ended - sent < 6, "orvane took %.1f s to end after SIGTERM" % (case.ended - sent))
    check(not os.path.exists("/proc/%d" % chromium_pid), "the browser still runs after orvane ended")
    case.check_temp_clean()


def test_not_an_archive(case):
    """No course can be opened (a file that is no zip, a missing one): one message naming the file
    and the reason, no browser, exit code 1."""
    text = os.path.join(case.dir, "notes.txt")
    with open(text, "w") as f:
        f.write("not a zip archive\n" * 50)
    browser = case.browser("firefox", "record_browser.sh")
    for named in (text, os.path.join(case.dir, "missing.zip")):
        process = case.start("orvane", [named, "a=1"], BROWSER=browser)
        stderr = case.finish(process, timeout=30, code=1)
        lines = [l for l in stderr.splitlines() if l.startswith("orvane: ")]
        check(len(lines) == 1 and named in lines[0], "stderr: %r" % stderr)
        check(not os.path.exists(os.path.join(case.out, "argv")), "a browser was started")


def test_alert_dialogs(case):
    """Archive errors go to stderr always, and to zenity, else kdialog, else xmessage when there
    is a display; without one no dialog is started."""
    text = os.path.join(case.dir, "notes.txt")
    with open(text, "w") as f:
        f.write("not a zip archive\n" * 50)
    runs = [
        ({"DISPLAY": ":99"}, ["zenity", "kdialog", "xmessage"], "zenity"),
        ({"WAYLAND_DISPLAY": "wayland-9"}, ["kdialog", "xmessage"], "kdialog"),
        ({"DISPLAY": ":99"}, ["xmessage"], "xmessage"),
        ({}, ["zenity", "kdialog", "xmessage"], None),
    ]
    for display, dialogs, used in runs:
        for name in os.listdir(case.browsers):
            os.remove(os.path.join(case.browsers, name))
        for name in dialogs:
            case.browser(name, "record_dialog.sh")
        dialog_log = os.path.join(case.out, "dialogs")
        if os.path.exists(dialog_log):
            os.remove(dialog_log)
        # Only the stand-ins on PATH and no $BROWSER: after the alerts, no browser is found.
        process = case.start("orvane", [text], PATH=case.browsers, **display)
        stderr = case.finish(process, timeout=30, code=1)
        errors = [l[len("orvane: "):] for l in stderr.splitlines() if l.startswith("orvane: ")]
        check(len(errors) == 1, "stderr: %r" % stderr)
        if used is None:
            check(not os.path.exists(dialog_log), "a dialog was started without a display")
            continue
        want = {"zenity": ["--error", "--no-markup", "--text=" + errors[0]],
                "kdialog": ["--error", errors[0]],
                "xmessage": ["-center", errors[0]]}[used]
        shown = case.read("dialogs").split("--\n")[:-1]
        check(shown == ["\n".join([used] + want + [""])], "%s with %s: %r" % (used, display, shown))


def test_no_browser(case):
    """No $BROWSER and nothing on PATH: the run ends at once with a message that says how to
    choose a browser, and exit code 1."""
    for extra in ({"PATH": ""}, {"PATH": "", "BROWSER": "no-such-browser:also-missing %s"}):
        process = case.start("orvane-demo", **extra)
        stderr = case.finish(process, timeout=30, code=1)
        check(case.ended - case.started < 3, "took %.1f s" % (case.ended - case.started))
        check("No web browser could be started" in stderr and "BROWSER" in stderr, "stderr: %r" % stderr)
    usage = subprocess.run([os.path.join(case.bin, "orvane"), "--help"], capture_output=True, text=True,
                           timeout=10)
    check(usage.returncode == 0 and usage.stdout.startswith("Usage: orvane"), "--help: %r" % (usage,))


def test_too_long_for_the_browser(case):
    """A .start text too long for any command line: the launch fails cleanly (no browser runs)
    and the run ends at once."""
    course = os.path.join(case.dir, "long.zip")
    with zipfile.ZipFile(course, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("index.html", "<p>long</p>")
        z.writestr(".start", ("y" * 300000).encode("utf-16-le"))
    browser = case.browser("firefox", "record_browser.sh")
    process = case.start("orvane", [course], BROWSER=browser, PATH="")
    case.finish(process, timeout=30, code=1)
    check(case.ended - case.started < 3, "took %.1f s" % (case.ended - case.started))
    check(not os.path.exists(os.path.join(case.out, "argv")), "a browser ran")
    case.check_temp_clean()


COUNTER_PAGE = """<!doctype html><html><body><p id="visits">?</p><script>
var n = Number(localStorage.getItem("visits") || 0) + 1;
localStorage.setItem("visits", String(n));
var c = Number((document.cookie.match(/(?:^|; )visits=(\d+)/) || [0, 0])[1]) + 1;
document.cookie = "visits=" + c + "; max-age=86400";  /* no path: the page's folder */
var q = new URLSearchParams(location.search), p = document.getElementById("visits");
p.setAttribute("data-cookie", String(c));
["show", "lesson", "name"].forEach(function (k) { p.setAttribute("data-" + k, q.get(k)); });
document.getElementById("visits").setAttribute("data-count", String(n));
</script></body></html>"""


def make_course(path, page=COUNTER_PAGE):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("index.html", page)
    return path


def visits_shown(case, what="count"):
    dom = DomChecks(case.read("dom.html")).by_id
    return dom.get("visits", {}).get("data-" + what)


def test_storage_survives(case):
    """A course's browser storage (localStorage, a cookie without a path) is there on its next run,
    also with the file moved; another course starts afresh. The port and prefix are the course's
    own on every run. Arguments and the start text reach the page as written (URLSearchParams)."""
    browser = case.browser("chromium", "headless_chromium.sh")
    first = make_course(os.path.join(case.dir, "downloads", "Safety Course.zip"))
    moved = os.path.join(case.dir, "courses", "Safety Course.zip")
    other = make_course(os.path.join(case.dir, "downloads", "Other Course.zip"))
    text = "Kapitel 2 \u2013 \u00dcbung & Test #3 50% a+b=c"
    with zipfile.ZipFile(other, "a") as z:
        z.writestr(".start", text.encode("utf-16-le"))
    args = {"show": text, "lesson": "3", "name": "J\u00fcrgen M\u00fcller"}
    runs = [(first, "1"), (None, "2"), (other, "1"), (None, "3")]
    ports = []
    for course, want in runs:
        if course is None:  # the same course again, moved to another folder
            if not os.path.exists(moved):
                os.makedirs(os.path.dirname(moved))
                shutil.move(first, moved)
            course = moved
        words = ["lesson=3", "name=" + args["name"]] if course == other else []
        process = case.start("orvane", [course] + words, BROWSER=browser, ORVANE_E2E_MODE="dump")
        case.finish(process, timeout=120)
        start_url = case.check_chromium_arguments(case.argv())
        ports.append(start_url.split("/")[2] + "/" + start_url.split("/")[3])
        if course == other:
            got = {k: visits_shown(case, k) for k in args}
            check(got == args, "the page read %r" % got)
        shown = visits_shown(case)
        check(shown == want, "%s: the page counted %r visits, want %s" % (course, shown, want))
        cookie = visits_shown(case, "cookie")
        check(cookie == want, "%s: a cookie without a path counted %r, want %s" % (course, cookie, want))
        print("%s: visit %s on %s" % (os.path.basename(course), shown, ports[-1]))
    check(ports[0] == ports[1] == ports[3] and ports[2] != ports[0], "ports: %s" % ports)
    check(all(int(p.split(":")[1].split("/")[0]) < 32768 for p in ports), "a port in a dynamic range: %s" % ports)
    folders = sorted(n for n in os.listdir(case.profiles) if os.path.isdir(os.path.join(case.profiles, n)))
    check(len(folders) == 2 and sorted(os.listdir(case.profiles)) == sorted(folders + [n + ".lock" for n in folders]),
          "profiles: %s" % os.listdir(case.profiles))
    case.check_temp_clean()


def test_xdg_default_browser(case):
    """Without $BROWSER the desktop's default browser (its desktop file's Exec) is used when it is
    Chromium-family, before the browsers installed on PATH: as the mimeapps.list in
    $XDG_CONFIG_HOME names it, without asking xdg-settings; else as xdg-settings tells."""
    case.browser("google-chrome", "headless_chromium.sh")
    asked = os.path.join(case.out, "xdg-settings-asked")
    xdg = os.path.join(case.browsers, "xdg-settings")
    with open(xdg, "w") as f:
        f.write('#!/bin/sh\n: > %s\n[ "$1 $2" = "get default-web-browser" ] && echo orvane-test.desktop\n' % asked)
    os.chmod(xdg, 0o755)
    applications = os.path.join(case.data, "applications")
    os.makedirs(applications)
    with open(os.path.join(applications, "orvane-test.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Test browser\nExec=google-chrome %U\n")
    path = case.browsers + ":" + os.environ.get("PATH", "/usr/bin:/bin")
    mimeapps = os.path.join(case.config, "mimeapps.list")
    for way in ("mimeapps.list", "xdg-settings"):
        if way == "mimeapps.list":
            with open(mimeapps, "w") as f:
                f.write("[Added Associations]\nx-scheme-handler/http=other.desktop;\n"
                        "[Default Applications]\nx-scheme-handler/http=missing.desktop;orvane-test.desktop;\n")
        elif os.path.exists(mimeapps):
            os.remove(mimeapps)
        process = case.start("orvane-demo", PATH=path, ORVANE_E2E_MODE="dump")
        case.finish(process, timeout=120)
        start_url = case.check_chromium_arguments(case.argv())
        check_rendered_demo(case.read("dom.html"), session_url_of(start_url))
        check(os.path.exists(asked) == (way == "xdg-settings"), "%s: xdg-settings asked: %s" % (way, os.path.exists(asked)))
    case.check_temp_clean()


def test_firefox(case):
    """Firefox (firefox-esr, headless) with the course's own profile and instance: the run lives
    while its process runs and ends within 20 s after; the page stored its visit in the profile."""
    script = case.firefox()
    course = make_course(os.path.join(case.dir, "counter.zip"))
    process = case.start("orvane", [course], BROWSER=script)
    firefox_pid = int(case.wait_for("firefox.pid"))
    argv = case.argv()
    check(argv[0] == "-profile" and argv[2:4] == ["-no-remote", "-new-instance"], argv)
    profile = case.profile_of(argv[1])
    try:
        time.sleep(5 * PERIOD)
        check(process.poll() is None, "orvane ended while Firefox ran")
        port = argv[4].split("/")[2].split(":")[1]
        stored = glob.glob(os.path.join(profile, "storage", "default", "http+++127.0.0.1+" + port + "*"))
        print("Firefox's storage for the course's origin: %s" % stored)
        check(stored, "Firefox stored nothing for the course")
    finally:
        os.kill(firefox_pid, signal.SIGTERM)
    gone = time.time()
    case.finish(process, timeout=60)
    case.check_ended_after(gone, 0, 4 * PERIOD)
    case.check_temp_clean()


def test_closed_stderr(case):
    """Writing the archive error to a standard error that is a closed pipe does not kill the
    run: `orvane /etc/passwd 2>&1 >/dev/null | true` ends with its own exit code 1 (not by
    SIGPIPE), and starts no browser."""
    browser = case.browser("firefox", "record_browser.sh")
    env = case.env(BROWSER=browser)
    command = "'%s' /etc/passwd 2>&1 >/dev/null | (exec 0<&-; true); echo ${PIPESTATUS[0]}" % (
        os.path.join(case.bin, "orvane"))
    result = subprocess.run(["bash", "-c", command], env=env, capture_output=True, text=True, timeout=60)
    check(result.stdout.strip() == "1", "exit status %r, stderr %r" % (result.stdout, result.stderr))
    check(not os.path.exists(os.path.join(case.out, "argv")), "a browser was started")


def test_port_in_use(case):
    """HttpPort set to a port another program holds: an error naming the port, no browser."""
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        holder.listen(1)
        port = holder.getsockname()[1]
        os.makedirs(os.path.join(case.config, "keltrix"))
        with open(os.path.join(case.config, "keltrix", "Orvane.conf"), "w") as f:
            f.write("HttpPort=%d\n" % port)
        browser = case.browser("firefox", "record_browser.sh")
        process = case.start("orvane-demo", BROWSER=browser)
        stderr = case.finish(process, timeout=30, code=1)
    check(str(port) in stderr, "stderr: %r" % stderr)
    check(not os.path.exists(os.path.join(case.out, "argv")), "a browser was started")


def test_latin1_path(case):
    """An archive path that is not UTF-8 reaches the file system byte for byte."""
    name = os.path.join(case.dir.encode(), b"caf\xe9 course.zip")
    shutil.copy(case.demo_zip, name)
    browser = case.browser("firefox", "record_browser.sh")
    env = case.env(BROWSER=browser)
    process = subprocess.run([os.path.join(case.bin, "orvane").encode(), name], env=env,
                             capture_output=True, timeout=60)
    check(process.returncode == 0, "exit code %r" % process.returncode)
    check(b"orvane:" not in process.stderr, "stderr: %r" % process.stderr)
    check(case.read("status") == "200", "the start page was not served: %s" % case.read("status"))
    check(case.argv()[-1].endswith("?show=" + urllib.parse.quote(START_TEXT)), case.argv())


def descendants(root):
    """The processes below `root`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(entry))
        except (OSError, ValueError, IndexError):
            pass
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def listening_tcp(pids):
    """The TCP ports on which any of `pids` listens, from /proc/net/tcp and tcp6."""
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir("/proc/%d/fd" % pid):
                target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except OSError:
            pass
    ports = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:
                    ports.append(int(fields[1].rsplit(":", 1)[1], 16))
    return ports


# The course's window opens a page out of the course in a window of its own and closes itself
# (a script may close a window only when it has no history or a script opened it); the page out
# there leads back to the course, which closes that window too.
LINK_OUT_PAGE = """<!doctype html><p id=state></p><script>
const outside = "http://127.0.0.1:%d/";
if (!location.search.includes("returned")) {
  setTimeout(() => {
    const back = location.href.split("?")[0] + "?returned=1";
    window.open(outside + "out.html?back=" + encodeURIComponent(back));
    setTimeout(() => window.close(), 500);
  }, 1000);
} else {
  fetch(outside + "came-back", {mode: "no-cors"});
  setTimeout(() => window.close(), 3000);
}
</script>"""
OUT_PAGE = (b"<!doctype html><p>elsewhere</p><script>setTimeout(() => { location.href ="
            b" new URLSearchParams(location.search).get('back'); }, %d);</script>")


def test_pipe_watch(case):
    """Headless Chromium driven over the DevTools pipe: no socket of the browser listens while
    the course is open; it runs in its profile folder; a page out of the course for longer than
    three watch periods and back keeps the run; once the window closes the run ends within 20 s,
    and the browser with it."""
    out_seconds = 4 * PERIOD
    server = local_server(lambda path: OUT_PAGE % int(out_seconds * 1000) if path.startswith("/out.html") else b"")
    requests = server.requests
    try:
        course = make_course(os.path.join(case.dir, "links.zip"), LINK_OUT_PAGE % server.server_address[1])
        browser = case.browser("chromium", "headless_chromium.sh")
        process = case.start("orvane", [course], BROWSER=browser, ORVANE_E2E_MODE="foreground")
        deadline = time.time() + out_seconds + 60
        looked = 0
        while not any(path == "/came-back" for _, path in requests):
            check(time.time() < deadline, "the page never came back: %s" % requests)
            check(process.poll() is None, "orvane ended while the page was out of the course")
            browsers = descendants(process.pid)
            if browsers:
                listening = listening_tcp(browsers)
                check(not listening, "the browser listens on %s" % listening)
                looked += 1
            time.sleep(1)
        # It runs in its profile folder, not the launcher's (a course's stick can be ejected).
        chromium_pid = int(case.read("chromium.pid"))
        profile = case.argv()[0][len("--user-data-dir="):]
        check(os.readlink("/proc/%d/cwd" % chromium_pid) == profile, "the browser runs in %s"
              % os.readlink("/proc/%d/cwd" % chromium_pid))
        went = [t for t, path in requests if path.startswith("/out.html")][0]
        back = [t for t, path in requests if path == "/came-back"][0]
        print("out of the course for %.1f s; looked for listening sockets of the browser %d times"
              % (back - went, looked))
        check(back - went >= 3 * PERIOD and looked >= 10, "out %.1f s, looked %d times" % (back - went, looked))
        case.finish(process, timeout=60)
        case.check_ended_after(back + 3, 0, 20)
        check(not os.path.exists("/proc/%d" % chromium_pid), "the browser still runs after orvane ended")
        case.check_chromium_arguments(case.argv())
    finally:
        server.shutdown()
    case.check_temp_clean()


# Reports each load of the page (its address) to the test's own server, and closes itself after
# the seconds its query's "close" names (a window with one page of history may close itself).
TWO_RUNS_PAGE = """<!doctype html><script>
fetch("http://127.0.0.1:%d/loaded?" + encodeURIComponent(location.href), {mode: "no-cors"});
setTimeout(() => window.close(), 1000 * Number(new URLSearchParams(location.search).get("close")));
</script>"""


def page_loads(server):
    """(time, address) of each load a TWO_RUNS_PAGE reported to `server`."""
    return [(t, urllib.parse.unquote(path.partition("?")[2])) for t, path in server.requests]


def private_display():
    """A private Xvfb for Chromium with windows (a script can close those): the process and its $DISPLAY."""
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return xvfb, ":" + xvfb.stdout.readline().strip()


def test_two_runs(case):
    """Two runs of the same course racing (Chromium with windows, on a private Xvfb): the second,
    started right after the first, waits for the first to serve and hands its page to the first
    run's browser, at the first run's address, and ends with 0; the first run serves both windows
    and ends once both are closed."""
    server = local_server(lambda path: b"")

    def loads():
        return page_loads(server)
    xvfb, display = private_display()
    first = None
    try:
        browser = case.browser("chromium", "headless_chromium.sh")
        course = make_course(os.path.join(case.dir, "two.zip"), TWO_RUNS_PAGE % server.server_address[1])
        first = case.start("orvane", [course, "close=%d" % (6 * PERIOD)], BROWSER=browser,
                           ORVANE_E2E_MODE="window", DISPLAY=display)
        deadline = time.time() + 30
        argv = case.wait_for("argv", poll=0.05).splitlines()  # the first run's browser
        second = case.start("orvane", [course, "from=second", "close=%d" % (2 * PERIOD)], BROWSER=browser,
                            ORVANE_E2E_MODE="window", DISPLAY=display)
        case.finish(second, timeout=30)
        print("the second run ended %.1f s after it started" % (case.ended - case.started))
        profile = argv[0][len("--user-data-dir="):]
        session = session_url_of(argv[4])
        check(case.argv() == ["--user-data-dir=" + profile, session + "index.html?from=second&close=%d" % (2 * PERIOD)],
              "hand-over: %s" % case.argv())
        while len(loads()) < 2:
            check(time.time() < deadline + 30, "the second window never showed: %s" % loads())
            time.sleep(0.2)
        check(all(url.startswith(session) for _, url in loads()), "pages: %s" % loads())
        print("two windows at one address: %s" % [url for _, url in loads()])
        # The first window closes last; the run lives until then and ends within 20 s after.
        closed = loads()[0][0] + 6 * PERIOD
        while time.time() < closed - 1:
            if first.poll() is not None:
                check(False, "the first run ended (%d) while a window of it was open: %s"
                      % (first.returncode, first.communicate()[1][-3000:]))
            time.sleep(0.5)
        case.finish(first, timeout=60)
        print("the first run ended %.1f s after its last window closed" % (case.ended - closed))
        check(case.ended - closed <= 20, "the first run took %.1f s" % (case.ended - closed))
    finally:
        if first is not None and first.poll() is None:
            first.kill()
        xvfb.terminate()
        xvfb.wait()
        server.shutdown()


VIDEO_PAGE = """<!doctype html><meta charset=utf-8><title>lecture</title>
<video id=v src="media/lecture.webm" preload=auto muted></video>
<p id=result data-state=waiting></p>
<script>
const v = document.getElementById('v'), r = document.getElementById('result');
function report(state) {
  const s = v.seekable;
  r.dataset.state = state;
  r.dataset.seekable = s.length ? s.start(0) + '-' + s.end(s.length - 1) : 'none';
  r.dataset.time = v.currentTime;
  r.dataset.duration = v.duration;
}
v.addEventListener('loadedmetadata', () => { report('metadata'); v.currentTime = 45; });
v.addEventListener('seeked', () => report('seeked'));
v.addEventListener('error', () => report('error ' + (v.error && v.error.code)));
</script>
"""


def test_video_seeks(case):
    """A 60 s WebM lecture stored in the course: headless Chromium finds it seekable over its
    whole length (the server answers its byte ranges) and a seek to 45 s lands there."""
    video = os.path.join(case.dir, "lecture.webm")
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                    "-i", "testsrc=duration=60:size=160x120:rate=10", "-c:v", "libvpx", "-b:v", "60k",
                    "-deadline", "realtime", "-cpu-used", "8", "-g", "10", video], check=True, timeout=120)
    course = os.path.join(case.dir, "course.zip")
    with zipfile.ZipFile(course, "w") as z:
        z.writestr("index.html", VIDEO_PAGE, compress_type=zipfile.ZIP_DEFLATED)
        z.write(video, "media/lecture.webm", compress_type=zipfile.ZIP_STORED)
    browser = case.browser("chromium", "headless_chromium.sh")
    process = case.start("orvane", [course], BROWSER=browser, ORVANE_E2E_MODE="dump")
    case.finish(process, timeout=120)
    result = DomChecks(case.read("dom.html")).by_id.get("result", {})
    print("video page reported: %s" % result)
    check(result.get("data-state") == "seeked", "the seek did not complete: %s" % result)
    start, _, end = result.get("data-seekable", "").partition("-")
    check(start == "0" and end and float(end) >= 59.5, "seekable range %r" % result.get("data-seekable"))
    check(float(result.get("data-time", 0)) >= 44.5, "the seek reached %s s" % result.get("data-time"))


MODERN_PAGE = """<!doctype html><html><body><p id="module">?</p><p id="folder">?</p>
<script type="module" src="app.mjs"></script><iframe id="frame" src="lessons"></iframe><script>
document.getElementById("frame").onload = function () {
  var folder = document.getElementById("folder"), inner = this.contentWindow;
  folder.setAttribute("data-path", inner.location.pathname);
  folder.setAttribute("data-module", inner.document.body.getAttribute("data-module") || "none");
};
</script></body></html>"""


def test_modern_site(case):
    """A course made by zip -r: .mjs modules that libmagic takes for text/plain run in Chromium,
    and a folder linked without its "/" opens its index.html, whose relative import resolves."""
    tree, course = os.path.join(case.dir, "tree"), os.path.join(case.dir, "course.zip")
    for name, text in {"index.html": MODERN_PAGE,
                       "app.mjs": 'import { mark } from "./lib/mark.mjs";\nmark(document.getElementById("module"));\n',
                       "lib/mark.mjs": 'let ok = "yes";\nlet mark = (e) => e.setAttribute("data-ok", ok);\nexport { mark };\n',
                       "lessons/index.html": '<body><script type="module" src="part.mjs"></script></body>',
                       "lessons/part.mjs": 'document.body.setAttribute("data-module", "ran");\n'}.items():
        os.makedirs(os.path.dirname(os.path.join(tree, name)), exist_ok=True)
        with open(os.path.join(tree, name), "w") as f:
            f.write(text)
    subprocess.run(["zip", "-q", "-r", course, "."], cwd=tree, check=True)
    process = case.start("orvane", [course], BROWSER=case.browser("chromium", "headless_chromium.sh"),
                         ORVANE_E2E_MODE="dump")
    case.finish(process, timeout=120)
    session_path = urllib.parse.urlsplit(session_url_of(case.check_chromium_arguments(case.argv()))).path
    dom = DomChecks(case.read("dom.html")).by_id
    check(dom["module"].get("data-ok") == "yes", "the .mjs module did not run: %s" % dom["module"])
    check((dom["folder"].get("data-path"), dom["folder"].get("data-module")) == (session_path + "lessons/", "ran"),
          "the folder page: %s" % dom["folder"])


# Another account posing as the course: binds the port argv[1] on 127.0.0.1 as soon as it is free
# (tried every 10 ms) and prints "held"; every request is printed as "asked LINE" and answered
# with a page that is not the course's.
SQUATTER = r"""
import contextlib, socket, sys, time
page = b"<!doctype html><p id=visits data-count=squatter>not the course</p>"
answer = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s" % (len(page), page)
while True:
    try:
        s = socket.create_server(("127.0.0.1", int(sys.argv[1])), backlog=16)
        break
    except OSError:
        time.sleep(0.01)
print("held", flush=True)
while True:
    with s.accept()[0] as client, contextlib.suppress(OSError):
        client.settimeout(2)
        print("asked", client.recv(4096).split(b"\r\n")[0].decode(errors="replace"), flush=True)
        client.sendall(answer)
"""


class Squatter:
    """SQUATTER run as another account on `port` (killed with the test, if need be), with `wait` until it holds it."""

    def __init__(self, port, wait=True):
        command = AS_OTHER_ACCOUNT + ["--pdeathsig", "SIGKILL", OTHER_PYTHON, "-c", SQUATTER, str(port)]
        self.process = subprocess.Popen(command, cwd="/", stdout=subprocess.PIPE, text=True)
        ready = wait and select.select([self.process.stdout], [], [], 20)[0]
        held = ready and self.process.stdout.readline() == "held\n"
        check(held or not wait, "the other account never held port %d" % port)

    def leave(self):
        """Ends it; the lines it printed (but one read while waiting)."""
        self.process.kill()
        return self.process.communicate(timeout=10)[0].splitlines()


def need_other_account():
    if not other_account_ready():
        raise Skipped("needs root and setpriv to act as another account")


def port_of(url):
    return urllib.parse.urlsplit(url).port


def port_notices(stderr):
    return [line for line in stderr.splitlines() if line.startswith("orvane: Another program uses this course's address")]


def run_until_browsed(case, course, browser, **env):
    """A run of `course` until its stand-in browser is gone, then ended by SIGTERM (its watch
    would wait three passes more); returns the port of its start URL and its standard error."""
    shutil.rmtree(case.out)
    os.makedirs(case.out)
    process = case.start("orvane", [course], BROWSER=browser, **env)
    case.wait_for("browser-gone", poll=0.05)
    process.send_signal(signal.SIGTERM)
    return port_of(case.argv()[-1]), case.finish(process, timeout=30)


def test_port_squatted(case):
    """Another account holds the course's remembered port: the run says so, naming the port, and
    opens on another of the course's ports; the remembered port stays, so once the other account
    has gone the next run is back on it with the course's storage."""
    need_other_account()
    course = make_course(os.path.join(case.dir, "course.zip"))
    chromium = case.browser("chromium", "headless_chromium.sh")

    def remembered():
        return int(case.read_profile_file("port") or 0)
    own, stderr = run_until_browsed(case, course, chromium, ORVANE_E2E_MODE="dump")
    check(own == remembered() and visits_shown(case) == "1", "first run on %d, remembered %d" % (own, remembered()))
    squatter = Squatter(own)
    try:
        moved, stderr = run_until_browsed(case, course, chromium, ORVANE_E2E_MODE="dump")
        notices = port_notices(stderr)
        check(len(notices) == 1 and "port %d " % own in notices[0], "with port %d held: %r" % (own, stderr))
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            dynamic = int(f.read().split()[0])  # the first port the system hands out
        check(moved != own and 16384 <= moved < dynamic, "with port %d held the run is on %d" % (own, moved))
        check(remembered() == own, "a port held once made the course remember %d" % remembered())
        print("port %d held: the run said so and opened on %d; %d stays remembered" % (own, moved, own))
    finally:
        squatter.leave()
    back, stderr = run_until_browsed(case, course, chromium, ORVANE_E2E_MODE="dump")
    check(back == own and not port_notices(stderr), "after the other account left: port %d, %r" % (back, stderr))
    check(visits_shown(case) == "2", "back on %d the page counted %s visits, want 2" % (back, visits_shown(case)))


def test_hand_over_withdrawn(case):
    """The first run's window closes itself; while that run is still in its watch passes another
    account waits to bind its port, and a second run starts. The second run hands nothing to the
    ending run: it waits for its end and opens the learner's window on a server of its own, with
    the course's page and never the other account's."""
    need_other_account()
    # Not course.zip: test_port_squatted's course, with the same ports, may run beside this one.
    server = local_server(lambda path: b"")
    course = make_course(os.path.join(case.dir, "handover.zip"), TWO_RUNS_PAGE % server.server_address[1])
    browser = case.browser("chromium", "headless_chromium.sh")
    xvfb, display = private_display()
    first = second = squatter = None
    try:
        first = case.start("orvane", [course, "close=%d" % (PERIOD + 3)], BROWSER=browser, ORVANE_E2E_MODE="window", DISPLAY=display)
        port = port_of(case.wait_for("argv", poll=0.05).splitlines()[-1])
        squatter = Squatter(port, wait=False)
        deadline = time.time() + 30
        for announced in (True, False):  # announced once the page asked for, withdrawn once it closed
            while bool(case.read_profile_file("serving")) != announced:
                check(time.time() < deadline, "the first run's address was never %s" % ("announced", "withdrawn")[not announced])
                time.sleep(0.1)
        print("the first run withdrew its address %.1f s after its window closed" % (time.time() - server.requests[0][0] - PERIOD - 3))
        check(first.poll() is None, "the first run kept its address for a hand-over until it ended")
        case.browser("zenity", "record_dialog.sh")  # the desktop's message that the port is taken
        second = case.start("orvane", [course, "close=600"], BROWSER=browser, ORVANE_E2E_MODE="window",
                            DISPLAY=display, PATH=case.browsers + os.pathsep + os.environ["PATH"])
        while len(server.requests) < 2:
            check(time.time() < deadline + 60 and second.poll() is None, "the second window never showed (first run: %s): %s" % (first.poll(), case.argv()))
            time.sleep(0.2)
        url = page_loads(server)[1][1]
        check(first.poll() is not None, "the second window showed while the first run was still running: %s" % url)
        check(port_of(url) in listening_tcp([second.pid]), "the learner's window is at %s, not the second run's" % url)
        second.send_signal(signal.SIGTERM)
        stderr = case.finish(second, timeout=30)
        printed = squatter.leave()
        check(not [line for line in printed if line.startswith("asked")], "the other account was asked: %s" % printed)
        # The other account may have been quicker to the first run's port than the second run.
        taken = "held" in printed
        dialogs = os.path.exists(os.path.join(case.out, "dialogs"))
        check(port_of(url) != port and len(port_notices(stderr)) == 1 and dialogs if taken else port_of(url) == port,
              "first run on %d (%s by the other account), second on %d: %r"
              % (port, "then held" if taken else "not held", port_of(url), stderr))
        print("the second run served on %d once the first (on %d, %s by another account) had ended"
              % (port_of(url), port, "then held" if taken else "not held"))
    finally:
        for process in filter(None, (first, second, squatter and squatter.process)):
            process.kill()
        xvfb.terminate()
        server.shutdown()


def run_case(tests, prefix="", prepare=None):
    """Runs the case named on the command line, from `tests` (a module's globals), in a fresh Case
    folder named `prefix` + its name, after `prepare(case, args)`."""
    parser = argparse.ArgumentParser()
    parser.add_argument("case")
    for option in ("--bin", "--work"):
        parser.add_argument(option, required=True)
    for option in ("--demo-zip", "--emulator", "--source"):
        parser.add_argument(option)
    args = parser.parse_args()
    test = tests.get("test_" + args.case)
    if test is None:
        sys.exit("no such case: " + args.case)
    case = Case(args, prefix + args.case)

    def body():
        try:
            if prepare:
                prepare(case, args)
            test(case)
        finally:
            shutil.rmtree(case.tmp, ignore_errors=True)
    run_script(args.case, body)


if __name__ == "__main__":
    run_case(globals())
