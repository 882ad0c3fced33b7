#!/usr/bin/env python3
"""Differential check of two stopbound binaries: same dialogue output (the
date line aside), same exit status and the same _bndry_.dat byte for byte,
on more than 10,000 inputs.

A faster method replaces a slower one only after this passes against the
program as it was. Not a CI test: it runs for minutes.

    bench/differential.py REFERENCE NEW [--jobs N] [--random N] [--seed S] [--cli]

With --cli the same inputs go to `design K THETA PHI` instead, each in text
(with the boundary file), JSON and CSV, half of them with a random --oc
list: text, CSV and the boundary file must be identical, and every JSON
field of the reference must hold the same value in the new output (new
fields may be added). A JSON or CSV value the reference prints outside its
range (a probability past 1, a standard deviation of a constant past 0)
counts apart, as "clamped", when the new one is the bound itself.

The inputs: the sweep K = 1..255 step 7 with THETA and PHI over their
ranges (7,104 inputs), THETA = 0.5 and 0.25 (exact decimal ties) for K up
to 40 with PHI on the 0.05 grid, the known slow corners, and random K,
THETA and PHI. Both binaries are invoked as "stopbound", in a temporary
directory of their own, since the boundary file names the program as
invoked.
"""
import argparse
import concurrent.futures
import json
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


def run(binary, line):
    with tempfile.TemporaryDirectory(prefix="stopbound-diff-") as cwd:
        proc = subprocess.run(["stopbound"], executable=binary, input=line + "\n",
                              capture_output=True, text=True, cwd=cwd, timeout=600)
        out = "".join(l for l in proc.stdout.splitlines(keepends=True)
                      if not l.startswith("Date and time: "))
        path = os.path.join(cwd, "_bndry_.dat")
        data = open(path, "rb").read() if os.path.exists(path) else None
        return proc.returncode, out, proc.stderr, data


def random_oc(rng):
    """No list (the default rates), or a list of rates and ranges."""
    if rng.randrange(2) == 0:
        return None
    items = [random_rate(rng) for _ in range(rng.randrange(1, 6))]
    if rng.randrange(3) == 0:
        step = rng.choice(["0.01", "0.05", "0.1", "0.001"])
        items.append("0.01:0.99:" + step)
    return ",".join(items)


def run_cli(binary, line, oc):
    args = ["stopbound", "design"] + line.split()
    extra = ["--oc", oc] if oc is not None else []
    out = []
    with tempfile.TemporaryDirectory(prefix="stopbound-diff-") as cwd:
        for fmt in ("text", "json", "csv"):
            more = [] if fmt == "text" else ["--no-boundary-file"]
            proc = subprocess.run(args + extra + ["--format", fmt] + more, executable=binary,
                                  capture_output=True, text=True, cwd=cwd, timeout=600)
            out.append((proc.returncode, proc.stdout, proc.stderr))
        path = os.path.join(cwd, "_bndry_.dat")
        data = open(path, "rb").read() if os.path.exists(path) else None
    return out, data


BOUNDS = {"phi_star": (0, 1), "p_lower": (0, 1), "mean_yn": (0, 1), "sd_y": (0, None),
          "sd_n": (0, None), "sd_yn": (0, None), "mean_n": (1, None)}


def clamped_only(a, b, key):
    """b is a's value moved onto the bound it crossed (or K for mean_n)."""
    if not isinstance(a, float) or not isinstance(b, (int, float)):
        return False
    lo, hi = BOUNDS.get(key, (None, None))
    if key == "mean_n" and b == round(b) and abs(a - b) < 1e-9 * b:
        return True  # a boundary that cannot stop: exactly K
    if key == "sd_n" and b == 0 and abs(a) < 1e-6:
        return True  # and exactly 0
    return (lo is not None and a < lo and b == lo) or (hi is not None and a > hi and b == hi)


def json_subset(a, b, key=None):
    """'same', 'clamped' or 'differ': every field of a held by b."""
    if isinstance(a, dict):
        if not isinstance(b, dict) or any(k not in b for k in a):
            return "differ"
        results = [json_subset(a[k], b[k], k) for k in a]
    elif isinstance(a, list):
        if not isinstance(b, list) or len(a) != len(b):
            return "differ"
        results = [json_subset(x, y, key) for x, y in zip(a, b)]
    else:
        if a == b and type(a) == type(b):
            return "same"
        return "clamped" if clamped_only(a, b, key) else "differ"
    return "differ" if "differ" in results else "clamped" if "clamped" in results else "same"


def csv_compare(a, b):
    if a == b:
        return "same"
    la, lb = a.splitlines(), b.splitlines()
    if len(la) != len(lb) or la[:1] != lb[:1]:
        return "differ"
    keys = la[0].split(",")
    for x, y in zip(la[1:], lb[1:]):
        for k, u, v in zip(keys, x.split(","), y.split(",")):
            if u != v and not clamped_only(float(u), float(v), k):
                return "differ"
    return "clamped"


def compare_cli(ref, new, line, oc):
    (ta, ja, ca), fa = run_cli(ref, line, oc)
    (tb, jb, cb), fb = run_cli(new, line, oc)
    what = []
    if ta != tb:
        what.append("text")
    if fa != fb:
        what.append("_bndry_.dat")
    if ca[0] != cb[0] or ca[2] != cb[2]:
        what.append("csv status")
    verdict_csv = csv_compare(ca[1], cb[1]) if ca[0] == 0 and cb[0] == 0 else "same"
    if ja[0] != jb[0] or ja[2] != jb[2]:
        what.append("json status")
    verdict_json = (json_subset(json.loads(ja[1]), json.loads(jb[1]))
                    if ja[0] == 0 and jb[0] == 0 else "same")
    for name, v in (("csv", verdict_csv), ("json", verdict_json)):
        if v == "differ":
            what.append(name)
    if what:
        return "differ", "%s --oc %s: %s differ" % (line, oc, ", ".join(what))
    if "clamped" in (verdict_csv, verdict_json):
        return "clamped", "%s --oc %s: clamped" % (line, oc)
    return "same", None


def compare(ref, new, line):
    a = run(ref, line)
    b = run(new, line)
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
    parser.add_argument("--cli", action="store_true", help="compare `design` on the command line")
    args = parser.parse_args()
    ref = os.path.abspath(args.reference)
    new = os.path.abspath(args.new)
    cases = inputs(args.random, args.seed)[::args.every]
    if args.cli:
        rng = random.Random(args.seed + 1)
        pairs = [(line, random_oc(rng)) for line in cases]
        counts = {"same": 0, "clamped": 0, "differ": 0}
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            for verdict, note in pool.map(lambda p: compare_cli(ref, new, *p), pairs):
                counts[verdict] += 1
                if verdict == "differ":
                    print(note, flush=True)
        print("%d inputs compared (%d with --oc lists), %d identical, %d identical but for "
              "values clamped into their range, %d differ" %
              (len(pairs), sum(1 for _, oc in pairs if oc is not None), counts["same"],
               counts["clamped"], counts["differ"]))
        return 1 if counts["differ"] else 0
    failures = []
    done = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for result in pool.map(lambda line: compare(ref, new, line), cases):
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
