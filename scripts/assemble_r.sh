#!/usr/bin/env bash
# Assembles the R package's source directory and builds its source tarball:
# R CMD build copies only the package directory, so the engine's sources
# (base/, cross2/, bndry/, stopbound/: everything the bindings compile, and
# nothing of the program's layers) are copied into the package's src/ first.
#
#   scripts/assemble_r.sh [OUTDIR]   # default build/r
#
# leaves OUTDIR/stopbound (the assembled package) and
# OUTDIR/stopbound_<version>.tar.gz (from R CMD build), then
#   R CMD check --no-manual OUTDIR/stopbound_<version>.tar.gz
# or R CMD INSTALL it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root/build/r}" && cd "${1:-$root/build/r}" && pwd)"

rm -rf "$out/stopbound"
mkdir -p "$out/stopbound"
# The package as committed, without what a local build left in it.
(cd "$root/r" && tar --exclude='*.o' --exclude='*.so' --exclude='src/Makevars' -cf - .) |
  (cd "$out/stopbound" && tar -xf -)
for module in base cross2 bndry stopbound; do
  mkdir -p "$out/stopbound/src/$module"
  cp "$root/$module"/*.cpp "$root/$module"/*.h "$out/stopbound/src/$module/"
done
# The boundary pair the tests evaluate, as the command line's tests do.
cp "$root/docs/futility-k40.dat" "$out/stopbound/tests/testthat/"
cd "$out"
rm -f stopbound_*.tar.gz
R CMD build --no-manual stopbound
