#!/usr/bin/env bash
# Installs the Debian packages that building stopbound needs, only those that
# are missing, with sudo when not run as root: CMake, Ninja, a C++20
# compiler, Boost.Math (header-only, for the core) and the argument parser
# and JSON library of the command line.
# With --dev it adds what the tests, benchmarks and developer tools use.
set -euo pipefail

packages=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev libboost-dev)
if [[ "${1:-}" == "--dev" ]]; then
  # python3, chromium and poppler-utils check the pictures and print the report page;
  # acl and attr set the ACL and attributes an output file must keep; valgrind
  # checks the release build. R with Rcpp and Python with pybind11, numpy and
  # pandas build and test the language packages (jsonlite reads the command
  # line's JSON in R's tests).
  packages+=(clang clang-tidy cppcheck pkg-config libgtest-dev libbenchmark-dev libgmp-dev afl++
    libclang-rt-14-dev gcovr python3 chromium poppler-utils acl attr valgrind
    r-base-dev r-cran-rcpp r-cran-testthat r-cran-roxygen2 r-cran-jsonlite
    python3-pybind11 pybind11-dev python3-numpy python3-pandas python3-pytest python3-venv
    python3-setuptools)
elif (($#)); then
  echo "usage: scripts/setup.sh [--dev]" >&2
  exit 1
fi

if ! command -v dpkg-query > /dev/null || ! command -v apt-get > /dev/null; then
  echo "setup.sh: not a Debian system; install CMake 3.25 or later, Ninja, a C++20 compiler," \
    "CLI11 and nlohmann/json (CMake fetches the last two when it finds none)" >&2
  exit 0
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2> /dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

as_root=()
if [[ "$(id -u)" != 0 ]]; then
  as_root=(sudo)
fi
echo "setup.sh: installing ${missing[*]}" >&2
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
