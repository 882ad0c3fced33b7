"""The objects Python users work with, and the errors of each argument."""
import dataclasses
import re

import numpy as np
import pytest

import stopbound


def test_design_is_read_only_with_its_rule():
    d = stopbound.design(10, 0.2, 0.05)
    assert d.family == "pocock" and d.K == 10 and d.min_events == 0
    assert d.looks.tolist() == list(range(1, 11))
    assert d.upper.tolist() == [2, 3, 3, 3, 4, 4, 5, 5, 5, 6]
    assert d.rule[0] == stopbound.RuleRun(first=3, last=4, stop_at=3)
    assert d.alpha_used <= d.alpha and d.phi_star <= 0.05 and d.threshold == -d.alpha_used
    with pytest.raises(dataclasses.FrozenInstanceError):
        d.phi_star = 0.0
    with pytest.raises(ValueError):
        d.upper[0] = 1
    text = repr(d)
    assert "PHI* = 0.0421258" in text
    assert "  patients 1-2  no count can stop the trial\n  patients 3-4  stop at 3 or more events\n" in text
    assert text.endswith("  patient 10    stop at 6 or more events")


def test_oc_frame_and_a_pair_without_lower_boundary():
    d = stopbound.design(20, 0.2, 0.1)
    b = stopbound.evaluate(None, d.upper, 0.2)
    assert b.lower.tolist() == [-1] * 20 and b.rule_lower == []
    assert b.oc([0.2, 0.4]).equals(d.oc(np.array([0.2, 0.4])))
    assert d.oc(0.3).shape == (1, 9)
    assert "patient 3  stop at 0 events, or stop at 3 or more events" in repr(
        stopbound.evaluate([-1, 0, 0], [2, 3, 3], 0.3))


@pytest.mark.parametrize("call, message", [
    (lambda: stopbound.design(10, 1.5, 0.05), "THETA must be strictly between 0 and 1, got 1.5"),
    (lambda: stopbound.design(10, 0.2, 0.0), "PHI must be strictly between 0 and 1, got 0"),
    (lambda: stopbound.design(0, 0.2, 0.05), "K must be"),
    (lambda: stopbound.design(10.5, 0.2, 0.05), "K must be a whole number, got 10.5"),
    (lambda: stopbound.design("10", 0.2, 0.05), "K must be a whole number, got '10'"),
    (lambda: stopbound.design(10, "0.2", 0.05), "theta must be a number, got '0.2'"),
    (lambda: stopbound.design(10, 0.2, 0.05, family="nonesuch"), "nonesuch"),
    (lambda: stopbound.design(10, 0.2, 0.05, family=None), "family must be a string"),
    (lambda: stopbound.design(10, 0.2, 0.05, looks=[2.5, 10]), "looks must be a one-dimensional"),
    (lambda: stopbound.design(10, 0.2, 0.05, min_events=1.5), "min_events must be a whole number"),
    (lambda: stopbound.design(2**40, 0.2, 0.05), "fit in 32 bits"),
    (lambda: stopbound.evaluate([-1], [3], 0.2), r"patient 1\b.*upper boundary"),
    (lambda: stopbound.evaluate([-1, -1], [2], 0.2), "the same length"),
    (lambda: stopbound.evaluate(None, [2], 1.0), "THETA must be strictly between 0 and 1, got 1.0"),
    (lambda: stopbound.design(10, 0.2, 0.05).oc([1.2]), "a rate must be strictly between 0 and 1, got 1.2"),
])
def test_each_argument_error_names_it(call, message):
    with pytest.raises(ValueError) as e:
        call()
    # A literal message, or a pattern where the engine may word it otherwise.
    assert message in str(e.value) or re.search(message, str(e.value))
