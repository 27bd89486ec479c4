#!/usr/bin/env python3
"""Makes the benchmark's input trees, deterministically.

big TOTAL_MIB DIR:   8 files, together TOTAL_MIB MiB: three of text, three
                     of random bytes, two of repetitive data.
many COUNT DIR:      COUNT files of 1-16 KiB of text-like data in a tree of
                     three levels (folders of folders of files).
one KIND:MIB DIR:    one file of MIB MiB, KIND text (deflates, and takes
                     real work to inflate) or random (incompressible: zip
                     stores it).
"""

import os
import random
import sys

WORDS = ("restore backup archive folder entry data file time name path catalogue stream "
         "inflate deflate window buffer central directory local header record attribute "
         "今日 復元 バックアップ データ フォルダ ファイル 時刻 名前").split()


def text_block(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + " %d\n" % rng.randint(0, 10**6)
        b = line.encode("utf-8")
        out.append(b)
        n += len(b)
    return b"".join(out)[:size]


def write_text(path, size, rng):
    chunk = 1 << 20
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(chunk, left)
            f.write(text_block(rng, n))
            left -= n


def write_random(path, size, rng):
    chunk = 1 << 20
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(chunk, left)
            f.write(rng.randbytes(n))
            left -= n


def write_repetitive(path, size, seed):
    unit = (b"%08d repetitive record with the same shape every time\n" % seed) * 64
    with open(path, "wb") as f:
        left = size
        while left > 0:
            n = min(len(unit), left)
            f.write(unit[:n])
            left -= n


def big(total_mib, folder):
    rng = random.Random(1)
    os.makedirs(folder, exist_ok=True)
    each = total_mib * (1 << 20) // 8
    kinds = ["text", "random", "repetitive", "text", "random", "text", "repetitive", "random"]
    for i, kind in enumerate(kinds):
        path = os.path.join(folder, "%d-%s.bin" % (i, kind))
        if kind == "text":
            write_text(path, each, rng)
        elif kind == "random":
            write_random(path, each, rng)
        else:
            write_repetitive(path, each, i)


def many(count, folder):
    rng = random.Random(2)
    os.makedirs(folder, exist_ok=True)
    per_leaf = 50
    leaves = (count + per_leaf - 1) // per_leaf
    width = max(1, int(round(leaves ** 0.5)))
    made = 0
    leaf = 0
    while made < count:
        top, sub = divmod(leaf, width)
        d = os.path.join(folder, "dir%03d" % top, "sub%03d" % sub)
        os.makedirs(d, exist_ok=True)
        for k in range(min(per_leaf, count - made)):
            size = rng.randint(1024, 16384)
            with open(os.path.join(d, "file%05d.txt" % made), "wb") as f:
                f.write(text_block(rng, size))
            made += 1
        leaf += 1


def one(kind_and_size, folder):
    kind, mib = kind_and_size.split(":")
    rng = random.Random(3)
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "%s.bin" % kind)
    if kind == "text":
        write_text(path, int(mib) << 20, rng)
    else:
        write_random(path, int(mib) << 20, rng)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("big", "many", "one"):
        print(__doc__, file=sys.stderr)
        return 2
    if sys.argv[1] == "big":
        big(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "one":
        one(sys.argv[2], sys.argv[3])
    else:
        many(int(sys.argv[2]), sys.argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main())
