"""Ensembles: every applicable pedotransfer function for one quantity, in
one unit, with the spread across functions.

Functions disagree, often by more than their calibration error suggests;
the spread of an ensemble of them is a first measure of how well a
quantity is known from the data at hand.  :func:`ensemble` evaluates every
function that estimates the target kind (``"theta_33"``, ``"ksat"``, ...)
from the data given, converts every result to the kind's unit, and
returns them side by side with their mean, median, minimum, maximum,
standard deviation and count across functions.  Only outputs of exactly
that kind are gathered: gravimetric and volumetric water contents, or
water contents at different suctions, are never averaged together.
"""
from __future__ import annotations

import functools
import importlib
import warnings
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from ._catalog import kinds
from ._estimate import Result, estimate
from ._applicable import Candidate, applicable
from .presets import Preset, Variable
from .presets import get as get_preset

__all__ = ["ensemble", "Ensemble", "STATISTICS"]

STATISTICS = ("mean", "median", "min", "max", "std", "n", "n_outside")


@dataclass
class Ensemble:
    """The members of an ensemble and their statistics across functions.

    ``members`` holds one estimate per function: a pandas DataFrame (one
    column per function) for pandas inputs, an xarray DataArray with a
    ``ptf`` dimension for xarray inputs, else a NumPy array whose last axis
    runs over the functions.  ``mean``, ``median``, ``min``, ``max`` and
    ``std`` (sample standard deviation, NaN below two values) skip NaN;
    ``n`` counts the functions with a value and ``n_outside`` those whose
    value is physically impossible for the kind (a negative conductivity,
    a water content above 1): they are kept in every statistic, and
    counted so that they are seen."""

    kind: str
    unit: str
    names: list[str]
    members: Any
    stats: dict[str, Any]
    notes: dict[str, list[str]] = field(default_factory=dict)

    def __getattr__(self, name: str) -> Any:
        if name in STATISTICS:
            return self.stats[name]
        raise AttributeError(name)

    def to_frame(self) -> Any:
        """Members and statistics as one pandas DataFrame."""
        pd: Any = importlib.import_module("pandas")

        if isinstance(self.members, pd.DataFrame):
            frame = self.members.copy()
        else:
            m = np.asarray(self.members)
            frame = pd.DataFrame(m.reshape(-1, m.shape[-1]),
                                 columns=self.names)
        for s in STATISTICS:
            frame[s] = np.asarray(self.stats[s]).reshape(-1)
        return frame

    def to_dataset(self) -> Any:
        """Members (along ``ptf``) and statistics as an xarray Dataset."""
        xr: Any = importlib.import_module("xarray")

        members = self.members
        if not isinstance(members, xr.DataArray):
            raise TypeError("to_dataset needs an ensemble of xarray inputs")
        data = {self.kind: members}
        for s in STATISTICS:
            data[f"{self.kind}_{s}"] = self.stats[s]
        return xr.Dataset(data)


def _names(cands: list[Candidate]) -> list[str]:
    short = [c.ptf.short_name for c in cands]
    return [s if short.count(s) == 1 else f"{s}.{c.output.name}"
            for s, c in zip(short, cands)]


def _given_preset(data: Any, inputs: Mapping[str, Any],
                  units: Mapping[str, str] | None,
                  preset: Preset | None,
                  names: Mapping[str, str] | None = None
                  ) -> tuple[dict[str, str | None], Preset]:
    from ._applicable import kind_of

    have: dict[str, str | None] = {}
    if data is not None:
        keys = (list(data.data_vars) if hasattr(data, "data_vars") else
                list(data.columns) if hasattr(data, "columns") else
                list(data.keys()))
        for k in keys:
            have[str(k)] = None
    for k in inputs:
        have[k] = None
    for k, u in (units or {}).items():
        if k not in have:
            raise TypeError(f"units given for {k!r}, which is not among the "
                            "data: " + ", ".join(have))
        have[k] = u
    variables = {}
    for name, unit in have.items():
        named = (names or {}).get(name)
        kind = kind_of(named or name, preset)
        if kind is None:
            continue
        if unit is None and preset is not None and preset.match(name):
            unit = preset.match(name)[1].unit  # type: ignore[index]
        variables[name] = Variable(kind, unit or "")
    return have, Preset("given", "the data of an ensemble", variables)


def ensemble(target: str, data: Any = None, *,
             units: Mapping[str, str] | None = None,
             preset: str | Preset | None = None, check: str = "warn",
             ptfs: Iterable[str] | None = None, threads: int | None = None,
             names: Mapping[str, str] | None = None,
             **inputs: Any) -> Ensemble:
    """Every applicable function for the kind ``target``, on ``data`` (a
    dict, DataFrame or Dataset) and/or keyword inputs, in the kind's unit,
    with the statistics across functions.  ``units`` and ``preset`` say the
    units of the data as for :func:`loamara.estimate`; ``ptfs`` restricts
    the functions, ``names`` gives the quantity a variable stands for when
    its name does not tell (``{"SAND_PCT": "sand"}``).  Raises ValueError
    when no function applies."""
    if target not in kinds():
        raise ValueError(f"unknown kind {target!r}")
    unit = kinds()[target].unit
    if unit is None:
        raise ValueError(f"kind {target!r} has no unit to gather results in")
    base = get_preset(preset) if preset is not None else None
    have, given = _given_preset(data, inputs, units, base, names)
    cands = _candidates(target, tuple(sorted(given.variables.items())),
                        None if ptfs is None else tuple(ptfs))
    if not cands:
        raise ValueError(
            f"no function estimates {target} from "
            + (", ".join(have) or "nothing")
            + "; `loamara which --have ...` lists what these data allow")
    labels = _names(cands)
    values = []
    notes: dict[str, list[str]] = {}
    seen: set[str] = set()
    for name, c in zip(labels, cands):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            r = _member(c, data, inputs, given, unit, check, threads)
        for w in caught:  # each problem of the data once, not per member
            text = str(w.message).split(":", 1)[-1]
            if text not in seen:
                seen.add(text)
                warnings.warn_explicit(w.message, w.category, w.filename,
                                       w.lineno)
        values.append(r[c.output.name])
        notes[name] = c.conversions()
    members, stats = _gather(values, labels, target, _physical(target))
    return Ensemble(target, unit, labels, members, stats, notes)


@functools.lru_cache(maxsize=64)
def _candidates(target: str, variables: tuple[tuple[str, Variable], ...],
                ptfs: tuple[str, ...] | None) -> list[Candidate]:
    """The functions of an ensemble, found once for the same data layout
    (the command line asks again for every chunk of a table)."""
    found = applicable({k: v.unit or None for k, v in variables},
                       target=target, ptfs=ptfs,
                       kinds_of_names={k: v.kind for k, v in variables})
    return found.get(target, [])


def _member(c: Candidate, data: Any, inputs: Mapping[str, Any],
            given: Preset, unit: str, check: str,
            threads: int | None) -> Result:
    extra: dict[str, Any] = {}
    extra_units: dict[str, str] = {}
    for step in c.steps:
        first = estimate(step.ptf, data=data, preset=given, check=check,
                         threads=threads, **_used(step.ptf, inputs))
        extra[step.input] = first[step.output]
        extra_units[step.input] = first.units[step.output]
    return estimate(c.ptf, data=data, preset=given, check=check,
                    threads=threads, units=extra_units or None,
                    out_units={c.output.name: unit},
                    **_used(c.ptf, inputs), **extra)


def _used(ptf: Any, inputs: Mapping[str, Any]) -> dict[str, Any]:
    """Keyword inputs this function takes by name (the others reach it
    through their kinds, or not at all)."""
    names = set(ptf.input_names) | {a for q in ptf.inputs
                                    for a in q.aliases}
    return {k: v for k, v in inputs.items() if k in names}


def _physical(kind: str) -> Any:
    """A function telling, elementwise, whether values of the kind are
    outside its physical range (NaN is not)."""
    k = kinds()[kind]
    lo, hi = k.range if k.range is not None else (None, None)

    def outside(x: Any) -> Any:
        bad = x != x
        bad = bad & False
        if lo is not None:
            bad = bad | ((x <= lo) if k.range_open[0] else (x < lo))
        if hi is not None:
            bad = bad | ((x >= hi) if k.range_open[1] else (x > hi))
        return bad
    return outside


def _statistics(stack: np.ndarray, outside: Any) -> tuple[np.ndarray, ...]:
    """The statistics over the last axis (the functions), in the order of
    STATISTICS; NaN members are skipped, and a sample without any value
    gets NaN (and counts of 0) without a warning."""
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)
        n = np.sum(~np.isnan(stack), axis=-1)
        std = (np.nanstd(stack, axis=-1, ddof=1) if stack.shape[-1] >= 2
               else np.full(stack.shape[:-1], np.nan))
        return (np.nanmean(stack, axis=-1), np.nanmedian(stack, axis=-1),
                np.nanmin(stack, axis=-1), np.nanmax(stack, axis=-1),
                np.where(n >= 2, std, np.nan), n.astype(np.float64),
                np.sum(outside(stack), axis=-1).astype(np.float64))


def _gather(values: list[Any], names: list[str], kind: str,
            outside: Any) -> tuple[Any, dict[str, Any]]:
    import sys

    xr: Any = sys.modules.get("xarray")
    if xr is not None and any(isinstance(v, xr.DataArray) for v in values):
        members = xr.concat([v.rename(kind) if isinstance(v, xr.DataArray)
                             else xr.DataArray(v) for v in values],
                            dim="ptf", coords="minimal", compat="override")
        members = members.assign_coords(ptf=names)
        if getattr(members, "chunks", None):
            members = members.chunk({"ptf": -1})
        # All statistics of a block in one pass, lazily for dask data.
        results = xr.apply_ufunc(
            lambda a: _statistics(a, outside), members,
            input_core_dims=[["ptf"]],
            output_core_dims=[[] for _ in STATISTICS],
            dask="parallelized",
            output_dtypes=[np.float64] * len(STATISTICS))
        unit = members.attrs.get("units")
        stats = {}
        for k, v in zip(STATISTICS, results):
            v.attrs = ({"units": unit} if unit and not k.startswith("n")
                       else {})
            stats[k] = v.rename(f"{kind}_{k}")
        return members, stats
    pd: Any = sys.modules.get("pandas")
    index = next((v.index for v in values if pd is not None
                  and isinstance(v, pd.Series)), None)
    arrays = [np.asarray(v, dtype=np.float64) for v in values]
    shape = np.broadcast_shapes(*(a.shape for a in arrays))
    stack = np.stack([np.broadcast_to(a, shape) for a in arrays], axis=-1)
    stats = dict(zip(STATISTICS, _statistics(stack, outside)))
    if index is not None and stack.ndim == 2:
        members = pd.DataFrame(stack, index=index, columns=names)
        stats = {k: pd.Series(v, index=index, name=k)
                 for k, v in stats.items()}
        return members, stats
    return stack, stats
