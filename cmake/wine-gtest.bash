# Sourced by the scripts that run test programs under Wine (cmake/wine-run.sh,
# tests/installer/fresh-prefix.sh), with Wine's environment already set.
#
# Wine now and then loses a program it starts before the program's first
# instruction (seen in CI: a test program's listing that printed nothing).
# Such a run says nothing of the program, so it is started once more. It is
# told apart by gtest's first line, "Running main() from ...", which a test
# program prints and flushes before any test code runs: a run that ended
# without it, and not by a signal CTest sent (a time-out), never got that
# far. Any failure after that line stands as it is.
wine_gtest() {
  local out status
  out=$(mktemp)
  wine "$@" | tee "$out"
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ] && [ "$status" -ne 130 ] && [ "$status" -ne 143 ] &&
    ! grep -q '^Running main() from' "$out"; then
    echo "wine-run: $1 ended with status $status before its main() ran; starting it again" >&2
    status=0
    wine "$@" || status=$?
  fi
  rm -f "$out"
  return "$status"
}
