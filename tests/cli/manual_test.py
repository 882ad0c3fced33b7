#!/usr/bin/env python3
"""The manual page as groff sets it: at every line length from 50 to 110
columns no word is hyphenated, so that no name of the program (ALPHA,
THETA, _bndry_.dat, stopbound) is ever split; a line may end only at a
hyphen the page itself writes, as in "comma-separated".

Exits 77, which ctest counts as skipped, when groff is not installed.

Usage: manual_test.py PAGE
"""
import re
import shutil
import subprocess
import sys

SKIP = 77


def plain_source(page):
    """The page's words without font changes, '\\-' as '-'."""
    text = open(page, encoding="utf-8").read()
    text = re.sub(r"\\f(\[[^]]*\]|.)", "", text)
    return text.replace("\\-", "-")


def main():
    page = sys.argv[1]
    groff = shutil.which("groff")
    if groff is None:
        print("groff is not installed: skipped")
        return SKIP
    source = plain_source(page)
    failures = []
    for width in range(50, 111, 3):
        r = subprocess.run([groff, "-man", "-Tutf8", "-P-cbou", "-rLL=%dn" % width, page],
                           capture_output=True, check=True)
        lines = r.stdout.decode("utf-8").splitlines()
        for i, line in enumerate(lines[:-1]):
            m = re.search(r"(\S*[A-Za-z])[\u2010-]$", line)
            if m is None:
                continue
            following = lines[i + 1].split()
            word = m.group(1) + "-" + (following[0] if following else "")
            word = re.sub(r"[^A-Za-z0-9_.*-]+$", "", word.split("(")[-1])
            if word not in source:
                failures.append("%d columns: '%s' / '%s'" % (width, line.strip(), lines[i + 1].strip()))
    for f in failures:
        print("hyphenated at", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
