#!/usr/bin/env python3
"""The --plot figure and the --html page as the program writes them.

Both documents must parse as XML; the figure holds its three panels, their
axis labels and series, and its plotted points read back, through the ticks
printed on its own axes, to the numbers the program prints in CSV and JSON;
the page holds one table row per rate; the same input gives the same bytes;
standard output does not change; a path that cannot be written fails the run.

Usage: pictures_test.py STOPBOUND_EXE
"""
import json
import os
import resource
import signal
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

EXE = None
SVG = "{http://www.w3.org/2000/svg}"
XHTML = "{http://www.w3.org/1999/xhtml}"
# Coordinates are written with two decimals: half a unit of the last place,
# and a little for the ticks' own rounding.
PAGE_TOLERANCE = 0.011


def run(args, cwd, env=None):
    full_env = dict(os.environ, SOURCE_DATE_EPOCH="1765200000")
    full_env.update(env or {})
    return subprocess.run([EXE] + args, cwd=cwd, env=full_env, capture_output=True, timeout=300)


def path_points(d):
    """The vertices of path data 'M x,y L x,y ... Z', split into pieces."""
    pieces = []
    for token in d.replace("Z", " ").split():
        command, xy = token[0], token[1:]
        x, y = (float(v) for v in xy.split(","))
        if command == "M":
            pieces.append([])
        pieces[-1].append((x, y))
    return pieces


class Scale:
    """An axis's map from data to the page, read from two of its ticks."""

    def __init__(self, axis, horizontal):
        ticks = []
        for tick in axis.iter(SVG + "g"):
            if tick.get("class") != "tick":
                continue
            line = tick.find(SVG + "line")
            label = tick.find(SVG + "text")
            page = float(line.get("x1" if horizontal else "y1"))
            ticks.append((float(label.text), page))
        assert len(ticks) >= 2, "an axis needs two ticks"
        (v0, p0), (v1, p1) = ticks[0], ticks[-1]
        self.v0, self.p0, self.factor = v0, p0, (p1 - p0) / (v1 - v0)

    def page(self, v):
        return self.p0 + (v - self.v0) * self.factor

    def data(self, p):
        return self.v0 + (p - self.p0) / self.factor

    def tolerance(self):
        return PAGE_TOLERANCE / abs(self.factor)


def by_class(root, cls, tag=None):
    return [e for e in root.iter(tag) if e.get("class") == cls]


def panel(root, name):
    found = [g for g in root.iter(SVG + "g") if g.get("id") == "panel-" + name]
    assert len(found) == 1, name
    return found[0]


def scales(p):
    (x_axis,) = by_class(p, "axis axis-x")
    (y_axis,) = by_class(p, "axis axis-y")
    return Scale(x_axis, True), Scale(y_axis, False)


def csv_rows(text):
    lines = text.decode().strip().split("\n")
    head = lines[0].split(",")
    return [dict(zip(head, map(float, line.split(",")))) for line in lines[1:]]


class Pictures(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def file(self, name):
        with open(os.path.join(self.dir, name), "rb") as f:
            return f.read()

    def design(self, extra, fmt="csv"):
        args = ["design", "12", "0.231", "0.1", "--oc", "0.123,0.231,0.5,0.7", "--format", fmt,
                "--no-boundary-file"]
        r = run(args + extra, self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, b"")
        return r

    def test_figure_reads_back_to_the_printed_numbers(self):
        plain = self.design([])
        pictured = self.design(["--plot", "f.svg", "--html", "f.html"])
        self.assertEqual(pictured.stdout, plain.stdout)  # stdout is unchanged
        rows = csv_rows(plain.stdout)
        upper = json.loads(self.design([], "json").stdout)["upper"]

        root = ET.fromstring(self.file("f.svg"))
        self.assertEqual(root.tag, SVG + "svg")
        self.assertEqual(root.get("version"), "1.1")
        title = "".join(by_class(root, "title")[0].itertext())
        for text in ("K = 12", "THETA = 0.231", "PHI = 0.1"):
            self.assertIn(text, title)
        subtitle = "".join(by_class(root, "subtitle")[0].itertext())
        self.assertIn("ALPHA = ", subtitle)
        self.assertIn("PHI* = ", subtitle)

        labels = {
            "boundary": ("Patient n", "Events after patient n"),
            "stopping": ("True event probability", "P(stop early)"),
            "patients": ("True event probability", "Patients, E[N]"),
        }
        for name, expected in labels.items():
            got = tuple(t.text for t in by_class(panel(root, name), "axis-label"))
            self.assertEqual(got, expected, name)

        # A: patient n's step at b[n], over n - 1/2 .. n + 1/2.
        x, y = scales(panel(root, "boundary"))
        (step,) = path_points(by_class(root, "series-upper")[0].get("d"))
        self.assertEqual(len(step), 2 * len(upper))
        for n, b in enumerate(upper, start=1):
            for px, py in step[2 * n - 2: 2 * n]:
                self.assertAlmostEqual(y.data(py), b, delta=y.tolerance())
            self.assertAlmostEqual(x.data(step[2 * n - 2][0]), n - 0.5, delta=x.tolerance())

        # B and C: the curves pass through every printed rate, on a grid of
        # 199 rates plus THETA and the --oc rates off the grid.
        for name, cls, column in (("stopping", "series-phi-star", "phi_star"),
                                  ("patients", "series-mean-n", "mean_n")):
            x, y = scales(panel(root, name))
            (curve,) = path_points(by_class(root, cls)[0].get("d"))
            self.assertEqual(len(curve), 199 + 2)  # 0.123 and 0.231 are off the grid
            xs = [x.data(px) for px, _ in curve]
            self.assertEqual(xs, sorted(xs))
            for row in rows:
                near = [(px, py) for px, py in curve
                        if abs(x.data(px) - row["theta"]) <= x.tolerance()]
                self.assertEqual(len(near), 1, (name, row["theta"]))
                self.assertAlmostEqual(y.data(near[0][1]), row[column], delta=y.tolerance())
        (point,) = by_class(root, "design-point")
        x, y = scales(panel(root, "stopping"))
        at_theta = [r for r in rows if r["theta"] == 0.231][0]
        self.assertAlmostEqual(x.data(float(point.get("cx"))), 0.231, delta=x.tolerance())
        self.assertAlmostEqual(y.data(float(point.get("cy"))), at_theta["phi_star"],
                               delta=y.tolerance())
        for cls in ("region-upper", "band-n", "guide-theta", "guide-phi", "guide-k"):
            self.assertTrue(by_class(root, cls), cls)
        self.assertFalse(by_class(root, "series-lower"))

    def test_report_page_holds_the_tables(self):
        self.design(["--html", "f.html"])
        page = self.file("f.html")
        root = ET.fromstring(page)  # XHTML: well-formed XML
        self.assertEqual(root.tag, XHTML + "html")
        self.assertEqual(root.findall(".//" + XHTML + "script"), [])
        tables = {t.get("class"): t for t in root.iter(XHTML + "table")}
        oc = tables["oc"].find(XHTML + "tbody").findall(XHTML + "tr")
        self.assertEqual([tr[0].text for tr in oc], ["0.123", "0.231", "0.5", "0.7"])
        self.assertEqual(oc[1].get("class"), "design")
        rule = tables["rule"].find(XHTML + "tbody").findall(XHTML + "tr")
        self.assertEqual(rule[0][1].text, "cannot stop")
        self.assertTrue(all(tr[1].text.endswith(" or more events") for tr in rule[1:]))
        self.assertEqual(int(rule[-1][0].text.split("\u2013")[-1]), 12)
        self.assertEqual(len(root.findall(".//" + SVG + "svg")), 1)
        text = "".join(root.itertext())
        self.assertIn("stopbound 1.2", text)
        self.assertIn("2025-12-08 13:20 UTC", text)  # SOURCE_DATE_EPOCH
        # The next more liberal boundary, in the very words of the text report.
        report = self.design([], "text").stdout.decode()
        (line,) = [l for l in report.splitlines() if l.startswith("Next more liberal boundary: ")]
        (para,) = [p for p in root.iter(XHTML + "p") if p.get("class") == "next"]
        self.assertEqual(para.text, line)
        self.assertIn("(the row for THETA in bold)", text)
        for words in ("Inputs and results", "Stopping rule", "Operating characteristics",
                      "E[Y/N], SD[Y/N]"):
            self.assertIn(words, text)

    def test_same_input_same_bytes(self):
        self.design(["--plot", "a.svg", "--html", "a.html"])
        self.design(["--plot", "b.svg", "--html", "b.html"])
        self.assertEqual(self.file("a.svg"), self.file("b.svg"))
        self.assertEqual(self.file("a.html"), self.file("b.html"))

    def test_evaluate_draws_the_lower_boundary_and_escapes_the_name(self):
        name = "pair <&> 'x'.dat"
        with open(os.path.join(self.dir, name), "w") as f:
            f.write("0.3\n6\n-1 2\n0 2\n0 3\n1 3\n2 4\n2 4\n")
        r = run(["evaluate", name, "--plot", "e.svg", "--html", "e.html", "--oc", "0.3,0.6",
                 "--format", "csv"], self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = csv_rows(r.stdout)
        root = ET.fromstring(self.file("e.svg"))
        self.assertIn(name, "".join(by_class(root, "title")[0].itertext()))
        pieces = path_points(by_class(root, "series-lower")[0].get("d"))
        self.assertEqual(len(pieces), 1)  # from patient 2 on
        x, y = scales(panel(root, "boundary"))
        self.assertAlmostEqual(x.data(pieces[0][0][0]), 1.5, delta=x.tolerance())
        self.assertAlmostEqual(y.data(pieces[0][-1][1]), 2, delta=y.tolerance())
        x, y = scales(panel(root, "stopping"))
        (low,) = path_points(by_class(root, "series-p-lower")[0].get("d"))
        for row in rows:
            (py,) = [py for px, py in low if abs(x.data(px) - row["theta"]) <= x.tolerance()]
            self.assertAlmostEqual(y.data(py), row["p_lower"], delta=y.tolerance())
        page = ET.fromstring(self.file("e.html"))
        heads = [th.text for th in page.iter(XHTML + "th")]
        self.assertIn("P(stop low)", heads)
        # Beside a low stop, "early" would not say which boundary.
        self.assertIn("P(stop high)", heads)
        self.assertNotIn("P(stop early)", heads)
        self.assertIn(name, "".join(page.itertext()))

    def test_outputs_that_cannot_be_written_fail_the_run(self):
        with open(os.path.join(self.dir, "keep.svg"), "w") as f:
            f.write("earlier")
        for extra in (["--plot", "missing/f.svg"], ["--html", "missing/f.html"],
                      ["--plot", "keep.svg", "--html", "missing/f.html"],
                      ["--plot", "keep.svg", "--boundary-file", "missing/f.dat"]):
            r = run(["design", "10", "0.2", "0.05"] + extra, self.dir)
            self.assertEqual(r.returncode, 1, extra)
            self.assertEqual(r.stdout, b"")
            self.assertTrue(r.stderr.startswith(b"stopbound: "), r.stderr)
            self.assertIn(b"missing/f.", r.stderr)
            self.assertEqual(r.stderr.count(b"\n"), 1)
        # A run that failed replaced no file.
        self.assertFalse(os.path.exists(os.path.join(self.dir, "_bndry_.dat")))
        self.assertEqual(self.file("keep.svg"), b"earlier")

        # A full disk, as a limit on the size of files: the earlier picture
        # stays whole and no temporary file is left behind.
        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        r = subprocess.run([EXE, "design", "10", "0.2", "0.05", "--no-boundary-file", "--plot",
                            "keep.svg"], cwd=self.dir, capture_output=True, timeout=300,
                           preexec_fn=small_files)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"stopbound: --plot keep.svg: write failed: File too large; "
                         b"the file was left as it was\n")
        self.assertEqual(self.file("keep.svg"), b"earlier")
        self.assertEqual(sorted(os.listdir(self.dir)), ["keep.svg"])

        refusals = (
            (["design", "10", "0.2", "0.05", "--plot", ""], b"--plot needs a path"),
            (["design", "10", "0.2", "0.05", "--plot", "x.svg", "--html", "./x.svg"],
             b"--plot 'x.svg' and --html './x.svg' reach the same file"),
            (["design", "10", "0.2", "0.05", "--html", "_bndry_.dat"],
             b"--html '_bndry_.dat' would overwrite the boundary file '_bndry_.dat'"),
        )
        for args, message in refusals:
            r = run(args, self.dir)
            self.assertEqual(r.returncode, 1, args)
            self.assertIn(message, r.stderr)
            self.assertEqual(r.stdout, b"")
        with open(os.path.join(self.dir, "b.dat"), "w") as f:
            f.write("0.2\n1\n-1 1\n")
        r = run(["evaluate", "b.dat", "--plot", "b.dat"], self.dir)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"--plot 'b.dat' would overwrite the file being evaluated 'b.dat'", r.stderr)
        self.assertEqual(self.file("b.dat"), b"0.2\n1\n-1 1\n")
        r = run(["design", "10", "0.2", "0.05", "--html", "x.html"], self.dir,
                {"SOURCE_DATE_EPOCH": "yesterday"})
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"SOURCE_DATE_EPOCH must be a whole number of seconds", r.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "x.html")))
        # Set but empty is unset.
        r = run(["design", "10", "0.2", "0.05", "--no-boundary-file", "--html", "x.html"], self.dir,
                {"SOURCE_DATE_EPOCH": ""})
        self.assertEqual(r.returncode, 0, r.stderr)


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
