"""Which value, in which unit, goes to each input of a pedotransfer function.

The inputs of a call come from positional values, keyword values, a table
or dataset (``data=``), a mapping of input names to columns (``--map``), and
a preset that says which variable names carry which quantity in which unit.
This module decides, for every input of the function, where its value comes
from, the unit that value is in, and how it is turned into the unit of the
publication: a unit conversion, and where the quantity itself differs, a
derivation (organic matter from organic carbon with the van Bemmelen factor
1.724; silt as 100 % less sand and clay; total porosity from bulk density
where the catalog gives the particle density to use).  The same decisions serve
``estimate``, the command line and ``applicable``.
"""
from __future__ import annotations

import difflib
import sys
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np

from ._catalog import PTF, Quantity
from ._format import quantity_lines
from .presets import Preset

# Organic matter per unit of organic carbon (the van Bemmelen factor, the
# conventional 58 % carbon in soil organic matter).
OM_PER_OC = 1.724


class BindError(TypeError):
    """Inputs that cannot be bound; ``missing`` names the inputs for which
    no value was found."""

    def __init__(self, message: str, missing: list[str]) -> None:
        super().__init__(message)
        self.missing = missing


@dataclass
class Source:
    """Where the value of one input comes from."""

    label: str                # the name the caller used (keyword, column)
    value: Any                # as given (None for a derived input)
    unit: str | None          # the unit of the value; None: the publication's
    how: str = "given"        # "given", "unit", "derived", "absent"


@dataclass
class Bound:
    """One input of the call, bound to its source(s)."""

    q: Quantity
    label: str
    sources: list[Source]
    # For a derived input: the function of the sources' values, each in
    # ``work_unit`` (the input's own unit where None), that gives the
    # input's value.
    derive: Callable[..., Any] | None = None
    work_unit: str | None = None
    note: str = ""            # text of the derivation, for Result and CLI

    @property
    def source(self) -> Source:
        return self.sources[0]


@dataclass
class Binding:
    ptf: PTF
    inputs: list[Bound]
    unused: list[str] = field(default_factory=list)
    missing: list[str] = field(default_factory=list)  # nodata notes

    def notes(self) -> list[str]:
        return [b.note for b in self.inputs if b.note] + self.missing


def expected_inputs(ptf: PTF) -> str:
    """The list of a function's inputs with their units, for messages."""
    return "\n".join([f"{ptf.name} expects, in order:"]
                     + quantity_lines(ptf.inputs))


def _unit_of(value: Any) -> str | None:
    """The unit a value carries itself: a pint Quantity's, or the ``units``
    attribute of an xarray object (as NetCDF and SoilGrids files have)."""
    units = getattr(value, "units", None)
    if units is not None and hasattr(value, "magnitude"):
        return str(units)
    attrs = getattr(value, "attrs", None)
    if isinstance(attrs, Mapping) and "dims" in dir(value):
        u = attrs.get("units")
        if isinstance(u, str) and u.strip():
            return u.strip()
    return None


def _magnitude(value: Any) -> Any:
    return value.magnitude if hasattr(value, "magnitude") and hasattr(
        value, "units") else value


class _Pool:
    """The named values available to a call: keyword values, then the
    variables of ``data``.  Keys are looked up as given."""

    def __init__(self, kwargs: Mapping[str, Any],
                 data: Mapping[str, Any] | None) -> None:
        self.kwargs = dict(kwargs)
        self.data = data
        self.used: set[str] = set()

    def keys(self) -> list[str]:
        keys = list(self.kwargs)
        if self.data is not None:
            keys += [str(k) for k in _data_keys(self.data)
                     if str(k) not in self.kwargs]
        return keys

    def get(self, key: str) -> tuple[bool, Any]:
        if key in self.kwargs:
            return True, self.kwargs[key]
        if self.data is not None and key in _data_keys(self.data):
            return True, self.data[key]
        return False, None


def _data_keys(data: Any) -> list[Any]:
    if hasattr(data, "data_vars"):  # xarray Dataset
        return list(data.data_vars)
    if hasattr(data, "columns"):  # pandas DataFrame
        return list(data.columns)
    return list(data.keys())


def bind(ptf: PTF, args: Sequence[Any], kwargs: Mapping[str, Any], *,
         data: Mapping[str, Any] | None = None,
         mapping: Mapping[str, str] | None = None,
         units: Mapping[str, str] | None = None,
         preset: Preset | None = None,
         strict_units: bool = True) -> Binding:
    """Binds every input of ``ptf``; raises TypeError listing every problem
    (missing, unexpected, doubly given inputs) with the expected inputs."""
    names = ptf.input_names
    problems: list[str] = []
    if len(args) > ptf.nin:
        problems.append(f"takes {ptf.nin} input{'s' * (ptf.nin != 1)} but "
                        f"{len(args)} were given by position")
    pool = _Pool(kwargs, data)
    mapping = dict(mapping or {})
    for inp, col in mapping.items():
        if inp not in names:
            problems.append(f"--map {col}={inp}: {ptf.name} has no input "
                            f"{inp!r}; its inputs are: " + ", ".join(names))
    bound: list[Bound | None] = []
    for i, q in enumerate(ptf.inputs):
        found: list[tuple[str, Any]] = []
        if i < len(args):
            found.append((q.name, args[i]))
        for key in (q.name, *q.aliases):
            ok, v = pool.get(key)
            if ok and key in pool.kwargs:
                found.append((key, v))
                pool.used.add(key)
        if q.name in mapping:
            ok, v = pool.get(mapping[q.name])
            if ok:
                found.append((mapping[q.name], v))
                pool.used.add(mapping[q.name])
            else:
                problems.append(f"--map {mapping[q.name]}={q.name}: no column "
                                f"{mapping[q.name]!r}")
                bound.append(None)
                continue
        if not found and data is not None:
            for key in (q.name, *q.aliases):
                ok, v = pool.get(key)
                if ok:
                    found.append((key, v))
                    pool.used.add(key)
                    break
        if not found and data is not None:
            # A column named like the input in other letter case ("Sand"),
            # when only one is.
            wanted = {k.lower() for k in (q.name, *q.aliases)}
            hits = [k for k in map(str, _data_keys(data))
                    if k.lower() in wanted and k not in pool.used]
            if len(hits) == 1:
                found.append((hits[0], pool.get(hits[0])[1]))
                pool.used.add(hits[0])
        if not found and preset is not None:
            hits = [k for k in pool.keys()
                    if (m := preset.match(k)) is not None
                    and m[1].kind == q.kind]
            if len(hits) > 1:
                problems.append(f"input {q.name!r}: the {preset.name} "
                                f"variables {', '.join(map(repr, hits))} "
                                "all carry it; pass one by name")
                bound.append(None)
                continue
            if hits:
                ok, v = pool.get(hits[0])
                found.append((hits[0], v))
                pool.used.add(hits[0])
        if len(found) > 1:
            if i < len(args) and len(found) == 2:
                problems.append(f"input {q.name!r} given both by position "
                                f"and by name ({found[1][0]!r})")
            else:
                problems.append(f"input {q.name!r} given more than once ("
                                + ", ".join(repr(k) for k, _ in found) + ")")
            bound.append(None)
            continue
        if found:
            label, value = found[0]
            bound.append(Bound(q, label, [Source(label, value, None)]))
        else:
            bound.append(None)
    # Inputs still missing may be derived from other quantities.
    for i, q in enumerate(ptf.inputs):
        if bound[i] is None:
            d = _derive(q, pool, preset, bound)
            if d is not None:
                bound[i] = d
            elif q.optional:
                bound[i] = absent(q, ptf)
    missing = [q.name for q, b in zip(ptf.inputs, bound) if b is None]
    known = set(names) | {a for q in ptf.inputs for a in q.aliases}
    unexpected = [k for k in kwargs if k not in pool.used
                  and k not in known
                  and not (preset is not None and preset.match(k))]
    for key in unexpected:
        near = difflib.get_close_matches(key, missing or list(names), n=1,
                                         cutoff=0.5)
        hint = f" (did you mean {near[0]!r}?)" if near else ""
        problems.append(f"unexpected input {key!r}{hint}")
    if missing and not any("given more than once" in p or "--map" in p
                           or "all carry it" in p for p in problems):
        problems.append("missing input" + "s" * (len(missing) > 1) + " "
                        + ", ".join(repr(n) for n in missing)
                        + near_columns(missing, data, pool.used))
    if problems:
        raise BindError(f"{ptf.name}: " + "; ".join(problems) + ".\n"
                        + expected_inputs(ptf), missing)
    result = Binding(ptf, [b for b in bound if b is not None])
    _assign_units(result, units or {}, preset, strict_units, data)
    return result


def absent(q: Quantity, ptf: PTF) -> Bound:
    """An optional input the data do not give: NaN, missing for every
    sample, so that the function uses its model without it."""
    return Bound(q, q.name, [Source(q.name, np.nan, None, "absent")],
                 note=f"{q.name} not given (optional): {ptf.short_name} "
                 "uses its model without it")


def near_column(name: str, columns: Sequence[str]) -> str | None:
    """The column whose name is closest to input ``name`` (case aside),
    if any is close."""
    low = {c.lower(): c for c in reversed(list(columns))}
    near = difflib.get_close_matches(name.lower(), list(low), n=1,
                                     cutoff=0.6)
    return low[near[0]] if near else None


def near_columns(missing: Sequence[str], data: Any, used: set[str]) -> str:
    """`` (the data have 'Clay_pct': mapping={'clay': 'Clay_pct'}?)`` for
    the missing inputs with a column of a close name."""
    if data is None:
        return ""
    free = [str(k) for k in _data_keys(data) if str(k) not in used]
    pairs = [(m, c) for m in missing if (c := near_column(m, free))]
    if not pairs:
        return ""
    return (" (the data have " + ", ".join(repr(c) for _, c in pairs)
            + ": mapping={" + ", ".join(f"{m!r}: {c!r}" for m, c in pairs)
            + "}?)")


def _derive(q: Quantity, pool: _Pool, preset: Preset | None,
            bound: list[Bound | None]) -> Bound | None:
    """An input computed from other quantities the caller has."""
    def find(kind: str, *names: str) -> tuple[str, Any] | None:
        for key in names:
            ok, v = pool.get(key)
            if ok:
                return key, v
        if preset is not None:
            for key in pool.keys():
                m = preset.match(key)
                if m is not None and m[1].kind == kind:
                    return key, pool.get(key)[1]
        for b in bound:
            if b is not None and b.q.kind == kind:
                return b.label, b.source.value
        return None

    if not q.established or q.range is None:
        return None
    organic = _ORGANIC.get(q.kind)
    if organic is not None:
        kind, names, convert, text = organic
        src = find(kind, *names)
        if src is not None:
            pool.used.add(src[0])
            return Bound(q, src[0], [Source(src[0], src[1], None, "derived")],
                         derive=convert,
                         note=text.format(q=q.name, src=src[0], f=OM_PER_OC))
    if q.kind == "porosity" and q.particle_density is not None:
        # Total porosity from bulk density, where the catalog gives the
        # particle density the function's implementations use (Rawls and
        # Brakensiek 1985: 1 - BD / 2.65, in two implementations).
        src = find("bulk_density", "bd", "bulk_density")
        if src is not None:
            pool.used.add(src[0])
            density = float(q.particle_density)
            return Bound(q, src[0], [Source(src[0], src[1], None, "derived")],
                         derive=lambda bd: np.subtract(
                             1.0, np.divide(bd, density)),
                         work_unit="g/cm^3",
                         note=f"{q.name} = 1 - {src[0]} / {density:g} "
                         f"(total porosity from bulk density, particle "
                         f"density {density:g} g/cm3)")
    texture = ("sand", "silt", "clay")
    index = _CLASS_INDEX.get(q.kind)
    if index is not None:
        sources, derive, work_unit, text = index
        got = [find(k, k) for k in sources]
        if all(g is not None for g in got):
            for g in got:
                pool.used.add(g[0])  # type: ignore[index]
            found = ", ".join(g[0] for g in got)  # type: ignore[index]
            return Bound(
                q, got[0][0],  # type: ignore[index]
                [Source(g[0], g[1], None, "derived")  # type: ignore[index]
                 for g in got],
                derive=derive, work_unit=work_unit,
                note=text.format(q=q.name, src=found))
    if q.kind in texture:
        others = [k for k in texture if k != q.kind]
        got = [find(k, k) for k in others]
        if all(g is not None for g in got):
            for g in got:
                pool.used.add(g[0])  # type: ignore[index]
            srcs = [Source(g[0], g[1], None, "derived")  # type: ignore[index]
                    for g in got]
            return Bound(q, got[0][0], srcs,  # type: ignore[index]
                         derive=_complement(q),
                         note=f"{q.name} = 100 % - {got[0][0]} - "  # type: ignore[index]
                         f"{got[1][0]}")  # type: ignore[index]
    return None


# Organic matter and organic carbon, each from the other.
_ORGANIC: dict[str, tuple[str, tuple[str, ...], Callable[[Any], Any], str]] = {
    "organic_matter": (
        "organic_carbon", ("oc", "soc", "organic_carbon"),
        lambda c: np.multiply(c, OM_PER_OC),
        "{q} = {f} x {src} (organic matter from organic carbon, van "
        "Bemmelen factor)"),
    "organic_carbon": (
        "organic_matter", ("om", "som", "organic_matter"),
        lambda m: np.divide(m, OM_PER_OC),
        "{q} = {src} / {f} (organic carbon from organic matter, van "
        "Bemmelen factor)"),
}


def _texture_row(sand: Any, silt: Any, clay: Any,
                 row_of: Callable[[Any], Any]) -> Any:
    """The class-table row (``row_of`` of the USDA texture code) of sand,
    silt and clay in percent, in the container of the fractions (a pandas
    Series keeps its index, an xarray DataArray its dimensions and
    coordinates, a dask array stays lazy)."""
    from ._curves import calc_texture_usda

    codes = calc_texture_usda(sand, silt, clay)
    xr = sys.modules.get("xarray")
    if xr is not None and isinstance(codes, xr.DataArray):
        return xr.apply_ufunc(row_of, codes, dask="parallelized",
                              output_dtypes=[np.uint32])
    pd = sys.modules.get("pandas")
    if pd is not None and isinstance(codes, pd.Series):
        return pd.Series(row_of(codes.to_numpy()), index=codes.index,
                         name=codes.name)
    dask_array = sys.modules.get("dask.array")
    if dask_array is not None and isinstance(codes, dask_array.Array):
        return codes.map_blocks(row_of, dtype=np.uint32)
    return row_of(codes)


def _clapp_index(sand: Any, silt: Any, clay: Any) -> Any:
    """The Clapp and Hornberger (1978) row of the USDA texture class of
    sand, silt and clay in percent."""
    from .texture import clapp_index_from_usda

    return _texture_row(sand, silt, clay, clapp_index_from_usda)


def _usda_index(sand: Any, silt: Any, clay: Any) -> Any:
    """The USDA class index (0 to 11) of sand, silt and clay in percent."""
    from .texture import usda_index

    return _texture_row(sand, silt, clay, usda_index)


def _hypres_index(fao_class: Any, topsoil: Any) -> Any:
    """The HYPRES class-table row of an FAO texture class and layer."""
    from .texture import hypres_index

    return hypres_index(_magnitude(fao_class), _magnitude(topsoil))


# Class indices found from other quantities: by the index's kind, the
# quantities it is found from (each by kind or name), the function of
# their values (each in the work unit, where it has one), the work unit
# and the text of the derivation.  The FAO texture class of HYPRES is
# named by the caller (its boundaries are not established), with the
# topsoil indicator.
_CLASS_INDEX: dict[str, tuple[tuple[str, ...], Callable[..., Any],
                              str | None, str]] = {
    "texture_class_clapp": (
        ("sand", "silt", "clay"), _clapp_index, "percent",
        "{q} = the Clapp and Hornberger row of the USDA texture class of "
        "{src} (silt takes the silt loam row)"),
    "texture_class_usda": (
        ("sand", "silt", "clay"), _usda_index, "percent",
        "{q} = the USDA texture class of {src} (calc_texture_usda), as an "
        "index 0 to 11"),
    "texture_class_hypres": (
        ("fao_class", "topsoil"), _hypres_index, None,
        "{q} = the HYPRES class-table row of the FAO texture class and the "
        "layer ({src})"),
}


def class_index_sources(kind: str) -> tuple[str, ...] | None:
    """The kinds a class index of ``kind`` is found from (None: the kind
    is not a class index found from other quantities)."""
    found = _CLASS_INDEX.get(kind)
    return None if found is None else found[0]


def _complement(q: Quantity) -> Callable[[Any, Any], Any]:
    """The third texture fraction from the other two, in the unit of ``q``:
    the upper end of a content's range is the whole (100 %, or 1 for a
    mass fraction)."""
    total = 100.0 if q.range is None or q.range[1] is None else q.range[1]

    def complement(a: Any, b: Any) -> Any:
        return np.subtract(np.subtract(total, a), b)
    return complement


def _assign_units(binding: Binding, units: Mapping[str, str],
                  preset: Preset | None, strict: bool = True,
                  data: Any = None) -> None:
    """The unit of every source: from ``units`` (by the caller's name or the
    input's name), the value itself (pint, xarray attrs), the preset, or
    else the unit of the publication (None)."""
    labels: set[str] = set()
    for b in binding.inputs:
        for s in b.sources:
            if s.how == "absent":
                continue
            labels.add(s.label)
            labels.add(b.q.name) if s is b.source else None
            explicit = units.get(s.label)
            if explicit is None and s is b.source and b.derive is None:
                explicit = units.get(b.q.name)
            own = _unit_of(s.value)
            if explicit is not None and own is not None and hasattr(
                    s.value, "magnitude"):
                raise TypeError(f"input {s.label!r} is a pint Quantity in "
                                f"{own} and also has units={explicit!r}")
            if own is not None and hasattr(s.value, "magnitude"):
                s.value = _magnitude(s.value)
                s.unit = own
                s.how = "unit" if s.how == "given" else s.how
                continue
            if explicit is not None:
                s.unit = str(explicit)
            elif own is not None:
                s.unit = own
            elif preset is not None and (m := preset.match(s.label)):
                s.unit = m[1].unit or None
            if (preset is not None and preset.nodata is not None
                    and preset.match(s.label) and s.value is not None):
                s.value, note = _nodata_as_missing(s.value, s.label, preset)
                if note and note not in binding.missing:
                    binding.missing.append(note)
    # Units of the other columns of a table are not this function's
    # business: one mapping serves the whole table.
    columns = set(map(str, _data_keys(data))) if data is not None else set()
    unknown = [k for k in units if k not in labels and k not in columns]
    if unknown and strict:
        names = sorted(labels)
        raise TypeError("units given for " + ", ".join(map(repr, unknown))
                        + f", which {'is' if len(unknown) == 1 else 'are'} "
                        f"not an input of {binding.ptf.name}; its inputs "
                        "here are: " + ", ".join(names))


def _nodata_as_missing(value: Any, label: str, preset: Preset
                       ) -> tuple[Any, str]:
    """``value`` with the preset's nodata value as NaN (of the same kind of
    container), and a note saying so; no note when no value is nodata.
    Lazy data are not counted (that would compute them)."""
    nodata = preset.nodata
    what = (f"{label}: the {preset.name} nodata value {nodata:g} is taken "
            "as missing (NaN)")
    if hasattr(value, "where") and hasattr(value, "dims"):  # xarray
        data = getattr(value, "data", None)
        if type(data).__module__.startswith("dask"):
            return value.where(value != nodata), what
        hit = int((value == nodata).sum())
        return (value.where(value != nodata), f"{what}: {hit} value"
                f"{'s' * (hit != 1)}") if hit else (value, "")
    if hasattr(value, "mask") and hasattr(value, "index"):  # pandas
        hit = int((value == nodata).sum())
        return (value.mask(value == nodata), f"{what}: {hit} value"
                f"{'s' * (hit != 1)}") if hit else (value, "")
    if type(value).__module__.startswith("dask"):
        da: Any = __import__("dask.array").array
        return da.where(value == nodata, np.nan, value), what
    try:
        arr = np.asanyarray(value)
    except (TypeError, ValueError):
        return value, ""  # refused later, with its own message
    if arr.dtype.kind not in "iuf":
        return value, ""
    hit_mask = arr == nodata
    hit = int(np.count_nonzero(hit_mask))
    if not hit:
        return value, ""
    if np.ma.isMaskedArray(arr):
        out: Any = np.ma.where(hit_mask, np.nan, arr)  # type: ignore[no-untyped-call]
    else:
        out = np.where(hit_mask, np.nan, arr)
    return out, f"{what}: {hit} value{'s' * (hit != 1)}"
