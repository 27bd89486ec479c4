#!/usr/bin/env python3
"""Makes the benchmark's input trees, deterministically.

big TOTAL_MIB DIR:   8 files, together TOTAL_MIB MiB: three of text, three
                     of random bytes, two of repetitive data.
many COUNT DIR:      COUNT files of 1-16 KiB of text-like data in a tree of
                     three levels (folders of folders of files).
one KIND:MIB DIR:    one file of MIB MiB, KIND text (deflates, and takes
                     real work to inflate) or random (incompressible: zip
                     stores it).
four TOTAL_MIB DIR:  4 files, together TOTAL_MIB MiB, one of them the
                     most of the work: 3/8 text, 1/4 random bytes, 3/16
                     repetitive data, 3/16 mixed (64 KiB pieces of the three
                     in turn). At 256 MiB: 96, 64, 48 and 48 MiB.
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


def write_mixed(path, size, rng, seed):
    piece = 64 << 10
    unit = (b"%08d repetitive record with the same shape every time\n" % seed) * 64
    with open(path, "wb") as f:
        left = size
        turn = 0
        while left > 0:
            n = min(piece, left)
            if turn % 3 == 0:
                f.write(text_block(rng, n))
            elif turn % 3 == 1:
                f.write(rng.randbytes(n))
            else:
                f.write((unit * (n // len(unit) + 1))[:n])
            left -= n
            turn += 1


def four(total_mib, folder):
    rng = random.Random(4)
    os.makedirs(folder, exist_ok=True)
    total = total_mib * (1 << 20)
    write_text(os.path.join(folder, "0-text.bin"), total * 3 // 8, rng)
    write_random(os.path.join(folder, "1-random.bin"), total // 4, rng)
    write_repetitive(os.path.join(folder, "2-repetitive.bin"), total * 3 // 16, 2)
    write_mixed(os.path.join(folder, "3-mixed.bin"), total * 3 // 16, rng, 3)


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
    if len(sys.argv) != 4 or sys.argv[1] not in ("big", "many", "one", "four"):
        print(__doc__, file=sys.stderr)
        return 2
    if sys.argv[1] == "big":
        big(int(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "one":
        one(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "four":
        four(int(sys.argv[2]), sys.argv[3])
    else:
        many(int(sys.argv[2]), sys.argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main())
