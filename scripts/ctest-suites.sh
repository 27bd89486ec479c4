#!/usr/bin/env bash
# Runs the test programs of one build folder through CTest and says what ran:
#
#   scripts/ctest-suites.sh TITLE BUILD_DIR PROGRAM... [-- CTEST_ARGUMENTS...]
#
# PROGRAM is a test program's name; its tests carry it as their label. Each
# one named must have registered tests, or nothing runs and the call fails:
# a program that did not build, or could not list its tests, can't pass by
# being absent; a program built there that is not named fails the call too,
# as it would never run. Only the named programs run, and CTest fails when
# it finds no test at all. The call ends with "TITLE: N passed, N failed, N skipped"
# and the skipped and disabled tests by name; with SORVANE_SUMMARY set, it
# appends the same lines to that file.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,4p' "$0" >&2
  exit 2
fi
title=$1
dir=$2
shift 2
programs=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  programs+=("$1")
  shift
done
[ "${1:-}" = -- ] && shift

say() {
  echo "$@"
  if [ -n "${SORVANE_SUMMARY:-}" ]; then echo "$@" >>"$SORVANE_SUMMARY"; fi
}

# Listing a Windows program starts it under Wine (CTest lists them when it
# starts). A start that fails once (seen once in CI, on the session's first
# program, with nothing said) is tried again by the per-program listings
# below; what this first listing said is shown only if one still fails.
first_listing=$(ctest --test-dir "$dir" -N 2>&1) || true

counts=()
missing=()
for program in "${programs[@]}"; do
  listed=$(ctest --test-dir "$dir" -N -L "^${program}\$" 2>&1) || true
  n=$(printf '%s\n' "$listed" | sed -n 's/^Total Tests: *//p')
  if [ "${n:-0}" -gt 0 ] 2>/dev/null; then
    counts+=("$program $n")
  else
    missing+=("$program")
    # What CTest said while listing: the reason is in it (a program that
    # would not start, a listing that timed out).
    printf '%s\n' "$listed" | grep -v -E '^(  Test +#|Total Tests:|$)' | tail -n 20 >&2 || true
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  printf '%s\n' "$first_listing" | grep -v -E '^(  Test +#|Total Tests:|$)' | tail -n 20 >&2 || true
  say "$title: FAILED before running: no tests registered for ${missing[*]} in $dir (not built, or listing its tests failed)"
  exit 1
fi
# The other way round: a test program built here but named by no one would
# never run.
unexpected=()
while IFS= read -r label; do
  label=${label#"${label%%[![:space:]]*}"}
  [ -n "$label" ] || continue
  case " ${programs[*]} " in *" $label "*) ;; *) unexpected+=("$label") ;; esac
done < <(ctest --test-dir "$dir" --print-labels 2>/dev/null | sed '1,/^All Labels:/d')
if [ ${#unexpected[@]} -gt 0 ]; then
  say "$title: FAILED before running: ${unexpected[*]} in $dir is not among the programs expected here (scripts/test.sh)"
  exit 1
fi
echo "$title: $(IFS=,; echo "${counts[*]}" | sed 's/,/, /g')"

labels="^($(IFS='|'; echo "${programs[*]}"))\$"
log=$(mktemp)
trap 'rm -f "$log" "$log.skipped"' EXIT
status=0
ctest --test-dir "$dir" --output-on-failure --no-tests=error -L "$labels" "$@" 2>&1 | tee "$log" || status=1
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1

# CTest's own closing lines: "N% tests passed, F tests failed out of T",
# then the tests that did not run ("(Skipped)", "(Disabled)").
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
not_run=$(sed -n '/^The following tests did not run:/,/^$/p' "$log" | grep -E '\((Skipped|Disabled)\)$' |
  sed -E 's/^[[:space:]]*[0-9]+ - //' || true)
skipped=$(printf '%s' "$not_run" | grep -c . || true)
if [ -z "$total" ] || [ -z "$failed" ]; then
  say "$title: FAILED: CTest gave no result"
  exit 1
fi
# CTest takes a test as skipped when "[  SKIPPED ]" appears anywhere in its
# output, whatever its exit status: a test that prints it itself and then
# fails would pass as skipped. Only gtest's own line for a skipped test
# counts here.
if printf '%s\n' "$not_run" | grep -q '(Skipped)$'; then
  printf '%s\n' "$not_run" | sed -n 's/ (Skipped)$//p' >"$log.skipped"
  false_skips=$(awk -v list="$log.skipped" '
    BEGIN { while ((getline name < list) > 0) wanted[name] = 1 }
    /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); next }
    /^\[  SKIPPED \] 1 test, listed below:/ { genuine[name] = 1 }
    END { for (n in wanted) if (!(n in genuine)) print n }' "$dir/Testing/Temporary/LastTest.log")
  rm -f "$log.skipped"
  if [ -n "$false_skips" ]; then
    say "$title: FAILED: reported as skipped, but gtest did not skip them (they print \"[  SKIPPED ]\" themselves, which hides their result):"
    printf '%s\n' "$false_skips" | while IFS= read -r line; do say "  $line"; done
    status=1
  fi
fi
# Skipped tests count in CTest's total as passed; here they are told apart.
passed=$((total - failed - $(printf '%s\n' "$not_run" | grep -c '(Skipped)$' || true)))
say "$title: $passed passed, $failed failed, $skipped skipped"
if [ -n "$not_run" ]; then
  printf '%s\n' "$not_run" | while IFS= read -r line; do say "  not run: $line"; done
fi
exit "$status"
