#!/usr/bin/env python3
"""Whole-process CPU time (user + system) of stopbound against a minimal C
program that does the same input and output (bench/baseline.c), per input:
the median of interleaved runs, and the ratio of the two medians.

    bench/measure.py PROGRAM [--rounds N] [INPUT ...]

The baseline is built with cc -O2 into a temporary directory. Runs alternate
between the program and the baseline so that a busy machine slows both
alike; each run is in a directory of its own, standard output to /dev/null.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

DEFAULT_INPUTS = ["1 0.2 0.5", "255 0.2 0.05", "211 0.995 0.999", "253 0.99 0.5",
                  "253 0.001 0.05", "169 0.01 0.5", "20 0.2 0.05"]


def cpu_time(argv, line, cwd):
    """CPU seconds of one run, from the kernel's accounting of the child.
    posix_spawn, not fork: a forked copy of this interpreter would charge
    its own page faults to the child."""
    r, w = os.pipe()
    os.write(w, (line + "\n").encode())
    os.close(w)
    null = os.open(os.devnull, os.O_WRONLY)
    old = os.getcwd()
    os.chdir(cwd)
    try:
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, r, 0), (os.POSIX_SPAWN_DUP2, null, 1)])
    finally:
        os.chdir(old)
        os.close(r)
        os.close(null)
    _, status, usage = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed on %r" % (argv[0], line))
    return usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program")
    parser.add_argument("inputs", nargs="*", default=DEFAULT_INPUTS)
    parser.add_argument("--rounds", type=int, default=101)
    args = parser.parse_args()
    here = os.path.dirname(os.path.abspath(__file__))
    program = os.path.abspath(args.program)
    with tempfile.TemporaryDirectory(prefix="stopbound-measure-") as tmp:
        baseline = os.path.join(tmp, "baseline")
        subprocess.run(["cc", "-O2", "-o", baseline, os.path.join(here, "baseline.c")], check=True)
        work = os.path.join(tmp, "run")
        os.mkdir(work)
        times = {line: ([], []) for line in args.inputs}
        for _ in range(args.rounds):
            for line in args.inputs:
                times[line][0].append(cpu_time([program], line, work))
                times[line][1].append(cpu_time([baseline], line, work))
    print("%-18s %12s %12s %7s" % ("input", "program ms", "baseline ms", "ratio"))
    for line in args.inputs:
        prog = statistics.median(times[line][0]) * 1e3
        base = statistics.median(times[line][1]) * 1e3
        print("%-18s %12.3f %12.3f %7.2f" % (line, prog, base, prog / base))
    return 0


if __name__ == "__main__":
    sys.exit(main())
