#!/usr/bin/env python3
"""End-to-end tests of the POSIX launcher: the real orvane with headless Chromium (or a recording
stand-in) as $BROWSER, on the demo course.

usage: e2e_posix.py CASE --bin BIN_DIR --demo-zip DEMO.zip --work DIR

BIN_DIR holds orvane, orvane-demo and orvane-zip. Each case runs in a fresh folder under DIR with
its own TMPDIR and XDG_CONFIG_HOME and without a display, and fails on any time-out."""
import argparse
import glob
import html.parser
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

from e2e_common import Failure, check, free_port

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
        self.demo_zip = args.demo_zip
        self.dir = os.path.join(args.work, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        self.out = os.path.join(self.dir, "out")
        # Chromium puts a socket into TMPDIR, and socket paths are short: keep it under /tmp.
        self.tmp = tempfile.mkdtemp(prefix="orvane-e2e-")
        self.config = os.path.join(self.dir, "config")
        self.browsers = os.path.join(self.dir, "browsers")
        for d in (self.out, self.config, self.browsers):
            os.makedirs(d)
        self.chromium = shutil.which("chromium") or "/usr/bin/chromium"

    def browser(self, name, script):
        """Installs a stand-in browser script under `name`; returns its path."""
        path = os.path.join(self.browsers, name)
        shutil.copy(os.path.join(HERE, script), path)
        os.chmod(path, 0o755)
        return path

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "BROWSER")}
        env.update(TMPDIR=self.tmp, XDG_CONFIG_HOME=self.config, ORVANE_E2E_OUT=self.out,
                   ORVANE_E2E_CHROMIUM=self.chromium)
        env.update(extra)
        return env

    def start(self, program, args=(), **env):
        self.started = time.time()
        return subprocess.Popen([os.path.join(self.bin, program)] + list(args), env=self.env(**env),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def finish(self, process, timeout):
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise Failure("orvane did not end within %d s" % timeout)
        self.ended = time.time()
        self.stderr = stderr
        check(process.returncode == 0, "exit code %r, stderr: %s" % (process.returncode, stderr))
        return stderr

    def read(self, name):
        path = os.path.join(self.out, name)
        if not os.path.exists(path):
            raise Failure("the browser left no %s" % name)
        with open(path, encoding="utf-8") as f:
            return f.read()

    def argv(self):
        return self.read("argv").splitlines()

    def browser_gone_at(self):
        return float(self.read("browser-gone"))

    def check_profile_removed(self):
        left = glob.glob(os.path.join(self.tmp, "orvane-profile-*"))
        check(not left, "profile folders left behind: %s" % left)

    def check_chromium_arguments(self, argv):
        """The launcher's own-profile switches, then the start URL; returns that URL."""
        check(len(argv) == 4, "arguments: %s" % argv)
        check(argv[0].startswith("--user-data-dir=" + self.tmp + "/orvane-profile-"), argv[0])
        check(argv[1:3] == ["--no-first-run", "--remote-debugging-port=0"], argv)
        return argv[3]

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
    check(start_url == session_url + "index.html?show=" + START_TEXT, start_url)
    check_rendered_demo(case.read("dom.html"), session_url)
    # Noticed within one period, then three misses one period apart.
    case.check_ended_after(case.browser_gone_at(), 2 * PERIOD - 1, 3 * PERIOD + 2)
    case.check_profile_removed()


def test_demo_headless(case):
    """orvane-demo serves its embedded course to headless Chromium."""
    run_headless(case, "orvane-demo")


def test_packed_course(case):
    """`orvane-zip pack` makes a launcher that runs the course it was given."""
    packed = os.path.join(case.dir, "packed")
    result = subprocess.run([os.path.join(case.bin, "orvane-zip"), "pack", case.demo_zip, "-o", packed],
                            capture_output=True, text=True, timeout=60)
    check(result.returncode == 0, "pack: %s" % result.stderr)
    case.bin = case.dir
    run_headless(case, "packed")


def test_devtools_probe(case):
    """A browser process that hands off and ends while its page stays open keeps the run alive,
    found through Chromium's DevTools page list; closing the page ends the run."""
    browser = case.browser("chromium", "headless_chromium.sh")
    process = case.start("orvane-demo", BROWSER=browser, ORVANE_E2E_MODE="detach")
    deadline = time.time() + 30
    while not os.path.exists(os.path.join(case.out, "chromium.pid")) and time.time() < deadline:
        time.sleep(0.2)
    chromium_pid = int(case.read("chromium.pid"))
    try:
        time.sleep(4 * PERIOD)  # the launcher has probed at least three times by now
        check(process.poll() is None, "orvane ended while the page was still open")
        case.check_chromium_arguments(case.argv())
    finally:
        os.kill(chromium_pid, signal.SIGTERM)
    gone = time.time()
    case.finish(process, timeout=60)
    case.check_ended_after(gone, 2 * PERIOD - 1, 3 * PERIOD + 2)
    case.check_profile_removed()


def test_signal_ends_the_run(case):
    """SIGTERM ends the watch at once; tear-down ends the browser that uses our profile and
    removes that profile."""
    browser = case.browser("chromium", "headless_chromium.sh")
    process = case.start("orvane-demo", BROWSER=browser, ORVANE_E2E_MODE="foreground")
    deadline = time.time() + 30
    while not os.path.exists(os.path.join(case.out, "chromium.pid")) and time.time() < deadline:
        time.sleep(0.2)
    chromium_pid = int(case.read("chromium.pid"))
    time.sleep(2)
    check(process.poll() is None, "orvane ended by itself")
    sent = time.time()
    process.send_signal(signal.SIGTERM)
    case.finish(process, timeout=30)
    check(case.ended - sent < 6, "orvane took %.1f s to end after SIGTERM" % (case.ended - sent))
    try:
        os.kill(chromium_pid, 0)
        alive = True
    except ProcessLookupError:
        alive = False
    check(not alive, "the browser still runs after orvane ended")
    case.check_profile_removed()


def test_not_an_archive(case):
    """A command-line file that is no archive: the archive error on stderr (twice: opening it, and
    reading .start), and the browser still starts; HttpPort from the settings file is used."""
    text = os.path.join(case.dir, "notes.txt")
    with open(text, "w") as f:
        f.write("not a zip archive\n" * 50)
    port = free_port()
    os.makedirs(os.path.join(case.config, "keltrix"))
    with open(os.path.join(case.config, "keltrix", "Orvane.conf"), "w") as f:
        f.write("# chosen by the test\nHttpPort=%d\n" % port)
    browser = case.browser("firefox", "record_browser.sh")
    process = case.start("orvane", [text, "a=1"], BROWSER=browser)
    stderr = case.finish(process, timeout=60)
    lines = [l for l in stderr.splitlines() if l.startswith("orvane: ")]
    check(len(lines) == 2 and lines[0] == lines[1], "stderr: %r" % stderr)
    argv = case.argv()
    check(argv[:1] == ["-profile"] and argv[2:4] == ["-no-remote", "-new-instance"], argv)
    check(argv[-1].startswith("http://127.0.0.1:%d/" % port) and argv[-1].endswith("/index.html?a=1"),
          argv[-1])
    check(case.read("status") != "200", "the page of a non-archive was served")
    case.check_ended_after(case.browser_gone_at(), 2 * PERIOD - 1, 3 * PERIOD + 2)
    case.check_profile_removed()


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
        stderr = case.finish(process, timeout=30)
        errors = [l[len("orvane: "):] for l in stderr.splitlines() if l.startswith("orvane: ")]
        check(len(errors) == 2, "stderr: %r" % stderr)
        if used is None:
            check(not os.path.exists(dialog_log), "a dialog was started without a display")
            continue
        want = {"zenity": ["--error", "--no-markup", "--text=" + errors[0]],
                "kdialog": ["--error", errors[0]],
                "xmessage": ["-center", errors[0]]}[used]
        shown = case.read("dialogs").split("--\n")[:-1]
        check(shown == ["\n".join([used] + want + [""])] * 2, "%s with %s: %r" % (used, display, shown))


def test_no_browser(case):
    """No $BROWSER and nothing on PATH: the run ends at once, with exit code 0."""
    for extra in ({"PATH": ""}, {"PATH": "", "BROWSER": "no-such-browser:also-missing %s"}):
        process = case.start("orvane-demo", **extra)
        case.finish(process, timeout=30)
        check(case.ended - case.started < 3, "took %.1f s" % (case.ended - case.started))


def test_too_long_for_the_browser(case):
    """A .start text too long for any command line: the launch fails cleanly (no browser runs)
    and the run ends at once."""
    course = os.path.join(case.dir, "long.zip")
    with zipfile.ZipFile(course, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("index.html", "<p>long</p>")
        z.writestr(".start", ("y" * 300000).encode("utf-16-le"))
    browser = case.browser("firefox", "record_browser.sh")
    process = case.start("orvane", [course], BROWSER=browser, PATH="")
    case.finish(process, timeout=30)
    check(case.ended - case.started < 3, "took %.1f s" % (case.ended - case.started))
    check(not os.path.exists(os.path.join(case.out, "argv")), "a browser ran")
    case.check_profile_removed()


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case")
    parser.add_argument("--bin", required=True)
    parser.add_argument("--demo-zip", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    test = globals().get("test_" + args.case)
    if test is None:
        sys.exit("no such case: " + args.case)
    case = Case(args, args.case)
    try:
        test(case)
    except Failure as failure:
        print("FAILED:", failure)
        sys.exit(1)
    finally:
        shutil.rmtree(case.tmp, ignore_errors=True)
    print("passed:", args.case)


if __name__ == "__main__":
    main()
