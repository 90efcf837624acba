"""The catalog of the pedotransfer functions: one record per ufunc of
``_loamara`` and of ``loamara._more``, and one per function that a package
evaluates for us (Rosetta, through rosetta-soil), read from
``catalog.json`` in this package.

The catalog is the single description of every ufunc's publication, inputs
and outputs; the named interface, the command line, the reference
documentation and the type stubs are all made from it.

Units are data: every input and output has a unit string that pint parses
(or ``"not established"``), a *kind* from a controlled vocabulary that says
which physical quantity it is (``sand``, ``theta_33``, ``ksat``, ...), and
the physically possible range in its own unit.  Each kind has a canonical
unit and range; each publication a citation and, where known, a DOI.  This
module reads the data only: it needs NumPy, not pint.
"""
from __future__ import annotations

import difflib
import json
from dataclasses import dataclass, field
from functools import lru_cache
from importlib import resources
from typing import Any

import numpy as np

PREFIX = "calc_ptf_"
FORMAT = 2

# Unit text of an operand whose unit (and so kind) no source establishes.
UNIT_NOT_ESTABLISHED = "not established"
# Unit text of a coefficient whose unit the caller chooses (Ahuja 1984's b).
UNIT_CALLERS_CHOICE = "caller's choice"
NOT_ESTABLISHED = "not_established"
NOT_ESTABLISHED_TEXT = "not established"

# A variant carries a "group" only where it was fitted to the data of one
# soil group, region or sub-sample, so that it answers for those soils and
# no others: Ferrer-Julia et al. (2004)'s FAO soil units, Lal (1979)'s soil
# groups I and II, Varallyay (1982)'s meadow soils and chernozem groups,
# Tiwary et al. (2014)'s two regions, Dharumarajan et al. (2019)'s two
# plateaus.  A variant that differs only in its predictors (Gunarathna et
# al. 2019's input sets, Beniaich et al. 2023's regressions, Ferrer-Julia's
# "general" regressions on all units, Pidgeon 1972's sand-fraction
# equations) is fitted on the family's whole data and carries no group: it
# is the family's general function for the predictors it takes.
GROUP_TYPES = ("FAO soil unit", "soil group", "soil type", "region")

# The curve models that a PTF's outputs can parameterise, with the names of
# their parameters (required, then optional).
CURVE_MODELS: dict[str, tuple[tuple[str, ...], tuple[str, ...]]] = {
    "van_genuchten": (("theta_r", "theta_s", "alpha", "n", "m"), ("ks",)),
    "campbell": (("theta_s", "psi_e", "b"), ("ks",)),
    "brooks_corey": (("theta_r", "theta_s", "psi_b", "lambda"), ("ks",)),
    "saxton2006": (("theta_1500", "theta_33", "theta_s", "psi_e", "ks",
                    "lambda"), ()),
    "kosugi": (("theta_r", "theta_s", "h_m", "sigma"), ("ks", "l")),
    "durner": (("theta_r", "theta_s", "w_1", "alpha_1", "n_1", "alpha_2",
                "n_2"), ()),
}

Range = tuple[float | None, float | None]

# Records evaluated by a package rather than by a ufunc of ours, by their
# ``module``: the module of loamara that binds the package, the package's
# import name, its distribution and the extra of loamara that installs it.
PACKAGES: dict[str, tuple[str, str, str, str]] = {
    "rosetta": ("loamara._rosetta", "rosetta", "rosetta-soil", "rosetta"),
}


class UnknownPTFError(LookupError):
    """Raised for a name that is not one of the catalog's ufuncs."""


@dataclass(frozen=True)
class Kind:
    """One entry of the controlled vocabulary of physical quantities."""

    name: str
    label: str
    unit: str | None
    """Canonical unit (a pint unit string); None for ``not_established`` and
    ``model_coefficient``."""
    range: Range | None
    """Physically possible range in ``unit``; None for an unbounded side."""
    range_open: tuple[bool, bool] = (False, False)
    basis: str | None = None
    """``"volume"`` or ``"mass"`` for water contents of known basis."""
    suction_kpa: float | None = None
    """The suction of a water content at a fixed suction."""
    summary: str = "linear"
    """How values of the kind are summarised across functions: ``"linear"``
    (arithmetic mean and standard deviation) or ``"log"`` (geometric mean
    and standard deviation of log10).  Conductivities, van Genuchten's
    alpha, air-entry suctions, suctions and Saxton and Rawls' coefficient A
    are ``"log"``: they are positive, vary over orders of magnitude between
    soils and act multiplicatively (the field reads them on log scales and
    treats their errors as factors), so an arithmetic mean of them is
    dominated by the largest value.  Air-entry suction is a
    reciprocal of alpha's scale and suction is read on the log scale of pF;
    A = 33 * theta_33**B spans orders of magnitude as B does.  Water
    contents, fractions and shape parameters are ``"linear"``."""


@dataclass(frozen=True)
class Calibration:
    """The data a family of PTFs was fitted on, as far as it is known.

    ``population`` says in words which soils ("not established" where no
    consulted source says); ``ranges`` holds only the input ranges that a
    source establishes, by kind and in the kind's canonical unit (empty in
    the common case that none is established)."""

    population: str
    region: str | None = None
    n_samples: int | None = None
    layers: str | None = None
    """``"topsoil"``, ``"subsoil"``, ``"topsoil and subsoil"`` or None."""
    ranges: dict[str, Range] = field(default_factory=dict, hash=False)
    evidence: str = NOT_ESTABLISHED_TEXT

    @property
    def established(self) -> bool:
        """True where anything beyond "not established" is known."""
        return (self.population != NOT_ESTABLISHED_TEXT or bool(self.ranges)
                or self.n_samples is not None or self.region is not None)


@dataclass(frozen=True)
class Accuracy:
    """The published accuracy of one output of a family (or variant)."""

    output: str
    """The kind of the output."""
    rmse: float | None
    r2: float | None
    unit: str
    """The unit of ``rmse``."""
    log10: bool = False
    """True where the error was computed on log10 values."""
    n: int | None = None
    evidence: str = NOT_ESTABLISHED_TEXT


@dataclass(frozen=True)
class Group:
    """The one soil group, region or data set a variant was fitted to."""

    type: str
    """``"FAO soil unit"``, ``"soil group"``, ``"region"``, ``"soil
    type"``, ``"sand fraction"``, ...; see ``GROUP_TYPES``."""
    name: str
    n_samples: int | None = None

    def describe(self) -> str:
        n = "" if self.n_samples is None else f", {self.n_samples} samples"
        return f"{self.type} {self.name}{n}"


@dataclass(frozen=True)
class Publication:
    """The reference of one family of PTFs."""

    family: str
    citation: str
    doi: str | None
    verified: bool
    """True where the citation was read in a consulted source, False where
    it is recalled and still to be checked."""
    source: str
    calibration: Calibration | None = None
    """Where the family was fitted; None: not established."""
    accuracy: tuple[Accuracy, ...] = ()
    """Published accuracy per output; empty: not established."""


@dataclass(frozen=True)
class CurveTag:
    """The retention/conductivity curve model whose parameters a PTF
    returns.  Each parameter maps to ``{"output": NAME}``, ``{"value": x,
    "unit": u}``, ``{"mualem": True}`` (m = 1 - 1/n) or ``{"not_established":
    why}``."""

    model: str
    parameters: dict[str, dict[str, Any]] = field(hash=False)
    note: str = ""


@dataclass(frozen=True)
class Quantity:
    """One input or output of a ufunc."""

    name: str
    """Short name: a Python identifier, unique within the ufunc's inputs (or
    outputs)."""
    unit: str
    """A unit string that pint parses (``percent``, ``cm^3/cm^3``, ``kPa``,
    ...), or ``"not established"``, ``"caller's choice"`` or ``"unit of
    b"`` (see ``unit_from``)."""
    meaning: str
    dtype: str = "float64"
    """Operand type: ``float64``, or ``uint32`` for a texture-class index."""
    kind: str = NOT_ESTABLISHED
    log10: bool = False
    """True where the value is the base-10 logarithm of a quantity in
    ``unit``."""
    range: Range | None = None
    """Physically possible range in ``unit`` (None for log10 values and
    operands whose kind is not established)."""
    range_open: tuple[bool, bool] = (False, False)
    aliases: tuple[str, ...] = ()
    """Former names of the operand."""
    unit_from: str | None = None
    """The input whose unit this output carries."""
    particle_density: float | None = None
    """For a porosity input: the particle density (g/cm^3) with which the
    function's implementations find the porosity from the bulk density
    (1 - bulk density / particle density) where only that is known; None
    where none is established."""
    optional: bool = False
    """An input the function can do without (Rosetta's bulk density and
    retention points): where the data lack it, the function gets NaN,
    missing for every sample, and uses its model without it."""

    @property
    def established(self) -> bool:
        """True where ``unit`` is a real unit (one that pint parses)."""
        return (self.unit not in (UNIT_NOT_ESTABLISHED, UNIT_CALLERS_CHOICE)
                and self.unit_from is None)

    @property
    def unit_label(self) -> str:
        """The unit as people write it: ``% by mass``, ``mass fraction
        (0-1)``, ``cm3/cm3``, ``log10(in/h)``, ..."""
        return unit_label(self)

    def describe(self) -> str:
        """``name [unit]: meaning`` on one line."""
        return f"{self.name} [{self.unit_label}]: {self.meaning}"


@dataclass(frozen=True)
class PTF:
    """The catalog record of one pedotransfer function (one ufunc)."""

    name: str
    """Full ufunc name, e.g. ``calc_ptf_saxton2006``."""
    family: str
    """Author and year word shared by the family, e.g. ``saxton2006``."""
    publication: str
    """Authors and year, e.g. ``Saxton and Rawls (2006)``."""
    summary: str
    inputs: tuple[Quantity, ...]
    outputs: tuple[Quantity, ...]
    citation: Publication
    """The reference of the family, with DOI where known."""
    notes: tuple[str, ...] = ()
    curve: CurveTag | None = None
    """The curve model whose parameters the outputs are, where established."""
    group: Group | None = None
    """The soil group, region or data set of a variant fitted to one; None
    for a function fitted on all of its publication's data."""
    doubt: str | None = None
    """A documented doubt about the formula as implemented, with its
    reason; None where none is documented."""
    module: str = "_loamara"
    """The extension module that holds the ufunc (``_loamara`` or
    ``loamara._more``), or a key of ``PACKAGES`` for a function that a
    package evaluates (``rosetta``)."""

    @property
    def compiled(self) -> bool:
        """True where a ufunc of loamara's extension modules evaluates the
        function; False where a package does (see ``needs``)."""
        return self.module not in PACKAGES

    @property
    def needs(self) -> str | None:
        """What must be installed before the function can be evaluated
        (``"the rosetta-soil package: pip install 'loamara[rosetta]'"``);
        None where nothing is missing."""
        found = PACKAGES.get(self.module)
        if found is None:
            return None
        import importlib.util

        _, package, dist, extra = found
        try:
            if importlib.util.find_spec(package) is not None:
                return None
        except (ImportError, ValueError):
            pass
        return f"the {dist} package: pip install 'loamara[{extra}]'"

    @property
    def calibration(self) -> Calibration | None:
        """Where the publication was fitted (None: not established)."""
        return self.citation.calibration

    @property
    def accuracy(self) -> tuple[Accuracy, ...]:
        """The published accuracy of the outputs of this function's kinds
        (empty: not established)."""
        kinds_out = {q.kind for q in self.outputs}
        return tuple(a for a in self.citation.accuracy
                     if a.output in kinds_out)

    def domain(self) -> dict[str, Range]:
        """The established calibration range of each input kind, in the
        kind's canonical unit (empty where none is established)."""
        cal = self.citation.calibration
        if cal is None:
            return {}
        mine = {q.kind for q in self.inputs}
        return {k: r for k, r in cal.ranges.items() if k in mine}

    @property
    def short_name(self) -> str:
        """The name without the ``calc_ptf_`` prefix (``saxton2006``); a
        name without it (``rosetta3``) is its own short name."""
        return (self.name[len(PREFIX):] if self.name.startswith(PREFIX)
                else self.name)

    @property
    def nin(self) -> int:
        return len(self.inputs)

    @property
    def nout(self) -> int:
        return len(self.outputs)

    @property
    def input_names(self) -> tuple[str, ...]:
        return tuple(q.name for q in self.inputs)

    @property
    def output_names(self) -> tuple[str, ...]:
        return tuple(q.name for q in self.outputs)

    @property
    def ufunc(self) -> Any:
        """The ufunc that this record describes, from its own module; for
        a function a package evaluates, the callable that takes the ufunc's
        place (the same operands, ``out=`` and ``where=``)."""
        import importlib

        found = PACKAGES.get(self.module)
        if found is not None:
            return importlib.import_module(found[0]).evaluator(self.name)
        return getattr(importlib.import_module(self.module), self.name)

    def signature(self) -> str:
        """The positional call: ``calc_ptf_x(a, b) -> (c, d)``; optional
        inputs in brackets."""
        outs = ", ".join(self.output_names)
        if self.nout > 1:
            outs = f"({outs})"
        ins = ", ".join(f"[{q.name}]" if q.optional else q.name
                        for q in self.inputs)
        return f"{self.name}({ins}) -> {outs}"

    def call_text(self) -> str:
        """The positional call with its module
        (``_loamara.calc_ptf_x(a, b) -> c``), or for a function a package
        evaluates, the call and the package."""
        found = PACKAGES.get(self.module)
        if found is None:
            return f"{self.module}.{self.signature()}"
        return (f"{self.signature()}, evaluated by the {found[2]} package "
                f"(extra '{found[3]}')")

    def estimate_call(self) -> str:
        """The named call through :func:`loamara.estimate`."""
        args = ", ".join(f"{n}=..." for n in self.input_names)
        return f'loamara.estimate("{self.short_name}", {args})'


def _range(r: list[float | None] | None) -> Range | None:
    if r is None:
        return None
    lo, hi = r
    return (None if lo is None else float(lo),
            None if hi is None else float(hi))


def _open(r: list[bool] | None) -> tuple[bool, bool]:
    lo, hi = r or (False, False)
    return (bool(lo), bool(hi))


def _quantity(d: dict[str, Any]) -> Quantity:
    return Quantity(name=d["name"], unit=d["unit"], meaning=d["meaning"],
                    dtype=d.get("dtype", "float64"),
                    kind=d.get("kind", NOT_ESTABLISHED),
                    log10=bool(d.get("log10", False)),
                    range=_range(d.get("range")),
                    range_open=_open(d.get("range_open")),
                    aliases=tuple(d.get("aliases", ())),
                    unit_from=d.get("unit_from"),
                    optional=bool(d.get("optional", False)),
                    particle_density=d.get("particle_density"))


def _curve(d: dict[str, Any] | None) -> CurveTag | None:
    if d is None:
        return None
    return CurveTag(model=d["model"],
                    parameters={k: dict(v)
                                for k, v in d["parameters"].items()},
                    note=d.get("note", ""))


def _calibration(d: dict[str, Any] | None) -> Calibration | None:
    if d is None:
        return None
    return Calibration(
        population=d.get("population", NOT_ESTABLISHED_TEXT),
        region=d.get("region"), n_samples=d.get("n_samples"),
        layers=d.get("layers"),
        ranges={k: r for k, v in (d.get("ranges") or {}).items()
                if (r := _range(v)) is not None},
        evidence=d.get("evidence", NOT_ESTABLISHED_TEXT))


def _accuracy(d: dict[str, Any]) -> Accuracy:
    return Accuracy(output=d["output"], rmse=d.get("rmse"), r2=d.get("r2"),
                    unit=d.get("unit", ""), log10=bool(d.get("log10", False)),
                    n=d.get("n"),
                    evidence=d.get("evidence", NOT_ESTABLISHED_TEXT))


def _group(d: dict[str, Any] | None) -> Group | None:
    if d is None:
        return None
    return Group(type=d["type"], name=d["name"],
                 n_samples=d.get("n_samples"))


@lru_cache(maxsize=1)
def _data() -> dict[str, Any]:
    text = resources.files("loamara").joinpath("catalog.json").read_text(
        encoding="utf-8")
    data: dict[str, Any] = json.loads(text)
    if data.get("format") != FORMAT:
        raise ValueError(f"catalog.json has format {data.get('format')!r}; "
                         f"this version of loamara reads format {FORMAT}")
    return data


@lru_cache(maxsize=1)
def kinds() -> dict[str, Kind]:
    """The controlled vocabulary of physical quantities, by name."""
    return {
        name: Kind(name=name, label=k["label"], unit=k["unit"],
                   range=_range(k["range"]),
                   range_open=_open(k.get("range_open")),
                   basis=k.get("basis"), suction_kpa=k.get("suction_kpa"),
                   summary=k.get("summary", "linear"))
        for name, k in _data()["kinds"].items()}


@lru_cache(maxsize=1)
def publications() -> dict[str, Publication]:
    """The reference of every family, by family word."""
    return {
        fam: Publication(family=fam, citation=p["citation"], doi=p["doi"],
                         verified=bool(p["verified"]), source=p["source"],
                         calibration=_calibration(p.get("calibration")),
                         accuracy=tuple(_accuracy(a)
                                        for a in p.get("accuracy") or ()))
        for fam, p in _data()["publications"].items()}


@lru_cache(maxsize=1)
def catalog() -> tuple[PTF, ...]:
    """Every pedotransfer function of the module, in registration order."""
    pubs = publications()
    return tuple(
        PTF(name=p["name"], family=p["family"],
            publication=p["publication"], summary=p["summary"],
            inputs=tuple(_quantity(q) for q in p["inputs"]),
            outputs=tuple(_quantity(q) for q in p["outputs"]),
            notes=tuple(p.get("notes", ())),
            citation=pubs[p["family"]],
            curve=_curve(p.get("curve")), group=_group(p.get("group")),
            doubt=p.get("doubt"), module=p.get("module", "_loamara"))
        for p in _data()["ptfs"])


# Texture and composition kinds: contents by mass unless the kind says
# volume.
_CONTENTS = {"sand", "silt", "clay", "coarse_sand", "fine_sand",
             "very_fine_sand", "gravel_mass", "organic_carbon",
             "organic_matter"}
_PLAIN = {"cm^3/cm^3": "cm3/cm3", "g/cm^3": "g/cm3"}


def unit_label(q: Quantity) -> str:
    """The unit of ``q`` as people write it: ``% by mass``, ``mass fraction
    (0-1)``, ``cm3/cm3``, ``log10(in/h)``, ..."""
    if q.log10:
        return f"log10({_PLAIN.get(q.unit, q.unit)})"
    k = kinds().get(q.kind)
    if q.kind.startswith("texture_class_"):
        return "class index"
    if q.kind == "ph":
        return "pH units"
    if q.unit in ("percent", "dimensionless") and k is not None:
        by = None
        if q.kind in _CONTENTS:
            by = "mass"
        elif q.kind == "gravel_volume":
            by = "volume"
        elif k.basis is not None:
            by = k.basis
        if q.unit == "percent":
            return f"% by {by}" if by else "%"
        if q.kind in _CONTENTS or q.kind == "gravel_volume":
            return f"{by} fraction (0-1)"
        if k.basis is not None or q.kind.startswith("water"):
            return "fraction"
    return _PLAIN.get(q.unit, q.unit)


def format_range(rng: Range | None, range_open: tuple[bool, bool] = (
        False, False)) -> str:
    """``[0, 100]``, ``(0, 2.65)``, ``[0, inf)``, or ``none`` for no
    range."""
    if rng is None:
        return "none"

    def num(v: float) -> str:
        return f"{v:g}"

    lo, hi = rng
    left = "(-inf" if lo is None else ("(" if range_open[0] else "[") + num(lo)
    right = "inf)" if hi is None else num(hi) + (")" if range_open[1] else "]")
    return f"{left}, {right}"


@lru_cache(maxsize=1)
def _by_name() -> dict[str, PTF]:
    table: dict[str, PTF] = {}
    for p in catalog():
        table[p.name] = p
        table[p.short_name] = p
    return table


def suggestions(name: str, limit: int = 6) -> list[str]:
    """Catalog names close to ``name``: those containing it, then those
    that look alike."""
    key = name.strip().lower()
    if key.startswith(PREFIX):
        key = key[len(PREFIX):]
    full = {p.short_name: p.name for p in catalog()}
    shorts = list(full)
    found = [s for s in shorts if key and key in s]
    for s in difflib.get_close_matches(key, shorts, n=limit, cutoff=0.6):
        if s not in found:
            found.append(s)
    return [full[s] for s in found[:limit]]


def lookup(name: str | np.ufunc | PTF) -> PTF:
    """The catalog record of a ufunc, given its full name
    (``calc_ptf_saxton2006``), its short name (``saxton2006``), the ufunc
    itself or its record.  An unknown name raises :class:`UnknownPTFError`
    that suggests the nearest names."""
    if isinstance(name, PTF):
        return name
    if isinstance(name, np.ufunc):
        key = name.__name__
        if key is None:
            raise UnknownPTFError("a ufunc without a name is not a "
                                  "pedotransfer function of loamara")
    elif isinstance(name, str):
        key = name.strip()
    else:
        raise TypeError("a pedotransfer function is named by a string or "
                        f"given as its ufunc, not {type(name).__name__}")
    found = _by_name().get(key)
    if found is None:
        near = suggestions(key)
        msg = f"unknown pedotransfer function {key!r}"
        if near:
            msg += "; did you mean: " + ", ".join(near) + "?"
        else:
            msg += "; `loamara list` shows every name"
        raise UnknownPTFError(msg)
    if isinstance(name, np.ufunc) and found.ufunc is not name:
        raise UnknownPTFError(f"{key!r} is not a ufunc of {found.module}")
    return found
