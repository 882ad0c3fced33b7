#!/usr/bin/env python3
# Reference values for the binomial tests, computed with mpmath at 50 digits.
#
# Each theta is taken as the exact value of the double it is written as, so
# a reference is the true probability at the argument the C++ code receives.
# Output, one record per line, doubles as %.17g:
#   lf J VALUE                ln(J!) for J = 0..255
#   lfx J VALUE               ln(J!) for some J beyond 255, up to 65535
#   row N THETA               starts a row; followed by N + 1 lines
#   p K VALUE LOGVALUE        P(Y_N = K) and its natural log, K = 0..N
#                             (the log stays finite where VALUE underflows)
# Usage: python3 make_binomial_reference.py > binomial_reference.txt
from mpmath import mp, mpf, binomial, log, factorial

mp.dps = 50

# (n, theta) rows: small n, mid-sized n at both sides of 1/2, and n = 255
# with a mode near either end, where the tails fall below the double range.
ROWS = [
    (3, 0.5), (7, 0.3), (10, 0.05), (20, 0.9), (37, 0.77), (50, 0.1),
    (100, 0.5), (128, 0.333), (200, 0.61), (255, 0.01), (255, 0.3),
    (255, 0.5), (255, 0.99),
]

# Log-factorials past the dialogue's table, to the last one the code keeps.
LARGE_J = [256, 257, 511, 512, 1000, 4097, 10000, 20000, 65535]


def g17(x):
    return "%.17g" % float(x)


def main():
    for j in range(256):
        print("lf", j, g17(log(factorial(j))))
    for j in LARGE_J:
        print("lfx", j, g17(log(factorial(j))))
    for n, theta in ROWS:
        t = mpf(theta)  # exact binary value of the double
        print("row", n, "%.17g" % theta)
        for k in range(n + 1):
            v = binomial(n, k) * t**k * (1 - t)**(n - k)
            print("p", k, g17(v), g17(log(v)))


if __name__ == "__main__":
    main()
