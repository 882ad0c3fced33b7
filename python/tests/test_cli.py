"""The package's numbers against the command line's JSON, bit for bit: the
design, its operating characteristics and a given boundary pair's."""
import numpy as np
import pytest

import stopbound
from conftest import REPO

RATES = "0.01,0.1,0.2,0.23,0.35,0.5,0.75,0.99"
DESIGNS = [("1", "0.2", "0.5"), ("10", "0.2", "0.05"), ("12", "0.23", "0.1"), ("40", "0.15", "0.1"),
           ("100", "0.05", "0.2"), ("255", "0.2", "0.05"), ("60", "0.9", "0.3")]


def same_oc(frame, rows):
    assert list(frame.columns) == list(stopbound.OC_COLUMNS)
    for column in stopbound.OC_COLUMNS:
        # Bit for bit: the JSON's shortest digits read back as the very doubles.
        assert frame[column].tolist() == [r[column] for r in rows], column


@pytest.mark.parametrize("args", DESIGNS, ids=" ".join)
def test_design_equals_the_command_line(cli, args):
    j = cli("design", *args, "--format", "json", "--no-boundary-file", "--oc", RATES)
    d = stopbound.design(int(args[0]), float(args[1]), float(args[2]))
    assert d.upper.tolist() == j["upper"]
    assert d.alpha == j["alpha"]
    assert d.phi_star == j["phi_star"]
    assert [r._asdict() for r in d.rule] == j["rule"]
    same_oc(d.oc([r["theta"] for r in j["oc"]]), j["oc"])


def test_boundary_pair_equals_the_command_line(cli):
    path = REPO / "docs" / "futility-k40.dat"
    j = cli("evaluate", str(path), "--format", "json", "--oc", RATES)
    lines = path.read_text().splitlines()
    K = int(lines[1])
    pairs = np.array([line.split() for line in lines[2:2 + K]], dtype=int)
    b = stopbound.evaluate(pairs[:, 0], pairs[:, 1], float(lines[0]))
    assert b.theta == j["theta"]
    assert b.lower.tolist() == j["lower"] and b.upper.tolist() == j["upper"]
    assert [r._asdict() for r in b.rule] == j["rule"]
    assert [r._asdict() for r in b.rule_lower] == j["rule_lower"]
    same_oc(b.oc([r["theta"] for r in j["oc"]]), j["oc"])
