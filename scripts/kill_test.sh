#!/usr/bin/env bash
# Kills runs of the largest design at random moments over a whole run, with
# each of SIGQUIT, SIGALRM, SIGUSR1, SIGTERM and SIGINT in turn, and checks
# what each leaves behind: no temporary file, and every output file either
# the earlier file or one run's complete new content, never anything in
# between. Odd runs are the dialogue ("255 0.2 0.05", which writes
# _bndry_.dat), even runs the command line with three outputs at once
# (`design 255 0.2 0.05 --plot p.svg --html r.html`, which writes the
# boundary file, the figure and the page).
# Usage: scripts/kill_test.sh [runs for each signal (100)] [program (build/default/app/stopbound)]
set -euo pipefail
runs=${1:-100}
root=$(cd "$(dirname "$0")/.." && pwd)
program=$(realpath "${2:-$root/build/default/app/stopbound}")
signals=(QUIT ALRM USR1 TERM INT)
outputs=(_bndry_.dat p.svg r.html)
# The page's date from here, so that every complete page is the same.
export SOURCE_DATE_EPOCH=1700000000
# A core dump from SIGQUIT would be a file left behind, and slow.
ulimit -c 0

work=$(mktemp -d "${TMPDIR:-/tmp}/stopbound-kill-XXXXXX")
# Only this shell cleans up: a job killed before its exec is a copy of it.
trap '[ "$BASHPID" = "$$" ] && rm -rf "$work"' EXIT
earlier="an earlier file"

dialogue() { exec "$program" <<< "255 0.2 0.05" > /dev/null; }
command_line() { exec "$program" design 255 0.2 0.05 --plot p.svg --html r.html > /dev/null; }

# The new files as uninterrupted runs write them, and how long runs take.
declare -A complete run_ns
for mode in dialogue command_line; do
  mkdir "$work/reference-$mode"
  start=$(date +%s%N)
  for _ in 1 2 3 4 5; do
    (cd "$work/reference-$mode" && "$mode") &
    wait $!
  done
  run_ns[$mode]=$(( ($(date +%s%N) - start) / 5 ))
  for f in "${outputs[@]}"; do
    [ -e "$work/reference-$mode/$f" ] && complete[$mode/$f]=$(cat "$work/reference-$mode/$f")
  done
done

# Background jobs of a script ignore SIGINT unless job control is on; its
# notices of killed jobs go nowhere.
set -m
exec 2> /dev/null
mkfifo "$work/silent"
exec {silent}<> "$work/silent"

failed=0
for signal in "${signals[@]}"; do
  killed=0 finished=0 left_temporary=0 kept_earlier=0 wrote_new=0 damaged=0
  for ((i = 1; i <= runs; i++)); do
    mode=$([ $((i % 2)) -eq 1 ] && echo dialogue || echo command_line)
    dir=$work/run$i
    mkdir "$dir"
    for f in "${outputs[@]}"; do echo "$earlier" > "$dir/$f"; done
    # Anywhere in the run, in microseconds.
    delay_us=$(( (RANDOM * 32768 + RANDOM) % (run_ns[$mode] / 1000 + 1) ))
    cd "$dir"
    "$mode" &
    pid=$!
    cd "$work"
    # read's timeout on a FIFO that stays silent: a sleep without starting a
    # process, which would take longer than the run.
    read -r -t "$(printf '0.%06d' "$delay_us")" -u "$silent" || true
    kill -s "$signal" "$pid" 2> /dev/null || true
    status=0
    wait "$pid" 2> /dev/null || status=$?
    if [ "$status" -gt 128 ]; then killed=$((killed + 1)); else finished=$((finished + 1)); fi
    if [ -n "$(find "$dir" -mindepth 1 ! -name _bndry_.dat ! -name p.svg ! -name r.html)" ]; then
      left_temporary=$((left_temporary + 1))
    fi
    for f in "${outputs[@]}"; do
      content=$(cat "$dir/$f")
      if [ "$content" = "$earlier" ]; then
        kept_earlier=$((kept_earlier + 1))
      elif [ -n "${complete[$mode/$f]+set}" ] && [ "$content" = "${complete[$mode/$f]}" ]; then
        wrote_new=$((wrote_new + 1))
      else
        damaged=$((damaged + 1))
      fi
    done
    rm -rf "$dir"
  done
  echo "SIG$signal: $runs runs (dialogue about $((run_ns[dialogue] / 1000)) us, command line about" \
    "$((run_ns[command_line] / 1000)) us): ended by the signal $killed, finished first $finished;" \
    "output files: earlier kept $kept_earlier, complete new $wrote_new, damaged $damaged;" \
    "runs that left a temporary file: $left_temporary"
  if [ "$left_temporary" -ne 0 ] || [ "$damaged" -ne 0 ]; then failed=1; fi
done
exit "$failed"
