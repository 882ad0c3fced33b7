#!/bin/sh
# Rewrites the expected output (date line masked) and boundary file of every
# golden input with the program given as $1. Read every changed line before
# committing: these files are the baseline the tests hold the program to.
set -eu
program=$(realpath "$1")
cd "$(dirname "$0")/golden"
for input in *.in; do
  name=${input%.in}
  work=$(mktemp -d)
  (cd "$work" && exec -a stopbound "$program" < "$OLDPWD/$input") |
    sed 's/^Date and time: .*/Date and time: <date>/' > "$name.out" || true
  cp "$work/_bndry_.dat" "$name.dat"
  rm -rf "$work"
done
