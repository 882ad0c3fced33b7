#!/usr/bin/env python3
"""The report page in a real browser: headless Chromium prints it to PDF on
Letter (its default) and on A4, and each print must hold one or two pages
with the report's text, the figure's included.

Exits 77, which ctest counts as skipped, when Chromium or poppler's pdfinfo
and pdftotext are not installed.

Usage: render_test.py STOPBOUND_EXE
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
# A cold start of Chromium on a busy machine takes seconds, rarely more.
BROWSER_TIMEOUT = 180


def browser():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def print_to_pdf(chromium, page, pdf, work):
    profile = tempfile.mkdtemp(dir=work)
    args = [chromium, "--headless", "--no-sandbox", "--disable-gpu",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--no-first-run", "--no-pdf-header-footer", "--user-data-dir=" + profile,
            "--print-to-pdf=" + pdf, "file://" + page]
    r = subprocess.run(args, capture_output=True, timeout=BROWSER_TIMEOUT)
    if r.returncode != 0 or not os.path.exists(pdf):
        sys.exit("chromium failed (status %d): %s" % (r.returncode, r.stderr.decode()[-2000:]))


def pdf_pages(pdf):
    """The number of pages and the first page's width and height in points."""
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, check=True, text=True).stdout
    fields = dict(line.split(":", 1) for line in info.splitlines() if ":" in line)
    width, _, height = fields["Page size"].split()[:3]
    return int(fields["Pages"]), (float(width), float(height))


def main():
    exe = os.path.abspath(sys.argv[1])
    chromium = browser()
    if chromium is None or not shutil.which("pdfinfo") or not shutil.which("pdftotext"):
        print("skipped: chromium, pdfinfo or pdftotext is not installed")
        return SKIP
    with tempfile.TemporaryDirectory() as work:
        page = os.path.join(work, "report.html")
        r = subprocess.run([exe, "design", "20", "0.2", "0.1", "--no-boundary-file", "--html",
                            page], capture_output=True, timeout=300)
        if r.returncode != 0:
            sys.exit("stopbound failed: " + r.stderr.decode())
        with open(page, encoding="utf-8") as f:
            html = f.read()
        # The same page on A4: a page size only the test's copy asks for.
        a4 = os.path.join(work, "report-a4.html")
        with open(a4, "w", encoding="utf-8") as f:
            f.write(html.replace("</style>", "@page { size: A4; }\n</style>", 1))

        failures = []
        # Letter is 8.5 x 11 inches; A4 is 210 x 297 mm.
        for source, paper in ((page, (612, 792)), (a4, (595.28, 841.89))):
            pdf = source + ".pdf"
            print_to_pdf(chromium, source, pdf, work)
            pages, size = pdf_pages(pdf)
            text = subprocess.run(["pdftotext", "-layout", pdf, "-"], capture_output=True,
                                  check=True, text=True).stdout
            print("%s: %d pages of %g x %g pt" % (os.path.basename(source), pages, *size))
            if abs(size[0] - paper[0]) > 1 or abs(size[1] - paper[1]) > 1:
                failures.append("%s: pages of %g x %g pt" % (source, *size))
            if pages not in (1, 2):
                failures.append("%s: %d pages" % (source, pages))
            for words in ("Stopping boundary: K = 20, THETA = 0.2, PHI = 0.1", "Stopping rule",
                          "Operating characteristics", "3\u20134", "3 or more events",
                          "P(stop early)", "True event probability", "Patient n"):
                if words not in text:
                    failures.append("%s: no '%s' in the printed text" % (source, words))
        for failure in failures:
            print("FAILED: " + failure)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
