"""What the end-to-end scripts share: a failed check is a Failure with a message."""


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)
