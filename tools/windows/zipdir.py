#!/usr/bin/python3
"""Packs BASE/NAME into the zip file OUT, byte for byte the same on every run.

    zipdir.py BASE NAME OUT

Entries are sorted, carry one time stamp (SOURCE_DATE_EPOCH, in UTC, when it is
set: the time of the commit built) and plain permissions, and names outside
ASCII are stored as UTF-8 (flagged, so Windows shows them right).
The zip is written next to OUT first and then renamed over it.
"""
import os
import sys
import time
import zipfile

STAMP = (2026, 1, 1, 0, 0, 0)


def stamp():
    """The entries' time: SOURCE_DATE_EPOCH if set, else STAMP. A zip time has
    two-second steps and starts in 1980."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return STAMP
    t = time.gmtime(int(epoch))[:6]
    return max(t, (1980, 1, 1, 0, 0, 0))


def main():
    base, name, out = sys.argv[1:4]
    paths = []
    for folder, dirs, files in os.walk(os.path.join(base, name)):
        dirs.sort()
        paths.extend(os.path.join(folder, f) for f in files)
    paths.sort()
    when = stamp()
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for path in paths:
            info = zipfile.ZipInfo(os.path.relpath(path, base), when)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            with open(path, "rb") as f:
                z.writestr(info, f.read())
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
