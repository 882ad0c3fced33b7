"""Exact stopping boundaries for continuously monitored single-arm trials.

A trial with a binary outcome is monitored after each patient and stops as
soon as the number of events reaches the boundary. ``design`` finds the most
liberal boundary whose probability of being reached under the event
probability ``theta`` does not exceed ``phi``; ``evaluate`` takes a boundary
pair from elsewhere; ``Design.oc`` and ``Boundary.oc`` give the exact
operating characteristics. The numbers are the ``stopbound`` command line's,
bit for bit: both call the same compiled engine.
"""
from __future__ import annotations

import numbers
from dataclasses import dataclass, field
from typing import NamedTuple, Optional, Sequence

import numpy as np
import pandas as pd

from . import _core

__all__ = ["design", "evaluate", "Design", "Boundary", "RuleRun", "NextBoundary", "OC_COLUMNS"]

#: The columns of ``oc``'s frame: those of the command line's CSV.
OC_COLUMNS = ("theta", "phi_star", "p_lower", "mean_y", "sd_y", "mean_n", "sd_n", "mean_yn", "sd_yn")


class RuleRun(NamedTuple):
    """Patients ``first``..``last`` share the stopping count ``stop_at``."""

    first: int
    last: int
    stop_at: int


@dataclass(frozen=True)
class NextBoundary:
    """The next attainable boundary more liberal than a design's."""

    threshold: float
    alpha_used: float
    phi_star: float
    upper: np.ndarray = field(repr=False)


def _frozen(a: np.ndarray) -> np.ndarray:
    a.setflags(write=False)
    return a


def _rule_lines(lower: np.ndarray, upper: np.ndarray) -> list[str]:
    """The stopping rule as a protocol states it, one line per run of patients."""

    def says(n: int) -> str:
        low, high = int(lower[n - 1]), int(upper[n - 1])
        words = []
        if low > 0:
            words.append(f"stop at {low} or fewer events")
        elif low == 0:
            words.append("stop at 0 events")
        if high <= n:
            words.append(f"stop at {high} or more events")
        return ", or ".join(words) or "no count can stop the trial"

    runs: list[tuple[str, str]] = []
    first, K = 1, len(upper)
    while first <= K:
        text, last = says(first), first
        while last < K and says(last + 1) == text:
            last += 1
        runs.append((f"patient {first}" if first == last else f"patients {first}-{last}", text))
        first = last + 1
    width = max(len(p) for p, _ in runs)
    return [f"  {p.ljust(width)}  {t}" for p, t in runs]


def _oc(lower: np.ndarray, upper: np.ndarray, rates) -> pd.DataFrame:
    rates = np.atleast_1d(np.asarray(rates, dtype=float))
    if rates.ndim != 1:
        raise ValueError("rates must be a number or a one-dimensional sequence of numbers")
    columns = _core.oc(lower, upper, rates)
    return pd.DataFrame({c: columns[c] for c in OC_COLUMNS})


@dataclass(frozen=True, repr=False)
class Design:
    """A designed upper boundary (read-only); ``upper[n - 1]`` events stop the
    trial after patient ``n``, ``n + 1`` meaning it cannot stop there."""

    K: int
    theta: float
    phi: float
    family: str
    looks: np.ndarray
    min_events: int
    upper: np.ndarray
    lower: np.ndarray
    alpha: float
    alpha_used: float
    threshold: float
    phi_star: float
    rule: list[RuleRun]
    next_boundary: Optional[NextBoundary]
    family_title: str

    def oc(self, rates) -> pd.DataFrame:
        """Operating characteristics at each rate (strictly between 0 and 1)."""
        return _oc(self.lower, self.upper, rates)

    def __repr__(self) -> str:
        head = [
            f"Design of {self.family_title} ({self.family})",
            f"K = {self.K}, THETA = {self.theta:g}, PHI = {self.phi:g}",
            f"PHI* = {self.phi_star:g} = the probability of reaching the boundary under THETA",
            f"ALPHA = {self.alpha:g} = the pointwise stopping probability",
            "",
            "Stopping rule, on the number of events among patients 1..n after each patient n:",
        ]
        return "\n".join(head + _rule_lines(self.lower, self.upper))


@dataclass(frozen=True, repr=False)
class Boundary:
    """A given boundary pair, checked as the command line checks a file's."""

    K: int
    theta: float
    lower: np.ndarray
    upper: np.ndarray
    rule: list[RuleRun]
    rule_lower: list[RuleRun]

    def oc(self, rates) -> pd.DataFrame:
        """Operating characteristics at each rate (strictly between 0 and 1)."""
        return _oc(self.lower, self.upper, rates)

    def __repr__(self) -> str:
        head = [
            f"Boundary pair: K = {self.K}, THETA = {self.theta:g}",
            "",
            "Stopping rule, on the number of events among patients 1..n after each patient n:",
        ]
        return "\n".join(head + _rule_lines(self.lower, self.upper))


def _whole(value, name: str) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or value != int(value):
        raise ValueError(f"{name} must be a whole number, got {value!r}")
    return int(value)


def _number(value, name: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{name} must be a number, got {value!r}")
    return float(value)


def _whole_array(values, name: str) -> np.ndarray:
    a = np.asarray(values)
    if a.ndim != 1 or not (np.issubdtype(a.dtype, np.integer) or
                           (np.issubdtype(a.dtype, np.floating) and np.all(a == np.trunc(a)))):
        raise ValueError(f"{name} must be a one-dimensional sequence of whole numbers")
    if a.size and (a.min() < np.iinfo(np.int32).min or a.max() > np.iinfo(np.int32).max):
        raise ValueError(f"{name} holds a number out of range")
    return a.astype(np.int32)


def design(K: int, theta: float, phi: float, family: str = "pocock",
           looks: Optional[Sequence[int]] = None, min_events: int = 0) -> Design:
    """The most liberal boundary of ``family`` whose probability PHI* of being
    reached under ``theta`` is at most ``phi``, with the trial monitored after
    the patients in ``looks`` (every patient when None) and no stop with
    fewer than ``min_events`` events. Raises ValueError naming the argument."""
    K = _whole(K, "K")
    theta = _number(theta, "theta")
    phi = _number(phi, "phi")
    if not isinstance(family, str):
        raise ValueError(f"family must be a string, got {family!r}")
    looks_list = None if looks is None else [int(v) for v in _whole_array(looks, "looks")]
    min_events = _whole(min_events, "min_events")
    if not -2**31 <= K < 2**31 or not -2**31 <= min_events < 2**31:
        raise ValueError("K and min_events must fit in 32 bits")
    d = _core.design(K, theta, phi, family, looks_list, min_events)
    nxt = d["next_boundary"]
    return Design(
        K=K, theta=theta, phi=phi, family=d["family"], looks=_frozen(d["looks"]),
        min_events=min_events, upper=_frozen(d["upper"]), lower=_frozen(d["lower"]),
        alpha=d["alpha"], alpha_used=d["alpha_used"], threshold=d["threshold"],
        phi_star=d["phi_star"], rule=[RuleRun(*r) for r in d["rule"]],
        next_boundary=None if nxt is None else NextBoundary(
            nxt["threshold"], nxt["alpha_used"], nxt["phi_star"], _frozen(nxt["upper"])),
        family_title=d["family_title"])


def evaluate(lower: Optional[Sequence[int]], upper: Sequence[int], theta: float) -> Boundary:
    """A boundary pair from elsewhere: stop low after patient n with at most
    ``lower[n - 1]`` events (-1: never; None for no lower boundary), high
    with ``upper[n - 1]`` or more (n + 1: never). Raises ValueError naming
    the patient at fault."""
    up = _whole_array(upper, "upper")
    low = np.full(up.shape, -1, dtype=np.int32) if lower is None else _whole_array(lower, "lower")
    theta = _number(theta, "theta")
    if not 0.0 < theta < 1.0:
        raise ValueError(f"THETA must be strictly between 0 and 1, got {theta!r}")
    checked = _core.check(low, up)
    return Boundary(K=len(up), theta=theta, lower=_frozen(checked["lower"]),
                    upper=_frozen(checked["upper"]),
                    rule=[RuleRun(*r) for r in checked["rule"]],
                    rule_lower=[RuleRun(*r) for r in checked["rule_lower"]])
