"""What the end-to-end scripts share: a failed check is a Failure with a message; free ports."""
import socket


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
