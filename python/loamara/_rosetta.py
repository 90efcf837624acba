"""Rosetta (Schaap, Leij and van Genuchten 2001) through its maintained
package, rosetta-soil (the optional extra ``rosetta``).

The catalog holds the records of ``rosetta1``, ``rosetta2`` and
``rosetta3`` (``module: "rosetta"``), so that ``estimate``, ``applicable``,
``ensemble``, ``evaluate``, the curves and the command line bind, convert
and check their inputs and outputs as for every other function.  Where a
ufunc would be called, :func:`evaluator` gives the callable that takes its
place: it takes the operands in the catalog's order and units (sand, silt
and clay in percent, bulk density in g/cm3, water contents in cm3/cm3; NaN
for a value not at hand), gives each sample to the Rosetta model its inputs
allow (texture only; with bulk density; with theta_33, then theta_1500
too), and returns the van Genuchten-Mualem parameters, the standard
deviations of their bootstrap predictions and the model used.  The neural
networks and their bootstrap are the package's.
"""
from __future__ import annotations

import threading
from functools import lru_cache
from typing import Any

import numpy as np

VERSIONS = {"rosetta1": 1, "rosetta2": 2, "rosetta3": 3}

# Inputs (sand, silt, clay, bd, theta_33, theta_1500) and outputs (five
# parameters, their five standard deviations, the model).
NIN, NOUT = 6, 11
_TEXTURE = 3

# The package's calls are made one at a time (its thread safety is not
# documented).
_LOCK = threading.Lock()


def _package() -> Any:
    try:
        from rosetta import rosetta  # type: ignore[import-untyped]
    except ImportError as exc:
        raise ImportError(
            "Rosetta needs the rosetta-soil package: pip install "
            "'loamara[rosetta]'") from exc
    return rosetta


def models(flat: np.ndarray) -> np.ndarray:
    """The number of leading inputs each sample (row) gives Rosetta: 3 for
    texture only, 4 with bulk density, 5 with theta_33 too, 6 with
    theta_1500 too (an input counts only with all before it); 0 for a
    sample without its three texture fractions."""
    have = np.cumprod(~np.isnan(flat), axis=1).sum(axis=1)
    return np.where(have >= _TEXTURE, have, 0)


def rosetta_rows(version: int, flat: np.ndarray) -> np.ndarray:
    """The 11 outputs of each row of ``flat`` (samples by 6 inputs):
    theta_r, theta_s, alpha, n, ksat, their standard deviations, the model
    code (-1 for none)."""
    out = np.full((flat.shape[0], NOUT), np.nan)
    out[:, -1] = -1.0
    have = models(flat)
    todo = [k for k in np.unique(have) if k]
    if not todo:
        return out
    rosetta = _package()
    for k in todo:
        rows = np.flatnonzero(have == k)
        with _LOCK:
            mean, sd, code = rosetta(version, flat[rows, :k].tolist())
        out[rows, 0:5] = np.asarray(mean, dtype=np.float64)[:, :5]
        out[rows, 5:10] = np.asarray(sd, dtype=np.float64)[:, :5]
        out[rows, 10] = np.asarray(code, dtype=np.float64)
    return out


class Evaluator:
    """Takes the place of a ufunc for one Rosetta version: the same
    operands, broadcasting, ``out=`` and ``where=`` (elements not selected
    are left as they are in ``out``, NaN in new outputs)."""

    nin = NIN
    nout = NOUT

    def __init__(self, name: str) -> None:
        self.__name__ = name
        self.version = VERSIONS[name]

    def __repr__(self) -> str:
        return f"<Rosetta version {self.version} (rosetta-soil)>"

    def resolve_dtypes(self, dtypes: tuple[Any, ...]) -> tuple[Any, ...]:
        """float64 operands, as the ufuncs of the catalog take."""
        return (np.dtype(np.float64),) * (NIN + NOUT)

    def __call__(self, *args: Any, out: Any = None, where: Any = True) -> Any:
        if len(args) != NIN:
            raise TypeError(f"{self.__name__} takes {NIN} operands, not "
                            f"{len(args)}")
        ins = [np.asarray(a, dtype=np.float64) for a in args]
        outs = list(out) if isinstance(out, tuple) else (
            [None] * NOUT if out is None else [out])
        if len(outs) != NOUT:
            raise TypeError(f"{self.__name__} has {NOUT} outputs")
        shape = np.broadcast_shapes(*(a.shape for a in ins), np.shape(where),
                                    *(np.shape(o) for o in outs
                                      if o is not None))
        flat = np.stack([np.broadcast_to(a, shape).reshape(-1)
                         for a in ins], axis=1)
        chosen = np.broadcast_to(np.asarray(where, dtype=bool),
                                 shape).reshape(-1)
        values = np.full((flat.shape[0], NOUT), np.nan)
        if chosen.all():
            values = rosetta_rows(self.version, flat)
        elif chosen.any():
            values[chosen] = rosetta_rows(self.version, flat[chosen])
        mask = chosen.reshape(shape)
        result = []
        for j, o in enumerate(outs):
            column = values[:, j].reshape(shape)
            if o is None:
                result.append(column if shape else column[()])
            else:
                np.copyto(o, column, where=mask)
                result.append(o)
        pd = _pandas_index(args)
        if pd is not None:
            series, index = pd
            result = [series(r, index=index) for r in result]
        return tuple(result)


def _pandas_index(args: tuple[Any, ...]) -> tuple[Any, Any] | None:
    """pandas' Series and the index of the first Series among the
    operands, so that Series in give Series out."""
    import sys

    pd = sys.modules.get("pandas")
    if pd is None:
        return None
    for a in args:
        if isinstance(a, pd.Series):
            return pd.Series, a.index
    return None


@lru_cache(maxsize=None)
def evaluator(name: str) -> Evaluator:
    """The callable that evaluates ``rosetta1``, ``rosetta2`` or
    ``rosetta3`` in place of a ufunc."""
    return Evaluator(name)
