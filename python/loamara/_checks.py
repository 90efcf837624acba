"""Plausibility checks of the inputs of a call: values outside the physically
possible range of their quantity, contents in percent that all look like
fractions, and sand + silt + clay far from 100 %.

The checks look at the values only; they never alter or drop them.  All the
problems of one call are reported together, as one :class:`RangeWarning`
(``check="warn"``, the default) or one :class:`RangeError`
(``check="raise"``), each naming the input, the range, how many values fall
outside and, where the values fit another unit, the fix
("sand has values up to 40 but is a mass fraction: pass
units={'sand': '%'}").

What the checks need is gathered as a :class:`Tally`, block by block, on
the values the ufunc is about to see (in the unit of the publication): the
smallest and largest value of each input and, only in blocks that reach
outside the range, how many values do.  Gathered while a block is in the
cache, the checks add little to a call that is bound by memory.
"""
from __future__ import annotations

import contextlib
import contextvars
import os
import re
import sys
import warnings
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from ._catalog import PTF, Quantity, format_range
from ._dedup import Seen

CHECK_MODES = ("warn", "raise", "off")

# Kinds that are shares of the fine earth, whose three main ones add up to
# 100 %; a sum farther than this from 100 (in percentage points) is
# reported.
TEXTURE = ("sand", "silt", "clay")
SUM_TOLERANCE = 5.0

# Candidate units for a suggested fix, by the dimension of the input's unit,
# most usual first.
_CANDIDATES = {
    "dimensionless": ["%", "1", "g/kg", "dg/kg", "10^-3 cm^3/cm^3"],
    "[mass] / [length] ** 3": ["g/cm^3", "cg/cm^3", "kg/m^3"],
    "[mass] / [length] / [time] ** 2": ["kPa", "cmH2O", "hPa", "bar", "MPa"],
    "[length] / [time]": ["mm/h", "cm/d", "cm/h", "m/s", "m/d", "cm/min",
                          "in/h"],
    "[length] * [time] ** 2 / [mass]": ["1/kPa", "1/cmH2O", "1/hPa"],
    "[substance] / [mass]": ["cmol/kg", "mmol/kg"],
}


class RangeWarning(UserWarning):
    """Input values outside what their quantity can physically be."""


class RangeError(ValueError):
    """Raised instead of :class:`RangeWarning` with ``check="raise"``."""


class DomainWarning(RangeWarning):
    """Inputs outside the established calibration ranges of a function, or
    soils of another group than the one a variant was fitted to: possible
    values, but the function extrapolates.  Filter it on its own with
    ``warnings.filterwarnings("ignore", category=loamara.DomainWarning)``."""


class DomainError(RangeError):
    """Raised instead of :class:`DomainWarning` with ``check="raise"``."""


# Where the warnings of the checks go while a caller collects them (an
# ensemble reports each problem of the data once, not once per function): a
# context variable, so that collecting changes no state of the process and
# concurrent calls on other threads are not affected.
_COLLECTOR: contextvars.ContextVar[list[tuple[str, type[Warning]]] | None] \
    = contextvars.ContextVar("loamara_check_warnings", default=None)


def warn(text: str, category: type[Warning], stacklevel: int = 2) -> None:
    """Issues a warning of the checks, or hands it to the collector of
    :func:`collected` when the current context has one.  The warning names
    the caller's line: the first frame outside the loamara package,
    however many of its frames lie between (``stacklevel``, as for
    ``warnings.warn`` called where ``warn`` is, only where every frame is
    the package's)."""
    found = _COLLECTOR.get()
    if found is not None:
        found.append((text, category))
        return
    level = 2
    frame: Any = sys._getframe(1)
    while frame is not None and frame.f_code.co_filename.startswith(
            _PACKAGE_DIR):
        frame, level = frame.f_back, level + 1
    warnings.warn(text, category,
                  stacklevel=level if frame is not None else stacklevel + 1)


# The directory of the package's Python files (frames there are not the
# caller's).
_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__)) + os.sep


@contextlib.contextmanager
def collected() -> Iterator[list[tuple[str, type[Warning]]]]:
    """The warnings of the checks made in this context, as (text, category)
    pairs, instead of being issued; other warnings pass as usual."""
    found: list[tuple[str, type[Warning]]] = []
    token = _COLLECTOR.set(found)
    try:
        yield found
    finally:
        _COLLECTOR.reset(token)


def validate_mode(mode: str) -> str:
    if mode not in CHECK_MODES:
        raise ValueError(f"check must be one of {', '.join(CHECK_MODES)}, "
                         f"not {mode!r}")
    return mode


@dataclass
class Checked:
    """One input of a call, as the checks see it."""

    q: Quantity
    label: str              # the name the caller used (column, variable)
    given_unit: str | None  # the unit of the caller's values (None: the
    #                         unit of the publication)
    to_given: Any = None    # converts a value back to the caller's unit
    derived: str = ""       # for a derived input: how (100 % - sand - clay)


@dataclass
class Tally:
    """What the checks know of a call's values: per input the smallest and
    largest value that is not NaN, the number of values and the number
    outside the range; for the texture, the samples whose sand + silt +
    clay is far from 100 %."""

    lo: list[float]
    hi: list[float]
    size: list[int]
    outside: list[int]
    sum_off: int = 0
    sum_lo: float = np.inf
    sum_hi: float = -np.inf
    samples: int = 0

    @classmethod
    def empty(cls, n: int) -> Tally:
        return cls([np.inf] * n, [-np.inf] * n, [0] * n, [0] * n)

    def merge(self, other: Tally) -> None:
        for i in range(len(self.lo)):
            self.lo[i] = min(self.lo[i], other.lo[i])
            self.hi[i] = max(self.hi[i], other.hi[i])
            self.size[i] += other.size[i]
            self.outside[i] += other.outside[i]
        self.sum_off += other.sum_off
        self.sum_lo = min(self.sum_lo, other.sum_lo)
        self.sum_hi = max(self.sum_hi, other.sum_hi)
        self.samples = max(self.samples, other.samples)


@dataclass
class Plan:
    """The checks of one function, prepared once per call."""

    ptf: PTF
    items: list[Checked]
    bounds: list[tuple[float, float, bool, bool] | None] = field(
        default_factory=list)
    texture: list[tuple[int, float]] = field(default_factory=list)
    role: str = "input"
    """``"input"``: physically possible ranges of the inputs (and the
    texture sum); ``"output"``: those of the outputs; ``"domain"``: the
    established calibration ranges of the inputs."""

    def __post_init__(self) -> None:
        self.bounds = []
        for c in self.items:
            q = c.q
            if q.range is None:
                self.bounds.append(None)
                continue
            lo, hi = q.range
            self.bounds.append((-np.inf if lo is None else lo,
                                np.inf if hi is None else hi,
                                q.range_open[0], q.range_open[1]))
        parts = {c.q.kind: i for i, c in enumerate(self.items)
                 if c.q.kind in TEXTURE and c.q.range is not None
                 and c.q.range[1]}
        if len(parts) == 3 and self.role == "input":
            # The upper end of a content's range is 100 % in its unit.
            self.texture = [(parts[k], 100.0 / float(
                self.items[parts[k]].q.range[1] or 1.0))  # type: ignore[index]
                for k in TEXTURE]

    def tally(self, values: Sequence[Any]) -> Tally:
        """The tally of one block of values (each in the unit of the
        publication; arrays that broadcast against each other)."""
        t = Tally.empty(len(values))
        for i, (v, b) in enumerate(zip(values, self.bounds)):
            if b is None:
                continue
            arr = np.asarray(v)
            if arr.size == 0 or arr.dtype.kind not in "biuf":
                continue
            lo = float(np.fmin.reduce(arr, axis=None))
            hi = float(np.fmax.reduce(arr, axis=None))
            t.size[i] = int(arr.size)
            if lo != lo:  # every value NaN
                continue
            t.lo[i], t.hi[i] = lo, hi
            if not (_within(lo, b) and _within(hi, b)):
                t.outside[i] = _count_outside(arr, b)
        if self.texture:
            total: Any = 0.0
            for i, f in self.texture:
                total = total + np.asarray(values[i], np.float64) * f
            total = np.asarray(total)
            off = np.abs(total - 100.0) > SUM_TOLERANCE
            t.samples = int(total.size)
            t.sum_off = int(np.count_nonzero(off))
            if t.sum_off:
                t.sum_lo = float(total[off].min())
                t.sum_hi = float(total[off].max())
        return t

    def report(self, tally: Tally, mode: str, stacklevel: int = 3,
               seen: Seen | None = None) -> None:
        """Warns or raises once with every problem the tally shows.  With
        ``seen`` (the blocks of lazy data), a warning whose problems were
        already reported for another block is not repeated."""
        if mode == "off":
            return
        found = [msg for i, c in enumerate(self.items)
                 if (msg := self._problem(c, i, tally))]
        if self.texture and tally.sum_off:
            labels = " + ".join(self.items[i].label for i, _ in self.texture)
            if tally.samples == 1:
                found.append(f"{labels} is {_fmt(tally.sum_lo)} %, far from "
                             "100 %: check the values and their units")
            else:
                found.append(
                    f"{labels} is far from 100 % in {tally.sum_off} of "
                    f"{tally.samples} samples (from {_fmt(tally.sum_lo)} to "
                    f"{_fmt(tally.sum_hi)} %): check the columns and their "
                    "units")
        if not found:
            return
        name = self.ptf.name
        text = (f"{name}: " + found[0] if len(found) == 1 else
                f"{name}:\n  " + "\n  ".join(found))
        domain = self.role == "domain"
        if mode == "raise":
            raise (DomainError if domain else RangeError)(text)
        if seen is not None:
            if not seen.first(text):
                return
            text += ("\n(in one block of the data; other blocks with such "
                     "values are not reported again)")
        text += ("\n(the values are returned as computed; check='off' "
                 "silences this)" if self.role == "output" else
                 "\n(the data are used as given; check='off' silences this)")
        warn(text, DomainWarning if domain else RangeWarning,
             stacklevel=stacklevel)

    def _problem(self, c: Checked, i: int, t: Tally) -> str | None:
        q = c.q
        if self.bounds[i] is None or t.size[i] == 0 or t.lo[i] > t.hi[i]:
            return None
        if self.role != "input":
            return self._outside(c, i, t)
        raw = (c.to_given(t.lo[i]), c.to_given(t.hi[i])) if c.to_given \
            else (t.lo[i], t.hi[i])
        n, n_out = t.size[i], t.outside[i]
        if n_out:
            label, how = c.label, f" ({_unit_words(c)})"
            if c.derived:
                label, how = f"the derived {q.name} = {c.derived}", ""
            if n == 1:
                what = (f"{label} is {_fmt(raw[0])}{how}, "
                        f"outside what {q.name} can be, {_range_text(q)}")
            else:
                some = "all" if n_out == n else f"{n_out} of"
                what = (f"{label} has values from {_fmt(raw[0])} to "
                        f"{_fmt(raw[1])}{how}, {some} {n} "
                        f"outside what {q.name} can be, {_range_text(q)}")
            if c.derived:
                return what + ": check the values it is derived from"
            # Another unit is the likely cause only when most values are
            # outside; a few are more likely wrong values.
            fix = _suggest(c, raw) if 2 * n_out > n else None
            if fix is not None:
                what += (f"; {'it fits' if n == 1 else 'they fit'} {fix}: "
                         f"pass units={{{c.label!r}: {fix!r}}}")
            return what
        if (q.kind in TEXTURE and (c.given_unit or q.unit) in ("percent",
                                                               "%")
                and 0 < raw[1] <= 1):
            return (f"{c.label} is in percent but every value is between 0 "
                    f"and 1 (up to {_fmt(raw[1])}): if these are mass "
                    f"fractions, pass units={{{c.label!r}: '1'}}")
        return None


    def _outside(self, c: Checked, i: int, t: Tally) -> str | None:
        """An output outside what its kind can be, or an input outside the
        calibration range."""
        n, n_out = t.size[i], t.outside[i]
        if not n_out:
            return None
        q = c.q
        if self.role == "output":
            subject, where = f"output {q.name}", f"what {q.name} can be"
        else:
            subject = c.label
            where = (f"the calibration range of {self.ptf.publication} "
                     f"for {q.name}")
        unit = f"in {q.unit_label}"
        if n == 1:
            return (f"{subject} is {_fmt(t.lo[i])} ({unit}), outside "
                    f"{where}, {_range_text(q)}")
        some = "all" if n_out == n else f"{n_out} of"
        return (f"{subject} has values from {_fmt(t.lo[i])} to "
                f"{_fmt(t.hi[i])} ({unit}), {some} {n} outside {where}, "
                f"{_range_text(q)}")

    def outside_counts(self, tally: Tally) -> dict[str, int]:
        """The number of values outside the range, by item label, for the
        items that have any."""
        return {c.label: tally.outside[i] for i, c in enumerate(self.items)
                if tally.outside[i]}


def _within(x: float, b: tuple[float, float, bool, bool]) -> bool:
    lo, hi, lo_open, hi_open = b
    return lo < x < hi or (x == lo and not lo_open) or (
        x == hi and not hi_open)


def _count_outside(arr: np.ndarray, b: tuple[float, float, bool, bool]
                   ) -> int:
    lo, hi, lo_open, hi_open = b
    bad = (arr <= lo) if lo_open else (arr < lo)
    bad |= (arr >= hi) if hi_open else (arr > hi)
    return int(np.count_nonzero(bad))


def _fmt(x: float) -> str:
    return f"{x:.6g}"


def _range_text(q: Quantity) -> str:
    return f"{format_range(q.range, q.range_open)} {q.unit_label}"


def _inside(x: float, q: Quantity) -> bool:
    assert q.range is not None
    lo, hi = q.range
    return _within(x, (-np.inf if lo is None else lo,
                       np.inf if hi is None else hi, *q.range_open))


def _suggest(c: Checked, extremes: tuple[float, float]) -> str | None:
    """A unit under which every given value would be possible."""
    try:
        from . import units
        target = units.parse(c.q.unit)
        dim = str(target.dimensionality)
    except (ImportError, ValueError):
        return None
    given = c.given_unit or c.q.unit
    for cand in _CANDIDATES.get(dim, []):
        if units.same_unit(cand, given):
            continue
        try:
            conv = units.conversion(cand, c.q.unit)
        except (units.UnitError, ImportError):
            continue
        lo, hi = (conv.apply(np.float64(x)) for x in extremes)
        if _inside(float(lo), c.q) and _inside(float(hi), c.q):
            return cand
    return None


def _unit_words(c: Checked) -> str:
    if c.given_unit is None:
        return "taken to be in the unit of the publication"
    return f"given in {c.given_unit}"


def scalar_flags(ptf: PTF) -> tuple[tuple[int, ...],
                                    tuple[tuple[int, float], ...]]:
    """For the quick check of a call on plain numbers: the inputs that are
    texture fractions in percent, and (input, factor to percent) of the
    three texture fractions when the function takes all three."""
    plan = Plan(ptf, [Checked(q, q.name, None) for q in ptf.inputs])
    pct = tuple(i for i, q in enumerate(ptf.inputs)
                if q.kind in TEXTURE and q.unit in ("percent", "%"))
    return pct, tuple(plan.texture)


def output_plan(ptf: PTF) -> Plan:
    """The check of a function's outputs against what their kinds can
    physically be (in the unit of the publication)."""
    return Plan(ptf, [Checked(q, q.name, None) for q in ptf.outputs],
                role="output")


def domain_plan(ptf: PTF, items: Sequence[Checked] | None = None
                ) -> Plan | None:
    """The check of the inputs against the established calibration ranges
    of the function's publication (None where none is established, the
    common case).  Each range is held in the kind's canonical unit and
    converted to the unit of the input."""
    domain = ptf.domain()
    if not domain:
        return None
    from dataclasses import replace

    from ._catalog import kinds
    from . import units

    base = list(items) if items is not None else [
        Checked(q, q.name, None) for q in ptf.inputs]
    checked = []
    for c in base:
        rng = domain.get(c.q.kind)
        kind = kinds().get(c.q.kind)
        if rng is None or kind is None or kind.unit is None or \
                not c.q.established or c.q.log10:
            checked.append(Checked(replace(c.q, range=None), c.label, None))
            continue
        conv = units.conversion(kind.unit, c.q.unit)
        lo, hi = (None if v is None else float(conv.apply(np.float64(v)))
                  for v in rng)
        checked.append(Checked(replace(c.q, range=(lo, hi),
                                       range_open=(False, False)),
                               c.label, None))
    return Plan(ptf, checked, role="domain")


def group_problem(ptf: PTF, group: str | None) -> str | None:
    """The text of a domain warning for soils stated to be of another
    group than the one the variant was fitted to; None where they fit or
    the function answers for every group."""
    if group is None or ptf.group is None:
        return None
    if _norm(group) == _norm(ptf.group.name):
        return None
    return (f"{ptf.name} was fitted to {ptf.group.describe()} only; the "
            f"soils are stated to be {group!r}")


def _norm(text: str) -> str:
    """A group name compared without case, punctuation or a parenthesis:
    "Calcic Luvisol (FAO-UNESCO legend)" is "calcic_luvisol"."""
    text = re.sub(r"\(.*?\)", " ", text.lower())
    return re.sub(r"[^a-z0-9]+", " ", text).strip()


def report_group(ptf: PTF, group: str | None, mode: str,
                 stacklevel: int = 3) -> None:
    """Warns (or raises) once where the stated group is not the
    variant's."""
    text = group_problem(ptf, group) if mode != "off" else None
    if text is None:
        return
    if mode == "raise":
        raise DomainError(text)
    warn(text + "\n(check='off' silences this)", DomainWarning,
         stacklevel=stacklevel)


def run_checks(ptf: PTF, values: Sequence[Any], mode: str,
               items: Sequence[Checked] | None = None,
               stacklevel: int = 3, seen: Seen | None = None,
               prepare: Callable[[Plan], None] | None = None) -> None:
    """Checks one call's inputs (whole arrays, in the unit of the
    publication); warns or raises once with every problem.  ``prepare``
    may adjust the plan before it is tallied (leave out checks made
    already)."""
    if mode == "off":
        return
    plan = Plan(ptf, list(items) if items is not None else
                [Checked(q, q.name, None) for q in ptf.inputs])
    if prepare is not None:
        prepare(plan)
    plan.report(plan.tally(values), mode, stacklevel + 1, seen)
    domain = domain_plan(ptf, plan.items)
    if domain is not None:
        domain.report(domain.tally(values), mode, stacklevel + 1, seen)


def check_outputs(ptf: PTF, outputs: Sequence[Any], mode: str,
                  stacklevel: int = 3, seen: Seen | None = None
                  ) -> dict[str, int] | None:
    """Checks one call's outputs (in the unit of the publication) against
    what their kinds can be; warns or raises once with every problem and
    returns the number of values outside, by output name (None with
    ``check="off"``)."""
    if mode == "off":
        return None
    plan = output_plan(ptf)
    tally = plan.tally(outputs)
    plan.report(tally, mode, stacklevel + 1, seen)
    return plan.outside_counts(tally)
