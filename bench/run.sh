#!/usr/bin/env bash
# Restore speed of sorvane-cli against bsdtar, unzip and 7z on two archives
# made with Info-ZIP zip: a large one of 8 mixed files (1 GiB by default) and
# one of many small files (20,000 of 1-16 KiB in a 3-level tree).
#
#   bench/run.sh [--big-mib N] [--files N] [--rounds N] [--cli PATH] [--work DIR]
#
# Each run extracts into a folder of its own, and every output is deleted
# only at the end: on ext4, creating files within minutes of deleting a big
# tree is many times slower, which would punish whichever tool ran next.
# Tools run in a fresh shuffled order each round; medians are compared.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
big_mib=1024
files=20000
rounds=5
cli="$top/build/cli/sorvane-cli"
work="${TMPDIR:-/tmp}/sorvane-bench"

while [ $# -gt 0 ]; do
  case "$1" in
    --big-mib) big_mib=$2; shift 2 ;;
    --files) files=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) sed -n '2,12p' "$0" >&2; exit 2 ;;
  esac
done

for tool in zip bsdtar unzip 7z /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt install zip unzip libarchive-tools p7zip-full time)" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "sorvane-cli not found at $cli (build first, or give --cli)" >&2; exit 2; }
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")

mkdir -p "$work"
work=$(cd "$work" && pwd)
out="$work/out"
results="$work/results.txt"
: >"$results"

make_archive() {  # name kind size
  local name=$1 kind=$2 size=$3
  local stamp="$work/$name.made-$size"
  if [ -f "$work/$name.zip" ] && [ -f "$stamp" ]; then return; fi
  rm -rf "$work/$name" "$work/$name.zip" "$work/$name".made-*
  echo "making $name.zip ($kind $size)" >&2
  python3 "$here/make_data.py" "$kind" "$size" "$work/$name"
  (cd "$work/$name" && zip -q -r "$work/$name.zip" .)
  touch "$stamp"
}

make_archive big big "$big_mib"
make_archive many many "$files"

run_one() {  # tool archive-name round
  local tool=$1 name=$2 round=$3
  local dest="$out/$name-$tool-$round"
  local zipfile="$work/$name.zip"
  mkdir -p "$dest"
  local cmd
  case "$tool" in
    sorvane) cmd=("$cli" restore "$zipfile" "$dest") ;;
    bsdtar) cmd=(bsdtar -xf "$zipfile" -C "$dest") ;;
    unzip) cmd=(unzip -q -o "$zipfile" -d "$dest") ;;
    7z) cmd=(7z x -y "-o$dest" "$zipfile") ;;
  esac
  # Dirty pages of the previous run are written out first, so that no tool
  # pays for another one's writes.
  sync
  local timing="$work/timing"
  if ! /usr/bin/time -f "%e %M" -o "$timing" "${cmd[@]}" >/dev/null 2>"$work/stderr"; then
    echo "$tool failed on $name:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  read -r seconds rss <"$timing"
  echo "$name $tool $round $seconds $rss" >>"$results"
}

tools=(sorvane bsdtar unzip 7z)
mkdir -p "$out"
for round in $(seq 1 "$rounds"); do
  for name in big many; do
    for tool in $(printf '%s\n' "${tools[@]}" | shuf); do
      run_one "$tool" "$name" "$round"
    done
  done
  echo "round $round of $rounds done" >&2
done

# sorvane-cli's output must be the archive's content, byte for byte.
for name in big many; do
  if ! diff -r -q "$work/$name" "$out/$name-sorvane-1" >/dev/null; then
    echo "sorvane-cli's restore of $name differs from the source tree" >&2
    diff -r -q "$work/$name" "$out/$name-sorvane-1" | head >&2
    exit 1
  fi
done

python3 - "$results" "$work" <<'PY'
import os, statistics, sys
results, work = sys.argv[1], sys.argv[2]
rows = [l.split() for l in open(results) if l.strip()]
def tree_bytes(folder):
    return sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(folder) for f in fs)
for name in ("big", "many"):
    size = tree_bytes(os.path.join(work, name))
    med = {}
    rss = {}
    for n, tool, _, secs, kib in rows:
        if n != name: continue
        med.setdefault(tool, []).append(float(secs))
        rss[tool] = max(rss.get(tool, 0), int(kib))
    print(f"{name}.zip: {size / 1e6:.0f} MB uncompressed, {len(med['sorvane'])} rounds")
    fastest_other = min(statistics.median(v) for t, v in med.items() if t != "sorvane")
    for tool in ("sorvane", "bsdtar", "unzip", "7z"):
        m = statistics.median(med[tool])
        print(f"  {tool:8s} median {m:7.2f} s  {size / 1e6 / m:7.1f} MB/s  "
              f"x{m / fastest_other:5.2f} of fastest other  peak RSS {rss[tool] / 1024:6.1f} MiB")
PY

echo "deleting outputs" >&2
rm -rf "$out"
