"""Ensembles: the applicable pedotransfer functions for one quantity, in
one unit, with the spread across functions.

Functions disagree, often by more than their calibration error suggests;
the spread of an ensemble of them is a first measure of how well a
quantity is known from the data at hand.  :func:`ensemble` evaluates the
functions that estimate the target kind (``"theta_33"``, ``"ksat"``, ...)
from the data given, converts every result to the kind's unit, and returns
them side by side with statistics across functions.

Members.  By default each publication contributes once per kind, with its
general variant; variants fitted to one soil group or region join only
when the caller names the group (``groups=``), and ``members="all"`` takes
every function with an output of the kind.  Where a publication has
several general variants for the kind, the member is the one without a
documented doubt, then the one using the most of the data given (distinct
variables), then the first in the catalog.  A function whose outputs are
the parameters of a retention curve contributes to each water content at a
fixed suction (and to available water, theta at 33 minus theta at 1500
kPa) through its curve at that suction, unless its publication gives a
point estimate of the kind, which then counts alone.  Each member carries
the reason it is in (:attr:`Ensemble.reasons`).  Only outputs of exactly the
target kind are gathered: gravimetric and volumetric water contents, or
water contents at different suctions, are never pooled.

Statistics.  The kind says how its values are summarised
(``loamara.kinds()[k].summary``): arithmetic mean and sample standard
deviation for water contents and other ``"linear"`` kinds; geometric mean
and standard deviation of log10 for conductivities, alpha and air-entry
suctions (``"log"``), whose quantiles are taken on log10 as well.  Every
kind gets the median, the quartiles and the interquartile range.  Member
values that are physically impossible for the kind are counted
(``n_outside``) and left out of the statistics unless ``keep_outside=True``;
members whose inputs lie outside the established calibration ranges of
their publication are counted (``n_extrapolated``) and left out with
``domain="strict"``.
"""
from __future__ import annotations

import functools
import importlib
import sys
import threading
import warnings
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from . import _checks
from ._applicable import Candidate, applicable, needs_text
from ._catalog import PTF, catalog, kinds, lookup
from ._estimate import Result, estimate, shared_derivations
from .presets import Preset, Variable
from .presets import get as get_preset

__all__ = ["ensemble", "Ensemble", "Member", "select_members",
           "omitted_members",
           "statistics", "MEMBER_CHOICES", "DOMAIN_CHOICES"]

MEMBER_CHOICES = ("default", "all")
DOMAIN_CHOICES = ("keep", "strict")

# The statistics of each summary, in the order of the columns written.
_COMMON = ("median", "q25", "q75")
_COUNTS = ("min", "max", "n", "n_outside", "n_extrapolated")
_LINEAR = ("mean", "std", *_COMMON, "iqr", *_COUNTS)
_LOG = ("gmean", "std_log10", *_COMMON, "iqr_log10", *_COUNTS)

# Statistics without the kind's unit (counts, and spreads of log10 values).
UNITLESS = frozenset({"n", "n_outside", "n_extrapolated", "std_log10",
                      "iqr_log10"})

# Group types that name predictor sets rather than soils: such variants are
# general variants.
_NOT_A_SOIL_GROUP = ("predictor set",)


def statistics(kind: str, weights: str | None = None) -> tuple[str, ...]:
    """The statistics an ensemble of ``kind`` reports, in order."""
    names: tuple[str, ...] = _LOG if kinds()[kind].summary == "log" \
        else _LINEAR
    if weights is not None:
        names = (names[0], "weighted_mean", *names[1:])
    return names


@dataclass(frozen=True)
class Member:
    """One function of an ensemble and why it is in."""

    label: str
    candidate: Candidate
    reason: str
    suctions: tuple[float, ...] = ()
    """For a member through its retention curve: the suctions (kPa) at
    which the curve is read (two for available water: 33 minus 1500)."""

    @property
    def ptf(self) -> PTF:
        return self.candidate.ptf

    @property
    def from_curve(self) -> bool:
        return bool(self.suctions)


class _Deferred:
    """A value built the first time it is asked for."""

    def __init__(self, build: Any) -> None:
        self.build = build


@dataclass(repr=False)
class Ensemble:
    """The members of an ensemble and their statistics across functions.

    ``members`` holds one estimate per function: a pandas DataFrame (one
    column per function) for pandas inputs, an xarray DataArray with a
    ``ptf`` dimension for xarray inputs, else a NumPy array whose last axis
    runs over the functions.  ``stats`` holds the statistics of
    :func:`statistics` (also as attributes: ``e.gmean``, ``e.median``);
    they skip NaN, and a statistic without the values it needs is NaN.
    ``reasons`` says why each member is in, ``notes`` what each call did
    to the data, ``curves`` which members are read off a curve, and
    ``omitted`` why functions of the kind that are not members are left
    out (a quantity the data lack, such as HYPRES' topsoil indicator, or a
    package not installed)."""

    kind: str
    unit: str
    names: list[str]
    members: Any
    stats: dict[str, Any]
    notes: dict[str, list[str]] = field(default_factory=dict)
    reasons: dict[str, str] = field(default_factory=dict)
    curves: list[str] = field(default_factory=list)
    summary: str = "linear"
    omitted: dict[str, str] = field(default_factory=dict)

    def __post_init__(self) -> None:
        if isinstance(self.members, _Deferred):  # built when asked for
            self.__dict__["_deferred"] = self.__dict__.pop("members")

    def __getattr__(self, name: str) -> Any:
        if name == "members" and "_deferred" in self.__dict__:
            value = self.__dict__.pop("_deferred").build()
            self.__dict__["members"] = value
            return value
        stats = self.__dict__.get("stats", {})
        if name in stats:
            return stats[name]
        raise AttributeError(name)

    def __repr__(self) -> str:
        shape = np.shape(self.members)
        soils = int(np.prod(shape[:-1])) if len(shape) > 1 else 1
        return (f"<Ensemble {self.kind} [{self.unit}]: {len(self.names)} "
                f"members, {soils} soil{'s' * (soils != 1)}, "
                f"{'log10' if self.summary == 'log' else 'linear'} "
                "summary>")

    def __str__(self) -> str:
        lines = [repr(self)[1:-1], "members:"]
        width = max((len(n) for n in self.names), default=0)
        for n in self.names:
            lines.append(f"  {n:<{width}}  {self.reasons.get(n, '')}")
        if self.omitted:
            lines.append("not members:")
            width = max(len(n) for n in self.omitted)
            for n, why in self.omitted.items():
                lines.append(f"  {n:<{width}}  {why}")
        values = {k: np.asarray(v, dtype=np.float64).reshape(-1)
                  for k, v in self.stats.items()}
        shown = min(len(next(iter(values.values()), [])), 5)
        if shown:
            lines.append("statistics" + (" (first 5 soils)" if shown == 5
                                         and len(next(iter(
                                             values.values()))) > 5
                                         else "") + ":")
            for k, v in values.items():
                cells = " ".join(f"{x:10.4g}" for x in v[:shown])
                unit = "" if k in UNITLESS else f" [{self.unit}]"
                lines.append(f"  {k + unit:<28} {cells}")
        return "\n".join(lines)

    def to_frame(self) -> Any:
        """Members and statistics as one pandas DataFrame."""
        pd: Any = importlib.import_module("pandas")

        if isinstance(self.members, pd.DataFrame):
            frame = self.members.copy()
        else:
            m = np.asarray(self.members)
            if self.names and m.shape[0] == len(self.names) and m.ndim > 1 \
                    and hasattr(self.members, "dims"):
                m = np.moveaxis(m, 0, -1)
            frame = pd.DataFrame(m.reshape(-1, m.shape[-1]),
                                 columns=self.names)
        for s, v in self.stats.items():
            frame[s] = np.asarray(v).reshape(-1)
        return frame

    def to_dataset(self) -> Any:
        """Members (along ``ptf``) and statistics as an xarray Dataset."""
        xr: Any = importlib.import_module("xarray")

        members = self.members
        if not isinstance(members, xr.DataArray):
            raise TypeError("to_dataset needs an ensemble of xarray inputs")
        data = {self.kind: members}
        for s, v in self.stats.items():
            data[f"{self.kind}_{s}"] = v
        return xr.Dataset(data)


def _names(cands: Sequence[Candidate]) -> list[str]:
    short = [c.ptf.short_name for c in cands]
    return [s if short.count(s) == 1 else f"{s}.{c.output.name}"
            for s, c in zip(short, cands)]


def given_preset(data: Any, inputs: Mapping[str, Any],
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
             members: str = "default",
             groups: Iterable[str] | None = None,
             keep_outside: bool = False, domain: str = "keep",
             weights: str | None = None,
             **inputs: Any) -> Ensemble:
    """The applicable functions for the kind ``target``, on ``data`` (a
    dict, DataFrame or Dataset) and/or keyword inputs, in the kind's unit,
    with the statistics across functions.

    ``units`` and ``preset`` say the units of the data as for
    :func:`loamara.estimate`; ``names`` gives the quantity a variable
    stands for when its name does not tell (``{"SAND_PCT": "sand"}``);
    ``ptfs`` restricts the functions.  ``members`` is ``"default"`` (one
    general variant per publication, curves included) or ``"all"`` (every
    function with an output of the kind); ``groups`` names soil groups or
    regions (``["Calcic Cambisol"]``) whose fitted variants take the place
    of their publication's general variant.  ``keep_outside=True`` keeps
    physically impossible values in the statistics; ``domain="strict"``
    leaves out members outside their established calibration ranges;
    ``weights="rmse"`` adds the inverse-variance weighted mean of the
    members by their published RMSE.  Raises ValueError when no function
    applies."""
    if target not in kinds():
        raise ValueError(f"unknown kind {target!r}")
    unit = kinds()[target].unit
    if unit is None:
        raise ValueError(f"kind {target!r} has no unit to gather results in")
    _choice("domain", domain, DOMAIN_CHOICES)
    if weights not in (None, "rmse"):
        raise ValueError(f"weights must be None or 'rmse', not {weights!r}")
    base = get_preset(preset) if preset is not None else None
    if data is None and inputs:
        # Keyword inputs are the data: a function then finds what it
        # derives its inputs from among them too (the USDA class of the
        # class tables from sand, silt and clay).
        data, inputs = dict(inputs), {}
    have, given = given_preset(data, inputs, units, base, names)
    chosen = select_members(target, given.variables, ptfs, members, groups)
    omitted = omitted_members(target, given.variables, ptfs, members,
                              groups)
    if not chosen:
        raise ValueError(
            f"no function estimates {target} from "
            + (", ".join(have) or "nothing")
            + "; `loamara which --have ...` lists what these data allow"
            + "".join(f"; {n} {why}" for n, why in omitted.items()))
    rmse = _rmse(chosen, target) if weights == "rmse" else None
    values, flags = [], []
    notes: dict[str, list[str]] = {}
    seen: set[str] = set()
    with shared_derivations():  # e.g. one texture class for all members
        for m in chosen:
            with _checks.collected() as found:
                values.append(_member(m, data, inputs, given, unit, check,
                                      threads))
                flags.append(_extrapolated(m, data, inputs, given))
            for text, category in found:  # each problem of the data once
                key = text.split(":", 1)[-1]
                if key not in seen:
                    seen.add(key)
                    warnings.warn(text, category, stacklevel=2)
            notes[m.label] = m.candidate.conversions()
            doubt = getattr(m.ptf, "doubt", None)
            if doubt:
                notes[m.label].append(f"doubt: {doubt}")
    labels = [m.label for m in chosen]
    summary = kinds()[target].summary
    stat_names = statistics(target, weights)
    row = _range_row(target, log=summary == "log", keep_outside=keep_outside,
                     strict=domain == "strict", weighted=rmse is not None)
    stats_of = functools.partial(
        _statistics, names=stat_names, range_row=row,
        weights=None if rmse is None else 1.0 / (rmse * rmse))
    stacked, stats = _gather(values, flags, labels, target, stats_of,
                             stat_names, threads)
    return Ensemble(target, unit, labels, stacked, stats, notes,
                    {m.label: m.reason for m in chosen},
                    [m.label for m in chosen if m.from_curve], summary,
                    omitted)


def _choice(what: str, value: Any, choices: Sequence[str]) -> None:
    if value not in choices:
        raise ValueError(f"{what} must be one of "
                         + ", ".join(map(repr, choices)) + f", not {value!r}")


def select_members(target: str, variables: Mapping[str, Variable],
                   ptfs: Iterable[str] | None = None,
                   members: str = "default",
                   groups: Iterable[str] | None = None) -> list[Member]:
    """The members of an ensemble of ``target`` for data of these
    variables (name -> kind and unit), by the rules of the module."""
    return list(_selection(target, variables, ptfs, members, groups)[0])


def omitted_members(target: str, variables: Mapping[str, Variable],
                    ptfs: Iterable[str] | None = None,
                    members: str = "default",
                    groups: Iterable[str] | None = None) -> dict[str, str]:
    """The functions of ``target`` left out of its ensemble on these
    variables, with the reason: the package that evaluates them is not
    installed, or (where their publication contributes no member) the one
    quantity the data lack (``"needs topsoil ..."``)."""
    return dict(_selection(target, variables, ptfs, members, groups)[1])


def _selection(target: str, variables: Mapping[str, Variable],
               ptfs: Iterable[str] | None, members: str,
               groups: Iterable[str] | None
               ) -> tuple[tuple[Member, ...], tuple[tuple[str, str], ...]]:
    _choice("members", members, MEMBER_CHOICES)
    wanted = tuple(sorted({_norm(g) for g in groups or ()}))
    if wanted:
        known = {_norm(n): n for n in group_names()}
        unknown = [g for g in groups or () if _norm(g) not in known]
        if unknown:
            raise ValueError(
                "no function is fitted to the group "
                + ", ".join(map(repr, unknown)) + "; the groups are: "
                + (", ".join(sorted(known.values())) or "none"))
    return _select(target, tuple(sorted(variables.items())),
                   None if ptfs is None else tuple(ptfs), members, wanted)


def group_names() -> list[str]:
    """The soil groups and regions that variants of the catalog are fitted
    to (the names ``groups=`` takes)."""
    return sorted({g.name for p in catalog()
                   if (g := _soil_group(p)) is not None})


def _soil_group(p: PTF) -> Any:
    g = getattr(p, "group", None)
    if g is None or getattr(g, "type", None) in _NOT_A_SOIL_GROUP:
        return None
    return g


def _norm(name: str) -> str:
    return " ".join(name.replace("_", " ").replace("-", " ").lower().split())


@functools.lru_cache(maxsize=64)
def _select(target: str, variables: tuple[tuple[str, Variable], ...],
            ptfs: tuple[str, ...] | None, members: str,
            groups: tuple[str, ...]
            ) -> tuple[tuple[Member, ...], tuple[tuple[str, str], ...]]:
    """The members and the functions left out (with the reason), found
    once for the same data layout (the command line asks again for every
    chunk of a table)."""
    have = {k: v.unit or None for k, v in variables}
    by_kind = {k: v.kind for k, v in variables}
    found = applicable(have, target=target, ptfs=ptfs,
                       kinds_of_names=by_kind)
    lacking: dict[str, str] = {}
    near = {k: list(v) for k, v in found.near.items()}
    direct = _installed(found.get(target, []), lacking)
    if members == "all":
        chosen = tuple(
            Member(label, c, "every function with this output "
                   "(members='all')" + _group_text(c.ptf))
            for label, c in zip(_names(direct), direct))
        return chosen, _omitted(chosen, lacking, near)
    order = {p.name: i for i, p in enumerate(catalog())}
    families: dict[str, list[Candidate]] = {}
    for c in direct:
        families.setdefault(c.ptf.family, []).append(c)
    picked: list[tuple[Candidate, str, tuple[float, ...]]] = []
    for family, cands in families.items():
        general = [c for c in cands if _soil_group(c.ptf) is None]
        named: dict[str, list[Candidate]] = {}
        for c in cands:
            g = _soil_group(c.ptf)
            if g is not None and _norm(g.name) in groups:
                named.setdefault(g.name, []).append(c)
        if named:
            for name, group in named.items():
                best, why = _best(group, order, "variants fitted to " + name)
                picked.append((best, f"fitted to {_group_words(best.ptf)}, "
                               f"a group named in groups{why}", ()))
        elif general:
            best, why = _best(general, order, "general variants")
            picked.append((best, "the general variant of "
                           f"{best.ptf.publication}{why}", ()))
    suctions = _curve_suctions(target)
    if suctions:
        picked += _curve_members(target, have, by_kind, ptfs, set(families),
                                 order, suctions, lacking, near)
    picked.sort(key=lambda t: order[t[0].ptf.name])
    labels = _names([c for c, _, _ in picked])
    chosen = tuple(Member(label, c, why, s)
                   for label, (c, why, s) in zip(labels, picked))
    return chosen, _omitted(chosen, lacking, near)


def _installed(cands: Iterable[Candidate], lacking: dict[str, str]
               ) -> list[Candidate]:
    """The candidates that can be evaluated here; those whose package is
    not installed go to ``lacking``, with what they need."""
    kept = []
    for c in cands:
        needs = c.ptf.needs
        if needs is None:
            kept.append(c)
        else:
            lacking.setdefault(c.ptf.short_name, f"needs {needs}")
    return kept


def _omitted(chosen: Sequence[Member], lacking: Mapping[str, str],
             near: Mapping[str, list[PTF]]) -> tuple[tuple[str, str], ...]:
    """The functions left out of an ensemble: those whose package is not
    installed, and those of a publication without a member that lack one
    quantity (see ``Applicability.near``)."""
    families = {m.ptf.family for m in chosen}
    out = dict(lacking)
    for kind, ptfs in near.items():
        for p in ptfs:
            if p.family not in families and _soil_group(p) is None:
                out.setdefault(p.short_name, f"needs {needs_text(kind)}, "
                               "not in the data")
    return tuple((n, why) for n, why in out.items()
                 if n in lacking or lookup(n).family not in families)


def _used_variables(c: Candidate) -> set[str]:
    """The variables of the data a candidate reads (its chain's too)."""
    chained = {s.input for s in c.steps}
    used = {src.label for b in c.binding.inputs if b.q.name not in chained
            for src in b.sources if src.how != "absent"}
    for step in c.steps:
        used |= {src.label for b in step.binding.inputs for src in b.sources}
    return used


def _best(cands: list[Candidate], order: Mapping[str, int], what: str
          ) -> tuple[Candidate, str]:
    """The variant without a documented doubt, then using the most of the
    data, then first in the catalog; and the words saying so."""
    def key(c: Candidate) -> tuple[bool, int, int]:
        return (bool(getattr(c.ptf, "doubt", None)),
                -len(_used_variables(c)), order[c.ptf.name])
    ranked = sorted(cands, key=key)
    best = ranked[0]
    doubt = getattr(best.ptf, "doubt", None)
    tail = f"; doubt: {doubt}" if doubt else ""
    if len(ranked) == 1:
        return best, tail
    used = sorted(_used_variables(best))
    return best, (f"; of {len(ranked)} {what} that apply, the one "
                  + ("without a documented doubt, then " if any(
                      getattr(c.ptf, "doubt", None) for c in ranked) else "")
                  + f"using the most of the data ({', '.join(used)})"
                  + tail)


def _group_words(p: PTF) -> str:
    g = _soil_group(p)
    if g is None:
        return ""
    n = getattr(g, "n_samples", None)
    return f"{g.type} {g.name}" + (f" ({n} samples)" if n else "")


def _group_text(p: PTF) -> str:
    words = _group_words(p)
    return f"; fitted to {words} only" if words else ""


def _curve_suctions(target: str) -> tuple[float, ...]:
    """The suctions at which a retention curve gives the kind: one for a
    volumetric water content at a fixed suction, 33 and 1500 kPa for
    available water; none for other kinds."""
    if target == "available_water":
        return (33.0, 1500.0)
    k = kinds()[target]
    if (k.basis == "volume" and k.suction_kpa and k.suction_kpa > 0
            and k.unit == "cm^3/cm^3"):
        return (float(k.suction_kpa),)
    return ()


def _curve_members(target: str, have: Mapping[str, str | None],
                   by_kind: Mapping[str, str], ptfs: tuple[str, ...] | None,
                   with_point: set[str], order: Mapping[str, int],
                   suctions: tuple[float, ...], lacking: dict[str, str],
                   near: dict[str, list[PTF]]
                   ) -> list[tuple[Candidate, str, tuple[float, ...]]]:
    from .curves import MODELS, has_curve

    names = [p.name for p in catalog() if p.curve is not None
             and p.family not in with_point and has_curve(p)
             and (ptfs is None or p.name in ptfs or p.short_name in ptfs)]
    if not names:
        return []
    found = applicable(have, ptfs=names, kinds_of_names=by_kind)
    for kind, ptfs_near in found.near.items():  # curves one quantity away
        near.setdefault(kind, []).extend(ptfs_near)
    first: dict[str, Candidate] = {}
    for cands in found.values():
        for c in _installed(cands, lacking):
            first.setdefault(c.ptf.name, c)
    families: dict[str, list[Candidate]] = {}
    for c in first.values():
        if _soil_group(c.ptf) is None:
            families.setdefault(c.ptf.family, []).append(c)
    at = (f"at {suctions[0]:g} kPa" if len(suctions) == 1 else
          f"at {suctions[0]:g} minus at {suctions[1]:g} kPa")
    out = []
    for cands in families.values():
        best, why = _best(cands, order, "curve variants")
        model = MODELS[best.ptf.curve.model]  # type: ignore[union-attr]
        out.append((best, f"through its {model} retention curve {at} (the "
                    f"publication gives no point estimate of {target})"
                    + why, suctions))
    return out


def _member(m: Member, data: Any, inputs: Mapping[str, Any],
            given: Preset, unit: str, check: str,
            threads: int | None) -> Any:
    c = m.candidate
    extra: dict[str, Any] = {}
    extra_units: dict[str, str] = {}
    for step in c.steps:
        first = estimate(step.ptf, data=data, preset=given, check=check,
                         threads=threads, **_used(step.ptf, inputs))
        extra[step.input] = first[step.output]
        extra_units[step.input] = first.units[step.output]
    if m.from_curve:
        r = estimate(c.ptf, data=data, preset=given, check=check,
                     threads=threads, **_used(c.ptf, inputs))
        return _on_curve(r, m.suctions)
    return estimate(c.ptf, data=data, preset=given, check=check,
                    threads=threads, units=extra_units or None,
                    out_units={c.output.name: unit},
                    **_used(c.ptf, inputs), **extra)[c.output.name]


def _on_curve(r: Result, suctions: tuple[float, ...]) -> Any:
    """The retention curve of a result at one suction (or the difference
    between two), in cm^3/cm^3, in the container of the result's
    outputs."""
    from .curves import curve

    index = r.class_index  # the class a table parameter is looked up by
    n = len(r.as_tuple())

    def at(*values: Any) -> Any:
        block = Result(r.ptf, values[:n], r.units,
                       class_index=values[n] if index is not None else None)
        theta = [curve(block, h, h_unit="kPa") for h in suctions]
        return theta[0] if len(theta) == 1 else theta[0] - theta[1]

    outs = (*r.as_tuple(), *(() if index is None else (index,)))
    xr: Any = sys.modules.get("xarray")
    if xr is not None and any(isinstance(v, xr.DataArray) for v in outs):
        theta = xr.apply_ufunc(at, *outs, dask="parallelized",
                               output_dtypes=[np.float64], keep_attrs=False)
        theta.attrs = {"units": "cm^3/cm^3"}
        return theta
    value = at(*outs)
    pd: Any = sys.modules.get("pandas")
    ref = next((v for v in outs if pd is not None
                and isinstance(v, pd.Series)), None)
    return value if ref is None else pd.Series(value, index=ref.index)


def _used(ptf: Any, inputs: Mapping[str, Any]) -> dict[str, Any]:
    """Keyword inputs this function takes by name (the others reach it
    through their kinds, or not at all)."""
    names = set(ptf.input_names) | {a for q in ptf.inputs
                                    for a in q.aliases}
    return {k: v for k, v in inputs.items() if k in names}


def _calibration_ranges(p: PTF) -> Mapping[str, Any]:
    cal = getattr(p.citation, "calibration", None)
    return getattr(cal, "ranges", None) or {}


def _extrapolated(m: Member, data: Any, inputs: Mapping[str, Any],
                  given: Preset) -> Any:
    """Where the member's inputs lie outside the established calibration
    ranges of its publication (False where none is established)."""
    ranges = _calibration_ranges(m.ptf)
    chained = {s.input for s in m.candidate.steps}
    checked = [q for q in m.ptf.inputs
               if q.kind in ranges and q.name not in chained]
    if not checked:
        return False
    from . import units as u
    from ._bind import bind
    from ._estimate import convert_input

    binding = bind(m.ptf, (), _used(m.ptf, inputs), data=data,
                   preset=given)
    out: Any = False
    for b in binding.inputs:
        if b.q not in checked:
            continue
        lo, hi = ranges[b.q.kind]
        conv = u.conversion(kinds()[b.q.kind].unit or "", b.q.unit)
        x = convert_input(b, m.ptf)
        x = getattr(x, "values", x) if not hasattr(x, "dims") else x
        with np.errstate(invalid="ignore"):
            if lo is not None:
                out = out | (x < conv.apply(lo))
            if hi is not None:
                out = out | (x > conv.apply(hi))
    return out


def _rmse(chosen: Sequence[Member], target: str) -> np.ndarray:
    """The published RMSE of every member for the target kind, in the unit
    of the statistics (log10 units for a log-summarised kind); ValueError
    naming the members without one."""
    from . import units as u

    k = kinds()[target]
    log = k.summary == "log"
    found, lacking = [], []
    for m in chosen:
        entry = next((a for a in getattr(m.ptf.citation, "accuracy", ())
                      or () if a.output == target and a.rmse is not None
                      and bool(a.log10) == log), None)
        if entry is None or m.from_curve:
            lacking.append(m.label)
            continue
        value = float(entry.rmse)
        if not log:
            conv = u.conversion(entry.unit, k.unit or "")
            value = conv.apply(value) - conv.apply(0.0)
        found.append(value)
    if lacking:
        raise ValueError(
            "weights='rmse' needs the published RMSE of every member for "
            f"{target}" + (" on log10" if log else "") + "; it is not "
            "established for: " + ", ".join(lacking)
            + " (leave them out with ptfs=, or use the unweighted "
            "statistics)")
    return np.asarray(found, dtype=np.float64)


def outside_physical(kind: str) -> Any:
    """A function telling, elementwise, whether values of the kind are
    outside its physical range (NaN is not)."""
    k = kinds()[kind]
    lo, hi = k.range if k.range is not None else (None, None)

    def outside(x: Any) -> Any:
        bad = np.zeros(np.shape(x), dtype=bool)
        if lo is not None:
            bad |= (x <= lo) if k.range_open[0] else (x < lo)
        if hi is not None:
            bad |= (x >= hi) if k.range_open[1] else (x > hi)
        return bad
    return outside


def _range_row(kind: str, *, log: bool, keep_outside: bool, strict: bool,
               weighted: bool) -> np.ndarray:
    """The kind's physical range and the options, as the compiled
    statistics take them (loamara._stats): lo, hi (NaN for no bound),
    which bounds are open, and the options as bits."""
    k = kinds()[kind]
    lo, hi = k.range if k.range is not None else (None, None)
    open_lo, open_hi = k.range_open if k.range is not None else (False,
                                                                 False)
    return np.array([np.nan if lo is None else lo,
                     np.nan if hi is None else hi,
                     1 * bool(open_lo) + 2 * bool(open_hi),
                     1 * log + 2 * keep_outside + 4 * strict + 8 * weighted],
                    dtype=np.float64)


# The row of each statistic in the output of the compiled statistics.
_ROW = {"mean": 0, "gmean": 0, "weighted_mean": 1, "std": 2,
        "std_log10": 2, "median": 3, "q25": 4, "q75": 5, "iqr": 6,
        "iqr_log10": 6, "min": 7, "max": 8, "n": 9, "n_outside": 10,
        "n_extrapolated": 11}


def _statistics(stack: np.ndarray, flags: Any, *, names: Sequence[str],
                range_row: np.ndarray, weights: np.ndarray | None,
                axis: int = -1, out: np.ndarray | None = None,
                logs: np.ndarray | None = None) -> tuple[np.ndarray, ...]:
    """The statistics ``names`` over ``axis`` of the stack (the members),
    in one compiled pass per sample (``loamara._stats.ensemble_statistics``,
    whose comment gives the definitions); ``out``, if given, receives all
    twelve of them as rows (in the order of ``_ROW``).  NaN members
    are skipped, and a sample without any value gets NaN (and counts of 0)
    without a warning.  A log summary works on natural logarithms: the
    geometric mean is exp(mean(ln x)), the spreads those of ln x divided by
    ln 10; a quantile that falls on an order statistic, as the median of
    an odd number of members does, is that member's value itself."""
    from ._stats import ensemble_statistics

    stack = np.asarray(stack, dtype=np.float64)
    m = stack.shape[axis]
    w = np.zeros(m) if weights is None else weights
    flags = np.asarray(flags, dtype=bool)
    if flags.ndim == 0:
        flags = np.broadcast_to(flags, (m,))
    with np.errstate(all="ignore"):
        # Natural logarithms for a log summary (read for no other), in
        # ``logs`` if given.
        logs = np.log(stack, out=logs) if range_row[3] % 2 else stack
        result = ensemble_statistics(
            stack, logs, flags, w, range_row, out=out,
            axes=[(axis,), (axis,), (axis if flags.ndim > 1 else -1,),
                  (-1,), (-1,), (0,)])
    return tuple(result[_ROW[k]] for k in names)


# Soils per block of the statistics of NumPy data.
_BLOCK_ROWS = 8192


def _gather(values: list[Any], flags: list[Any], names: list[str],
            kind: str, stats_of: Any, stat_names: tuple[str, ...],
            threads: int | None = None) -> tuple[Any, dict[str, Any]]:
    xr: Any = sys.modules.get("xarray")
    if xr is not None and any(isinstance(v, xr.DataArray) for v in values):
        members = xr.concat([v.rename(kind) if isinstance(v, xr.DataArray)
                             else xr.DataArray(v) for v in values],
                            dim="ptf", coords="minimal", compat="override")
        members = members.assign_coords(ptf=names)
        members.attrs = {"units": kinds()[kind].unit}
        marks = xr.concat([f if isinstance(f, xr.DataArray) else
                           xr.full_like(v, bool(f), dtype=bool)
                           for f, v in zip(flags, values)],
                          dim="ptf", coords="minimal", compat="override")
        marks = marks.assign_coords(ptf=names)
        if getattr(members, "chunks", None):
            members = members.chunk({"ptf": -1})
            marks = marks.chunk(members.chunksizes)
        # All statistics of a block in one pass, lazily for dask data.
        results = xr.apply_ufunc(
            stats_of, members, marks,
            input_core_dims=[["ptf"], ["ptf"]],
            output_core_dims=[[] for _ in stat_names],
            dask="parallelized",
            output_dtypes=[np.float64] * len(stat_names))
        unit = members.attrs.get("units")
        stats = {}
        for k, v in zip(stat_names, results):
            v.attrs = ({"units": unit} if unit and k not in UNITLESS
                       else {})
            stats[k] = v.rename(f"{kind}_{k}")
        return members, stats
    pd: Any = sys.modules.get("pandas")
    index = next((v.index for v in values if pd is not None
                  and isinstance(v, pd.Series)), None)
    arrays = [np.asarray(v, dtype=np.float64) for v in values]
    marked = [np.asarray(f, dtype=bool) for f in flags]
    shape = np.broadcast_shapes(*(a.shape for a in arrays),
                                *(f.shape for f in marked))
    arrays = [np.broadcast_to(a, shape).reshape(-1) for a in arrays]
    marks = [np.broadcast_to(f, shape).reshape(-1) if f.ndim else None
             for f in marked]
    size = int(np.prod(shape, dtype=np.int64))
    m = len(arrays)
    # One array per statistic (not one block of them all, which would be
    # fresh memory, page by page, at every call).
    out = {k: np.empty(size, dtype=np.float64) for k in stat_names}
    scratch = threading.local()

    def run(idx: tuple[slice, ...]) -> None:
        # One block of soils at a time, members first (each member's
        # values one row), in buffers of this thread that stay in the
        # cache from block to block.
        rows = idx[0] if idx else slice(0, size)
        count = len(range(*rows.indices(size)))
        if getattr(scratch, "values", None) is None:
            scratch.values = np.empty((m, _BLOCK_ROWS))
            scratch.logs = np.empty((m, _BLOCK_ROWS))
            scratch.flags = np.zeros((m, _BLOCK_ROWS), dtype=bool)
            scratch.stats = np.empty((len(set(_ROW.values())), _BLOCK_ROWS))
        big = count > _BLOCK_ROWS
        block = np.empty((m, count)) if big else scratch.values[:, :count]
        logs = np.empty((m, count)) if big else scratch.logs[:, :count]
        for j, a in enumerate(arrays):
            block[j] = a[rows]
        flag: Any = np.zeros(m, dtype=bool)
        if any(f is not None for f in marks):
            flag = np.zeros((m, count), dtype=bool) if big else \
                scratch.flags[:, :count]
            for j, f in enumerate(marks):
                flag[j] = False if f is None else f[rows]
        into = np.empty((scratch.stats.shape[0], count)) if big else \
            scratch.stats[:, :count]
        stats_of(block, flag, axis=0, out=into, logs=logs)
        for k, o in out.items():
            o[rows] = into[_ROW[k]]

    from .parallel import default_threads, run_chunked
    run_chunked((size,), run, threads or default_threads(),
                chunk_size=_BLOCK_ROWS)
    stats = {k: v.reshape(shape) for k, v in out.items()}

    def table() -> Any:
        # The (soils, members) table, built when it is first asked for.
        stack = np.stack(arrays, axis=-1).reshape(*shape, m)
        if index is not None and stack.ndim == 2:
            return pd.DataFrame(stack, index=index, columns=names)
        return stack

    if index is not None and len(shape) == 1:
        stats = {k: pd.Series(v, index=index, name=k)
                 for k, v in stats.items()}
    return _Deferred(table), stats
