"""The named interface: ``loamara.estimate(name, input=value, ...)``.

The ufuncs of ``_loamara`` have exactly one loop each (float64 operands, or
a uint32 texture-class index for Clapp and Hornberger 1978) and no
promoter, so NumPy rejects Python numbers, integer arrays and float32 arrays
for them.  ``estimate`` converts every input to the operand type first, then
calls the ufunc in the way that suits the container it was given:

* NumPy arrays and Python scalars: the ufunc itself;
* pandas Series: the ufunc through pandas, which aligns the indexes;
* dask arrays: ``dask.array.apply_gufunc``, lazily, block by block;
* xarray objects: ``xarray.apply_ufunc`` with ``dask="parallelized"``, which
  keeps dimensions and coordinates and stays lazy for dask-backed data.

pandas, xarray and dask are optional: they are only looked at when the
caller passes their objects (and so has already imported them).
"""
from __future__ import annotations

import difflib
import functools
import importlib
import sys
from collections.abc import Iterator, Mapping
from typing import Any

import numpy as np

from ._catalog import PTF, Quantity, lookup
from ._format import quantity_lines

_UINT32_MAX = 4294967295


class Result(Mapping[str, Any]):
    """The outputs of one :func:`estimate` call, under their catalog names.

    Outputs are reached by key (``r["theta_33"]``) or attribute
    (``r.theta_33``); iteration gives the names in output order, and
    ``values()`` the outputs in the order of the positional ufunc."""

    __slots__ = ("_ptf", "_values", "_index")

    def __init__(self, ptf: PTF, values: tuple[Any, ...]) -> None:
        if len(values) != ptf.nout:
            raise ValueError(f"{ptf.name} has {ptf.nout} outputs, "
                             f"not {len(values)}")
        self._ptf = ptf
        self._values = values
        self._index = {n: i for i, n in enumerate(ptf.output_names)}

    @property
    def ptf(self) -> PTF:
        """The catalog record of the function that produced the outputs."""
        return self._ptf

    def __getitem__(self, key: str) -> Any:
        try:
            return self._values[self._index[key]]
        except (KeyError, TypeError):
            raise KeyError(self._missing(key)) from None

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        try:
            return self._values[self._index[name]]
        except KeyError:
            raise AttributeError(self._missing(name)) from None

    def _missing(self, key: object) -> str:
        return (f"{self._ptf.name} has no output {key!r}; its outputs are: "
                + ", ".join(self._ptf.output_names))

    def __iter__(self) -> Iterator[str]:
        return iter(self._ptf.output_names)

    def __len__(self) -> int:
        return len(self._values)

    def __dir__(self) -> list[str]:
        return sorted(set(super().__dir__()) | set(self._index))

    def as_tuple(self) -> tuple[Any, ...]:
        """The outputs in order, as the positional ufunc returns them."""
        return self._values

    def __repr__(self) -> str:
        parts = []
        for name, value in zip(self._ptf.output_names, self._values):
            if isinstance(value, (float, np.floating)):
                text = repr(float(value))
            else:
                shape = getattr(value, "shape", None)
                text = f"<{type(value).__name__} shape={shape}>"
            parts.append(f"{name}={text}")
        return f"Result[{self._ptf.name}]({', '.join(parts)})"


def expected_inputs(ptf: PTF) -> str:
    """The list of a function's inputs with their units, for messages."""
    return "\n".join([f"{ptf.name} expects, in order:"]
                     + quantity_lines(ptf.inputs))


def _bind(ptf: PTF, args: tuple[Any, ...],
          kwargs: dict[str, Any]) -> list[Any]:
    names = ptf.input_names
    problems: list[str] = []
    if len(args) > ptf.nin:
        problems.append(f"takes {ptf.nin} input{'s' * (ptf.nin != 1)} but "
                        f"{len(args)} were given by position")
    given = dict(zip(names, args))
    unexpected: list[str] = []
    for key, value in kwargs.items():
        if key not in names:
            unexpected.append(key)
        elif key in given:
            problems.append(f"input {key!r} given both by position and by "
                            "name")
        else:
            given[key] = value
    missing = [n for n in names if n not in given]
    for key in unexpected:
        near = difflib.get_close_matches(key, missing or list(names), n=1,
                                         cutoff=0.5)
        hint = f" (did you mean {near[0]!r}?)" if near else ""
        problems.append(f"unexpected input {key!r}{hint}")
    if missing:
        problems.append("missing input" + "s" * (len(missing) > 1) + " "
                        + ", ".join(repr(n) for n in missing))
    if problems:
        raise TypeError(f"{ptf.name}: " + "; ".join(problems) + ".\n"
                        + expected_inputs(ptf))
    return [given[n] for n in names]


def _float64(arr: np.ndarray, label: str) -> np.ndarray:
    kind = arr.dtype.kind
    if arr.dtype == np.float64:
        return arr
    if kind in "biuf":
        return arr.astype(np.float64)
    if kind == "O":
        try:
            return arr.astype(np.float64)
        except (TypeError, ValueError) as exc:
            raise TypeError(f"{label} holds values that are not numbers: "
                            f"{exc}") from None
    raise TypeError(f"{label} has values of type {arr.dtype}; real numbers "
                    "are expected")


def _class_index(arr: np.ndarray, label: str) -> np.ndarray:
    """A texture-class index as uint32.  Every whole number from 0 to
    4294967295 is a valid operand (indices outside the table give NaN);
    anything else cannot be converted without changing its value."""
    kind = arr.dtype.kind
    if arr.dtype == np.uint32:
        return arr
    if kind == "O":
        arr = _float64(arr, label)
        kind = "f"
    if kind not in "iuf":
        raise TypeError(f"{label} has values of type {arr.dtype}; a whole "
                        "number (texture-class index) is expected")
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
        raise ValueError(f"{label} must be a whole number from 0 to "
                         f"{_UINT32_MAX} (a texture-class index); got "
                         f"{first!r}")
    return arr.astype(np.uint32)


def operand(value: Any, q: Quantity, ptf: PTF) -> np.ndarray:
    """One input as a NumPy array of the ufunc's operand type."""
    label = f"input {q.name!r} of {ptf.name}"
    try:
        arr = np.asarray(value)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"{label} cannot be read as an array: {exc}") from None
    if q.dtype == "uint32":
        return _class_index(arr, label)
    return _float64(arr, label)


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
            raise TypeError(f"input {q.name!r} of {ptf.name} holds values "
                            f"that are not numbers: {exc}") from None
    conv = operand(raw, q, ptf)
    if isinstance(value, pd.Series):
        return pd.Series(conv, index=value.index, name=value.name)
    return pd.DataFrame(conv, index=value.index, columns=value.columns)


def apply_block(name: str, *arrays: Any) -> Any:
    """Converts one block of inputs and applies the ufunc ``name`` to it.

    Module level (and so picklable by reference) for the workers of a dask
    cluster."""
    ptf = lookup(name)
    ops = [operand(a, q, ptf) for a, q in zip(arrays, ptf.inputs)]
    return ptf.ufunc(*ops)


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
            f"input {q.name!r} of {ptf.name} is a pandas "
            f"{type(value).__name__} among xarray inputs with dimensions "
            f"{sorted(coords)}: name the Series' index after the dimension "
            "it runs along (series.rename_axis('DIM')) or pass a DataArray")
    arr = xr.DataArray.from_series(value)
    labels = coords[name]
    if labels is not None and not labels.equals(value.index):
        if (len(labels) != len(value.index) or not value.index.is_unique
                or not labels.isin(value.index).all()):
            raise ValueError(
                f"input {q.name!r} of {ptf.name}: the labels of the Series' "
                f"index {name!r} are not those of the xarray dimension "
                f"{name!r}; reindex it first")
        arr = arr.reindex({name: labels})
    return arr


def _run_xarray(ptf: PTF, values: list[Any]) -> tuple[Any, ...]:
    import xarray as xr

    coords: dict[str, Any] = {}
    for v in values:
        if isinstance(v, (xr.DataArray, xr.Dataset, xr.Variable)):
            for d in v.dims:
                index = v.indexes.get(d) if hasattr(v, "indexes") else None
                coords.setdefault(str(d), index)
    values = [_xarray_operand(v, q, ptf, coords, xr)
              for v, q in zip(values, ptf.inputs)]

    out = _as_tuple(xr.apply_ufunc(
        functools.partial(apply_block, ptf.name), *values,
        dask="parallelized",
        output_core_dims=[[] for _ in ptf.outputs],
        output_dtypes=[np.float64] * ptf.nout))
    named = []
    for q, o in zip(ptf.outputs, out):
        if isinstance(o, xr.DataArray):
            o = o.rename(q.name)
            o.attrs = {"units": q.unit, "long_name": q.meaning}
        named.append(o)
    return tuple(named)


def _run_dask(ptf: PTF, values: list[Any]) -> tuple[Any, ...]:
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
        functools.partial(apply_block, ptf.name), signature, *arrays,
        output_dtypes=dtypes, vectorize=False))


def _run_pandas(ptf: PTF, values: list[Any]) -> tuple[Any, ...]:
    pd = sys.modules["pandas"]
    ops = [_pandas_operand(v, q, ptf, pd) for v, q in zip(values, ptf.inputs)]
    out = _as_tuple(ptf.ufunc(*ops))
    named = []
    for q, o in zip(ptf.outputs, out):
        if isinstance(o, pd.Series):
            o.name = q.name
        named.append(o)
    return tuple(named)


def _run_masked(ptf: PTF, values: list[Any]) -> tuple[Any, ...]:
    """Masked arrays in, masked arrays out: an element masked in any input
    is masked in every output and is not evaluated (its outputs hold NaN
    under the mask)."""
    ops = [operand(np.ma.getdata(v), q, ptf)
           for v, q in zip(values, ptf.inputs)]
    shape = np.broadcast_shapes(*(o.shape for o in ops))
    mask = np.zeros(shape, dtype=bool)
    for v in values:
        mask |= np.ma.getmaskarray(v) if np.ma.isMaskedArray(v) else False
    outs = tuple(np.full(shape, np.nan) for _ in range(ptf.nout))
    ptf.ufunc(*ops, out=outs, where=~mask)
    return tuple(np.ma.masked_array(o, mask=mask.copy()) for o in outs)


def estimate(ptf: str | np.ufunc, /, *args: Any, **inputs: Any) -> Result:
    """Evaluates a pedotransfer function with named inputs.

    ``ptf`` is a catalog name, short (``"saxton2006"``) or full
    (``"calc_ptf_saxton2006"``), or the ufunc itself.  Inputs are given by
    name (``sand=0.4``), or by position in the ufunc's order; each may be a
    Python number, a NumPy array, a pandas Series, a dask array or an
    xarray DataArray, and they broadcast against each other as in the
    ufunc.  Every input is converted to the ufunc's operand type first
    (float64; a whole-number uint32 for a texture-class index).

    Returns a :class:`Result` that holds the outputs under their names, as
    NumPy values, pandas Series (aligned on the inputs' index), lazy dask
    arrays, or DataArrays with the inputs' dimensions and coordinates.

    Raises :class:`loamara.UnknownPTFError` for an unknown name (with the
    nearest names), ``TypeError`` for missing, extra or misspelt inputs
    (with the expected inputs and their units) and for values that are not
    numbers, and ``ValueError`` for a texture-class index that is not a
    whole number from 0 to 4294967295.
    """
    entry = lookup(ptf)
    values = _bind(entry, args, inputs)
    kind = _container(values)
    if kind == "xarray":
        out = _run_xarray(entry, values)
    elif kind == "dask":
        out = _run_dask(entry, values)
    elif kind == "pandas":
        out = _run_pandas(entry, values)
    elif kind == "masked":
        out = _run_masked(entry, values)
    else:
        ops = [operand(v, q, entry) for v, q in zip(values, entry.inputs)]
        out = _as_tuple(entry.ufunc(*ops))
    return Result(entry, out)
