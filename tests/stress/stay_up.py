#!/usr/bin/env python3
"""Staying up under load and hostile clients, against the real launcher on 127.0.0.1.

  stay_up.py --launcher build/native/bin/orvane [--seconds 30] [--check load|idle|valgrind ...]

load      64 concurrent clients for --seconds, one request per connection, in two equal halves
          of Python clients (every byte checked) and ApacheBench (ab: status and length, at
          full speed): no connection or read errors, every answer 200 and whole; afterwards the
          process holds no more descriptors or sockets than before, and, once idle again
          after each half, its resident memory is what it was before (within 4 MiB).
idle      clients that never finish their header block, more than the launcher's descriptor
          limit: it goes on answering other clients (closing the idle client that has waited
          longest to make room), does not spin the CPU, and recovers when they close. Then 100
          clients that ask for a large entry and never read, against 64 descriptors: a page is
          served within 1 s all the same (the answer that has moved least recently is reset).
large     4 clients fetch a very large stored entry (--large-mib, 300 by default) and a large
          deflated one at once, 2 rounds each, while 8 others fetch small entries: every large
          answer whole (SHA-256), the launcher's peak resident memory (VmHWM) at most 64 MiB,
          no small request waiting more than 250 ms (the median and the slowest are printed),
          and afterwards no more descriptors than before. Then a range at the end of a deflated
          entry as large beside a page asked for again and again (the page's slowest wait is
          printed; goal 50 ms, more than 250 ms fails).
trickle   1,200 connections trickling a header block (again when closed) against 256 descriptors,
          beside a --trickle-mib entry (40 by default) read at 1 MB/s: the download completes
          whole, a page asked for every half second is served within 1 s (figures printed).
valgrind  a full launcher run under memcheck with a short load, status-only answers and HEAD
          included: no errors, no leaks.

Every run ends with SIGTERM, which must end the launcher with exit code 0 (its watch loop
ends and it tears down in order). Every loop is bounded in time and count; only 127.0.0.1 is
contacted. The stand-in browser is bench/fake-browser."""
import argparse
import hashlib
import http.client
import math
import os
import random
import re
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "http"))
from stalled_clients import closed_by_server, cpu_seconds, non_readers, read_out  # noqa: E402

FAKE_BROWSER = os.path.join(HERE, "..", "..", "bench", "fake-browser")
SUPPRESSIONS = os.path.join(HERE, "valgrind.supp")
# The header lines every answer carries.
COMMON = (b"Cross-Origin-Resource-Policy: same-origin\r\nX-Content-Type-Options: nosniff\r\n"
          b"Content-Security-Policy: frame-ancestors 'self'\r\nConnection: close\r\n")


def make_archive(path, extra=None):
    rng = random.Random(64)
    entries = {
        "index.html": b"<!doctype html><p>index</p>",
        "page.html": b"".join(b"<p>lesson %d</p>\n" % i for i in range(300)),
        "image.png": rng.randbytes(100 * 1024),
        "app.js": b"".join(b"var x%d = %d;\n" % (i, rng.randrange(1 << 30)) for i in range(60000)),
        "empty.txt": b"",
    }
    entries.update(extra or {})
    with zipfile.ZipFile(path, "w") as z:
        for name, data in entries.items():
            stored = name.endswith((".png", ".bin"))
            z.writestr(name, data, compress_type=zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED)
    return {name: (len(data), hashlib.sha256(data).hexdigest()) for name, data in entries.items()}


class Launcher:
    def __init__(self, command, archive, work, nofile=None):
        self.url_file = os.path.join(work, "url-%d" % time.monotonic_ns())
        self.err_file = self.url_file + ".err"
        env = dict(os.environ, BROWSER=os.path.abspath(FAKE_BROWSER), ORVANE_URL_FILE=self.url_file,
                   XDG_CONFIG_HOME=work, DISPLAY="", ORVANE_BROWSER_SECONDS="900")
        env.pop("WAYLAND_DISPLAY", None)

        def limit():
            if nofile:
                resource.setrlimit(resource.RLIMIT_NOFILE, (nofile, nofile))
        # Output to a file, not a pipe: nothing can keep a reader waiting for its end.
        with open(self.err_file, "wb") as err:
            self.proc = subprocess.Popen(command + [archive], env=env, preexec_fn=limit, start_new_session=True,
                                         stdout=subprocess.DEVNULL, stderr=err)
        self.pid = self.proc.pid  # under valgrind too: the tool runs in the launcher's process
        end = time.time() + 120
        while not os.path.exists(self.url_file):
            if time.time() > end or self.proc.poll() is not None:
                self.stop()
                raise SystemExit("FAIL: the launcher did not start its browser")
            time.sleep(0.01)
        with open(self.url_file) as f:
            url = f.read().strip()
        base = url[: url.index("index.html")]
        hostport, self.prefix = base[len("http://"):].split("/", 1)
        self.port = int(hostport.split(":")[1])

    def descriptors(self):
        """(open descriptors, of which sockets)."""
        fd_dir = "/proc/%d/fd" % self.pid
        links = []
        for name in os.listdir(fd_dir):
            try:
                links.append(os.readlink(os.path.join(fd_dir, name)))
            except OSError:
                pass  # closed meanwhile
        return len(links), sum(link.startswith("socket:") for link in links)

    def rss_kib(self):
        with open("/proc/%d/status" % self.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def cpu_seconds(self):
        return cpu_seconds(self.pid)

    def get(self, name, timeout=10):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request("GET", "/" + self.prefix + name)
            response = conn.getresponse()
            return response.status, response.read()
        finally:
            conn.close()

    def exchange(self, raw, timeout=10):
        """Sends raw bytes on a new connection; everything until the server's close."""
        s = socket.create_connection(("127.0.0.1", self.port), timeout)
        try:
            s.sendall(raw)
            answer = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return answer
                answer += chunk
        finally:
            s.close()

    def stop(self, timeout=60):
        """SIGTERM; returns (exit code or None when it had to be killed, seconds, its stderr)."""
        started = time.time()
        self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            code = None
        spent = time.time() - started
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)  # whatever of its session is left
        except ProcessLookupError:
            pass
        with open(self.err_file, errors="replace") as f:
            return code, spent, f.read()


def stop_checked(launcher, failures, timeout=60):
    code, spent, err = launcher.stop(timeout)
    if code != 0:
        failures.append("SIGTERM: exit code %s after %.1f s" % (code, spent))
    return code, spent, err


def load(launcher, expected, seconds, clients=64):
    """`clients` threads, each one request per connection, until the deadline. Returns
    (answers, failures, the first few problems)."""
    names = sorted(expected)
    deadline = time.time() + seconds
    counts = {"ok": 0, "errors": 0}
    problems = []
    lock = threading.Lock()

    def client(seed):
        rng = random.Random(seed)
        while time.time() < deadline:
            name = rng.choice(names)
            try:
                status, body = launcher.get(name)
                good = status == 200 and (len(body), hashlib.sha256(body).hexdigest()) == expected[name]
                problem = None if good else "%s: status %d, %d bytes" % (name, status, len(body))
            except (OSError, http.client.HTTPException) as e:
                problem = "%s: %r" % (name, e)
            with lock:
                if problem:
                    counts["errors"] += 1
                    if len(problems) < 5:
                        problems.append(problem)
                else:
                    counts["ok"] += 1

    threads = [threading.Thread(target=client, args=(i,)) for i in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return counts["ok"], counts["errors"], problems


def flood(launcher, names, seconds, clients=64):
    """ApacheBench with `clients` connections at once, one request per connection, over each
    entry in turn for an equal share of `seconds`. ab checks every answer's status and length
    against the first. Returns (answers, failures, the first few problems)."""
    done, failed, problems = 0, 0, []
    share = max(1, math.ceil(seconds / len(names)))  # ab takes whole seconds
    for name in names:
        url = "http://127.0.0.1:%d/%s%s" % (launcher.port, launcher.prefix, name)
        out = subprocess.run(["ab", "-q", "-s", "10", "-t", str(share), "-n", "10000000", "-c", str(clients), url],
                             capture_output=True, text=True, timeout=share + 60).stdout

        def field(pattern):
            found = re.search(pattern, out, re.M)
            return int(found.group(1)) if found else None
        complete, bad, non2xx = field(r"^Complete requests:\s+(\d+)"), field(r"^Failed requests:\s+(\d+)"), \
            field(r"^Non-2xx responses:\s+(\d+)")
        if complete is None or bad is None:
            failed += 1
            problems.append("ab on %s: %s" % (name, out.strip()[-300:]))
            continue
        done += complete
        failed += bad + (non2xx or 0)
        if bad or non2xx:
            problems.append("ab on %s: %d failed, %s non-2xx" % (name, bad, non2xx))
    return done, failed, problems


def settle(measure, target, seconds=3.0):
    """Waits (bounded) for measure() to come down to `target`; returns the last value."""
    end = time.time() + seconds
    value = measure()
    while value > target and time.time() < end:
        time.sleep(0.05)
        value = measure()
    return value


def check_load(args, work, archive, expected):
    launcher = Launcher([args.launcher], archive, work)
    failures = []
    try:
        for name in expected:  # every entry once, so first-use set-up is behind us
            launcher.get(name)
        time.sleep(1.5)  # idle: the server gives memory freed by large answers back
        fds_before, sockets_before = launcher.descriptors()
        rss_before = launcher.rss_kib()
        slack = 4096  # KiB
        # Each half: Python clients that check every byte, then ab at full speed.
        quarter = args.seconds / 4
        started = time.time()
        busy = ["page.html", "image.png", "app.js"]
        ok1, err1, problems1 = load(launcher, expected, quarter)
        fast1, bad1, flood1 = flood(launcher, busy, quarter)
        rss_mid = settle(launcher.rss_kib, rss_before + slack, 4.0)
        ok2, err2, problems2 = load(launcher, expected, quarter)
        fast2, bad2, flood2 = flood(launcher, busy, quarter)
        elapsed = time.time() - started
        err1, err2 = err1 + bad1, err2 + bad2
        problems1 += flood1
        problems2 += flood2
        fds_after = settle(lambda: launcher.descriptors()[0], fds_before)
        sockets_after = settle(lambda: launcher.descriptors()[1], sockets_before)
        rss_end = settle(launcher.rss_kib, rss_before + slack, 4.0)
        print("load: 64 clients at once for %.0f s: %d answers checked byte for byte (Python), %d checked for"
              " status and length (ab), %d errors; descriptors %d -> %d, sockets %d -> %d; RSS %d KiB before,"
              " %d KiB idle after the first half, %d KiB idle after the second"
              % (elapsed, ok1 + ok2, fast1 + fast2, err1 + err2, fds_before, fds_after,
                 sockets_before, sockets_after, rss_before, rss_mid, rss_end))
        if err1 + err2:
            failures.append("%d failed requests, e.g. %s" % (err1 + err2, (problems1 + problems2)[:3]))
        if min(ok1, ok2, fast1, fast2) == 0:
            failures.append("a part of the load got no answer at all")
        if fds_after > fds_before or sockets_after > sockets_before:
            failures.append("descriptors %d -> %d, sockets %d -> %d" % (fds_before, fds_after, sockets_before, sockets_after))
        # Once idle again after each half, a process that keeps nothing is the size it was.
        if max(rss_mid, rss_end) > rss_before + slack:
            failures.append("resident memory grew from %d KiB to %d KiB and %d KiB" % (rss_before, rss_mid, rss_end))
    finally:
        code, spent, _ = stop_checked(launcher, failures)
        print("load: SIGTERM ended the launcher in %.2f s with exit code %s" % (spent, code))
    return failures


def check_idle(args, work, archive, expected):
    failures = []
    limit = 128
    launcher = Launcher([args.launcher], archive, work, nofile=limit)
    idle = []
    try:
        base_fds = launcher.descriptors()[0]
        partial = b"GET /" + launcher.prefix.encode() + b"index.html HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % launcher.port
        for _ in range(limit + 64):
            s = socket.create_connection(("127.0.0.1", launcher.port), 5)
            s.sendall(partial)  # and never the empty line that ends the header block
            idle.append(s)
        time.sleep(1)
        cpu = launcher.cpu_seconds()
        time.sleep(3)
        spent = launcher.cpu_seconds() - cpu
        try:
            status, body = launcher.get("page.html", timeout=5)
            served = status == 200 and len(body) == expected["page.html"][0]
        except OSError:
            served = False
        oldest_closed, newest_open = closed_by_server(idle[0]), not closed_by_server(idle[-1])
        print("idle: %d idle clients against a limit of %d descriptors: CPU %.2f s in 3 s; another client %s;"
              " longest-waiting idle client %s, newest %s" % (
                  len(idle), limit, spent, "answered" if served else "NOT answered",
                  "closed" if oldest_closed else "open", "open" if newest_open else "closed"))
        if spent > 0.3:
            failures.append("the server spun the CPU (%.2f s in 3 s) with every descriptor taken" % spent)
        if not served:
            failures.append("a client was not answered while idle clients held every descriptor")
        if not oldest_closed or not newest_open:
            failures.append("room was not made at the expense of the longest-waiting idle client")
        for s in idle:
            s.close()
        idle.clear()
        time.sleep(0.5)
        try:
            status, body = launcher.get("page.html", timeout=5)
            recovered = status == 200 and len(body) == expected["page.html"][0]
        except OSError:
            recovered = False
        after = settle(lambda: launcher.descriptors()[0], base_fds)
        if not recovered:
            failures.append("the server did not answer after the idle clients closed")
        if after > base_fds:
            failures.append("descriptors %d before the idle clients, %d after" % (base_fds, after))
    finally:
        for s in idle:
            s.close()
        stop_checked(launcher, failures)
    failures += check_pending(args, work, expected)
    return failures


def check_pending(args, work, expected):
    """100 clients that ask for a large entry and never read, against a limit of 64
    descriptors: a page is still served within 1 s (room is made by resetting the answer that
    has moved least recently), without spinning; answers then read arrive whole or end in a
    reset, never short and orderly."""
    failures = []
    big = random.Random(8).randbytes(8 << 20)  # more than loopback buffers take unread
    archive = os.path.join(work, "pending.zip")
    make_archive(archive, {"big.bin": big})
    limit, clients = 64, 100
    launcher = Launcher([args.launcher], archive, work, nofile=limit)
    readers = []
    try:
        request = b"GET /" + launcher.prefix.encode() + b"big.bin HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % launcher.port
        readers = non_readers("127.0.0.1", launcher.port, request, clients, timeout=60)
        # Each admitted answer first fills its socket's buffers (megabytes on loopback), and
        # admitting the last clients resets the first: work that ends; spinning would not.
        time.sleep(3)
        cpu = launcher.cpu_seconds()
        time.sleep(2)
        spent = launcher.cpu_seconds() - cpu
        started = time.monotonic()
        try:
            status, body = launcher.get("page.html", timeout=5)
            served = status == 200 and len(body) == expected["page.html"][0]
        except OSError:
            served = False
        waited = time.monotonic() - started
        whole, reset = read_out(readers, big)
        readers = []
        print("idle: %d clients that do not read, limit %d descriptors: CPU %.2f s in 2 s; a page %s in %.2f s;"
              " %d answers whole, %d reset" % (clients, limit, spent, "served" if served else "NOT served", waited,
                                               whole, reset))
        if spent > 0.2:
            failures.append("the server spun the CPU (%.2f s in 2 s) with every descriptor taken" % spent)
        if not served or waited > 1.0:
            failures.append("a page beside %d clients that do not read: %s after %.2f s"
                            % (clients, "served" if served else "not served", waited))
        if whole + reset != clients:
            failures.append("%d of %d large answers ended short without a reset" % (clients - whole - reset, clients))
    finally:
        for s in readers:
            s.close()
        stop_checked(launcher, failures)
    return failures


def fetch_hash(port, path, timeout=120, rate=None):
    """GET with a raw socket; (status line, body length, SHA-256 of the body). With `rate`, read at
    that many bytes a second through a 64 KiB receive buffer, so the answer waits on the reader."""
    s, started = socket.socket(), time.monotonic()
    if rate:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
    try:
        s.settimeout(timeout)
        s.connect(("127.0.0.1", port))
        s.sendall(b"GET /" + path.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = s.recv(65536)
            if not chunk:
                break
            head += chunk
        head, _, first = head.partition(b"\r\n\r\n")
        digest = hashlib.sha256(first)
        length = len(first)
        while True:
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            digest.update(chunk)
            length += len(chunk)
            if rate:
                time.sleep(max(0, length / rate - (time.monotonic() - started)))
        return head.split(b"\r\n")[0], length, digest.hexdigest()
    finally:
        s.close()


def peak_rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def deep_range_beside_a_page(launcher, size):
    """The last KiB of the large deflated entry (everything before it inflated and dropped),
    three times, while another client asks for a small page again and again: how long the page
    waits (the goal is 50 ms; more than 250 ms fails)."""
    failures = []
    waits = []
    ranges = []
    done = threading.Event()

    def pages():
        while not done.is_set():
            started = time.monotonic()
            status, _ = launcher.get("index.html", timeout=10)
            waits.append(time.monotonic() - started)
            if status != 200:
                failures.append("a page beside the deep range: %s" % status)
            time.sleep(0.002)

    page_client = threading.Thread(target=pages)
    page_client.start()
    try:
        for _ in range(3):
            started = time.monotonic()
            answer = launcher.exchange(b"GET /" + launcher.prefix.encode() + b"lecture.txt HTTP/1.1\r\n"
                                       b"Range: bytes=-1024\r\n\r\n", timeout=120)
            ranges.append(time.monotonic() - started)
            head, _, body = answer.partition(b"\r\n\r\n")
            if not head.startswith(b"HTTP/1.1 206 ") or len(body) != 1024:
                failures.append("the deep range: %r, %d bytes" % (head[:40], len(body)))
    finally:
        done.set()
        page_client.join(30)
    slowest = max(waits) if waits else 0
    median = sorted(waits)[len(waits) // 2] if waits else 0
    print("large: a range at the end of a %d MiB deflated entry took %s s; %d pages beside it, median %.1f ms,"
          " slowest %.1f ms (goal 50 ms)" % (size >> 20, ", ".join("%.2f" % r for r in ranges), len(waits),
                                             median * 1000, slowest * 1000))
    if not waits:
        failures.append("no page was answered beside the deep range")
    if slowest > 0.25:
        failures.append("a page waited %.0f ms beside a deep deflated range" % (slowest * 1000))
    return failures


def check_large(args, work, archive, expected):
    """Flat memory and fairness: very large answers beside small ones."""
    failures = []
    rng = random.Random(300)
    big_path = os.path.join(work, "large.zip")
    size = int(args.large_mib * (1 << 20))
    big_digest = hashlib.sha256()
    with zipfile.ZipFile(big_path, "w") as z:
        with z.open(zipfile.ZipInfo("video.bin"), "w", force_zip64=True) as f:  # stored
            block = rng.randbytes(1 << 20)
            for i in range(size >> 20):
                piece = block[i % 256:] + block[:i % 256]
                big_digest.update(piece)
                f.write(piece)
        text = b"".join(b"line %d of a long transcript\n" % i for i in range(600000))  # ~17 MiB
        z.writestr("transcript.txt", text, compress_type=zipfile.ZIP_DEFLATED)
        # As large as the stored one, deflated: a range at its end makes the server inflate it all.
        lecture = zipfile.ZipInfo("lecture.txt")
        lecture.compress_type = zipfile.ZIP_DEFLATED
        with z.open(lecture, "w", force_zip64=True) as f:
            for i in range(size >> 20):
                f.write(b"".join(b"%08x line %d of the lecture\n" % (rng.getrandbits(32), j) for j in range(i * 32768, (i + 1) * 32768))[:1 << 20])
        for name, data in [("index.html", b"<!doctype html><p>index</p>"), ("small.css", b"p{}" * 300),
                           ("icon.png", rng.randbytes(20000))]:
            z.writestr(name, data, compress_type=zipfile.ZIP_DEFLATED)
    want = {"video.bin": (size, big_digest.hexdigest()),
            "transcript.txt": (len(text), hashlib.sha256(text).hexdigest())}
    launcher = Launcher([args.launcher], big_path, work)
    latencies = []
    problems = []
    lock = threading.Lock()
    try:
        launcher.get("index.html")
        fds_before = launcher.descriptors()[0]
        done = threading.Event()

        def large(name):
            for _ in range(2):
                status, length, digest = fetch_hash(launcher.port, launcher.prefix + name)
                if (length, digest) != want[name] or status != b"HTTP/1.1 200 OK":
                    with lock:
                        problems.append("%s: %r, %d bytes" % (name, status, length))

        def small(seed):
            r = random.Random(seed)
            for _ in range(100000):
                if done.is_set():
                    return
                name = r.choice(["index.html", "small.css", "icon.png"])
                started = time.monotonic()
                try:
                    status, _ = launcher.get(name, timeout=10)
                except (OSError, http.client.HTTPException) as e:
                    status = repr(e)
                spent = time.monotonic() - started
                with lock:
                    latencies.append(spent)
                    if status != 200:
                        problems.append("%s: %s" % (name, status))
                time.sleep(0.005)

        bigs = [threading.Thread(target=large, args=("video.bin",)) for _ in range(4)]
        bigs.append(threading.Thread(target=large, args=("transcript.txt",)))
        smalls = [threading.Thread(target=small, args=(i,)) for i in range(8)]
        started = time.time()
        for t in bigs + smalls:
            t.start()
        for t in bigs:
            t.join(600)
        done.set()
        for t in smalls:
            t.join(30)
        elapsed = time.time() - started
        peak = peak_rss_kib(launcher.pid)
        fds_after = settle(lambda: launcher.descriptors()[0], fds_before)
        latencies.sort()
        median = latencies[len(latencies) // 2] if latencies else 0
        slowest = latencies[-1] if latencies else 0
        print("large: 4 x 2 fetches of a %d MiB stored entry and 2 of a %d MiB deflated one in %.1f s beside %d small"
              " requests (median %.1f ms, slowest %.1f ms); peak RSS %d KiB; descriptors %d -> %d"
              % (size >> 20, len(text) >> 20, elapsed, len(latencies), median * 1000, slowest * 1000, peak,
                 fds_before, fds_after))
        if problems:
            failures.append("%d failed fetches, e.g. %s" % (len(problems), problems[:3]))
        if peak > 64 * 1024:
            failures.append("peak resident memory %d KiB, more than 64 MiB" % peak)
        if slowest > 0.25:
            failures.append("a small request waited %.0f ms beside the large answers" % (slowest * 1000))
        if not latencies:
            failures.append("no small request was answered")
        if fds_after > fds_before:
            failures.append("descriptors %d -> %d" % (fds_before, fds_after))
        failures += deep_range_beside_a_page(launcher, size)
    finally:
        stop_checked(launcher, failures)
        os.remove(big_path)
    return failures


def trickle(port, count, stop, stats):
    """`count` connections that each send one byte of a header block every second and never end
    it; one the server closes is opened again. Counts opens and closes in `stats`."""
    head = b"GET /x HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nX: " % port + b"x" * 100000

    def opened():
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        stats["opened"] += 1
        return [s, 0]
    sockets = []
    while not stop.is_set():
        while len(sockets) < count and not stop.is_set():
            sockets.append(opened())
            time.sleep(0.01 if len(sockets) % 50 == 0 else 0)
        for item in sockets:
            try:
                item[1] += item[0].send(head[item[1]:item[1] + 1])
            except BlockingIOError:
                pass
            except OSError:
                item[0].close()
                stats["closed"] += 1
                item[:] = opened()
        stop.wait(1.0)
    for s, _ in sockets:
        s.close()


def check_trickle(args, work, archive, expected):
    failures = []
    size = int(args.trickle_mib * 1e6)
    big = random.Random(40).randbytes(size)
    make_archive(os.path.join(work, "trickle.zip"), {"big.bin": big})
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
    launcher = Launcher([args.launcher], os.path.join(work, "trickle.zip"), work, nofile=256)
    stop, stats, result, waits, pages_ok = threading.Event(), {"opened": 0, "closed": 0}, {}, [], True

    def slow_download():
        try:
            result["answer"] = fetch_hash(launcher.port, launcher.prefix + "big.bin", timeout=90, rate=1e6)
        except OSError as error:
            result["error"] = str(error)
    try:
        started = time.monotonic()
        download = threading.Thread(target=slow_download)
        download.start()
        time.sleep(0.5)  # the download is under way before the flood
        flood = threading.Thread(target=trickle, args=(launcher.port, 1200, stop, stats))
        flood.start()
        while download.is_alive() and time.monotonic() - started < size / 1e6 * 3 + 30:
            time.sleep(0.5)
            asked = time.monotonic()
            try:
                status, body = launcher.get("page.html", timeout=5)
                pages_ok = pages_ok and status == 200 and len(body) == expected["page.html"][0]
            except OSError:
                pages_ok = False
            waits.append(time.monotonic() - asked)
        spent = time.monotonic() - started
        download.join()
        stop.set()
        flood.join()
        status, length, digest = result.get("answer", (b"", 0, ""))
        whole = status == b"HTTP/1.1 200 OK" and length == size and digest == hashlib.sha256(big).hexdigest()
        waits = sorted(waits) or [float("inf")]
        print("trickle: %d connections opened by the trickle, %d closed by the server; %.0f MB download %s in %.1f s"
              " (%s, %d bytes); %d pages, median %.3f s, slowest %.3f s"
              % (stats["opened"], stats["closed"], size / 1e6, "whole" if whole else "NOT whole", spent,
                 result.get("error", "no error"), length, len(waits), waits[len(waits) // 2], waits[-1]))
        if not whole:
            failures.append("the download beside the trickle: %d of %d bytes: %s" % (length, size, result.get("error", "ended early")))
        if not pages_ok or waits[-1] >= 1.0:
            failures.append("a page beside the trickle: %s, slowest %.2f s" % ("served" if pages_ok else "NOT served", waits[-1]))
        if stats["closed"] == 0:
            failures.append("no trickling connection was ever closed")
    finally:
        stop.set()
        stop_checked(launcher, failures)
    return failures


def check_valgrind(args, work, archive, expected):
    command = ["valgrind", "--quiet", "--error-exitcode=99", "--suppressions=" + SUPPRESSIONS, "--leak-check=full",
               "--errors-for-leak-kinds=definite,indirect", "--show-leak-kinds=definite,indirect", args.launcher]
    failures = []
    launcher = Launcher(command, archive, work)
    try:
        ok, errors, problems = load(launcher, expected, args.seconds, clients=8)
        prefix = launcher.prefix.encode()
        # The other answers and their paths through the code: HEAD, 404, 501, a header block cut
        # off by the client, a client that goes before its answer.
        rounds = [
            (b"HEAD /" + prefix + b"app.js HTTP/1.1\r\n\r\n", b"HTTP/1.1 200 OK\r\n"),
            (b"GET /" + prefix + b"missing.html HTTP/1.1\r\n\r\n", b"HTTP/1.1 404 Not Found\r\n" + COMMON + b"\r\n"),
            (b"GET /elsewhere/index.html HTTP/1.1\r\n\r\n", b"HTTP/1.1 404 Not Found\r\n" + COMMON + b"\r\n"),
            (b"POST /" + prefix + b"index.html HTTP/1.1\r\n\r\n", b"HTTP/1.1 501 Not Implemented\r\n" + COMMON + b"\r\n"),
        ]
        for raw, want in rounds:
            answer = launcher.exchange(raw, timeout=30)
            if not answer.startswith(want) or (want.endswith(b"\r\n\r\n") and answer != want):
                errors += 1
                problems.append("%r answered %r" % (raw[:30], answer[:40]))
        s = socket.create_connection(("127.0.0.1", launcher.port), 10)
        s.sendall(b"GET /" + prefix + b"app.js HTTP/1.1\r\n")  # cut off
        s.close()
        s = socket.create_connection(("127.0.0.1", launcher.port), 10)
        s.sendall(b"GET /" + prefix + b"app.js HTTP/1.1\r\n\r\n")
        s.recv(100)
        s.close()  # before the rest of the answer
        status, _ = launcher.get("index.html", timeout=30)
        if status != 200:
            errors += 1
            problems.append("index.html after the rest: %d" % status)
    finally:
        code, spent, err = launcher.stop(timeout=120)
    print("valgrind: %d answers, %d errors; launcher exit code %s after SIGTERM (memcheck: 0 = no errors, no leaks)"
          % (ok, errors, code))
    if errors:
        failures.append("%d failed requests under valgrind, e.g. %s" % (errors, problems[:3]))
    if code != 0:
        failures.append("memcheck reported errors or leaks (exit %s):\n%s" % (code, err[-6000:]))
    return failures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--launcher", required=True)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--check", action="append", choices=["load", "idle", "large", "trickle", "valgrind"])
    ap.add_argument("--trickle-mib", type=float, default=40, help="MB of the download beside the trickle")
    ap.add_argument("--large-mib", type=float, default=300, help="size of the large entry (--check large)")
    args = ap.parse_args()
    checks = args.check or ["load", "idle", "large", "trickle", "valgrind"]
    failed = False
    with tempfile.TemporaryDirectory(prefix="orvane-stay-up-") as work:
        archive = os.path.join(work, "content.zip")
        expected = make_archive(archive)
        for name in checks:
            failures = {"load": check_load, "idle": check_idle, "large": check_large, "trickle": check_trickle,
                        "valgrind": check_valgrind}[name](
                args, work, archive, expected)
            for f in failures:
                print("FAIL (%s): %s" % (name, f))
            failed = failed or bool(failures)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
