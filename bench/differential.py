#!/usr/bin/env python3
"""Differential check of two stopbound binaries: same dialogue output (the
date line aside), same exit status and the same _bndry_.dat byte for byte,
on more than 10,000 inputs.

A faster method replaces a slower one only after this passes against the
program as it was. Not a CI test: it runs for minutes.

    bench/differential.py REFERENCE NEW [--jobs N] [--random N] [--seed S]
                          [--design [--ignore PREFIX ...]]

With --design both run the command `design K THETA PHI` with its default
options instead of the dialogue (the text report on standard output, and
_bndry_.dat); lines beginning with an --ignore PREFIX, those a newer
program adds, are left out of both outputs.

The inputs: the sweep K = 1..255 step 7 with THETA and PHI over their
ranges (7,104 inputs), THETA = 0.5 and 0.25 (exact decimal ties) for K up
to 40 with PHI on the 0.05 grid, the known slow corners, and random K,
THETA and PHI. Both binaries are invoked as "stopbound", in a temporary
directory of their own, since the boundary file names the program as
invoked.
"""
import argparse
import concurrent.futures
import os
import random
import subprocess
import sys
import tempfile

SWEEP_THETAS = [0.001, 0.005, 0.01, 0.02, 0.05, 0.1, 0.15, 0.2, 0.21, 0.25, 0.3, 0.35,
                0.4, 0.5, 0.6, 0.65, 0.7, 0.8, 0.9, 0.95, 0.97, 0.99, 0.995, 0.999]
SWEEP_PHIS = [0.001, 0.01, 0.05, 0.1, 0.2, 0.5, 0.9, 0.999]
CORNERS = ["1 0.2 0.5", "255 0.2 0.05", "211 0.995 0.999", "253 0.99 0.5",
           "253 0.001 0.05", "169 0.01 0.5", "20 0.2 0.05", "210 0.995 0.999"]


def random_rate(rng):
    """A rate in (0, 1) written as a user might, or to full precision."""
    kind = rng.randrange(6)
    if kind == 0:
        return "%.2f" % rng.choice([i / 100 for i in range(1, 100)])
    if kind == 1:
        return "%.3g" % rng.uniform(0.001, 0.999)
    if kind == 2:
        return "%.3g" % 10 ** rng.uniform(-6, -1)
    if kind == 3:
        return "%.4g" % (1 - 10 ** rng.uniform(-5, -1))
    if kind == 4:
        return repr(rng.uniform(1e-9, 1 - 1e-9))
    return "%.2f" % (rng.randrange(1, 20) * 0.05)


def inputs(random_count, seed):
    cases = []
    for k in range(1, 256, 7):
        for theta in SWEEP_THETAS:
            for phi in SWEEP_PHIS:
                cases.append("%d %g %g" % (k, theta, phi))
    for theta in ("0.5", "0.25"):
        for k in range(1, 41):
            for i in range(1, 20):
                cases.append("%d %s %.2f" % (k, theta, i * 0.05))
    cases.extend(CORNERS)
    rng = random.Random(seed)
    for _ in range(random_count):
        k = rng.choice([rng.randrange(1, 41), rng.randrange(1, 256)])
        cases.append("%d %s %s" % (k, random_rate(rng), random_rate(rng)))
    return cases


def run(binary, line, design=False, ignore=()):
    with tempfile.TemporaryDirectory(prefix="stopbound-diff-") as cwd:
        if design:
            proc = subprocess.run(["stopbound", "design"] + line.split(), executable=binary,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                  cwd=cwd, timeout=600)
        else:
            proc = subprocess.run(["stopbound"], executable=binary, input=line + "\n",
                                  capture_output=True, text=True, cwd=cwd, timeout=600)
        skip = ("Date and time: ",) + tuple(ignore)
        out = "".join(l for l in proc.stdout.splitlines(keepends=True) if not l.startswith(skip))
        path = os.path.join(cwd, "_bndry_.dat")
        data = open(path, "rb").read() if os.path.exists(path) else None
        return proc.returncode, out, proc.stderr, data


def compare(ref, new, line, design=False, ignore=()):
    a = run(ref, line, design, ignore)
    b = run(new, line, design, ignore)
    if a == b:
        return None
    what = [name for name, x, y in zip(("status", "stdout", "stderr", "_bndry_.dat"), a, b) if x != y]
    return "%s: %s differ" % (line, ", ".join(what))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("reference")
    parser.add_argument("new")
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--random", type=int, default=1500, help="random inputs (default 1500)")
    parser.add_argument("--seed", type=int, default=11)
    parser.add_argument("--every", type=int, default=1, help="only every N-th input (quick look)")
    parser.add_argument("--design", action="store_true",
                        help="run `design K THETA PHI` instead of the dialogue")
    parser.add_argument("--ignore", action="append", default=[], metavar="PREFIX",
                        help="leave out output lines beginning with PREFIX (with --design)")
    args = parser.parse_args()
    ref = os.path.abspath(args.reference)
    new = os.path.abspath(args.new)
    cases = inputs(args.random, args.seed)[::args.every]
    failures = []
    done = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for result in pool.map(lambda line: compare(ref, new, line, args.design, args.ignore),
                               cases):
            done += 1
            if result is not None:
                failures.append(result)
                print(result, flush=True)
            if done % 1000 == 0:
                print("%d inputs compared, %d differ" % (done, len(failures)), file=sys.stderr, flush=True)
    print("%d inputs compared, %d identical, %d differ" % (len(cases), len(cases) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
