#!/usr/bin/env bash
# Restoring a many-file archive again over its own complete restore: a full
# restore into a fresh folder, then in the same round, over that folder,
# sorvane-cli restore --skip-identical (every file left as it is), plan
# --skip-identical (nothing written) and test (every entry read), each with
# its time and peak memory. Medians over the rounds, and each against the
# full restore of the same round.
#
#   bench/again.sh [--files "N ..."] [--rounds N] [--cli PATH] [--work DIR]
#
# The archives are bench/run.sh's many-N (made here if missing, in the same
# work folder by default).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
file_counts="5000 20000"
rounds=7
cli="$top/build/cli/sorvane-cli"
work="${TMPDIR:-/tmp}/sorvane-bench"

while [ $# -gt 0 ]; do
  case "$1" in
    --files) file_counts=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cli) cli=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) sed -n '2,12p' "$0" >&2; exit 2 ;;
  esac
done
for tool in zip /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[ -x "$cli" ] || { echo "sorvane-cli not found at $cli (build first, or give --cli)" >&2; exit 2; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
results="$work/again.txt"
: >"$results"

for count in $file_counts; do
  name="many-$count"
  if [ ! -f "$work/$name.zip" ] || [ ! -f "$work/$name.made" ]; then
    rm -rf "$work/$name" "$work/$name.zip"
    echo "making $name.zip" >&2
    python3 "$here/make_data.py" many "$count" "$work/$name"
    (cd "$work/$name" && zip -q -r "$work/$name.zip" .)
    touch "$work/$name.made"
  fi
done

timed() {  # label archive-name round command...
  local label=$1 name=$2 round=$3
  shift 3
  sync
  if ! /usr/bin/time -f "%e %M" -o "$work/timing" "$@" >/dev/null 2>"$work/stderr"; then
    echo "$label failed on $name:" >&2
    cat "$work/stderr" >&2
    exit 1
  fi
  read -r seconds rss <"$work/timing"
  echo "$name $label $round $seconds $rss" >>"$results"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for round in $(seq 1 "$rounds"); do
  for count in $file_counts; do
    name="many-$count"
    # A folder of its own per round, deleted only at the end: on ext4,
    # creating files within minutes of deleting a big tree is many times
    # slower, which would make the full restore the slow one.
    dest="$work/again-$name-$round"
    rm -rf "$dest"
    timed full "$name" "$round" "$cli" restore "$work/$name.zip" "$dest"
    timed again "$name" "$round" "$cli" restore "$work/$name.zip" "$dest" --skip-identical
    timed plan "$name" "$round" "$cli" plan "$work/$name.zip" "$dest" --skip-identical
    timed test "$name" "$round" "$cli" test "$work/$name.zip"
    if [ "$round" = 1 ] && ! diff -r -q "$work/$name" "$dest" >/dev/null; then
      echo "the restore of $name differs from the source tree" >&2
      exit 1
    fi
  done
  echo "round $round of $rounds done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2
done
rm -rf "$work"/again-many-*

python3 - "$results" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
for name in sorted({r[0] for r in rows}, key=lambda n: int(n.split("-")[1])):
    mine = [r for r in rows if r[0] == name]
    full = statistics.median(float(r[3]) for r in mine if r[1] == "full")
    print("%s: %d rounds" % (name, len([r for r in mine if r[1] == "full"])))
    for label in ("full", "again", "plan", "test"):
        times = [float(r[3]) for r in mine if r[1] == label]
        rss = max(int(r[4]) for r in mine if r[1] == label) / 1024
        print("  %-6s median %7.2f s  x %.2f of the full restore  peak RSS %6.1f MiB" %
              (label, statistics.median(times), statistics.median(times) / full, rss))
PY
