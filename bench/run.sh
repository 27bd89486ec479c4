#!/usr/bin/env bash
# Restore speed of sorvane-cli against bsdtar, unzip and 7z on archives made
# with Info-ZIP zip: large ones of 8 mixed files (256 MiB and 1 GiB by
# default), ones of many small files (5,000 and 20,000 of 1-16 KiB in a
# 3-level tree) and one of 4 files whose text file is most of the work
# (256 MiB). With --serial-cli, also a one-core run (taskset -c 0) of
# sorvane-cli next to that older build, for the one-core comparison.
#
#   bench/run.sh [--big-mib "N ..."] [--files "N ..."] [--four-mib "N ..."]
#                [--single "KIND:MIB ..."] [--rounds N] [--cli PATH]
#                [--serial-cli PATH] [--before-cli PATH] [--wine]
#                [--work DIR] [--fresh-fs GIB] [--tools "TOOL ..."]
#
# --before-cli adds another build of sorvane-cli on all cores, in the same
# rounds (row "before"): a change's effect side by side, not across runs
# minutes apart.
#
# --four-mib: archives of 4 files, MIB MiB together: 3/8 text-like data,
# 1/4 random bytes, 3/16 repetitive, 3/16 mixed (bench/make_data.py four).
# The text file's inflate is the critical path of a two-core restore.
#
# --wine: --cli and --before-cli (and --serial-cli) are Windows builds of
# sorvane-cli (.exe), run under Wine with Z:\ paths. Run the script inside
# a wine session (scripts/wine-session.sh bench/run.sh --wine ...), so that
# the server is up and each run pays only Wine's start of a program.
#
# --single adds archives of one entry: text:MIB (deflated, inflating is the
# work) and random:MIB (incompressible, stored), e.g. --single "text:2048
# random:2048". Without --fresh-fs every tool writes into fresh folders of
# the ordinary file system the work folder lies on.
#
# --tools keeps only the named ones of sorvane, before, bsdtar, unzip, 7z,
# sorvane-1core and serial-1core (bsdtar always runs: it is the yardstick).
#
# --fresh-fs (as root): each archive's runs in each round write into a new
# ext4 file system of GIB GiB on a loop device, so none inherits the deleted
# inodes, freed blocks or outputs of earlier ones (a file system that has
# just lost a big tree creates files many times slower, for every tool alike
# but unevenly).
#
# Each run extracts into a folder of its own, and the outputs of the
# many-file archives are deleted only at the end: on ext4, creating files
# within minutes of deleting a big tree is many times slower, which would
# punish whichever tool ran next. Outputs of a few large files (big-*,
# one-*) are deleted right after their run, once checked: ext4 frees their
# blocks within the rm itself, and keeping them would take tens of GiB.
# Tools run in a fresh shuffled order each round; medians are compared.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
big_mibs="256 1024"
file_counts="5000 20000"
four_mibs="256"
wine=0
singles=""
rounds=5
cli="$top/build/cli/sorvane-cli"
serial_cli=""
before_cli=""
fresh_gib=0
only_tools=""
work="${TMPDIR:-/tmp}/sorvane-bench"

while [ $# -gt 0 ]; do
  case "$1" in
    --big-mib) big_mibs=$2; shift 2 ;;
    --files) file_counts=$2; shift 2 ;;
    --four-mib) four_mibs=$2; shift 2 ;;
    --wine) wine=1; shift ;;
    --single) singles=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --serial-cli) serial_cli=$2; shift 2 ;;
    --before-cli) before_cli=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --fresh-fs) fresh_gib=$2; shift 2 ;;
    --tools) only_tools=$2; shift 2 ;;
    *) sed -n '2,40p' "$0" >&2; exit 2 ;;
  esac
done

for tool in zip bsdtar unzip 7z /usr/bin/time python3 taskset; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (apt install zip unzip libarchive-tools p7zip-full time util-linux)" >&2; exit 2; }
done
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
[ -x "$cli" ] || { echo "sorvane-cli not found at $cli (build first, or give --cli)" >&2; exit 2; }
cli=$(absolute "$cli")
if [ -n "$serial_cli" ]; then
  [ -x "$serial_cli" ] || { echo "no program at --serial-cli $serial_cli" >&2; exit 2; }
  serial_cli=$(absolute "$serial_cli")
fi
if [ -n "$before_cli" ]; then
  [ -x "$before_cli" ] || { echo "no program at --before-cli $before_cli" >&2; exit 2; }
  before_cli=$(absolute "$before_cli")
fi

mkdir -p "$work"
work=$(cd "$work" && pwd)
out="$work/out"
results="$work/results.txt"
: >"$results"

make_archive() {  # name kind size
  local name=$1 kind=$2 size=$3
  local stamp="$work/$name.made"
  if [ -f "$work/$name.zip" ] && [ -f "$stamp" ]; then return; fi
  rm -rf "$work/$name" "$work/$name.zip" "$stamp"
  echo "making $name.zip ($kind $size)" >&2
  python3 "$here/make_data.py" "$kind" "$size" "$work/$name"
  (cd "$work/$name" && zip -q -r "$work/$name.zip" .)
  touch "$stamp"
}

names=()
for mib in $big_mibs; do make_archive "big-$mib" big "$mib"; names+=("big-$mib"); done
for count in $file_counts; do make_archive "many-$count" many "$count"; names+=("many-$count"); done
for mib in $four_mibs; do make_archive "four-$mib" four "$mib"; names+=("four-$mib"); done
for single in $singles; do make_archive "one-${single/:/-}" one "$single"; names+=("one-${single/:/-}"); done

# A Windows path for Wine's Z: drive, which is the root of the file system.
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

run_one() {  # tool archive-name round
  local tool=$1 name=$2 round=$3
  local dest="$out/$name-$tool-$round"
  local zipfile="$work/$name.zip"
  mkdir -p "$dest"
  local cmd
  # sorvane-cli's arguments, and the program in front of it (Wine's, with --wine).
  local args=(restore "$zipfile" "$dest") run=()
  if [ "$wine" = 1 ]; then
    args=(restore "$(winpath "$zipfile")" "$(winpath "$dest")")
    run=("$top/cmake/wine-run.sh")
  fi
  case "$tool" in
    sorvane) cmd=("${run[@]}" "$cli" "${args[@]}") ;;
    sorvane-1core) cmd=(taskset -c 0 "${run[@]}" "$cli" "${args[@]}") ;;
    serial-1core) cmd=(taskset -c 0 "${run[@]}" "$serial_cli" "${args[@]}") ;;
    before) cmd=("${run[@]}" "$before_cli" "${args[@]}") ;;
    bsdtar) cmd=(bsdtar -xf "$zipfile" -C "$dest") ;;
    unzip) cmd=(unzip -q -o "$zipfile" -d "$dest") ;;
    7z) cmd=(7z x -y "-o$dest" "$zipfile") ;;
  esac
  # Dirty pages of the previous run are written out first, so that no tool
  # pays for another one's writes.
  sync
  local timing="$work/timing"
  if ! /usr/bin/time -f "%e %M %P" -o "$timing" "${cmd[@]}" >/dev/null 2>"$work/stderr"; then
    echo "$tool failed on $name:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  read -r seconds rss cpu <"$timing"
  echo "$name $tool $round $seconds $rss ${cpu%\%}" >>"$results"
}

# sorvane-cli's output must be the archive's content, byte for byte (checked
# in the first round).
check_output() {  # tool archive-name
  case "$1" in sorvane*|serial*|before) ;; *) return 0 ;; esac
  if ! diff -r -q "$work/$2" "$out/$2-$1-1" >/dev/null; then
    echo "$1's restore of $2 differs from the source tree" >&2
    diff -r -q "$work/$2" "$out/$2-$1-1" | head >&2
    exit 1
  fi
}

# A new file system for the outputs of one archive in one round (with --fresh-fs).
loop=""
drop_fs() {
  if [ -n "$loop" ]; then
    umount "$out" && losetup -d "$loop" || true
    loop=""
  fi
  rm -f "$work/fresh.img"
}
fresh_fs() {
  drop_fs
  mkdir -p "$out"
  truncate -s "${fresh_gib}G" "$work/fresh.img"
  # Inode tables are written now, not by a kernel thread during the round.
  mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 "$work/fresh.img"
  loop=$(losetup --direct-io=on -f --show "$work/fresh.img")
  mount "$loop" "$out"
  # Dropping the previous file system leaves the kernel freeing gigabytes
  # of its cache for a few seconds, on whatever core is free: the second
  # core of a two-core tool, never the idle one beside a one-core tool.
  sync
  sleep 5
}
trap drop_fs EXIT

tools=(sorvane bsdtar unzip 7z)
[ -n "$serial_cli" ] && tools+=(sorvane-1core serial-1core)
[ -n "$before_cli" ] && tools+=(before)
if [ -n "$only_tools" ]; then
  kept=(bsdtar)
  for t in "${tools[@]}"; do
    [ "$t" != bsdtar ] && [[ " $only_tools " == *" $t "* ]] && kept+=("$t")
  done
  tools=("${kept[@]}")
fi
mkdir -p "$out"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for round in $(seq 1 "$rounds"); do
  for name in "${names[@]}"; do
    # Each archive's runs share a new file system, not one already filled
    # with the outputs of the archives before it.
    if [ "$fresh_gib" != 0 ]; then fresh_fs; fi
    for tool in $(printf '%s\n' "${tools[@]}" | shuf); do
      run_one "$tool" "$name" "$round"
      case "$name" in
        many-*) ;;
        *) [ "$round" = 1 ] && check_output "$tool" "$name"
           rm -rf "$out/$name-$tool-$round" ;;
      esac
    done
    case "$name" in
      many-*) [ "$round" = 1 ] && for tool in "${tools[@]}"; do check_output "$tool" "$name"; done ;;
    esac
  done
  echo "round $round of $rounds done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2
done

python3 - "$results" "$work" "${names[@]}" <<'PY'
import os, statistics, sys
results, work, names = sys.argv[1], sys.argv[2], sys.argv[3:]
rows = [l.split() for l in open(results) if l.strip()]
def tree_bytes(folder):
    return sum(os.path.getsize(os.path.join(r, f)) for r, _, fs in os.walk(folder) for f in fs)
for name in names:
    size = tree_bytes(os.path.join(work, name))
    secs, rss, cpu = {}, {}, {}
    for n, tool, _, s, kib, pct in rows:
        if n != name: continue
        secs.setdefault(tool, []).append(float(s))
        cpu.setdefault(tool, []).append(float(pct))
        rss[tool] = max(rss.get(tool, 0), int(kib))
    med = {t: statistics.median(v) for t, v in secs.items()}
    print(f"{name}.zip: {size / 1e6:.0f} MB uncompressed, {len(secs['bsdtar'])} rounds")
    for tool in ("sorvane", "before", "bsdtar", "unzip", "7z", "sorvane-1core", "serial-1core"):
        if tool not in med: continue
        print(f"  {tool:14s} median {med[tool]:7.2f} s  {size / 1e6 / med[tool]:7.1f} MB/s  "
              f"x{med[tool] / med['bsdtar']:5.2f} of bsdtar  CPU {statistics.median(cpu[tool]):4.0f}%  "
              f"peak RSS {rss[tool] / 1024:6.1f} MiB")
    if "serial-1core" in med:
        print(f"  one core: sorvane x{med['sorvane-1core'] / med['serial-1core']:.3f} of the serial build")
PY

echo "deleting outputs" >&2
if [ -n "$loop" ]; then drop_fs; else rm -rf "$out"; fi
