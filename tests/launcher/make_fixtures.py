#!/usr/bin/env python3
"""Makes the launcher tests' archives with Python's zipfile: usage make_fixtures.py OUTPUT_DIR.

Each NAME.zip holds an index.html that names it, and most a .start entry of their own."""
import os
import sys
import zipfile

LONG_START = "x" * 70000


def start(text):
    return text.encode("utf-16-le")


ARCHIVES = {
    "plain": None,                               # no .start
    "start0": b"",                               # .start of no bytes
    "start2": b"\0\0",                           # an empty UTF-16 string
    "start_abc": start("abc"),
    "start_long": start(LONG_START),             # many bytes
    "start_cut": start("ab\0cd"),                # text ends at the first zero unit
    "start_pair": start("a\U0001F600"),          # a surrogate pair
    "start_odd": start("ok") + b"!",             # an odd last byte is a last character
    "start_text": start("Kapitel 2 \u2013 \u00dcbung & Test #3 50% a+b=c?-_.!~*'()"),
    "start_one": b"z",                           # one byte: one character
    "embedded": start("from-the-executable"),    # carried by the embedded-archive tests
    "big_page": None,                            # an index.html of more than 1 MiB
}


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "folder.zip"), exist_ok=True)  # a directory named like an archive
    with open(os.path.join(out, "not_an_archive.txt"), "w") as f:
        f.write("This is a text file, not a zip archive.\n" * 20)
    for name, start_bytes in ARCHIVES.items():
        path = os.path.join(out, name + ".zip")
        with zipfile.ZipFile(path + ".tmp", "w", zipfile.ZIP_DEFLATED) as z:
            page = "<p>%s</p>\n" % name
            z.writestr("index.html", page + ("".join("<p>%d</p>\n" % i for i in range(200000)) if name == "big_page" else ""))
            if start_bytes is not None:
                z.writestr(".start", start_bytes)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
