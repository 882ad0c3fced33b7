#!/usr/bin/env bash
# Static checks of the program's sources: clang-tidy with the project's
# .clang-tidy (one process per core, on the compile commands of a configured
# build), then cppcheck. Fails when either finds anything.
#
#   scripts/lint.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
if [[ ! -f "$build/compile_commands.json" ]]; then
  echo "lint.sh: no $build/compile_commands.json: configure that build first" >&2
  exit 2
fi

echo "== clang-tidy"
# xargs fails when any of its processes does. The counts of suppressed
# warnings in system headers are noise.
printf '%s\n' base/*.cpp bndry/*.cpp cross2/*.cpp stopbound/*.cpp driver/*.cpp figure/*.cpp \
  cli/*.cpp app/*.cpp fuzz/*.cpp |
  xargs -P "$(nproc)" -n 4 clang-tidy --quiet -p "$build" 2>&1 |
  { grep -v "warnings generated" || true; }
echo "== cppcheck"
cppcheck --enable=warning,performance,portability,style --std=c++20 --inline-suppr \
  --error-exitcode=1 --quiet -I. base bndry cross2 stopbound driver figure cli app fuzz
