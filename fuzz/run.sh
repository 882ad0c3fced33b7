#!/usr/bin/env bash
# Fuzzes the whole program for a given number of seconds (default 60) with
# afl-fuzz, AddressSanitizer and UndefinedBehaviorSanitizer, starting from the
# committed corpus, then replays every input it kept through the oracle.
# The fuzzer drives the oracle's persistent loop (the program's run in one
# process); the replay runs the built program itself, leak checks included.
# Usage: fuzz/run.sh [seconds] [output directory]
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
out=${2:-$root/build/fuzz-findings}
build=$root/build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=afl-clang-fast++ -DSTOPBOUND_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DBUILD_TESTING=OFF -DSTOPBOUND_BENCH=OFF > /dev/null
cmake --build "$build" --target stopbound_oracle stopbound > /dev/null

# No AFL_SKIP_BIN_CHECK, whatever its value: it would also skip finding the
# persistent loop's mark in the binary, and each input would then cost a
# whole process again.
export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
export AFL_NO_AFFINITY=1
# The work directories on a tmpfs where there is one (the boundary file's
# fsync would otherwise cost more than the run), in a directory of this
# session's own, removed at the end with whatever killed runs left there.
tmp_root=/tmp
if [ -d /dev/shm ] && [ -w /dev/shm ]; then tmp_root=/dev/shm; fi
TMPDIR=$(mktemp -d "$tmp_root/stopbound-fuzz-session-XXXXXX")
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT
# No leak checks in the loop: a fatal path's jump back to it leaves its
# blocks behind by design. The replay below checks leaks in the real program.
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1
rm -rf "$out"
afl-fuzz -i "$root/fuzz/corpus" -o "$out" -m none -t 5000 -V "$seconds" -- \
  "$build/fuzz/stopbound_oracle" > "$out.log" 2>&1 || { tail -20 "$out.log"; exit 1; }

stats=$out/default/fuzzer_stats
grep -E '^(execs_done|execs_per_sec|corpus_count|saved_crashes|saved_hangs|stability|bitmap_cvg|edges_found|total_edges) ' "$stats"
crashes=$(find "$out/default/crashes" "$out/default/hangs" -type f ! -name README.txt | wc -l)
# Every kept input once more, with the sanitizers' reports symbolised.
ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/stopbound_oracle" "$out/default/queue"
if [ "$crashes" -ne 0 ]; then
  echo "fuzzing found $crashes failing inputs in $out/default/crashes and hangs"
  exit 1
fi
