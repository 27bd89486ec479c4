#!/usr/bin/env bash
# Restore of archives past the classic ZIP limits, sorvane-cli against
# bsdtar: one entry of 4.5 GiB (so ZIP64 sizes and offsets) and 100,000
# small entries (so a ZIP64 end record), both made by Info-ZIP zip. Prints
# wall time and peak resident memory (/usr/bin/time) per tool and archive,
# after checking that sorvane-cli restored the source byte for byte.
#
#   bench/large.sh [--big-mib N] [--files N] [--rounds N] [--cli PATH] [--work DIR] [--keep]
#
# Needs about 3.5 x the big file's size free in --work (default
# /tmp/sorvane-large). Everything made there is deleted at the end unless
# --keep is given. (Streaming a 4.5 GiB entry through the reader is checked
# by the test suite, LargeArchive.StreamsAnEntryOver4GiB.)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
big_mib=4608
files=100000
rounds=1
cli="$top/build/cli/sorvane-cli"
work="${TMPDIR:-/tmp}/sorvane-large"
keep=0

while [ $# -gt 0 ]; do
  case "$1" in
    --big-mib) big_mib=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) sed -n '2,13p' "$0" >&2; exit 2 ;;
  esac
done

for tool in zip bsdtar /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt install zip libarchive-tools time)" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "sorvane-cli not found at $cli (build first, or give --cli)" >&2; exit 2; }
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

mkdir -p "$work"
work=$(cd "$work" && pwd)
need_kib=$(( big_mib * 1024 * 7 / 2 + 2 * 1024 * 1024 ))
free_kib=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$free_kib" -lt "$need_kib" ]; then
  echo "not enough room in $work: $((free_kib / 1024)) MiB free, $((need_kib / 1024)) MiB needed" >&2
  exit 2
fi
if [ "$keep" = 0 ]; then trap 'rm -rf "$work"' EXIT; fi
results="$work/results.txt"
: >"$results"

echo "making big.zip ($big_mib MiB in one file)" >&2
mkdir -p "$work/big"
# Blocks of text and of random bytes, so that deflate has work of both kinds
# and the archive is still a few GiB: the data must really be read.
python3 - "$work/big/huge.bin" "$big_mib" <<'PY'
import os, random, sys
path, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(4)
words = [b"restore", b"backup", b"archive", b"\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab", b"data", b"2013"]
blocks = []
for k in range(16):
    text = b" ".join(rng.choice(words) for _ in range(140000))[: 768 * 1024]
    text += b"\n" * (768 * 1024 - len(text))
    blocks.append(text + os.urandom(256 * 1024))
with open(path, "wb") as f:
    for i in range(mib):
        f.write(blocks[rng.randrange(16)])
PY
(cd "$work/big" && zip -q -1 "$work/big.zip" huge.bin)

echo "making many.zip ($files files)" >&2
python3 - "$work/many" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(5)
for i in range(count):
    folder = os.path.join(root, f"d{i % 100:02d}", f"e{(i // 100) % 10}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"file{i:06d}.txt"), "wb") as f:
        f.write((f"entry {i} " * rng.randint(10, 200)).encode())
PY
(cd "$work/many" && zip -q -r "$work/many.zip" .)
ls -l "$work/big.zip" "$work/many.zip" >&2

run_one() {  # tool archive-name round
  local tool=$1 name=$2 round=$3
  local dest="$work/out/$name-$tool-$round"
  mkdir -p "$dest"
  local cmd
  case "$tool" in
    sorvane) cmd=("$cli" restore "$work/$name.zip" "$dest") ;;
    bsdtar) cmd=(bsdtar -xf "$work/$name.zip" -C "$dest") ;;
  esac
  sync
  if ! /usr/bin/time -v -o "$work/timing" "${cmd[@]}" >/dev/null 2>"$work/stderr"; then
    echo "$tool failed on $name:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  local seconds rss
  seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$work/timing")
  rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/timing")
  echo "$name $tool $round $seconds $rss" >>"$results"
}

for round in $(seq 1 "$rounds"); do
  for name in big many; do
    for tool in $(printf '%s\n' sorvane bsdtar | shuf); do
      run_one "$tool" "$name" "$round"
    done
    if [ "$round" = 1 ] && ! diff -r -q "$work/$name" "$work/out/$name-sorvane-1" >/dev/null; then
      echo "sorvane-cli's restore of $name differs from the source tree" >&2
      exit 1
    fi
    rm -rf "$work/out"
  done
done

python3 - "$results" "$work" <<'PY'
import os, statistics, sys
results, work = sys.argv[1], sys.argv[2]
rows = [l.split() for l in open(results) if l.strip()]
for name in ("big", "many"):
    zipped = os.path.getsize(os.path.join(work, name + ".zip"))
    print(f"{name}.zip ({zipped / 2**20:.0f} MiB)")
    for tool in ("sorvane", "bsdtar"):
        secs = [float(s) for n, t, _, s, _ in rows if n == name and t == tool]
        rss = max(int(k) for n, t, _, _, k in rows if n == name and t == tool)
        print(f"  {tool:8s} median {statistics.median(secs):7.2f} s over {len(secs)} round(s)  peak RSS {rss / 1024:6.1f} MiB")
PY
