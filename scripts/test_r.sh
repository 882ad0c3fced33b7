#!/usr/bin/env bash
# Tests the R package against the built command line: assembles the source
# package (scripts/assemble_r.sh), installs it into a private library and
# runs its testthat tests with STOPBOUND_EXE naming the program, whose JSON
# they compare with bit for bit. With --check it runs R CMD check
# --no-manual on the tarball instead (the tests included) and fails on any
# ERROR or WARNING.
#
#   scripts/test_r.sh [--check] PROGRAM WORKDIR
#
# Exits 77 (skipped) with a message when R, Rcpp or testthat is missing.
set -euo pipefail
check=0
if [[ "${1:-}" == "--check" ]]; then
  check=1
  shift
fi
if (($# != 2)); then
  echo "usage: scripts/test_r.sh [--check] PROGRAM WORKDIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
export STOPBOUND_EXE="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
mkdir -p "$2"
work="$(cd "$2" && pwd)"

if ! command -v R > /dev/null || ! Rscript -e 'q(status = !all(sapply(c("Rcpp", "testthat", "jsonlite"), requireNamespace, quietly = TRUE)))' > /dev/null 2>&1; then
  echo "test_r.sh: skipped: R with Rcpp, testthat and jsonlite is not installed (scripts/setup.sh --dev)"
  exit 77
fi

# R's make compiles the engine's sources on every core unless told otherwise.
export MAKEFLAGS="${MAKEFLAGS:--j$(nproc)}"
mkdir -p "$work"
"$root/scripts/assemble_r.sh" "$work" > "$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
tarball="$(ls "$work"/stopbound_*.tar.gz)"
if ((check)); then
  cd "$work"
  # No network here: the suggested packages come from the system, the
  # incoming checks that ask CRAN are off.
  _R_CHECK_FORCE_SUGGESTS_=false _R_CHECK_CRAN_INCOMING_REMOTE_=false \
    R CMD check --no-manual "$tarball" | tee check.log
  if grep -E "^Status: .*(ERROR|WARNING)" check.log > /dev/null; then exit 1; fi
  grep -q "^Status: " check.log
  exit 0
fi
rm -rf "$work/lib"
mkdir -p "$work/lib"
R CMD INSTALL --no-test-load -l "$work/lib" "$tarball" > "$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
cd "$work/stopbound/tests/testthat"
R_LIBS="$work/lib" Rscript -e '
  library(testthat)
  library(stopbound)
  results <- as.data.frame(test_dir(".", package = "stopbound", load_package = "installed",
                                    reporter = "summary", stop_on_failure = TRUE))
  if (any(results$skipped)) quit(status = 1)  # every comparison must run here'
