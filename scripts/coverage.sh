#!/usr/bin/env bash
# Line and branch coverage of the production code (base/, bndry/, cross2/,
# driver/, app/) by the whole test suite; prints gcovr's summary and writes an HTML report
# to build/coverage/coverage.html.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for tool in gcovr cmake ninja g++; do
  command -v "$tool" > /dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "coverage.sh needs ${missing[*]}; on Debian: apt-get install gcovr cmake ninja-build g++" >&2
  exit 1
fi
find build/coverage -name '*.gcda' -delete 2> /dev/null || true
cmake --workflow --preset coverage > build-coverage.log 2>&1 || { tail -30 build-coverage.log; exit 1; }
rm -f build-coverage.log
gcovr --root . --object-directory build/coverage --filter 'base/' --filter 'bndry/' --filter 'cross2/' --filter 'driver/' --filter 'app/' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --html-details build/coverage/coverage.html --print-summary --txt build/coverage/coverage.txt
