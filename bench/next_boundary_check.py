#!/usr/bin/env python3
"""The discreteness gap on random designs: for each, `design K THETA PHI
--format json` must give

    next.phi_star > PHI >= phi_star   and   alpha_used <= alpha < next.alpha_used

(so alpha_used < next.alpha_used), with next.upper more liberal than upper
(never higher, lower somewhere), or "next": null only where no level below
1 gives a more liberal boundary. Prints the figures: how many designs had a
next boundary, the smallest ratio next.phi_star / PHI, how many patients'
b[n] the next boundary changes, and in how many runs.

    bench/next_boundary_check.py STOPBOUND [--count N] [--seed S] [--jobs J]

Not a CI test (the unit test NextBoundary.RandomDesignsKeepEveryPromise
checks the same through the library); it runs the program itself.
"""
import argparse
import concurrent.futures
import json
import random
import subprocess
import sys


def random_rate(rng):
    """A rate in (0, 1) written as a user might, or to full precision."""
    kind = rng.randrange(5)
    if kind == 0:
        return "%.2f" % rng.choice([i / 100 for i in range(1, 100)])
    if kind == 1:
        return "%.3g" % rng.uniform(0.001, 0.999)
    if kind == 2:
        return "%.3g" % 10 ** rng.uniform(-6, -1)
    if kind == 3:
        return "%.4g" % (1 - 10 ** rng.uniform(-4, -1))
    return repr(rng.uniform(1e-9, 1 - 1e-9))


def runs(upper, nxt):
    """The runs of patients whose b[n] differs, with equal new values."""
    out = []
    for n, (a, b) in enumerate(zip(upper, nxt), start=1):
        if a == b:
            continue
        if out and out[-1][1] == n - 1 and out[-1][2] == b:
            out[-1][1] = n
        else:
            out.append([n, n, b])
    return out


def check(exe, k, theta, phi):
    r = subprocess.run([exe, "design", str(k), theta, phi, "--format", "json", "--oc", "0.5",
                        "--no-boundary-file"], capture_output=True, text=True, timeout=600)
    if r.returncode != 0:
        return {"design": (k, theta, phi), "error": r.stderr.strip()}
    d = json.loads(r.stdout)
    faults = []
    if not d["phi_star"] <= d["phi"]:
        faults.append("phi_star > PHI")
    if not d["alpha_used"] <= d["alpha"]:
        faults.append("alpha_used > alpha")
    nxt = d["next"]
    result = {"design": (k, theta, phi), "faults": faults, "next": nxt is not None}
    if nxt is None:
        # Then the boundary already stops wherever a level below 1 can.
        return result
    if not nxt["phi_star"] > d["phi"]:
        faults.append("next.phi_star <= PHI")
    if not d["alpha"] < nxt["alpha_used"]:
        faults.append("next.alpha_used <= alpha")
    if not d["alpha_used"] < nxt["alpha_used"]:
        faults.append("next.alpha_used <= alpha_used")
    if not all(b <= a for a, b in zip(d["upper"], nxt["upper"])) or nxt["upper"] == d["upper"]:
        faults.append("next.upper not more liberal")
    changed = runs(d["upper"], nxt["upper"])
    result.update(ratio=nxt["phi_star"] / d["phi"], runs=len(changed),
                  patients=sum(last - first + 1 for first, last, _ in changed))
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("stopbound")
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=18)
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    designs = []
    while len(designs) < args.count:
        k = rng.choice([rng.randrange(1, 41), rng.randrange(1, 256)])
        theta, phi = random_rate(rng), random_rate(rng)
        if 0 < float(theta) < 1 and 0 < float(phi) < 1:
            designs.append((k, theta, phi))
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = list(pool.map(lambda d: check(args.stopbound, *d), designs))
    errors = [r for r in results if "error" in r]
    faulty = [r for r in results if r.get("faults")]
    with_next = [r for r in results if r.get("next")]
    for r in errors + faulty:
        print(r)
    print("%d designs: %d errors, %d break a promise" % (len(results), len(errors), len(faulty)))
    print("%d with a next boundary, %d with none below level 1" %
          (len(with_next), len(results) - len(errors) - len(with_next)))
    if with_next:
        ratios = sorted(r["ratio"] for r in with_next)
        print("next.phi_star / PHI: smallest %.9g, median %.4g, largest %.4g" %
              (ratios[0], ratios[len(ratios) // 2], ratios[-1]))
        counts = {}
        for r in with_next:
            counts[r["runs"]] = counts.get(r["runs"], 0) + 1
        print("runs of patients whose b[n] changes: %s" %
              ", ".join("%d: %d designs" % kv for kv in sorted(counts.items())))
        print("patients whose b[n] changes: at most %d" % max(r["patients"] for r in with_next))
    return 1 if errors or faulty else 0


if __name__ == "__main__":
    sys.exit(main())
