"""The package's numbers against the command line's JSON, bit for bit: the
design, its operating characteristics and a given boundary pair's."""
import numpy as np
import pytest

import stopbound
from conftest import REPO

RATES = "0.01,0.1,0.2,0.23,0.35,0.5,0.75,0.99"
DESIGNS = [("1", "0.2", "0.5"), ("10", "0.2", "0.05"), ("12", "0.23", "0.1"), ("40", "0.15", "0.1"),
           ("100", "0.05", "0.2"), ("255", "0.2", "0.05"), ("60", "0.9", "0.3")]
# Every family, looks and minimum, where the command line has them.
OPTION_DESIGNS = [("40", "0.2", "0.1", "--family", "obf"), ("40", "0.2", "0.1", "--family", "wt:0.25"),
                  ("30", "0.15", "0.1", "--family", "bayes"),
                  ("30", "0.15", "0.1", "--family", "bayes:0.5,2"),
                  ("30", "0.2", "0.1", "--family", "sprt:0.4"), ("30", "0.2", "0.1", "--family", "maxsprt"),
                  ("40", "0.2", "0.1", "--looks", "10,20,35"),
                  ("40", "0.3", "0.1", "--looks", "5:40:5", "--min-events", "3"),
                  ("25", "0.2", "0.1", "--family", "obf", "--min-events", "2"), ("1000", "0.2", "0.05")]


def same_oc(frame, rows):
    assert list(frame.columns) == list(stopbound.OC_COLUMNS)
    for column in stopbound.OC_COLUMNS:
        # Bit for bit: the JSON's shortest digits read back as the very doubles.
        assert frame[column].tolist() == [r[column] for r in rows], column


def option(args, name):
    return args[args.index(name) + 1] if name in args else None


@pytest.mark.parametrize("args", DESIGNS + OPTION_DESIGNS, ids=" ".join)
def test_design_equals_the_command_line(cli, args):
    if args in OPTION_DESIGNS and not cli.has_options:
        pytest.skip("the command line has no --family, --looks or --min-events yet")
    j = cli("design", *args, "--format", "json", "--no-boundary-file", "--oc", RATES)
    d = stopbound.design(j["K"], j["theta"], j["phi"], family=option(args, "--family") or "pocock",
                         looks=j["looks"] if option(args, "--looks") else None,
                         min_events=j.get("min_events", 0))
    assert d.upper.tolist() == j["upper"]
    assert d.alpha == j["alpha"]
    assert d.phi_star == j["phi_star"]
    assert [r._asdict() for r in d.rule] == j["rule"]
    if "alpha_used" in j:
        assert d.alpha_used == j["alpha_used"]
        assert d.threshold == j["threshold"] if j["threshold"] is not None else not np.isfinite(d.threshold)
        assert d.looks.tolist() == j["looks"]
        assert (d.next_boundary is None) == (j["next"] is None)
        if j["next"] is not None:
            assert d.next_boundary.phi_star == j["next"]["phi_star"]
            assert d.next_boundary.upper.tolist() == j["next"]["upper"]
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
