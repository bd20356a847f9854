"""Compares two folders of command outputs file by file, dates masked.

    python3 same_outputs.py BEFORE AFTER

Every file under either folder must be in both with the same bytes, except
that a .dbf's date of last update (header bytes 1-3) and run dates
("YYYY-MM-DD HH:MM:SS") and the folder's own path anywhere are masked. Prints each difference; exit
status 1 when there is one.
"""
import os
import re
import sys

DATE = re.compile(rb"\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}")


def files(root):
    out = set()
    for folder, _, names in os.walk(root):
        for n in names:
            out.add(os.path.relpath(os.path.join(folder, n), root))
    return out


def masked(path, root):
    with open(path, "rb") as f:
        data = f.read()
    data = data.replace(os.path.abspath(root).encode(), b"RUN-FOLDER")
    if path.lower().endswith(".dbf") and len(data) >= 4:
        data = data[:1] + b"\0\0\0" + data[4:]
    return DATE.sub(b"YYYY-MM-DD HH:MM:SS", data)


def main(a, b):
    fa, fb = files(a), files(b)
    bad = False
    for name in sorted(fa ^ fb):
        print(f"  only in {'before' if name in fa else 'after'}: {name}")
        bad = True
    for name in sorted(fa & fb):
        if masked(os.path.join(a, name), a) != masked(os.path.join(b, name), b):
            print(f"  differs: {name}")
            bad = True
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
