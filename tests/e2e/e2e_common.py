"""What the end-to-end scripts share: a failed check is a Failure with a message; free ports; a
local HTTP server beside the one under test."""
import http.server
import socket
import threading
import time


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


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

