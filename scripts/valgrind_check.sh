#!/usr/bin/env bash
# Runs the Release build (the release preset: the default link, the C
# library shared) under valgrind's memcheck with full leak checks: the
# dialogue, and `design` with --plot and --html. Fails on any error or leak.
# Usage: scripts/valgrind_check.sh [program (build/release/app/stopbound)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${1:-$root/build/release/app/stopbound}")
work=$(mktemp -d "${TMPDIR:-/tmp}/stopbound-valgrind-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
check() {
  local name=$1
  shift
  if "$@" > /dev/null 2> valgrind.log; then
    echo "valgrind: $name: no error, no leak"
  else
    cat valgrind.log
    echo "valgrind: $name: FAILED"
    exit 1
  fi
}
memcheck=(valgrind -q --leak-check=full --error-exitcode=9)
check "the dialogue, 255 0.2 0.05" sh -c "echo '255 0.2 0.05' | ${memcheck[*]} '$program'"
check "design 30 0.2 0.1 --plot --html" "${memcheck[@]}" "$program" design 30 0.2 0.1 --plot d.svg --html r.html
check "evaluate with a lower boundary --plot --html" "${memcheck[@]}" "$program" evaluate "$root/docs/futility-k40.dat" \
  --plot e.svg --html e.html
