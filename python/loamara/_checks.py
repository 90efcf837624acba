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
"""
from __future__ import annotations

import warnings
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

import numpy as np

from ._catalog import PTF, Quantity, format_range

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


@dataclass
class Checked:
    """One input of a call, as the checks see it."""

    q: Quantity
    values: Any           # in the unit of the publication (q.unit)
    raw: Any              # as given, before any conversion
    given_unit: str | None  # the unit the caller's values are in
    label: str            # the name the caller used (column, variable)


def validate_mode(mode: str) -> str:
    if mode not in CHECK_MODES:
        raise ValueError(f"check must be one of {', '.join(CHECK_MODES)}, "
                         f"not {mode!r}")
    return mode


def _extremes(values: Any) -> tuple[float, float] | None:
    """Smallest and largest non-NaN value, or None if there is none."""
    arr = np.asarray(values)
    if arr.size == 0 or arr.dtype.kind not in "biuf":
        return None
    lo = np.fmin.reduce(arr, axis=None)
    hi = np.fmax.reduce(arr, axis=None)
    if np.isnan(lo):
        return None
    return float(lo), float(hi)


def _outside(values: Any, rng: tuple[Any, Any],
             open_: tuple[bool, bool]) -> int:
    arr = np.asarray(values)
    lo, hi = rng
    bad = np.zeros(arr.shape, dtype=bool)
    if lo is not None:
        bad |= (arr <= lo) if open_[0] else (arr < lo)
    if hi is not None:
        bad |= (arr >= hi) if open_[1] else (arr > hi)
    return int(np.count_nonzero(bad))


def _fmt(x: float) -> str:
    return f"{x:.6g}"


def _range_text(q: Quantity) -> str:
    return f"{format_range(q.range, q.range_open)} {q.unit_label}"


def _inside(x: float, q: Quantity) -> bool:
    assert q.range is not None
    lo, hi = q.range
    if lo is not None and (x <= lo if q.range_open[0] else x < lo):
        return False
    if hi is not None and (x >= hi if q.range_open[1] else x > hi):
        return False
    return True


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


def _problems(ptf: PTF, items: Sequence[Checked]) -> list[str]:
    found: list[str] = []
    for c in items:
        q = c.q
        if q.range is None:
            continue
        ext = _extremes(c.values)
        if ext is None:
            continue
        n_out = 0 if (_inside(ext[0], q) and _inside(ext[1], q)) else \
            _outside(c.values, q.range, q.range_open)
        raw_ext = _extremes(c.raw) or ext
        if n_out:
            n = np.size(c.values)
            if n == 1:
                what = (f"{c.label} is {_fmt(raw_ext[0])} "
                        f"({_unit_words(c)}), outside what {q.name} can be, "
                        f"{_range_text(q)}")
            else:
                some = "all" if n_out == n else f"{n_out} of"
                what = (f"{c.label} has values from {_fmt(raw_ext[0])} to "
                        f"{_fmt(raw_ext[1])} ({_unit_words(c)}), {some} {n} "
                        f"outside what {q.name} can be, {_range_text(q)}")
            fix = _suggest(c, raw_ext)
            if fix is not None:
                what += (f"; {'it fits' if n == 1 else 'they fit'} {fix}: "
                         f"pass units={{{c.label!r}: {fix!r}}}")
            found.append(what)
        elif (q.kind in TEXTURE and (c.given_unit or q.unit) in
              ("percent", "%") and 0 < raw_ext[1] <= 1):
            found.append(
                f"{c.label} is in percent but every value is between 0 "
                f"and 1 (up to {_fmt(raw_ext[1])}): if these are mass "
                f"fractions, pass units={{{c.label!r}: '1'}}")
    found += _texture_sum(items)
    return found


def scalar_flags(ptf: PTF) -> tuple[tuple[int, ...],
                                    tuple[tuple[int, float], ...]]:
    """For the quick check of a call on plain numbers: the inputs that are
    texture fractions in percent, and (input, factor to percent) of the
    three texture fractions when the function takes all three."""
    pct = tuple(i for i, q in enumerate(ptf.inputs)
                if q.kind in TEXTURE and q.unit in ("percent", "%"))
    parts = {q.kind: (i, q) for i, q in enumerate(ptf.inputs)
             if q.kind in TEXTURE and q.range is not None and q.range[1]}
    triple: tuple[tuple[int, float], ...] = ()
    if len(parts) == 3:
        triple = tuple((i, 100.0 / float(q.range[1] or 1.0))  # type: ignore[index]
                       for i, q in (parts[k] for k in TEXTURE))
    return pct, triple


def _texture_sum(items: Sequence[Checked]) -> list[str]:
    parts = {c.q.kind: c for c in items if c.q.kind in TEXTURE}
    if len(parts) < 3 or any(parts[k].q.range is None for k in TEXTURE):
        return []
    total: Any = 0.0
    for k in TEXTURE:
        c = parts[k]
        hi = c.q.range[1]  # type: ignore[index]
        if not hi:
            return []
        # The upper end of a content's range is 100 % in its unit.
        total = total + np.asarray(c.values, dtype=np.float64) * (100.0 / hi)
    off = np.abs(total - 100.0) > SUM_TOLERANCE
    n_off = int(np.count_nonzero(off))
    if not n_off:
        return []
    bad = np.asarray(total)[off] if np.ndim(total) else np.asarray([total])
    labels = " + ".join(parts[k].label for k in TEXTURE)
    if np.size(total) == 1:
        return [f"{labels} is {_fmt(float(bad.min()))} %, far from 100 %: "
                "check the values and their units"]
    return [f"{labels} is far from 100 % in {n_off} of {np.size(total)} "
            f"samples (from {_fmt(float(bad.min()))} to "
            f"{_fmt(float(bad.max()))} %): check the columns and their "
            "units"]


def run_checks(ptf: PTF, items: Sequence[Checked], mode: str,
               stacklevel: int = 3) -> None:
    """Checks one call's inputs; warns or raises once with every problem."""
    if mode == "off":
        return
    found = _problems(ptf, items)
    if not found:
        return
    text = (f"{ptf.name}: " + "; ".join(found) if len(found) == 1 else
            f"{ptf.name}:\n  " + "\n  ".join(found))
    if mode == "raise":
        raise RangeError(text)
    text += "\n(the data are used as given; check='off' silences this)"
    warnings.warn(text, RangeWarning, stacklevel=stacklevel)
