"""What the end-to-end scripts share: a failed check is a Failure with a message, a case that
cannot be run here a Skipped; a script's exit as ctest reads it; free ports; a local HTTP server
beside the one under test; another local account to act as."""
import argparse
import functools
import http.server
import os
import shutil
import socket
import subprocess
import sys
import threading
import time


class Failure(Exception):
    pass


class Skipped(Exception):
    """The case needs what this machine or account does not have; the message says what."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def run_script(name, body, required=(), optional=()):
    """Runs a script's body() (body(args) when it takes `required` and `optional` options from the
    command line): "passed: NAME"; exit 1 on a Failure, 77 (skipped) on a Skipped."""
    if required:
        parser = argparse.ArgumentParser()
        for option in required + optional:
            parser.add_argument(option, required=option in required)
        body = functools.partial(body, parser.parse_args())
    try:
        body()
    except Skipped as skipped:
        print("skipped:", skipped)
        sys.exit(77)
    except Failure as failure:
        print("FAILED:", failure)
        sys.exit(1)
    print("passed:", name)


def free_port():
    """A port on 127.0.0.1 that is free at the moment of asking."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def local_server(answer):
    """A threaded HTTP server on 127.0.0.1 beside the course, recording (time, path) of each GET
    in its `requests` and answering with the body `answer(path)` gives (204 when empty), as
    text/html or as the type it gives with the body as a (body, type) pair."""
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            server.requests.append((time.time(), self.path))
            body, content_type = answer(self.path), "text/html"
            if isinstance(body, tuple):
                body, content_type = body
            self.send_response(200 if body else 204)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.requests = []
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


# Another local account on the machine, for what a learner's course must refuse or withstand.
OTHER_ACCOUNT = "orvane-other"
AS_OTHER_ACCOUNT = ["setpriv", "--reuid", OTHER_ACCOUNT, "--regid", OTHER_ACCOUNT, "--clear-groups"]
# The system's Python: another account cannot reach one under root's home (pyenv).
OTHER_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else "python3"


def other_account_ready():
    """True when commands can run as OTHER_ACCOUNT (AS_OTHER_ACCOUNT + command, from "/"): this
    runs as root with setpriv, and the account exists (made here when missing)."""
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        return False
    if subprocess.run(["id", "-u", OTHER_ACCOUNT], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", OTHER_ACCOUNT],
                       check=True)
    return True


def as_other_account(*command):
    return subprocess.run(AS_OTHER_ACCOUNT + list(command), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=60, cwd="/")
