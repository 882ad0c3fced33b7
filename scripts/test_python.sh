#!/usr/bin/env bash
# Tests the Python package against the built command line: a fresh virtual
# environment over the system's packages (numpy, pandas, pybind11, pytest
# from Debian; no network), the package installed into it as a user would,
# and pytest with STOPBOUND_EXE naming the program whose JSON the tests
# compare with bit for bit.
#
#   scripts/test_python.sh PROGRAM WORKDIR
#
# Exits 77 (skipped) with a message when no Python has what the build needs.
set -euo pipefail
if (($# != 2)); then
  echo "usage: scripts/test_python.sh PROGRAM WORKDIR" >&2
  exit 2
fi
root="$(cd "$(dirname "$0")/.." && pwd)"
export STOPBOUND_EXE="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
mkdir -p "$2"
work="$(cd "$2" && pwd)"

# The first interpreter that has the build's and the tests' packages: a
# version manager's python3 on the PATH may lack the system's.
python=""
for candidate in ${STOPBOUND_PYTHON:-} python3 /usr/bin/python3; do
  if command -v "$candidate" > /dev/null &&
    "$candidate" -c "import ensurepip, venv, pybind11, numpy, pandas, pytest, setuptools" 2> /dev/null; then
    python="$candidate"
    break
  fi
done
if [[ -z "$python" ]]; then
  echo "test_python.sh: skipped: no python3 with venv, pybind11, numpy, pandas, pytest and setuptools (scripts/setup.sh --dev)"
  exit 77
fi

rm -rf "$work/venv"
mkdir -p "$work"
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --no-build-isolation --no-index --quiet "$root/python" > "$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
# From the work directory, so that the installed package is the one imported.
cd "$work"
"$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"
