#!/usr/bin/env bash
# Kills runs of the largest design, "255 0.2 0.05", with SIGTERM or SIGINT at
# random moments over a whole run and checks what each leaves behind: no
# temporary file, and a _bndry_.dat that is either the earlier file or the
# complete new one, never anything in between.
# Usage: scripts/kill_test.sh [runs (300)] [program (build/default/driver/stopbound)]
set -euo pipefail
runs=${1:-300}
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${2:-$root/build/default/driver/stopbound}")

work=$(mktemp -d "${TMPDIR:-/tmp}/stopbound-kill-XXXXXX")
# Only this shell cleans up: a job killed before its exec is a copy of it.
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT
earlier="an earlier boundary"

# The new file as an uninterrupted run writes it, and how long such a run takes.
mkdir "$work/reference"
start=$(date +%s%N)
for _ in 1 2 3 4 5; do
  (cd "$work/reference" && exec "$program" <<< "255 0.2 0.05" > /dev/null) &
  wait $!
done
run_ns=$(( ($(date +%s%N) - start) / 5 ))
complete=$(cat "$work/reference/_bndry_.dat")

# Background jobs of a script ignore SIGINT unless job control is on; its
# notices of killed jobs go nowhere.
set -m
exec 2> /dev/null
mkfifo "$work/silent"
exec {silent}<> "$work/silent"

killed=0 finished=0 left_temporary=0 kept_earlier=0 wrote_new=0 damaged=0
for ((i = 1; i <= runs; i++)); do
  dir=$work/run$i
  mkdir "$dir"
  echo "$earlier" > "$dir/_bndry_.dat"
  signal=$(( RANDOM % 2 == 0 ? 15 : 2 ))
  # Anywhere in the run, in microseconds.
  delay_us=$(( (RANDOM * 32768 + RANDOM) % (run_ns / 1000 + 1) ))
  cd "$dir"
  "$program" <<< "255 0.2 0.05" > /dev/null &
  pid=$!
  cd "$work"
  # read's timeout on a FIFO that stays silent: a sleep without starting a
  # process, which would take longer than the run.
  read -r -t "$(printf '0.%06d' "$delay_us")" -u "$silent" || true
  kill -s "$signal" "$pid" 2> /dev/null || true
  status=0
  wait "$pid" 2> /dev/null || status=$?
  if [ "$status" -gt 128 ]; then killed=$((killed + 1)); else finished=$((finished + 1)); fi
  if [ -n "$(find "$dir" -mindepth 1 ! -name _bndry_.dat)" ]; then left_temporary=$((left_temporary + 1)); fi
  content=$(cat "$dir/_bndry_.dat")
  if [ "$content" = "$earlier" ]; then
    kept_earlier=$((kept_earlier + 1))
  elif [ "$content" = "$complete" ]; then
    wrote_new=$((wrote_new + 1))
  else
    damaged=$((damaged + 1))
  fi
  rm -rf "$dir"
done

echo "runs: $runs (a whole run takes about $((run_ns / 1000)) us)"
echo "ended by the signal: $killed, finished first: $finished"
echo "boundary file: earlier kept $kept_earlier, complete new $wrote_new, damaged $damaged"
echo "temporary files left behind: $left_temporary"
[ "$left_temporary" -eq 0 ] && [ "$damaged" -eq 0 ]
