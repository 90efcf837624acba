"""The named interface: ``loamara.estimate(name, input=value, ...)``.

``estimate`` binds the caller's values to the inputs of a pedotransfer
function (by name, position, a table or dataset, a preset), converts each
to the unit of the publication, checks that the values are physically
possible, calls the ufunc in the way that suits the container it was given,
and returns the outputs by name, with their units:

* NumPy arrays and Python scalars: the ufunc itself (large arrays through
  :func:`loamara.parallel_apply`, on all cores);
* masked arrays: the ufunc on the unmasked elements, masks kept;
* pandas Series: the ufunc through pandas, which aligns the indexes;
* dask arrays: ``dask.array.apply_gufunc``, lazily, block by block;
* xarray objects: ``xarray.apply_ufunc`` with ``dask="parallelized"``, which
  keeps dimensions and coordinates and stays lazy for dask-backed data.

pandas, xarray, dask and pint are optional: they are only looked at when
the caller passes their objects or asks for unit conversions.

A call on Python numbers is kept short: each function's names, ranges and
output index are prepared once, and error texts are built only on error.
"""
from __future__ import annotations

import contextlib
import contextvars
import functools
import importlib
import math
import sys
from collections.abc import Iterator, Mapping, Sequence
from dataclasses import replace
from typing import Any

import numpy as np

from . import _checks
from ._bind import Binding, Bound, Source, bind, expected_inputs
from ._catalog import PTF, Quantity, lookup
from ._dedup import Seen
from .presets import Preset
from .presets import get as get_preset

__all__ = ["Result", "estimate", "expected_inputs", "operand", "apply_block"]

_UINT32_MAX = 4294967295

# Unit texts that are not units (no CF "units" attribute is written).
_NO_UNIT = ("not established", "caller's choice", "unit of b")

# Arrays of at least this many elements go through parallel_apply.
_PARALLEL_MIN = 1 << 14


class Prepared:
    """What a call needs to know about one function, prepared once."""

    __slots__ = ("ptf", "ufunc", "nin", "index", "out_index", "ranges",
                 "index_input", "units", "percent_texture", "texture",
                 "bounds", "out_bounds", "plain_ok", "notes")

    def __init__(self, ptf: PTF) -> None:
        self.ptf = ptf
        self.ufunc = ptf.ufunc
        self.nin = ptf.nin
        self.index = {q.name: i for i, q in enumerate(ptf.inputs)}
        self.out_index: dict[str, int] = {}
        for j, q in enumerate(ptf.outputs):
            for key in (q.name, *q.aliases):
                self.out_index.setdefault(key, j)
        ranges: list[tuple[float, float, bool, bool] | None] = []
        for q in ptf.inputs:
            if q.range is None:
                ranges.append(None)
            else:
                lo, hi = q.range
                ranges.append((-math.inf if lo is None else lo,
                               math.inf if hi is None else hi,
                               q.range_open[0], q.range_open[1]))
        self.ranges = tuple(ranges)
        # (input, low, high, low open, high open) of the bounded inputs.
        self.bounds = tuple((i, *r) for i, r in enumerate(ranges)
                            if r is not None)
        idx = [i for i, q in enumerate(ptf.inputs) if q.dtype == "uint32"]
        self.index_input = idx[0] if idx else None
        self.units = {q.name: output_unit_text(q) for q in ptf.outputs}
        self.percent_texture, self.texture = _checks.scalar_flags(ptf)
        self.out_bounds = tuple(
            (j, -math.inf if q.range[0] is None else q.range[0],
             math.inf if q.range[1] is None else q.range[1], *q.range_open)
            for j, q in enumerate(ptf.outputs) if q.range is not None)
        # Plain numbers take the quick check unless a calibration range
        # is established.
        self.plain_ok = not ptf.domain()
        self.notes = _catalog_notes(ptf)


_PREPARED: dict[Any, Prepared] = {}


def _prepared(key: Any) -> Prepared:
    try:
        return _PREPARED[key]
    except (KeyError, TypeError):
        pass
    ptf = lookup(key)
    prep = _PREPARED.get(ptf.name)
    if prep is None:
        prep = Prepared(ptf)
        _PREPARED[ptf.name] = prep
    if isinstance(key, (str, np.ufunc)):
        _PREPARED[key] = prep
    else:
        _PREPARED[ptf] = prep
    return prep


def output_unit_text(q: Quantity, unit: str | None = None) -> str:
    """The unit of an output as text: ``log10(in/h)`` for a logarithm."""
    u = q.unit if unit is None else unit
    return f"log10({u})" if q.log10 else u


class Result(Mapping[str, Any]):
    """The outputs of one :func:`estimate` call, under their catalog names.

    Outputs are reached by key (``r["theta_33"]``) or attribute
    (``r.theta_33``); iteration gives the names in output order, and
    ``values()`` the outputs in the order of the positional ufunc.
    ``units`` gives each output's unit, ``notes`` the derivations made
    (organic matter from organic carbon, for example)."""

    __slots__ = ("_prepared", "_values", "_units", "_notes", "_index",
                 "_outside")

    def __init__(self, ptf: PTF | Prepared, values: tuple[Any, ...],
                 units: Mapping[str, str] | None = None,
                 notes: tuple[str, ...] = (),
                 class_index: Any = None,
                 outside: Mapping[str, int] | None = None) -> None:
        prep = ptf if isinstance(ptf, Prepared) else _prepared(ptf.name)
        if len(values) != prep.ptf.nout:
            raise ValueError(f"{prep.ptf.name} has {prep.ptf.nout} outputs, "
                             f"not {len(values)}")
        self._prepared = prep
        self._values = values
        self._units = prep.units if units is None else units
        self._notes = notes
        self._index = class_index
        self._outside = outside

    @property
    def outside(self) -> Mapping[str, int] | None:
        """The number of values of each output outside what its kind can
        physically be, for the outputs that have any (``{}`` for none);
        None where the outputs were not checked (``check="off"``, lazy
        data: their warnings come block by block)."""
        return None if self._outside is None else dict(self._outside)

    @property
    def class_index(self) -> Any:
        """For a class-table function (Clapp and Hornberger 1978), the
        class index of each sample as the ufunc received it; else None."""
        return self._index

    @property
    def ptf(self) -> PTF:
        """The catalog record of the function that produced the outputs."""
        return self._prepared.ptf

    @property
    def units(self) -> Mapping[str, str]:
        """The unit of each output, after any conversion."""
        return dict(self._units)

    @property
    def notes(self) -> tuple[str, ...]:
        """The derivations made to bind the inputs, then what the catalog
        says a caller should know (the soil group a variant was fitted to,
        a documented doubt about the formula), one line each."""
        return self._notes

    def __getitem__(self, key: str) -> Any:
        try:
            return self._values[self._prepared.out_index[key]]
        except (KeyError, TypeError):
            raise KeyError(self._missing(key)) from None

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        try:
            return self._values[self._prepared.out_index[name]]
        except KeyError:
            raise AttributeError(self._missing(name)) from None

    def _missing(self, key: object) -> str:
        return (f"{self.ptf.name} has no output {key!r}; its outputs are: "
                + ", ".join(self.ptf.output_names))

    def __iter__(self) -> Iterator[str]:
        return iter(self.ptf.output_names)

    def __len__(self) -> int:
        return len(self._values)

    def __contains__(self, key: object) -> bool:
        return key in self.ptf.output_names

    def __dir__(self) -> list[str]:
        return sorted(set(super().__dir__()) | set(self.ptf.output_names))

    def as_tuple(self) -> tuple[Any, ...]:
        """The outputs in order, as the positional ufunc returns them."""
        return self._values

    def __repr__(self) -> str:
        parts = []
        for name, value in zip(self.ptf.output_names, self._values):
            if isinstance(value, (float, np.floating)):
                text = repr(float(value))
            else:
                shape = getattr(value, "shape", None)
                text = f"<{type(value).__name__} shape={shape}>"
            parts.append(f"{name}={text} {self._units.get(name, '')}".strip())
        return f"Result[{self.ptf.name}]({', '.join(parts)})"


# ---------------------------------------------------------------------------
# Operands


def _label(q: Quantity, ptf: PTF) -> str:
    return f"input {q.name!r} of {ptf.name}"


def _float64(arr: np.ndarray, q: Quantity, ptf: PTF) -> np.ndarray:
    kind = arr.dtype.kind
    if arr.dtype == np.float64:
        return arr
    if kind in "biuf":
        return arr.astype(np.float64)
    if kind == "O":
        try:
            return arr.astype(np.float64)
        except (TypeError, ValueError) as exc:
            raise TypeError(f"{_label(q, ptf)} holds values that are not "
                            f"numbers: {exc}") from None
    raise TypeError(f"{_label(q, ptf)} has values of type {arr.dtype}; real "
                    "numbers are expected")


def _class_index(arr: np.ndarray, q: Quantity, ptf: PTF) -> np.ndarray:
    """A texture-class index as uint32.  Every whole number from 0 to
    4294967295 is a valid operand (indices outside the table give NaN);
    anything else cannot be converted without changing its value."""
    kind = arr.dtype.kind
    if arr.dtype == np.uint32:
        return arr
    if kind == "O":
        arr = _float64(arr, q, ptf)
        kind = "f"
    if kind not in "iuf":
        raise TypeError(f"{_label(q, ptf)} has values of type {arr.dtype}; a "
                        "whole number (texture-class index) is expected")
    if kind == "f":
        # Checked in double precision, which holds every float16/float32
        # exactly: in float32, 4294967295 rounds to 2**32.
        if arr.dtype.itemsize < 8:
            arr = arr.astype(np.float64)
        bad = ~(np.isfinite(arr) & (arr == np.floor(arr)))
        bad |= (arr < 0) | (arr > _UINT32_MAX)
    else:
        bad = (arr < 0) | (arr > _UINT32_MAX)
    if np.any(bad):
        first = arr[bad].flat[0].item()
        raise ValueError(f"{_label(q, ptf)} must be a whole number from 0 to "
                         f"{_UINT32_MAX} (a texture-class index); got "
                         f"{first!r}")
    return arr.astype(np.uint32)


def operand(value: Any, q: Quantity, ptf: PTF) -> np.ndarray:
    """One input as a NumPy array of the ufunc's operand type."""
    try:
        arr = np.asarray(value)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{_label(q, ptf)} cannot be read as an array: "
                        f"{exc}") from None
    if q.dtype == "uint32":
        return _class_index(arr, q, ptf)
    return _float64(arr, q, ptf)


def _pandas_operand(value: Any, q: Quantity, ptf: PTF, pd: Any) -> Any:
    if not isinstance(value, (pd.Series, pd.DataFrame)):
        return operand(value, q, ptf)
    if isinstance(value, pd.Series) and isinstance(value.dtype, np.dtype):
        raw = value.to_numpy()
    elif isinstance(value, pd.DataFrame) and all(
            isinstance(t, np.dtype) for t in value.dtypes):
        raw = value.to_numpy()
    else:
        # Extension dtypes (nullable integers and floats): missing values
        # become NaN.
        try:
            raw = value.to_numpy(dtype=np.float64, na_value=np.nan)
        except (TypeError, ValueError) as exc:
            raise TypeError(f"{_label(q, ptf)} holds values that are not "
                            f"numbers: {exc}") from None
    conv = operand(raw, q, ptf)
    if isinstance(value, pd.Series):
        return pd.Series(conv, index=value.index, name=value.name)
    return pd.DataFrame(conv, index=value.index, columns=value.columns)


# ---------------------------------------------------------------------------
# Containers


def apply_block(name: str, check: str, words: tuple[Any, ...] | None,
                *arrays: Any, seen: Seen | None = None) -> Any:
    """Converts one block of inputs, checks it and applies the ufunc
    ``name`` to it.  Module level (and so picklable by reference) for the
    workers of a dask cluster; ``words`` (see :func:`_words`) lets the
    checks name the caller's variables and units; ``seen``, the problems
    already reported for other blocks of the same call."""
    ptf = lookup(name)
    ops = [operand(a, q, ptf) for a, q in zip(arrays, ptf.inputs)]
    if check != "off":
        items = None
        if words is not None:
            items = [_checks.Checked(q, label, unit, _back(div, mul), how)
                     for q, (label, unit, div, mul, how)
                     in zip(ptf.inputs, words)]
        _checks.run_checks(ptf, ops, check, items, seen=seen)
    out = ptf.ufunc(*ops)
    if check != "off":
        _checks.check_outputs(ptf, _as_tuple(out), check, seen=seen)
    return out


def _back(divide: float, multiply: float) -> Any:
    """From the publication's unit back to the caller's, for messages."""
    if divide != 1.0:
        return lambda x: x * divide
    if multiply != 1.0:
        return lambda x: x / multiply
    return None


def _words(items: list[_checks.Checked] | None,
           convs: list[Any] | None) -> tuple[Any, ...] | None:
    """Plain data (picklable) for the checks of the blocks of lazy data."""
    if items is None:
        return None
    out = []
    for i, c in enumerate(items):
        conv = convs[i] if convs is not None else None
        out.append((c.label, c.given_unit,
                    conv.divide if conv is not None else 1.0,
                    conv.multiply if conv is not None else 1.0, c.derived))
    return tuple(out)


def _container(values: list[Any]) -> str:
    xr = sys.modules.get("xarray")
    if xr is not None and any(
            isinstance(v, (xr.DataArray, xr.Dataset, xr.Variable))
            for v in values):
        return "xarray"
    dask_array = sys.modules.get("dask.array")
    if dask_array is not None and any(
            isinstance(v, dask_array.Array) for v in values):
        return "dask"
    pd = sys.modules.get("pandas")
    if pd is not None and any(
            isinstance(v, (pd.Series, pd.DataFrame)) for v in values):
        return "pandas"
    if any(np.ma.isMaskedArray(v) for v in values):
        return "masked"
    return "numpy"


def _as_tuple(out: Any) -> tuple[Any, ...]:
    return out if isinstance(out, tuple) else (out,)


def _lazy(values: list[Any]) -> bool:
    dask_array = sys.modules.get("dask.array")
    if dask_array is None:
        return False
    return any(isinstance(getattr(v, "data", v), dask_array.Array)
               for v in values)


def _xarray_operand(value: Any, q: Quantity, ptf: PTF,
                    coords: dict[str, Any], xr: Any) -> Any:
    """A pandas Series among xarray inputs becomes a DataArray along the
    dimension its index is named after, in the order of that dimension's
    labels; anything else of pandas is refused rather than broadcast."""
    pd = sys.modules.get("pandas")
    if pd is None or not isinstance(value, (pd.Series, pd.DataFrame)):
        return value
    name = value.index.name if isinstance(value, pd.Series) else None
    if name not in coords:
        raise TypeError(
            f"{_label(q, ptf)} is a pandas {type(value).__name__} among "
            f"xarray inputs with dimensions {sorted(coords)}: name the "
            "Series' index after the dimension it runs along "
            "(series.rename_axis('DIM')) or pass a DataArray")
    arr = xr.DataArray.from_series(value)
    labels = coords[name]
    if labels is not None and not labels.equals(value.index):
        if (len(labels) != len(value.index) or not value.index.is_unique
                or not labels.isin(value.index).all()):
            raise ValueError(
                f"{_label(q, ptf)}: the labels of the Series' index "
                f"{name!r} are not those of the xarray dimension {name!r}; "
                "reindex it first")
        arr = arr.reindex({name: labels})
    return arr


def _run_xarray(ptf: PTF, values: list[Any], check: str,
                items: list[_checks.Checked] | None = None,
                words: tuple[Any, ...] | None = None,
                prepare: Any = None) -> tuple[Any, ...]:
    import xarray as xr

    coords: dict[str, Any] = {}
    for v in values:
        if isinstance(v, (xr.DataArray, xr.Dataset, xr.Variable)):
            for d in v.dims:
                index = v.indexes.get(d) if hasattr(v, "indexes") else None
                coords.setdefault(str(d), index)
    values = [_xarray_operand(v, q, ptf, coords, xr)
              for v, q in zip(values, ptf.inputs)]
    lazy = _lazy(values)
    if not lazy:
        _checks.run_checks(ptf, [getattr(v, "values", v) for v in values],
                           check, items, stacklevel=5, prepare=prepare)
    return _as_tuple(xr.apply_ufunc(
        functools.partial(apply_block, ptf.name, check if lazy else "off",
                          words, seen=Seen()),
        *values, dask="parallelized",
        output_core_dims=[[] for _ in ptf.outputs],
        output_dtypes=[np.float64] * ptf.nout, keep_attrs="drop"))


def _run_dask(ptf: PTF, values: list[Any], check: str,
              words: tuple[Any, ...] | None = None) -> tuple[Any, ...]:
    da: Any = importlib.import_module("dask.array")

    signature = (",".join(["()"] * ptf.nin) + "->"
                 + ",".join(["()"] * ptf.nout))
    dtypes: Any = [np.float64] * ptf.nout if ptf.nout > 1 else np.float64
    # NumPy arrays and scalars become dask arrays with the chunks of the
    # dask inputs, so that every block of every operand lines up.
    arrays = da.broadcast_arrays(*[
        v if isinstance(v, da.Array) else da.asarray(np.asarray(v))
        for v in values])
    return _as_tuple(da.apply_gufunc(
        functools.partial(apply_block, ptf.name, check, words, seen=Seen()),
        signature,
        *arrays,
        output_dtypes=dtypes, vectorize=False))


def _run_pandas(ptf: PTF, values: list[Any], check: str,
                threads: int | None,
                items: list[_checks.Checked] | None = None,
                prepare: Any = None) -> tuple[Any, ...]:
    pd = sys.modules["pandas"]
    ops = [_pandas_operand(v, q, ptf, pd) for v, q in zip(values, ptf.inputs)]
    _checks.run_checks(ptf, [o.to_numpy() if isinstance(
        o, (pd.Series, pd.DataFrame)) else o for o in ops], check, items,
        stacklevel=5, prepare=prepare)
    series = [o for o in ops if isinstance(o, pd.Series)]
    if (len(series) == len(ops) and all(isinstance(o, pd.Series) for o in ops)
            and all(s.index.equals(series[0].index) for s in series[1:])):
        # Aligned Series: the arrays, on all cores, then Series again.
        out = _call(ptf, [s.to_numpy() for s in series], threads)
        idx = series[0].index
        return tuple(pd.Series(o, index=idx, name=q.name)
                     for o, q in zip(out, ptf.outputs))
    out = _as_tuple(ptf.ufunc(*ops))
    named = []
    for q, o in zip(ptf.outputs, out):
        if isinstance(o, pd.Series):
            o.name = q.name
        named.append(o)
    return tuple(named)


def _run_masked(ptf: PTF, values: list[Any], check: str,
                items: list[_checks.Checked] | None = None
                ) -> tuple[Any, ...]:
    """Masked arrays in, masked arrays out: an element masked in any input
    is masked in every output and is not evaluated (its outputs hold NaN
    under the mask)."""
    ops = [operand(np.ma.getdata(v), q, ptf)
           for v, q in zip(values, ptf.inputs)]
    shape = np.broadcast_shapes(*(o.shape for o in ops))
    mask = np.zeros(shape, dtype=bool)
    for v in values:
        if np.ma.isMaskedArray(v):
            mask |= np.ma.getmaskarray(v)
    if check != "off":
        keep = ~mask
        _checks.run_checks(ptf, [np.broadcast_to(o, shape)[keep]
                                 for o in ops], check, items, stacklevel=5)
    outs = tuple(np.full(shape, np.nan) for _ in range(ptf.nout))
    ptf.ufunc(*ops, out=outs, where=~mask)
    return tuple(np.ma.masked_array(o, mask=mask.copy()) for o in outs)


def _call(ptf: PTF, ops: list[Any], threads: int | None) -> tuple[Any, ...]:
    """The ufunc on NumPy operands; large calls on all cores."""
    if threads != 1 and max((np.size(o) for o in ops), default=0) >= \
            _PARALLEL_MIN:
        from .parallel import parallel_apply
        return _as_tuple(parallel_apply(ptf.ufunc, *ops, threads=threads))
    return _as_tuple(ptf.ufunc(*ops))


def _items(ptf: PTF, bound: list[Bound] | None,
           convs: list[Any] | None = None) -> list[_checks.Checked]:
    """The checks' view of the inputs: label, the caller's unit and the
    way back to it (for the values a message quotes)."""
    items = []
    for i, q in enumerate(ptf.inputs):
        b = bound[i] if bound is not None else None
        if b is None:
            items.append(_checks.Checked(q, q.name, None))
            continue
        if b.derive is not None and q.dtype == "uint32":
            # A class derived from the texture: the texture is checked
            # (see _check_class_texture), not the index made from it.
            items.append(_checks.Checked(replace(q, range=None), b.label,
                                         None))
            continue
        conv = convs[i] if convs is not None else None
        back = None
        if conv is not None and not conv.identity:
            back = (lambda x, c=conv: x * c.divide) if conv.divide != 1.0 \
                else (lambda x, c=conv: x / c.multiply)
        items.append(_checks.Checked(
            q, b.label, b.source.unit if b.derive is None else None, back,
            _derivation(b)))
    return items


def _check_class_texture(ptf: PTF, binding: Binding, check: str) -> None:
    """A texture class derived from sand, silt and clay (Clapp and
    Hornberger's row, the USDA class of the class tables): the fractions
    it came from are checked, each against 0-100 % and their sum against
    100 %, in the caller's words.  Lazy fractions are classified block by
    block and not checked here."""
    from . import units as u

    if check == "off":
        return
    from ._bind import class_index_sources

    memo = _DERIVED.get()
    for b in binding.inputs:
        if b.derive is None or b.q.dtype != "uint32":
            continue
        if class_index_sources(b.q.kind) != _checks.TEXTURE:
            continue  # a class named by the caller (HYPRES' FAO class)
        if _lazy([s.value for s in b.sources]):
            continue
        if memo is not None:  # the same fractions checked once per scope
            key = ("texture checked", check, _sources_key(b))
            if key in memo:
                continue
            memo[key] = ([s.value for s in b.sources], None)
        items: list[_checks.Checked] = []
        values: list[np.ndarray] = []
        for s in b.sources:
            kind = s.label if s.label in _checks.TEXTURE else None
            kind = kind or next(k for k in _checks.TEXTURE
                                if k not in {i.q.kind for i in items})
            q = Quantity(name=kind, unit="percent", meaning=kind, kind=kind,
                         range=(0.0, 100.0))
            value = np.asarray(getattr(s.value, "values", s.value),
                               dtype=np.float64)
            back = None
            if s.unit is not None:
                try:
                    conv = u.conversion(s.unit, "percent")
                except u.UnitError as exc:
                    raise u.UnitError(
                        f"{s.label}, from which {ptf.name} finds its texture "
                        f"class, is given in {s.unit!r}, which does not "
                        f"convert to percent ({exc})") from None
                value = conv.apply(value)
                if not conv.identity:
                    back = _back(conv.divide, conv.multiply)
            items.append(_checks.Checked(q, s.label, s.unit, back))
            values.append(value)
        # Each fraction its own item, with its own source.
        skip = functools.partial(
            _skip_checked,
            sources=[((_value_key(s.value), s.unit),) for s in b.sources],
            check=check, keep=[s.value for s in b.sources])
        _checks.run_checks(ptf, values, check, items, stacklevel=4,
                           prepare=skip)


def _skip_checked(plan: Any, sources: Sequence[Any], check: str,
                  keep: Sequence[Any] = ()) -> None:
    """In a scope of shared derivations (the members of an ensemble), an
    input check that an earlier call of the scope made on the same values
    (``sources``: the key of each item's sources), in the same caller's
    words and against the same range (in the kind's unit: [0, 100] % and
    [0, 1] are one range), is not made again: it would find the same
    problem.  Likewise the sum of the same sand, silt and clay.  ``keep``
    holds the values, so that their memory stays theirs in the scope."""
    memo = _DERIVED.get()
    if memo is None or not memo.get(_ACROSS_CALLS):
        return  # one call checks each of its inputs once anyway
    for i, (c, key) in enumerate(zip(plan.items, sources)):
        if plan.bounds[i] is None:
            continue
        full = ("input checked", check, c.label, c.given_unit, c.derived,
                c.q.kind, _kind_range(c.q), key)
        if full in memo:
            plan.bounds[i] = None
        else:
            memo[full] = (keep, None)
    if plan.texture:
        texture = ("texture sum checked", check, tuple(
            (sources[i], plan.items[i].label, plan.items[i].given_unit)
            for i, _ in plan.texture))
        if texture in memo:
            plan.texture = []
        else:
            memo[texture] = (keep, None)


def _skip_binding_checked(plan: Any, *, binding: Binding,
                          check: str) -> None:
    """_skip_checked for the inputs of a binding, item by item."""
    _skip_checked(plan, [_sources_key(b) for b in binding.inputs], check,
                  [s.value for b in binding.inputs for s in b.sources])


def _kind_range(q: Quantity) -> Any:
    """The range of an input in its kind's unit, with its open ends (in
    its own unit where that does not convert)."""
    from . import units as u
    from ._catalog import kinds

    k = kinds().get(q.kind)
    if q.range is None or k is None or k.unit is None:
        return (q.unit, q.range, q.range_open)
    try:
        conv = u.conversion(q.unit, k.unit)
    except (u.UnitError, ImportError, ValueError):
        return (q.unit, q.range, q.range_open)
    return (k.unit, tuple(None if v is None else float(conv.apply(v))
                          for v in q.range), q.range_open)


def _derivation(b: Bound) -> str:
    """How a derived input is computed, for messages: ``100 % - sand -
    clay`` (the right-hand side of its note, without the comment)."""
    if b.derive is None or " = " not in b.note:
        return ""
    return b.note.split(" = ", 1)[1].split(" (")[0]


def _run_numpy(ptf: PTF, binding: Binding, check: str,
               threads: int | None
               ) -> tuple[tuple[Any, ...], dict[str, int] | None]:
    """NumPy data: each block of the call converted, checked, evaluated
    and its outputs checked while it is in the cache, on all cores for
    large calls; the checks report once, after the last block (inputs,
    calibration domain, outputs).  Small calls are checked before they are
    evaluated.  Returns the outputs and the number of output values
    outside what their kinds can be, by output."""
    from .parallel import default_threads, run_chunked

    raws: list[np.ndarray] = []
    convs: list[Any] = []
    for b in binding.inputs:
        if b.derive is not None:
            raws.append(np.asarray(convert_input(b, ptf)))
            convs.append(None)
        else:
            raws.append(np.asarray(b.source.value))
            convs.append(_input_conversion(b, ptf))
    plan = _checks.Plan(ptf, _items(ptf, binding.inputs, convs)) \
        if check != "off" else None
    if plan is not None:
        _skip_binding_checked(plan, binding=binding, check=check)
    shape = np.broadcast_shapes(*(r.shape for r in raws))
    size = int(np.prod(shape, dtype=np.int64))

    def operands(idx: tuple[slice, ...] | None) -> list[np.ndarray]:
        ops = []
        for r, c, q in zip(raws, convs, ptf.inputs):
            v = r if idx is None else np.broadcast_to(r, shape)[idx]
            if c is not None:
                v = c.apply(v)
            ops.append(operand(v, q, ptf))
        return ops

    plans = [] if plan is None else [plan]
    if plan is not None:
        domain = _checks.domain_plan(ptf, plan.items)
        if domain is not None:
            plans.append(domain)
    out_plan = _checks.output_plan(ptf) if plan is not None else None
    if size < _PARALLEL_MIN:
        ops = operands(None)
        for p in plans:
            p.report(p.tally(ops), check, stacklevel=5)
        result = _as_tuple(ptf.ufunc(*ops))
        if out_plan is None:
            return result, None
        t = out_plan.tally(result)
        out_plan.report(t, check, stacklevel=5)
        return result, out_plan.outside_counts(t)
    outs = tuple(np.empty(shape) for _ in ptf.outputs)
    # Per block: the tallies of the input plans, then of the outputs.
    tallies: list[list[_checks.Tally]] = []

    def run(idx: tuple[slice, ...]) -> None:
        ops = operands(idx)
        block = [p.tally(ops) for p in plans]
        part = tuple(o[idx] for o in outs)
        ptf.ufunc(*ops, out=part)
        if out_plan is not None:
            block.append(out_plan.tally(part))
            tallies.append(block)  # list.append is atomic

    nthreads = 1 if threads == 1 else (threads or default_threads())
    run_chunked(shape, run, nthreads)
    if out_plan is None:
        return outs, None
    totals = [_checks.Tally.empty(len(p.items)) for p in (*plans, out_plan)]
    for block in tallies:
        for total, t in zip(totals, block):
            total.merge(t)
    for p, total in zip((*plans, out_plan), totals):
        p.report(total, check, stacklevel=5)
    return outs, out_plan.outside_counts(totals[-1])


# ---------------------------------------------------------------------------
# Units


def _input_conversion(b: Bound, ptf: PTF) -> Any:
    """The unit conversion of a (not derived) input, or None."""
    from . import units as u

    s, q = b.source, b.q
    if s.unit is None:
        return None
    if q.established:
        c = _unit_conversion(s, q, ptf, q.unit)
        return None if c.identity else c
    if q.unit != "caller's choice":
        raise u.UnitError(
            f"{_label(q, ptf)} has no established unit, so values given in "
            f"{s.unit} cannot be converted to it; pass the values as the "
            "publication uses them, without a unit")
    return None


def _unit_conversion(s: Source, q: Quantity, ptf: PTF, unit: str) -> Any:
    """The conversion of one source's values to ``unit``; a UnitError
    naming the input, the unit given and the unit it needs otherwise."""
    from . import units as u

    assert s.unit is not None
    try:
        return u.conversion(s.unit, unit)
    except u.UnitError as exc:
        needed = q.unit_label if unit == q.unit else unit
        raise u.UnitError(
            f"{_label(q, ptf)}: {s.label} is given in {s.unit!r}, which "
            f"does not convert to the unit it needs, {needed} ({exc})"
        ) from None


# Derived inputs (the texture class of sand, silt and clay, silt from sand
# and clay, organic matter from organic carbon) are computed once per
# scope: one call of estimate, or all the members of an ensemble, which
# derive them from the same arrays.  Keyed by the derivation, the unit it
# works in and the identity and unit of each source; the sources are held
# with the value, so that their identities stay theirs.
_DERIVED: contextvars.ContextVar[dict[Any, Any] | None] = \
    contextvars.ContextVar("loamara_derived", default=None)


# The mark of a scope that spans several calls (an ensemble's members):
# only there can a call meet checks that an earlier one made.
_ACROSS_CALLS = "across calls"


@contextlib.contextmanager
def shared_derivations() -> Iterator[dict[Any, Any]]:
    """A scope, spanning several calls, in which each derived input is
    computed once and each input check made once (the current scope, if
    one is open, becomes such a scope)."""
    memo = _DERIVED.get()
    if memo is not None:
        memo[_ACROSS_CALLS] = True
        yield memo
        return
    token = _DERIVED.set({_ACROSS_CALLS: True})
    try:
        yield _DERIVED.get() or {}
    finally:
        _DERIVED.reset(token)


def _sources_key(b: Bound) -> tuple[Any, ...]:
    return tuple((_value_key(s.value), s.unit) for s in b.sources)


def _value_key(v: Any) -> Any:
    """What identifies a source's values within a scope: the memory of a
    NumPy array (a pandas column or an xarray variable taken from its
    table again is a new object over the same memory), the name of a dask
    array (its graph), else the object itself."""
    data = v.data if hasattr(v, "dims") and hasattr(v, "data") else v
    if type(data).__module__.startswith("pandas"):
        data = data.to_numpy() if hasattr(data, "to_numpy") else data
    if isinstance(data, np.ndarray):
        return ("memory", data.__array_interface__["data"][0], data.shape,
                data.strides, data.dtype.str)
    name = getattr(data, "name", None)
    if type(data).__module__.startswith("dask") and isinstance(name, str):
        return ("dask", name)
    return ("object", id(v))


def _in_derivation_scope(fn: Any) -> Any:
    """Runs ``fn`` in a scope of derivations of its own, unless one is
    open."""
    @functools.wraps(fn)
    def scoped(*args: Any, **kwargs: Any) -> Any:
        if _DERIVED.get() is not None:
            return fn(*args, **kwargs)
        token = _DERIVED.set({})
        try:
            return fn(*args, **kwargs)
        finally:
            _DERIVED.reset(token)
    return scoped


def convert_input(b: Bound, ptf: PTF) -> Any:
    """The value of one bound input in the unit of the publication."""
    memo = _DERIVED.get() if b.derive is not None else None
    if memo is None:
        return _converted(b, ptf)
    key = (b.derive, b.work_unit or b.q.unit, b.q.established,
           _sources_key(b))
    if key not in memo:
        memo[key] = ([s.value for s in b.sources], _converted(b, ptf))
    return memo[key][1]


def _converted(b: Bound, ptf: PTF) -> Any:
    from . import units as u

    q = b.q
    values = []
    work = b.work_unit or q.unit
    for s in b.sources:
        value = s.value
        if s.unit is not None and q.established:
            value = _unit_conversion(s, q, ptf, work).apply(value)
        elif s.unit is not None and not q.established and \
                q.unit != "caller's choice":
            raise u.UnitError(
                f"{_label(q, ptf)} has no established unit, so values given "
                f"in {s.unit} cannot be converted to it; pass the values "
                "as the publication uses them, without a unit")
        values.append(value)
    if b.derive is not None:
        return b.derive(*values)
    return values[0]


def output_conversions(ptf: PTF, binding: Binding | None,
                       out_units: Mapping[str, str] | None
                       ) -> tuple[dict[str, str], list[Any]]:
    """The unit of every output after conversion, and per output the
    function that converts its values (None for none)."""
    from . import units as u

    given = {b.q.name: b.source.unit for b in (binding.inputs if binding
                                               else [])}
    names = {}
    for q in ptf.outputs:
        for key in (q.name, *q.aliases):
            names[key] = q
    wanted = dict(out_units or {})
    unknown = [k for k in wanted if k not in names]
    if unknown:
        raise TypeError("out_units names " + ", ".join(map(repr, unknown))
                        + f", not an output of {ptf.name}; its outputs are: "
                        + ", ".join(ptf.output_names))
    by_output = {names[k].name: v for k, v in wanted.items()}
    units_out: dict[str, str] = {}
    convs: list[Any] = []
    for q in ptf.outputs:
        unit = q.unit
        if q.unit_from is not None and given.get(q.unit_from):
            unit = str(given[q.unit_from])
        target = by_output.get(q.name)
        if target is None:
            units_out[q.name] = output_unit_text(q, unit)
            convs.append(None)
            continue
        if unit in (u.NOT_ESTABLISHED, "caller's choice") or (
                q.unit_from is not None and unit == q.unit):
            raise u.UnitError(f"output {q.name!r} of {ptf.name} has no "
                              "established unit to convert from")
        target = str(target).strip()
        log_target = target.startswith("log10(") and target.endswith(")")
        inner = target[6:-1] if log_target else target
        conv = u.conversion(unit, inner)
        convs.append(_output_function(conv, q.log10, log_target))
        units_out[q.name] = target
    return units_out, convs


def _output_function(conv: Any, log_in: bool, log_out: bool) -> Any:
    """Converts an output's values: a unit conversion, with a logarithm
    undone (log10 in, plain out) or made (plain in, log10 out)."""
    if log_in and not log_out:
        return lambda x: conv.apply(np.power(10.0, x))
    if log_in and log_out:
        shift = math.log10(conv.multiply / conv.divide)
        return (lambda x: np.add(x, shift)) if shift else (lambda x: x)
    if log_out:
        return lambda x: np.log10(conv.apply(x))
    return conv.apply


def _finish(prep: Prepared, out: tuple[Any, ...], units_out: Mapping[str, str],
            convs: list[Any] | None) -> tuple[Any, ...]:
    """Applies output conversions and names xarray outputs with units."""
    xr = sys.modules.get("xarray")
    done = []
    for j, (q, o) in enumerate(zip(prep.ptf.outputs, out)):
        if convs is not None and convs[j] is not None:
            o = convs[j](o)
        if xr is not None and isinstance(o, xr.DataArray):
            o = o.rename(q.name)
            unit = units_out[q.name]
            o.attrs = ({"units": unit} if unit not in _NO_UNIT else {})
            o.attrs["long_name"] = q.meaning
        done.append(o)
    return tuple(done)


# ---------------------------------------------------------------------------
# estimate


_PLAIN_SCALARS = (float, int, np.float64)


def _fast_values(prep: Prepared, args: tuple[Any, ...],
                 inputs: dict[str, Any]) -> list[Any] | None:
    """The inputs in order when they are given plainly (names, positions,
    Python numbers or float64 arrays); None sends the call down the general
    path, which also words every error."""
    nin = prep.nin
    if len(args) + len(inputs) != nin or prep.index_input is not None:
        return None
    values = list(args)
    if inputs:
        values += [None] * len(inputs)
        index = prep.index
        for key, v in inputs.items():
            i = index.get(key)
            if i is None or values[i] is not None:
                return None
            values[i] = v
    for v in values:
        t = type(v)
        if t not in _PLAIN_SCALARS and not (
                t is np.ndarray and v.dtype == np.float64):
            return None
    return values


def _scalar_ok(prep: Prepared, values: list[Any]) -> bool:
    """True when plain numbers pass every check (else the full checks run
    and word the problem)."""
    for i, lo, hi, lo_open, hi_open in prep.bounds:
        v = values[i]
        if not (lo < v < hi or (v == lo and not lo_open)
                or (v == hi and not hi_open)):
            if v == v:  # NaN is missing, not out of range
                return False
    for i in prep.percent_texture:
        if 0 < values[i] <= 1:
            return False
    if prep.texture:
        total = 0.0
        for i, f in prep.texture:
            total += values[i] * f
        if abs(total - 100.0) > _checks.SUM_TOLERANCE:
            return False
    return True


def _outputs_ok(prep: Prepared, outs: tuple[Any, ...]) -> bool:
    """True when the outputs of a call on plain numbers are all possible
    (else the call takes the full path, whose checks word the problem)."""
    for j, lo, hi, lo_open, hi_open in prep.out_bounds:
        v = outs[j]
        if not (lo < v < hi or (v == lo and not lo_open)
                or (v == hi and not hi_open)) and v == v:
            return False
    return True


def _is_table(value: Any) -> bool:
    """A pandas DataFrame or an xarray Dataset: a table of named columns
    (variables), never one input's values."""
    pd = sys.modules.get("pandas")
    xr = sys.modules.get("xarray")
    return ((pd is not None and isinstance(value, pd.DataFrame))
            or (xr is not None and isinstance(value, xr.Dataset)))


def estimate(ptf: str | np.ufunc | PTF, /, *args: Any,
             units: Mapping[str, str] | None = None,
             out_units: Mapping[str, str] | None = None,
             check: str = "warn", preset: str | Preset | None = None,
             data: Any = None, mapping: Mapping[str, str] | None = None,
             threads: int | None = None, group: str | None = None,
             **inputs: Any) -> Result:
    """Evaluates a pedotransfer function with named inputs, in any units.

    ``ptf`` is a catalog name, short (``"saxton2006"``) or full
    (``"calc_ptf_saxton2006"``), or the ufunc itself.  Inputs are given by
    name (``sand=0.4``; former names of renamed inputs work too), by
    position in the ufunc's order, or as variables of ``data`` (a dict,
    pandas DataFrame or xarray Dataset; ``mapping`` takes input names to
    other variable names).  Each may be a Python number, a NumPy or masked
    array, a pandas Series, a dask array, an xarray DataArray or a pint
    Quantity, and they broadcast against each other as in the ufunc.

    Units: ``units={"sand": "%", "clay": "g/kg"}`` gives the unit of an
    input (by the name used for it); pint Quantities and the ``units``
    attribute of xarray objects (CF strings) carry their own; ``preset``
    (``"soilgrids"``, ``"percent"``; see :mod:`loamara.presets`) names a
    whole convention, and binds its variables (``soc``, ``bdod``) to the
    inputs of their kind.  Every input is converted to the unit of the
    publication first (exact ratios such as % to fraction as a division by
    100); an input the function needs but the caller does not have may be
    derived (organic matter = 1.724 x organic carbon; silt = 100 % - sand
    - clay), noted in ``Result.notes``.  ``out_units={"ksat": "cm/d"}``
    converts outputs (a log10 output to a plain unit gives the plain
    value).

    ``check`` ("warn", the default, "raise" or "off") looks at the inputs
    in the unit of the publication: values outside their physically
    possible range, percent contents that all look like fractions, and
    sand + silt + clay far from 100 % give one :class:`loamara.RangeWarning`
    (or :class:`loamara.RangeError`) naming the input, the range, the count
    and the likely fix.  The outputs are checked too, against what their
    kinds can be, in a second warning (``Result.outside`` counts them); with
    "raise" nothing is returned.  Inputs outside the function's established
    calibration ranges, and ``group`` (the soil group, FAO soil unit or
    region of the soils, where the caller knows it) other than the one a
    variant was fitted to, give a :class:`loamara.DomainWarning` (or
    :class:`loamara.DomainError`).  Data are never altered by a check.

    Large NumPy inputs are evaluated on all cores (``threads`` to choose,
    ``threads=1`` for one), bit for bit as one call.

    Returns a :class:`Result` with the outputs by name, as NumPy values,
    masked arrays, pandas Series (aligned on the inputs' index), lazy dask
    arrays, or DataArrays with the inputs' dimensions, coordinates and a
    ``units`` attribute; ``Result.units`` gives every output's unit.

    Raises :class:`loamara.UnknownPTFError` for an unknown name (with the
    nearest names), ``TypeError`` for missing, extra or misspelt inputs
    (with the expected inputs and their units) and for values that are not
    numbers, ``ValueError`` for a texture-class index that is not a whole
    number from 0 to 4294967295, and ``loamara.units.UnitError`` for units
    that do not convert.
    """
    prep = _prepared(ptf)
    if check not in _checks.CHECK_MODES:
        _checks.validate_mode(check)
    if (units is None and out_units is None and preset is None and data is
            None and mapping is None and group is None):
        values = _fast_values(prep, args, inputs)
        if values is not None:
            if np.ndarray not in map(type, values):
                if check == "off":
                    out = prep.ufunc(*values)
                    return Result(prep, out if type(out) is tuple
                                  else (out,), notes=prep.notes)
                if prep.plain_ok and _scalar_ok(prep, values):
                    out = prep.ufunc(*values)
                    outs = out if type(out) is tuple else (out,)
                    if _outputs_ok(prep, outs):
                        return Result(prep, outs, notes=prep.notes,
                                      outside={})
            binding = Binding(prep.ptf, [
                Bound(q, q.name, [Source(q.name, v, None)])
                for q, v in zip(prep.ptf.inputs, values)])
            out, outside = _run_numpy(prep.ptf, binding, check, threads)
            return Result(prep, out, notes=prep.notes, outside=outside)
    return _estimate_bound(prep, args, inputs, units=units,
                           out_units=out_units, check=check, preset=preset,
                           data=data, mapping=mapping, threads=threads,
                           group=group)


@_in_derivation_scope
def _estimate_bound(prep: Any, args: tuple[Any, ...],
                    inputs: dict[str, Any], *,
                    units: Mapping[str, str] | None,
                    out_units: Mapping[str, str] | None, check: str,
                    preset: str | Preset | None, data: Any,
                    mapping: Mapping[str, str] | None,
                    threads: int | None, group: str | None) -> Result:
    """estimate beyond plain numbers in the units of the publication: the
    binding of names, units, presets and tables, derived inputs (each
    derived once in the call's scope), then the evaluation by container."""
    _checks.validate_mode(check)
    if data is None and len(args) == 1 and _is_table(args[0]):
        data, args = args[0], ()  # estimate(name, df): the table is data=
    entry = prep.ptf
    preset_obj = get_preset(preset) if preset is not None else None
    binding = bind(entry, args, inputs, data=data, mapping=mapping,
                   units=units, preset=preset_obj)
    _checks.report_group(entry, group, check, stacklevel=3)
    if prep.index_input is not None:
        _check_class_texture(entry, binding, check)
    units_out, convs = output_conversions(entry, binding, out_units)
    notes = tuple(binding.notes()) + _catalog_notes(entry)
    kind = _container([s.value for b in binding.inputs for s in b.sources])
    index = None
    if prep.index_input is not None:
        index = convert_input(binding.inputs[prep.index_input], entry)
    if kind == "numpy":
        out, outside = _run_numpy(entry, binding, check, threads)
        return Result(prep, _finish(prep, out, units_out, convs), units_out,
                      notes, index, outside)
    values = [convert_input(b, entry) for b in binding.inputs]
    in_convs = [_input_conversion(b, entry) if b.derive is None else None
                for b in binding.inputs]
    items = _items(entry, binding.inputs, in_convs)
    words = _words(items, in_convs)
    outside = None
    skip = functools.partial(_skip_binding_checked, binding=binding,
                             check=check)
    if kind == "xarray":
        out = _run_xarray(entry, values, check, items, words, skip)
        if not _lazy(values):
            outside = _checks.check_outputs(
                entry, [o.values for o in out], check, stacklevel=3)
    elif kind == "dask":
        out = _run_dask(entry, values, check, words)
    elif kind == "pandas":
        out = _run_pandas(entry, values, check, threads, items, skip)
        outside = _checks.check_outputs(
            entry, [np.asarray(o) for o in out], check, stacklevel=3) \
            if check != "off" else None
    elif kind == "masked":
        out = _run_masked(entry, values, check, items)
        outside = _checks.check_outputs(
            entry, [np.ma.getdata(o)[~np.ma.getmaskarray(o)] for o in out],
            check, stacklevel=3)
    else:  # derived from the data: NumPy after all
        out, outside = _run_numpy(entry, binding, check, threads)
    return Result(prep, _finish(prep, out, units_out, convs), units_out,
                  notes, index, outside)


def _catalog_notes(ptf: PTF) -> tuple[str, ...]:
    """What the catalog says a caller should know about a function's
    results: the group it was fitted to and a documented doubt."""
    notes = []
    if ptf.group is not None:
        notes.append(f"fitted to {ptf.group.describe()} only")
    if ptf.doubt is not None:
        notes.append(f"doubt: {ptf.doubt}")
    return tuple(notes)
