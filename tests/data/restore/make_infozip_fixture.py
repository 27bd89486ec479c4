#!/usr/bin/env python3
"""Makes infozip-cp932.zip with Info-ZIP zip, as a Japanese Windows backup
would hold it: CP932 names, nested folders, an empty folder, an empty file
and a read-only file, each with a fixed modification time. The contents and
times here are repeated in tests/restore/infozip_fixture_test.cpp."""

import os
import shutil
import subprocess
import sys
import tempfile


def cp932(text):
    return text.encode("cp932")


def contents():
    readme = b"".join(b"Sorvane fixture line %d\n" % i for i in range(200))
    binary = bytes((i * 7) % 251 for i in range(3000))
    report = cp932("報告書の本文です。\n") * 3
    return [
        # (name, bytes or None for a folder, modification time, read-only)
        ("readme.txt", readme, 1600000000, False),
        ("empty.txt", b"", 1600003600, False),
        ("readonly.txt", b"read only\n", 1600007200, True),
        ("書類/", None, 1600010800, False),
        ("書類/報告書.txt", report, 1600014400, False),
        ("書類/画像/", None, 1600018000, False),
        ("書類/画像/図.bin", binary, 1600021600, False),
        ("空のフォルダ/", None, 1600025200, False),
    ]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "infozip-cp932.zip")
    work = tempfile.mkdtemp()
    try:
        src = os.path.join(work, "src").encode()
        os.mkdir(src)
        items = contents()
        for name, data, _, readonly in items:
            path = os.path.join(src, cp932(name.rstrip("/")))
            if data is None:
                os.makedirs(path, exist_ok=True)
            else:
                with open(path, "wb") as f:
                    f.write(data)
                if readonly:
                    os.chmod(path, 0o444)
        # Times last, innermost first, so that making a file does not move
        # its folder's time afterwards.
        for name, _, mtime, _ in reversed(items):
            os.utime(os.path.join(src, cp932(name.rstrip("/"))), (mtime, mtime))
        if os.path.exists(out):
            os.remove(out)
        names = [cp932(name) for name, _, _, _ in items]
        env = dict(os.environ, LC_ALL="C", TZ="UTC")
        subprocess.run([b"zip", b"-q", b"-9", os.fsencode(out)] + names, cwd=src, env=env, check=True)
    finally:
        for root, dirs, files in os.walk(work):
            for n in dirs + files:
                os.chmod(os.path.join(root, n), 0o755)
        shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
