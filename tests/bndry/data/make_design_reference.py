#!/usr/bin/env python3
"""Writes design_reference.txt: exact binomial rows for the table tests.

For each (theta, n) below, theta is taken as the exact value of the double
nearest to it, and every P(Y_n = k) and P(Y_n >= k), k = 0..n, is computed
in rational arithmetic and rounded once to the nearest double. Lines are
"theta n k prob surv", theta in hexadecimal float notation so that the test
reads back the very double the reference was made for.

Run: python3 make_design_reference.py > design_reference.txt
"""
from fractions import Fraction
from math import comb

ROWS = [(0.3, 4), (0.5, 37), (0.02, 100), (0.9, 60), (0.3, 255)]


def main():
    print("# theta n k P(Y_n = k) P(Y_n >= k); made by make_design_reference.py")
    for theta, n in ROWS:
        p = Fraction(theta)
        q = 1 - p
        pdf = [comb(n, k) * p**k * q**(n - k) for k in range(n + 1)]
        tail = Fraction(0)
        surv = [Fraction(0)] * (n + 1)
        for k in range(n, -1, -1):
            tail += pdf[k]
            surv[k] = tail
        for k in range(n + 1):
            print(f"{theta.hex()} {n} {k} {float(pdf[k])!r} {float(surv[k])!r}")


if __name__ == "__main__":
    main()
