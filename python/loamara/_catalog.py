"""The catalog of the pedotransfer functions: one record per ufunc of
``_loamara``, read from ``catalog.json`` in this package.

The catalog is the single description of every ufunc's publication, inputs
and outputs; the named interface, the command line, the reference
documentation and the type stubs are all made from it.
"""
from __future__ import annotations

import difflib
import json
from dataclasses import dataclass
from functools import lru_cache
from importlib import resources
from typing import Any

import numpy as np

PREFIX = "calc_ptf_"

# Unit text of a predictor whose physical quantity the package leaves to the
# publication.
UNIT_OF_PUBLICATION = "unit as in the publication"


class UnknownPTFError(LookupError):
    """Raised for a name that is not one of the catalog's ufuncs."""


@dataclass(frozen=True)
class Quantity:
    """One input or output of a ufunc."""

    name: str
    """Short name: a Python identifier, unique within the ufunc's inputs (or
    outputs)."""
    unit: str
    meaning: str
    dtype: str = "float64"
    """Operand type: ``float64``, or ``uint32`` for a texture-class index."""

    def describe(self) -> str:
        """``name [unit]: meaning`` on one line."""
        return f"{self.name} [{self.unit}]: {self.meaning}"


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
    notes: tuple[str, ...] = ()

    @property
    def short_name(self) -> str:
        """The name without the ``calc_ptf_`` prefix (``saxton2006``)."""
        return self.name[len(PREFIX):]

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
    def ufunc(self) -> np.ufunc:
        """The ufunc of ``_loamara`` that this record describes."""
        import _loamara

        u: np.ufunc = getattr(_loamara, self.name)
        return u

    def signature(self) -> str:
        """The positional call: ``calc_ptf_x(a, b) -> (c, d)``."""
        outs = ", ".join(self.output_names)
        if self.nout > 1:
            outs = f"({outs})"
        return f"{self.name}({', '.join(self.input_names)}) -> {outs}"

    def estimate_call(self) -> str:
        """The named call through :func:`loamara.estimate`."""
        args = ", ".join(f"{n}=..." for n in self.input_names)
        return f'loamara.estimate("{self.short_name}", {args})'


def _quantity(d: dict[str, Any]) -> Quantity:
    return Quantity(name=d["name"], unit=d["unit"], meaning=d["meaning"],
                    dtype=d.get("dtype", "float64"))


@lru_cache(maxsize=1)
def catalog() -> tuple[PTF, ...]:
    """Every pedotransfer function of the module, in registration order."""
    text = resources.files("loamara").joinpath("catalog.json").read_text(
        encoding="utf-8")
    data = json.loads(text)
    return tuple(
        PTF(name=p["name"], family=p["family"],
            publication=p["publication"], summary=p["summary"],
            inputs=tuple(_quantity(q) for q in p["inputs"]),
            outputs=tuple(_quantity(q) for q in p["outputs"]),
            notes=tuple(p.get("notes", ())))
        for p in data["ptfs"])


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
    shorts = [p.short_name for p in catalog()]
    found = [s for s in shorts if key and key in s]
    for s in difflib.get_close_matches(key, shorts, n=limit, cutoff=0.6):
        if s not in found:
            found.append(s)
    return [PREFIX + s for s in found[:limit]]


def lookup(name: str | np.ufunc) -> PTF:
    """The catalog record of a ufunc, given its full name
    (``calc_ptf_saxton2006``), its short name (``saxton2006``) or the ufunc
    itself.  An unknown name raises :class:`UnknownPTFError` that suggests
    the nearest names."""
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
        raise UnknownPTFError(f"{key!r} is not a ufunc of _loamara")
    return found
