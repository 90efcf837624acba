"""Which pedotransfer functions can be computed from the data one has.

Users start from their data ("sand, clay and organic carbon for 40 000
profiles"), not from a function name.  :func:`applicable` takes the
quantities at hand, by name or by kind and with their units where known,
and returns every function whose inputs they cover, grouped by what the
function estimates (the kind of each output: ``theta_33``, ``ksat``, ...),
with the conversions the call will make: units (percent to mass fraction,
g/kg to percent) and derived quantities (organic matter from organic
carbon, the third texture fraction from the other two, the USDA class of a
texture).

    >>> found = loamara.applicable(["sand", "silt", "clay", "oc", "bd"])
    >>> [c.ptf.short_name for c in found["theta_33"]]

``loamara which --have sand,silt,clay,oc,bd`` prints the same.
"""
from __future__ import annotations

from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass, field
from typing import Any

from ._bind import BindError, Binding, bind
from ._catalog import PTF, Quantity, catalog, kinds, lookup
from .presets import Preset, Variable
from .presets import get as get_preset

__all__ = ["applicable", "Applicability", "Candidate", "kind_of"]

# Common names of quantities in soil data, by kind (the kind's own name and
# the input names of the catalog count too).
SYNONYMS: dict[str, tuple[str, ...]] = {
    "organic_carbon": ("oc", "soc", "carbon", "corg", "c_org", "orgc",
                       "organic_carbon"),
    "organic_matter": ("om", "som", "organic_matter", "humus"),
    "bulk_density": ("bd", "bdod", "rho_b", "db", "bulk_density", "density"),
    "ph": ("ph", "phh2o", "ph_h2o", "ph_water"),
    "cec": ("cec", "cec7"),
    "gravel_volume": ("cfvo", "gravel", "coarse_fragments"),
    "ec": ("ec", "ece"),
    "depth": ("depth", "z"),
}


def kind_of(name: str, preset: Preset | None = None) -> str | None:
    """The kind a variable name stands for: a kind's name, a common
    synonym, a preset variable, or the input name the catalog uses for
    exactly one kind."""
    key = name.strip()
    low = key.lower()
    if preset is not None:
        m = preset.match(key)
        if m is not None:
            return m[1].kind
    if low in kinds() and low != "not_established":
        return low
    for kind, names in SYNONYMS.items():
        if low in names:
            return kind
    found = {q.kind for p in catalog() for q in p.inputs
             if q.name == low and q.kind != "not_established"}
    return found.pop() if len(found) == 1 else None


@dataclass(frozen=True)
class Step:
    """An input computed first by another function of the same
    publication (Rawls et al. 1982 estimate theta_33 from theta_1500)."""

    input: str
    ptf: PTF
    output: str
    binding: Binding = field(compare=False)


@dataclass(frozen=True)
class Candidate:
    """A function that the data can feed, for one of its outputs."""

    ptf: PTF
    output: Quantity
    binding: Binding = field(compare=False)
    steps: tuple[Step, ...] = ()

    def conversions(self) -> list[str]:
        """What the call does to the data, one line per input."""
        lines = [f"{s.input} = {s.ptf.short_name}.{s.output} (computed "
                 "first)" for s in self.steps]
        chained = {s.input for s in self.steps}
        for b in self.binding.inputs:
            if b.q.name in chained:
                continue
            if b.note:
                lines.append(b.note)
                work = b.work_unit or b.q.unit
                lines += ["  " + _source_text(src.label, src.unit, work)
                          for src in b.sources if src.unit]
                continue
            s = b.source
            lines.append(_unit_text(b.q, s.label, s.unit))
        return lines


def _source_text(label: str, unit: str, work: str) -> str:
    try:
        from .units import conversion
        c = conversion(unit, work)
    except Exception as exc:  # no pint, or units that do not convert
        return f"{label}: {unit} -> {work} ({exc})"
    return f"{label}: {unit} -> {work}" + (
        f" ({c.description})" if not c.identity else "")


def _unit_text(q: Quantity, label: str, unit: str | None) -> str:
    name = label if label == q.name else f"{q.name} <- {label}"
    if unit is None:
        return f"{name} [{q.unit_label}] (unit not given: taken as is)"
    try:
        from .units import conversion
        c = conversion(unit, q.unit)
    except Exception as exc:  # no pint, or units that do not convert
        return f"{name}: {unit} -> {q.unit_label} ({exc})"
    if c.identity:
        return f"{name} [{q.unit_label}]"
    return f"{name}: {unit} -> {q.unit_label} ({c.description})"


class Applicability(Mapping[str, list[Candidate]]):
    """The applicable functions grouped by the kind of their outputs."""

    def __init__(self, groups: dict[str, list[Candidate]],
                 have: Mapping[str, str | None],
                 unknown: list[str],
                 near: Mapping[str, list[PTF]] | None = None) -> None:
        self._groups = groups
        self.have = dict(have)
        """The quantities given, by name, with their kinds."""
        self.unknown = unknown
        """Names given whose kind could not be told."""
        self.near = dict(near or {})
        """The functions that one more quantity would allow, by its kind
        (``{"topsoil": [HYPRES, Toth et al. 2015, ...]}``), so that none
        is left out silently."""

    def __getitem__(self, kind: str) -> list[Candidate]:
        return self._groups[kind]

    def __iter__(self) -> Iterator[str]:
        return iter(self._groups)

    def __len__(self) -> int:
        return len(self._groups)

    def __repr__(self) -> str:
        n = len(self.ptfs())
        return (f"<Applicability: {n} function{'s' * (n != 1)} for "
                f"{len(self)} kind{'s' * (len(self) != 1)} from "
                + (", ".join(self.have) or "nothing") + ">")

    def __str__(self) -> str:
        return self.text(conversions=False)

    def ptfs(self) -> list[PTF]:
        """Every applicable function once, in catalog order."""
        seen: dict[str, PTF] = {}
        for cands in self._groups.values():
            for c in cands:
                seen.setdefault(c.ptf.name, c.ptf)
        order = {p.name: i for i, p in enumerate(catalog())}
        return sorted(seen.values(), key=lambda p: order[p.name])

    def text(self, conversions: bool = True) -> str:
        """The listing that ``loamara which`` prints."""
        out = []
        if self.unknown:
            out.append("not recognised (no kind): "
                       + ", ".join(self.unknown))
        labels = kinds()
        for kind in sorted(self._groups, key=_kind_order):
            k = labels[kind]
            unit = f" [{k.unit}]" if k.unit else ""
            cands = self._groups[kind]
            out.append(f"{kind}{unit}: {k.label} ({len(cands)})")
            for c in cands:
                needs = c.ptf.needs
                out.append(f"  {c.ptf.name}.{c.output.name} "
                           f"[{c.output.unit_label}]  {c.ptf.publication}"
                           + (f"  (needs {needs})" if needs else ""))
                if conversions:
                    for line in c.conversions():
                        out.append(f"      {line}")
        if not self._groups:
            out.append("no function can be computed from these quantities")
        if self.near:
            out.append("with one more quantity:")
            for kind in sorted(self.near, key=_kind_order):
                names = ", ".join(p.name for p in self.near[kind])
                out.append(f"  {needs_text(kind)}: {names}")
        return "\n".join(out) + "\n"


def needs_text(kind: str) -> str:
    """The quantity of a kind that a function lacks, in words: its name
    and label, and for a class index the quantities it is found from."""
    from ._bind import class_index_sources

    text = f"{kind} ({kinds()[kind].label})"
    sources = class_index_sources(kind)
    if sources:
        text += ", or " + " and ".join(sources) + " to find it from"
    return text


def _kind_order(kind: str) -> tuple[int, float, str]:
    k = kinds()[kind]
    first = 0 if kind.startswith("theta") else 1 if kind.startswith(
        "w_") else 2
    return first, k.suction_kpa or 0.0, kind


def _have(inputs: Any) -> dict[str, str | None]:
    """Names and units of the quantities given."""
    if isinstance(inputs, str):
        inputs = [s for s in inputs.split(",") if s.strip()]
    if hasattr(inputs, "data_vars"):  # xarray Dataset
        return {str(k): v.attrs.get("units") for k, v in
                inputs.data_vars.items()}
    if hasattr(inputs, "columns"):  # pandas DataFrame
        return {str(c): None for c in inputs.columns}
    if isinstance(inputs, Mapping):
        return {str(k): (None if v is None else str(v))
                for k, v in inputs.items()}
    return {str(k).strip(): None for k in inputs}


def applicable(inputs: Any, *, units: Mapping[str, str] | None = None,
               preset: str | Preset | None = None,
               target: str | None = None,
               ptfs: Iterable[str] | None = None,
               kinds_of_names: Mapping[str, str] | None = None
               ) -> Applicability:
    """The functions computable from ``inputs``: names or kinds of the
    quantities at hand (a list, a comma-separated string, a mapping of name
    to unit, a DataFrame or Dataset), with ``units`` for names given
    without one and ``preset`` for a naming convention.  ``target`` keeps
    only outputs of that kind (``"theta_33"``), ``ptfs`` only those
    functions; ``kinds_of_names`` says the kind of names that do not
    tell it themselves (``{"SAND_PCT": "sand"}``)."""
    have = _have(inputs)
    for k, u in (units or {}).items():
        if k not in have:
            raise ValueError(f"units given for {k!r}, which is not among "
                             "the quantities: " + ", ".join(have))
        have[k] = u
    base = get_preset(preset) if preset is not None else None
    variables: dict[str, Variable] = {}
    unknown = []
    kinds_of: dict[str, str | None] = {}
    for name, unit in have.items():
        kind = (kinds_of_names or {}).get(name) or kind_of(name, base)
        kinds_of[name] = kind
        if kind is None:
            unknown.append(name)
            continue
        if unit is None and base is not None and base.match(name):
            unit = base.match(name)[1].unit  # type: ignore[index]
        variables[name] = Variable(kind, unit or "")
    given = Preset("given", "the quantities at hand", variables)
    if target is not None and target not in kinds():
        raise ValueError(f"unknown kind {target!r}; kinds are, e.g.: "
                         + ", ".join(sorted(k for k in kinds()
                                            if k.startswith("theta"))))
    chosen = [lookup(n) for n in ptfs] if ptfs is not None else catalog()
    header = {name: name for name in variables}
    unit_of = {n: v.unit for n, v in variables.items() if v.unit}
    direct: dict[str, Binding] = {}
    missing: dict[str, list[str]] = {}
    for p in catalog():
        try:
            direct[p.name] = bind(p, (), {}, data=header, units=unit_of,
                                  preset=given, strict_units=False)
        except BindError as exc:
            missing[p.name] = exc.missing
        except TypeError:
            continue
    steps = _chains(direct, missing, header, unit_of, given)
    groups: dict[str, list[Candidate]] = {}
    for p in chosen:
        outs = [q for q in p.outputs if q.kind != "not_established"
                and (target is None or q.kind == target)]
        if not outs:
            continue
        chain: tuple[Step, ...] = ()
        if p.name in direct:
            binding = direct[p.name]
        elif p.name in steps:
            binding, chain = steps[p.name]
        else:
            continue
        for q in outs:
            groups.setdefault(q.kind, []).append(
                Candidate(p, q, binding, chain))
    near = _one_more(chosen, missing, steps, target)
    return Applicability(groups, kinds_of, unknown, near)


def _one_more(chosen: Iterable[PTF], missing: Mapping[str, list[str]],
              steps: Mapping[str, Any], target: str | None
              ) -> dict[str, list[PTF]]:
    """The functions (with an output of ``target``, where given) that lack
    exactly one input, of an established kind, by that kind."""
    near: dict[str, list[PTF]] = {}
    for p in chosen:
        lacking = missing.get(p.name)
        if not lacking or len(lacking) != 1 or p.name in steps:
            continue
        q = next(x for x in p.inputs if x.name == lacking[0])
        if q.kind == "not_established":
            continue
        if target is not None and not any(o.kind == target
                                          for o in p.outputs):
            continue
        near.setdefault(q.kind, []).append(p)
    return near


def _chains(direct: dict[str, Binding], missing: dict[str, list[str]],
            header: Mapping[str, str], unit_of: Mapping[str, str],
            given: Preset) -> dict[str, tuple[Binding, tuple[Step, ...]]]:
    """Functions whose missing inputs one other function of the same
    publication computes from the data (exactly one, so nothing is
    chosen arbitrarily)."""
    by_name = {p.name: p for p in catalog()}
    found: dict[str, tuple[Binding, tuple[Step, ...]]] = {}
    for name, lacking in missing.items():
        p = by_name[name]
        if not lacking:
            continue
        chain: list[Step] = []
        extra: dict[str, str] = {}
        for inp in lacking:
            q = next(x for x in p.inputs if x.name == inp)
            if q.kind == "not_established":
                break
            makers = [(o, direct[o.name]) for o in catalog()
                      if o.family == p.family and o.name in direct
                      for out in o.outputs if out.kind == q.kind]
            if len(makers) != 1:
                break
            maker, mb = makers[0]
            out = next(x for x in maker.outputs if x.kind == q.kind)
            chain.append(Step(inp, maker, out.name, mb))
            extra[inp] = inp
        else:
            try:
                binding = bind(p, (), {}, data={**header, **extra},
                               units=unit_of, preset=given,
                               strict_units=False)
            except TypeError:
                continue
            found[name] = (binding, tuple(chain))
    return found
